// LeafMatch.h: the operator table of the field leaves, compiled once per value
// set, and the SQL of long "contains" lists.
//
// A leaf holds an operator code and an ascending value set (see AlarmExp.h for
// the table). BasicExp::evaluateInt / evaluateStr walk the set on every call;
// the matchers here are built from the set when the leaf receives its values
// and then answer each record without allocating:
//  - IntValueMatch turns every code into one interval test without a branch
//    on the code (comparisons, between, and membership over a span of fewer
//    than 64 numbers, with a 64-bit mask); membership over a wider span is a
//    binary search in a sorted array;
//  - StrValueMatch reads the field as a std::string_view; membership is a
//    binary search, "contains" (codes 7, 9, 11, 12) one pass over the text:
//    one value by containsBytes in line, more through ContainsIndex,
//    whatever the number of values.
// Their answers are those of evaluateInt / evaluateStr for the same code and
// set, including the logged cases (a between with one value, a code outside
// 1-12), which log the same lines on every call.
//
// Copies are cheap: StrValueMatch shares its immutable tables with its copies.
// A filter's flat program (AlarmExp.cpp) keeps copies of the commonest
// tables (an integer interval, the value of a one-value "contains"); see
// MatchCopyWatch for how it learns that a leaf's setter replaced them.
// Thread safety: a built matcher is immutable; any number of threads may call
// it at once.
#ifndef FM_FILTER_LEAFMATCH_H
#define FM_FILTER_LEAFMATCH_H

#include <atomic>
#include <cstdint>
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <vector>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace Kyrofm {

namespace filterdetail {

// Whether the m bytes at p are the needle nd, whose first byte is known to
// be there: up to 16 bytes as two overlapping words that cover the needle.
inline bool sameBytes(const char* p, const char* nd, size_t m) {
  if (m <= 3) return m < 2 || (p[1] == nd[1] && p[m - 1] == nd[m - 1]);
  if (m < 8) {
    uint32_t a, b, x, y;
    std::memcpy(&a, p, 4), std::memcpy(&b, p + m - 4, 4);
    std::memcpy(&x, nd, 4), std::memcpy(&y, nd + m - 4, 4);
    return ((a ^ x) | (b ^ y)) == 0;
  }
  if (m <= 16) {
    uint64_t a, b, x, y;
    std::memcpy(&a, p, 8), std::memcpy(&b, p + m - 8, 8);
    std::memcpy(&x, nd, 8), std::memcpy(&y, nd + m - 8, 8);
    return ((a ^ x) | (b ^ y)) == 0;
  }
  return std::memcmp(p + 1, nd + 1, m - 1) == 0;
}

// The search of containsBytes in texts of 64 bytes or more: sixteen
// candidate starts at a time, tested by their first and last bytes.
bool containsBytesInBlocks(std::string_view text, std::string_view needle);

// True when `needle` occurs in `text` as a byte substring (the empty needle
// occurs everywhere), as std::string_view::find has it. Texts of 16 to 63
// bytes (the usual FDN or extend information) are searched here without a
// call: a mask of the positions that hold the needle's first byte is built
// sixteen bytes at a time, and each candidate is compared in at most two
// words. Shorter texts take memchr; longer ones, and needles over 16 bytes,
// the blocks of containsBytesInBlocks.
inline bool containsBytes(std::string_view text, std::string_view needle) {
  const size_t n = text.size();
  const size_t m = needle.size();
  if (m > n) return false;
  if (m == 0) return true;
  if (n >= 64 || m > 16) return containsBytesInBlocks(text, needle);
  const char* const h = text.data();
  const char* const nd = needle.data();
  const size_t last = n - m;  // the last start
#if defined(__SSE2__)
  if (n >= 16) {
    // Bit j of `starts`: text[j] is the needle's first byte, for j <= last.
    const __m128i first = _mm_set1_epi8(nd[0]);
    auto block = [&](size_t at) {
      const __m128i t = _mm_loadu_si128(reinterpret_cast<const __m128i*>(h + at));
      return static_cast<uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(t, first)))) << at;
    };
    uint64_t starts = block(n - 16);  // the final block, overlapping the others
    for (size_t i = 0; i + 16 < n; i += 16) starts |= block(i);
    starts &= (2ull << last) - 1;  // last <= 62
    while (starts != 0) {
      if (sameBytes(h + __builtin_ctzll(starts), nd, m)) return true;
      starts &= starts - 1;
    }
    return false;
  }
#endif
  const char* p = h;
  const char* const stop = h + last + 1;
  for (;;) {
    p = static_cast<const char*>(std::memchr(p, static_cast<unsigned char>(nd[0]), static_cast<size_t>(stop - p)));
    if (p == nullptr) return false;
    if (sameBytes(p, nd, m)) return true;
    if (++p == stop) return false;
  }
}

}  // namespace filterdetail

namespace filterdetail {
// Replacements of matchers that a flat program copied (see MatchCopyWatch).
extern std::atomic<uint64_t> g_copiedMatchersReplaced;
}  // namespace filterdetail

// Part of each matcher: whether a flat program copied some of its table.
// Replacing such a matcher (an assignment, as the leaves' setters do) counts
// one replacement; a program takes the count when it is built and uses its
// copies only while the count is unchanged, calling the matchers otherwise.
// A copy of a matcher is not watched: no program copied from it.
class MatchCopyWatch {
 public:
  MatchCopyWatch() = default;
  MatchCopyWatch(const MatchCopyWatch&) noexcept {}
  MatchCopyWatch& operator=(const MatchCopyWatch&) noexcept {
    if (m_bCopied.load(std::memory_order_relaxed)) {
      filterdetail::g_copiedMatchersReplaced.fetch_add(1, std::memory_order_relaxed);
    }
    return *this;
  }
  ~MatchCopyWatch() = default;

  void markCopied() const { m_bCopied.store(true, std::memory_order_relaxed); }
  // Relaxed: the leaves' setters do not run concurrently with evaluation.
  static uint64_t replacements() { return filterdetail::g_copiedMatchersReplaced.load(std::memory_order_relaxed); }

 private:
  mutable std::atomic<bool> m_bCopied{false};
};

// Aho-Corasick automaton over a set of texts: foundIn(text) tells whether
// some element occurs in text as a byte substring (case-sensitive), in one
// pass over text. The empty element occurs in every non-empty text. Memory is
// about 14 bytes per distinct prefix of the elements.
class ContainsIndex {
 public:
  explicit ContainsIndex(const std::set<std::string>& values);
  // False for an empty text, as evaluateStr has it.
  bool foundIn(std::string_view text) const;

 private:
  static constexpr uint32_t NONE = 0xFFFFFFFFu;
  uint32_t child(uint32_t state, unsigned char c) const;
  bool foundByGrams(std::string_view text) const;

  bool m_bEmptyValue = false;  // "" is an element
  bool m_bSingle = false;      // exactly one non-empty element, searched directly
  std::string m_strSingle;
  uint32_t m_root[256];            // transitions of the root (0: stay at the root)
  // States in breadth-first numbers. The edges of state s are the labels
  // m_labels[begin(s) .. begin(s + 1) - 1], sorted by byte, and edge e leads
  // to state e + 1. One state is 8 bytes, so a step touches few cache lines.
  struct State {
    uint32_t begin;         // first edge
    uint32_t failAccept;    // failure link << 1 | accept flag
  };
  std::vector<State> m_states;  // one extra entry at the end (its begin only)
  std::vector<unsigned char> m_labels;
  // Large sets whose elements all have 4 bytes or more: a cuckoo table of
  // the elements' first m_uGram bytes (up to 8, the shortest element's
  // length). A prefix that starts some element continues at the trie state
  // that prefix leads to. The hot part is a 16-bit tag per slot (0: empty),
  // four slots to a 64-bit bucket, and a prefix lives in one of two buckets:
  // a lookup costs two independent loads from a table of about 3 bytes per
  // element and no branch that depends on what was loaded. The cold part
  // (exact prefix and state, slot by slot) is read only on a matching tag.
  struct Gram {
    uint64_t key;    // the prefix bytes, little-endian, zero above m_uGram
    uint32_t state;  // the trie state after the prefix
  };
  static uint64_t gramMix(uint64_t key);
  static uint64_t gramKey(const char* p, size_t avail, size_t len);
  size_t otherBucket(size_t bucket, uint16_t tag) const;
  bool placeGrams(const std::vector<Gram>& grams);
  bool startsAt(std::string_view text, size_t start) const;
  bool walkFrom(uint32_t state, std::string_view text, size_t j) const;
  // In front of the table, a Bloom filter probed at every m_uStep-th text
  // position only. It holds each element's m_uProbe bytes at offsets 0 ..
  // m_uStep - 1, where m_uProbe + m_uStep - 1 is at most the shortest
  // element's length: an occurrence starting at s covers the probed position
  // p in s .. s + m_uStep - 1 with its bytes p - s .. p - s + m_uProbe - 1, so
  // a probe that passes sends the starts p - m_uStep + 1 .. p to the table,
  // and a probe that fails rules them all out. Three bits of the 64-bit word
  // that the hash's top bits choose are set per entry, at 16 bits an entry
  // and at most 256 KiB (about 10 bits an entry at 100 000 elements of 6 to
  // 12 letters, where about 2% of the probes that meet no element pass):
  // every other probe ends at this one load.
  uint64_t filterBits(uint64_t h) const;
  std::vector<uint64_t> m_filter;
  unsigned m_uFilterShift = 0;  // 64 - the bits of a word index
  size_t m_uProbe = 0;
  size_t m_uStep = 1;
  size_t m_uGram = 0;  // 0: plain automaton search
  unsigned m_uShift = 0;
  size_t m_uBucketMask = 0;
  std::vector<uint64_t> m_gramBuckets;
  std::vector<Gram> m_grams;  // slot 4 * bucket + lane
};

// The integer operator table of one code and value set.
class IntValueMatch {
 public:
  // Accepts every value (the empty set).
  IntValueMatch() = default;
  IntValueMatch(char op, const std::set<long>& values);

  // Every code but membership in a wide set and the logged cases is one
  // interval test, without a branch on the code: v lies in [low, low + span]
  // (taken modulo 2^64, so the subtraction and the comparison are unsigned)
  // and bit (v - low) % 64 of the mask is set, or the reverse when negated.
  // Comparisons and between keep the mask full; membership over a narrow
  // span has a bit per value.
  struct Interval {
    unsigned long low;
    unsigned long span;
    unsigned long mask;
    bool negated;
    bool accepts(long v) const {
      const unsigned long d = static_cast<unsigned long>(v) - low;
      const unsigned long in = static_cast<unsigned long>(d <= span) & (mask >> (d & 63u));
      return ((in ^ static_cast<unsigned long>(negated)) & 1u) != 0;
    }
  };

  bool operator()(long v) const { return m_kind == Kind::INTERVAL ? m_interval.accepts(v) : general(v); }

  // For a flat program: the interval form, false when the table is not one
  // interval test (a wide membership set, a logged case). The matcher is
  // then watched (MatchCopyWatch).
  bool copyInterval(Interval& out) const;

 private:
  enum class Kind : unsigned char { INTERVAL, IN_LIST, NOT_IN_LIST, BETWEEN_ONE, BAD_OP };
  // The values in [lo, hi] (signed); none when lo > hi.
  void setInterval(long lo, long hi, bool negated);
  bool inList(long v) const;
  bool general(long v) const;  // lists, and the logged cases with their lines

  Kind m_kind = Kind::INTERVAL;
  char m_cOperator = 0;
  Interval m_interval{0, ~0ul, ~0ul, false};  // every value (the empty set)
  long m_lMin = 0;                // the least value, for BETWEEN_ONE
  std::vector<long> m_list;       // ascending, for membership over a wide span
  MatchCopyWatch m_watch;
};

// The string operator table of one code and value set, on a text view.
class StrValueMatch {
 public:
  // Accepts every value (the empty set).
  StrValueMatch() = default;
  StrValueMatch(char op, const std::set<std::string>& values);

  bool operator()(std::string_view v) const {
    // The common single-value tests without leaving the object.
    if (m_kind == Kind::CONTAINS_ONE) return containsOne(v, m_strOne);
    if (m_kind == Kind::IN_ONE) return v == m_strOne;
    return m_kind == Kind::ALL || general(v);
  }

  // The test of a one-value "contains" table (codes 7, 11 and 12 with one
  // value): the value occurs in the text, and the text is not empty.
  static bool containsOne(std::string_view text, std::string_view value) {
    return !text.empty() && filterdetail::containsBytes(text, value);
  }
  // For a flat program: the value of a one-value "contains" table, null for
  // other tables. The matcher is then watched (MatchCopyWatch).
  const std::string* copyContainsOne() const;

 private:
  enum class Kind : unsigned char {
    ALL, IN_ONE, IN, NOT_IN, GT, GE, LT, LE, BETWEEN, BETWEEN_ONE, CONTAINS_ONE, CONTAINS, CONTAINS_NONE, BAD_OP
  };
  struct Tables {
    std::string first, last;
    std::vector<std::string> sorted;           // membership codes
    std::unique_ptr<ContainsIndex> contains;   // codes 7, 9, 11, 12
  };
  bool inList(std::string_view v) const;
  bool general(std::string_view v) const;

  Kind m_kind = Kind::ALL;
  char m_cOperator = 0;
  std::string m_strOne;  // the value of IN_ONE and CONTAINS_ONE
  std::shared_ptr<const Tables> m_tables;
  MatchCopyWatch m_watch;
};

namespace filterdetail {

// Lists of this many LIKE terms or fewer are written as one chain; longer ones
// in chunks of this size (see containsListSql).
constexpr size_t LIKE_CHUNK_TERMS = 240;

// The SQL condition of codes 7 (contains), 11 (ends with), 12 (starts with)
// and 9 (contains none) on column `col` for a non-empty ascending value set.
// Up to LIKE_CHUNK_TERMS values: the single chain
//   COL like '%a%' ESC or (COL like '%b%' ESC ) or (...)
// (code 9: "(COL is null) or not (" + chain + ")"). A longer list is split into
// chains of LIKE_CHUNK_TERMS terms, each wrapped as " (" + chain + ") ", and the
// chunks are joined by " or " pairwise into a balanced tree of parentheses, so
// that the expression depth grows with log2 of the number of chunks and
// SQLite and PostgreSQL prepare lists of any length; the rows selected are
// the same. Other codes: empty text.
std::string containsListSql(char op, const std::string& col, const std::set<std::string>& values);

}  // namespace filterdetail

}  // namespace Kyrofm

#endif
