// LeafMatch.h: the operator table of the field leaves, compiled once per value
// set, and the SQL of long "contains" lists.
//
// A leaf holds an operator code and an ascending value set (see AlarmExp.h for
// the table). BasicExp::evaluateInt / evaluateStr walk the set on every call;
// the matchers here are built from the set when the leaf receives its values
// and then answer each record without allocating:
//  - IntValueMatch keeps min and max, and for membership codes a 64-bit mask
//    when the values span fewer than 64 numbers, else a sorted array;
//  - StrValueMatch reads the field as a std::string_view; membership is a
//    binary search, "contains" (codes 7, 9, 11, 12) one pass over the text
//    through ContainsIndex, whatever the number of values.
// Their answers are those of evaluateInt / evaluateStr for the same code and
// set, including the logged cases (a between with one value, a code outside
// 1-12), which log the same lines on every call.
//
// Copies are cheap: StrValueMatch shares its immutable tables with its copies.
// Thread safety: a built matcher is immutable; any number of threads may call
// it at once.
#ifndef FM_FILTER_LEAFMATCH_H
#define FM_FILTER_LEAFMATCH_H

#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace Kyrofm {

namespace filterdetail {
// True when `needle` occurs in `text` as a byte substring (the empty needle
// occurs everywhere), as std::string_view::find has it, but testing sixteen
// candidate positions at once by their first and last bytes.
bool containsBytes(std::string_view text, std::string_view needle);
}  // namespace filterdetail

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

  bool operator()(long v) const {
    switch (m_kind) {
      case Kind::ALL:
        return true;
      case Kind::IN_MASK:
      case Kind::NOT_IN_MASK: {
        const unsigned long d = static_cast<unsigned long>(v) - static_cast<unsigned long>(m_lMin);
        const bool in = d < 64 && ((m_ulMask >> d) & 1u) != 0;
        return m_kind == Kind::IN_MASK ? in : !in;
      }
      case Kind::IN_LIST:
        return inList(v);
      case Kind::NOT_IN_LIST:
        return !inList(v);
      case Kind::GT:
        return v > m_lMax;
      case Kind::GE:
        return v >= m_lMax;
      case Kind::LT:
        return v < m_lMin;
      case Kind::LE:
        return v <= m_lMin;
      case Kind::BETWEEN:
        return v >= m_lMin && v <= m_lMax;
      default:
        return logged(v);
    }
  }

 private:
  enum class Kind : unsigned char {
    ALL, IN_MASK, NOT_IN_MASK, IN_LIST, NOT_IN_LIST, GT, GE, LT, LE, BETWEEN, BETWEEN_ONE, BAD_OP
  };
  bool inList(long v) const;
  bool logged(long v) const;  // BETWEEN_ONE and BAD_OP, with their lines

  Kind m_kind = Kind::ALL;
  char m_cOperator = 0;
  long m_lMin = 0;
  long m_lMax = 0;
  unsigned long m_ulMask = 0;     // bit v - min for membership over a narrow span
  std::vector<long> m_list;       // ascending, for membership over a wide span
};

// The string operator table of one code and value set, on a text view.
class StrValueMatch {
 public:
  // Accepts every value (the empty set).
  StrValueMatch() = default;
  StrValueMatch(char op, const std::set<std::string>& values);

  bool operator()(std::string_view v) const {
    // The common single-value tests without leaving the object.
    switch (m_kind) {
      case Kind::ALL:
        return true;
      case Kind::CONTAINS_ONE:
        return !v.empty() && filterdetail::containsBytes(v, m_strOne);
      case Kind::IN_ONE:
        return v == m_strOne;
      default:
        return general(v);
    }
  }

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
