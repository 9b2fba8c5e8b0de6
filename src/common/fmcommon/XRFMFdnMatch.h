// XRFMFdnMatch.h: a set of FDN patterns that answers, many times over, whether
// an FDN lies at or below one of them.
//
// Patterns and FDNs are split into components at the FDN splitter; empty
// components (a leading separator, two separators in a row, a trailing one) are
// ignored, so ",A,,B" is the FDN "A,B". An FDN matches when the components of
// some pattern are its leading components. Patterns are kept in a tree of
// components, so a test costs one map lookup per component of the FDN, whatever
// the number of patterns, and allocates nothing.
//
// A pattern without components (empty, or separators only) matches nothing.
// The pattern "*" added last makes every FDN match (the match-all flag) unless
// the caller asks to ignore it; any other pattern added after it clears the
// flag. With the flag ignored, "*" is an ordinary component.
//
// The matcher owns its tree and pattern list. It keeps scratch state in itself,
// so one matcher serves one thread at a time (also for match).
#ifndef FM_FMCOMMON_XRFMFDNMATCH_H
#define FM_FMCOMMON_XRFMFDNMATCH_H

#include <cstddef>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace Kyrofm {

class XRFMFdnMatch {
 public:
  // Empty matcher with the configured FDN splitter.
  XRFMFdnMatch();
  // Empty matcher with the given splitter.
  explicit XRFMFdnMatch(char separator);
  // Takes the source's splitter and adds its patterns again, in order.
  XRFMFdnMatch(const XRFMFdnMatch& other);
  // Drops everything, takes the source's splitter and adds its patterns again.
  XRFMFdnMatch& operator=(const XRFMFdnMatch& other);
  ~XRFMFdnMatch();

  // Adds `pattern` (null is ignored). Sets the match-all flag when the pattern
  // is exactly "*", clears it otherwise.
  void addPattern(const char* pattern);

  // True when `fdn` is equal to or below some pattern, or when the match-all
  // flag is set and `ignoreMatchAll` is false. A null fdn matches only through
  // the match-all flag.
  bool match(const char* fdn, bool ignoreMatchAll);

  char getSeparator() const { return m_cSeparator; }
  bool isMatchAll() const { return m_bMatchAll; }
  // The patterns in the order added, duplicates kept.
  const std::vector<std::string>& getPatterns() const { return m_patterns; }

 private:
  struct Node {
    bool m_bEnd = false;
    std::map<std::string, std::unique_ptr<Node>, std::less<>> m_children;
  };

  // Walks a text component by component, skipping empty components. The view
  // it returns points into the caller's text.
  struct ComponentReader {
    const char* m_pText = nullptr;
    char m_cSeparator = ',';
    size_t m_nStart = 0;
    size_t m_nIndex = 0;
    size_t m_nLength = 0;

    void reset(const char* text, char separator);
    // Positions on the next non-empty component; false when none is left.
    bool next(std::string_view& component);
  };

  static void freeTree(std::unique_ptr<Node> root);

  std::unique_ptr<Node> m_pRoot;
  std::vector<std::string> m_patterns;
  bool m_bMatchAll = false;
  char m_cSeparator;
  ComponentReader m_reader;
};

}  // namespace Kyrofm

#endif
