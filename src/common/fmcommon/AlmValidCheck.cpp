// AlmValidCheck.cpp: the FDN parent relation of CAlmValidCheck. Both tests
// compare the two strings from the start; the splitter decides whether the
// place where the parent ends is a component boundary of the child.
#include "fm_common/fmcommon/AlmValidCheck.h"

#include "fm_common/fmcommon/KyroSettingOP.h"
#include "fm_common/platform/KyroTrace.h"

namespace Kyrofm {

bool CAlmValidCheck::CheckFdnParent(const std::string& parent, const std::string& fdn, const char& splitter) {
  if (parent.size() > fdn.size()) return false;
  size_t i = 0;
  while (i < parent.size() && parent[i] == fdn[i]) ++i;
  if (i != parent.size()) return false;
  if (i == fdn.size()) return true;
  if (fdn[i] == splitter) return true;
  return !parent.empty() && parent[parent.size() - 1] == splitter;
}

bool CAlmValidCheck::isFdnParent(const std::string& parent, const std::string& fdn, bool strict) {
  if (parent.empty() || fdn.empty()) {
    if (!strict) return true;
    FM_TRACE(TRACE_ERROR, "CAlmValidCheck::isFdnParent failed, input strNefdn is: %s, strFdn is %s", parent.c_str(),
             fdn.c_str());
    return false;
  }
  if (fdn.size() > MAX_FDN_LENGTH) {
    FM_TRACE(TRACE_ERROR, "CAlmValidCheck::isFdnParent failed, fdn:%s size[%d] reach max size:%d", fdn.c_str(),
             static_cast<int>(fdn.size()), static_cast<int>(MAX_FDN_LENGTH));
    return false;
  }
  const char splitter = CKyroSettingOP::instance()->getFDNSplitter();
  return CheckFdnParent(parent, fdn, splitter);
}

}  // namespace Kyrofm
