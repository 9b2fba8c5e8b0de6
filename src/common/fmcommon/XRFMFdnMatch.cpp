// XRFMFdnMatch.cpp: the FDN pattern matcher, a tree of FDN components. Each
// node marks whether a pattern ends there; a test walks the FDN's components
// down the tree and stops at the first node where a pattern ends.
#include "fm_common/fmcommon/XRFMFdnMatch.h"

#include <cstring>

#include "fm_common/fmcommon/KyroSettingOP.h"
#include "fm_common/platform/KyroTrace.h"

namespace Kyrofm {

void XRFMFdnMatch::ComponentReader::reset(const char* text, char separator) {
  m_pText = text ? text : "";
  m_cSeparator = separator;
  m_nStart = 0;
  m_nIndex = 0;
  m_nLength = std::strlen(m_pText);
}

bool XRFMFdnMatch::ComponentReader::next(std::string_view& component) {
  while (m_nIndex < m_nLength && m_pText[m_nIndex] == m_cSeparator) ++m_nIndex;
  if (m_nIndex >= m_nLength) return false;
  m_nStart = m_nIndex;
  while (m_nIndex < m_nLength && m_pText[m_nIndex] != m_cSeparator) ++m_nIndex;
  component = std::string_view(m_pText + m_nStart, m_nIndex - m_nStart);
  return true;
}

XRFMFdnMatch::XRFMFdnMatch() : XRFMFdnMatch(CKyroSettingOP::instance()->getFDNSplitter()) {}

XRFMFdnMatch::XRFMFdnMatch(char separator) : m_pRoot(new Node()), m_cSeparator(separator) {}

XRFMFdnMatch::XRFMFdnMatch(const XRFMFdnMatch& other) : m_pRoot(new Node()), m_cSeparator(other.m_cSeparator) {
  for (const std::string& p : other.m_patterns) addPattern(p.c_str());
}

XRFMFdnMatch& XRFMFdnMatch::operator=(const XRFMFdnMatch& other) {
  if (this == &other) return *this;
  // Build first, so that a failure leaves this matcher as it was.
  XRFMFdnMatch copy(other);
  std::swap(m_pRoot, copy.m_pRoot);  // the old tree goes with the copy
  m_patterns = std::move(copy.m_patterns);
  m_bMatchAll = copy.m_bMatchAll;
  m_cSeparator = copy.m_cSeparator;
  m_reader = ComponentReader();
  return *this;
}

XRFMFdnMatch::~XRFMFdnMatch() { freeTree(std::move(m_pRoot)); }

void XRFMFdnMatch::freeTree(std::unique_ptr<Node> root) {
  // Nodes are freed iteratively: a deep pattern must not exhaust the stack.
  std::vector<std::unique_ptr<Node>> pending;
  pending.push_back(std::move(root));
  while (!pending.empty()) {
    std::unique_ptr<Node> node = std::move(pending.back());
    pending.pop_back();
    if (!node) continue;
    for (auto& kv : node->m_children) pending.push_back(std::move(kv.second));
  }
}

void XRFMFdnMatch::addPattern(const char* pattern) {
  if (!pattern) {
    FM_TRACE(TRACE_WARNING, "XRFMFdnMatch::addPattern, null pattern ignored");
    return;
  }
  m_bMatchAll = std::strcmp(pattern, "*") == 0;
  m_patterns.emplace_back(pattern);
  m_reader.reset(pattern, m_cSeparator);
  Node* node = m_pRoot.get();
  std::string_view component;
  bool any = false;
  while (m_reader.next(component)) {
    any = true;
    auto it = node->m_children.find(component);
    if (it == node->m_children.end())
      it = node->m_children.emplace(std::string(component), std::make_unique<Node>()).first;
    node = it->second.get();
  }
  // A pattern without components names no object: it matches nothing, and in
  // particular must not mark the root, which would make every FDN match.
  if (any) node->m_bEnd = true;
}

bool XRFMFdnMatch::match(const char* fdn, bool ignoreMatchAll) {
  if (!ignoreMatchAll && m_bMatchAll) return true;
  if (m_pRoot->m_children.empty() || !fdn) return false;
  m_reader.reset(fdn, m_cSeparator);
  const Node* node = m_pRoot.get();
  std::string_view component;
  for (;;) {
    if (node->m_children.empty()) return true;        // a pattern ends here, nothing below
    if (!m_reader.next(component)) return node->m_bEnd;  // FDN ends: equal, or above patterns
    if (node->m_bEnd) return true;                     // FDN lies below a pattern
    auto it = node->m_children.find(component);
    if (it == node->m_children.end()) return false;
    node = it->second.get();
  }
}

}  // namespace Kyrofm
