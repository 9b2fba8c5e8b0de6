// XRFMFdnMatch.h: a set of FDN patterns that answers, many times over, whether
// an FDN lies at or below one of them.
//
// Patterns and FDNs are split into components at the FDN splitter; empty
// components (a leading separator, two separators in a row, a trailing one) are
// ignored, so ",A,,B" is the FDN "A,B". An FDN matches when the components of
// some pattern are its leading components.
//
// Each distinct pattern is kept once, in its normal form (its components
// joined by one separator), in an open-addressing hash table of 64-bit
// prefix hashes whose keys are verified against a contiguous arena of the
// normal forms; the matcher also knows at which component counts (depths)
// patterns end. A test reads the FDN once, eight bytes at a time, hashing its
// leading components as it finds the separators, and probes the table only at
// those depths and never below the deepest one, so it costs one probe per
// depth at which patterns exist (one for patterns all of the same depth),
// whatever the number of patterns, and allocates nothing.
//
// A pattern without components (empty, or separators only) matches nothing.
// The pattern "*" added last makes every FDN match (the match-all flag) unless
// the caller asks to ignore it; any other pattern added after it clears the
// flag. With the flag ignored, "*" is an ordinary component.
//
// The matcher owns its table and pattern list. match changes nothing, so
// several threads may test with one matcher while nobody adds patterns;
// addPattern needs the matcher to itself.
#ifndef FM_FMCOMMON_XRFMFDNMATCH_H
#define FM_FMCOMMON_XRFMFDNMATCH_H

#include <cstddef>
#include <cstdint>
#include <string>
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
  bool match(const char* fdn, bool ignoreMatchAll) const;

  char getSeparator() const { return m_cSeparator; }
  bool isMatchAll() const { return m_bMatchAll; }
  // The patterns in the order added, duplicates kept.
  const std::vector<std::string>& getPatterns() const { return m_patterns; }

 private:
  // A slot of the table: the upper half of the key's hash (a quick filter;
  // the lower half chose the slot) and the offset of the key's record in
  // m_keys; kEmpty marks a free slot.
  struct Slot {
    uint32_t m_uTag;
    uint32_t m_uOffset;
  };
  static constexpr uint32_t kEmpty = UINT32_MAX;

  // Memory of the table and the key records: blocks of 2 MB or more are
  // aligned to 2 MB and asked to be backed by huge pages, so that a test of a
  // large pattern set costs cache misses but few page-table walks.
  static void* allocBlock(size_t bytes);
  static void freeBlock(void* p, size_t bytes);
  template <typename T>
  struct BlockAllocator {
    using value_type = T;
    BlockAllocator() = default;
    template <typename U>
    BlockAllocator(const BlockAllocator<U>&) {}
    T* allocate(size_t n) { return static_cast<T*>(allocBlock(n * sizeof(T))); }
    void deallocate(T* p, size_t n) { freeBlock(p, n * sizeof(T)); }
    template <typename U>
    bool operator==(const BlockAllocator<U>&) const { return true; }
    template <typename U>
    bool operator!=(const BlockAllocator<U>&) const { return false; }
  };

  // Slot index of a key's hash in a table of 2^bits slots.
  static size_t home(uint64_t hash, unsigned bits) { return static_cast<size_t>(hash & ((uint64_t(1) << bits) - 1)); }
  // True when patterns end at `depth` components (depth >= 1). Depths up to
  // 64 are known exactly; every depth beyond 64 up to the deepest pattern is
  // probed.
  bool hasDepth(size_t depth) const { return depth > 64 || ((m_uDepthMask >> (depth - 1)) & 1) != 0; }
  // True when the normal form stored at `offset` has the components of
  // text[begin, end).
  bool keyEquals(uint32_t offset, const char* text, size_t begin, size_t end, bool normal) const;
  bool probe(uint64_t hash, const char* text, size_t begin, size_t end, bool normal) const;
  void insertKey(const std::string& normal, uint64_t hash);
  void grow();
  static uint64_t hashOfNormal(const char* key, size_t len, char separator);

  std::vector<Slot, BlockAllocator<Slot>> m_slots;  // 2^m_uBits slots, or none before the first pattern
  unsigned m_uBits = 0;
  size_t m_nKeys = 0;
  // Records of the distinct normal forms: 4 bytes of length, then the text.
  std::vector<char, BlockAllocator<char>> m_keys;
  uint64_t m_uDepthMask = 0;  // bit d - 1 set when patterns of d <= 64 components exist
  size_t m_nMaxDepth = 0;     // components of the deepest pattern
  std::vector<std::string> m_patterns;
  bool m_bMatchAll = false;
  char m_cSeparator;
};

}  // namespace Kyrofm

#endif
