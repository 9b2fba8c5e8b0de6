// AlmValidCheck.h: CAlmValidCheck, the stateless validity checks of alarm
// fields. This file holds the FDN parent relation, which the FDN manager's
// subtree walks and the FDN filters use: whether one FDN is equal to or lies
// below another, component-wise at the configured FDN splitter.
//
// All members are static and may be called from any thread.
#ifndef FM_FMCOMMON_ALMVALIDCHECK_H
#define FM_FMCOMMON_ALMVALIDCHECK_H

#include <string>

namespace Kyrofm {

class CAlmValidCheck {
 public:
  // Longest FDN accepted by isFdnParent, in bytes.
  static constexpr size_t MAX_FDN_LENGTH = 255;

  // True when `fdn` equals `parent` or lies below it: `parent` is a prefix of
  // `fdn` and `fdn` ends there, or continues with the FDN splitter
  // (CKyroSettingOP::getFDNSplitter()), or `parent` itself ends with the
  // splitter. An empty string on either side gives !strict (strict: false with
  // a level-5 line); an fdn of 256 bytes or more gives false with a level-5
  // line; a parent longer than fdn gives false.
  static bool isFdnParent(const std::string& parent, const std::string& fdn, bool strict);

  // The same comparison with the given splitter, without the emptiness and
  // length rules and without logging.
  static bool CheckFdnParent(const std::string& parent, const std::string& fdn, const char& splitter);
};

}  // namespace Kyrofm

#endif
