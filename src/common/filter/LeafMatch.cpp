// LeafMatch.cpp: compiled operator tables of the field leaves and the SQL of
// long LIKE lists.
//
// ContainsIndex is a plain Aho-Corasick automaton. The trie is built with
// first-child/next-sibling lists (the root with a full table), the failure
// links breadth-first, and the result is laid out breadth-first in flat
// arrays: the edges of a state are contiguous and sorted by byte, so a step
// is a short scan (a binary search for states with many edges). Only "does
// some element occur" is asked, so the accept flag of a state includes the
// flags along its failure chain and the search stops at the first hit.
#include "fm_common/filter/LeafMatch.h"

#include <algorithm>
#include <climits>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "fm_common/platform/FMDBTools.h"
#include "fm_common/platform/KyroCommonUtils.h"
#include "fm_common/platform/KyroTrace.h"

namespace Kyrofm {

// ---------------------------------------------------------------------------
// Substring search

namespace filterdetail {

std::atomic<uint64_t> g_copiedMatchersReplaced{0};

bool containsBytesInBlocks(std::string_view text, std::string_view needle) {
  const size_t n = text.size();
  const size_t m = needle.size();
  if (m < 2 || m > n) return m <= n && text.find(needle) != std::string_view::npos;
  const char* const h = text.data();
  const char* const nd = needle.data();
  const size_t last = n - m;  // the last possible start
#if defined(__SSE2__)
  if (last >= 15) {
    // Blocks of 16 starts; a start is a candidate when its first and last
    // bytes are the needle's. The final block overlaps the one before it.
    const __m128i first = _mm_set1_epi8(nd[0]);
    const __m128i lastByte = _mm_set1_epi8(nd[m - 1]);
    for (size_t i = 0;; i += 16) {
      if (i > last - 15) i = last - 15;
      const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(h + i));
      const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(h + i + m - 1));
      unsigned mask = static_cast<unsigned>(
          _mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi8(a, first), _mm_cmpeq_epi8(b, lastByte))));
      while (mask != 0) {
        const unsigned k = static_cast<unsigned>(__builtin_ctz(mask));
        if (sameBytes(h + i + k, nd, m)) return true;
        mask &= mask - 1;
      }
      if (i == last - 15) return false;
    }
  }
#endif
  // Fewer than 16 starts: the library's search (memchr on the first byte).
  return text.find(needle) != std::string_view::npos;
}

}  // namespace filterdetail

// ---------------------------------------------------------------------------
// ContainsIndex

// Multiplicative hash: the bucket is taken from the top bits, the tag from
// the 16 bits below them (both depend on every byte of a prefix of up to 6
// bytes, the bucket on all 8).
inline uint64_t ContainsIndex::gramMix(uint64_t key) { return key * 0x9E3779B97F4A7C15ull; }

// The first `len` (1 .. 8) of the `avail` bytes at p (avail >= len) as a key.
inline uint64_t ContainsIndex::gramKey(const char* p, size_t avail, size_t len) {
  uint64_t w = 0;
  if (avail >= 8) {
    std::memcpy(&w, p, 8);  // one load
  } else {
    std::memcpy(&w, p, avail);
  }
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
  w = __builtin_bswap64(w);
#endif
  return len == 8 ? w : w & ((uint64_t{1} << (8 * len)) - 1);
}

// The three bits of a probe in its filter word, from the hash bits right
// below those of the word index (the high bits of the product depend on
// every byte).
inline uint64_t ContainsIndex::filterBits(uint64_t h) const {
  const uint64_t r = h >> (m_uFilterShift - 18);
  return uint64_t{1} << (r & 63) | uint64_t{1} << ((r >> 6) & 63) | uint64_t{1} << ((r >> 12) & 63);
}

ContainsIndex::ContainsIndex(const std::set<std::string>& values) {
  std::fill(std::begin(m_root), std::end(m_root), 0u);
  std::vector<const std::string*> patterns;
  for (const auto& v : values) {
    if (v.empty()) {
      m_bEmptyValue = true;
    } else {
      patterns.push_back(&v);
    }
  }
  if (m_bEmptyValue || patterns.empty()) return;  // every non-empty text / nothing
  if (patterns.size() == 1) {
    m_bSingle = true;
    m_strSingle = *patterns.front();
    return;
  }

  // Trie: node 0 is the root; children as sibling lists, newest child first
  // checked (the set is ascending, so a shared prefix continues there).
  std::vector<uint32_t> firstChild{NONE}, lastChild{NONE}, nextSibling{NONE};
  std::vector<unsigned char> label{0}, terminal{0};
  uint32_t rootChild[256];
  std::fill(std::begin(rootChild), std::end(rootChild), NONE);
  auto findChild = [&](uint32_t s, unsigned char c) -> uint32_t {
    if (s == 0) return rootChild[c];
    if (lastChild[s] != NONE && label[lastChild[s]] == c) return lastChild[s];
    for (uint32_t k = firstChild[s]; k != NONE; k = nextSibling[k]) {
      if (label[k] == c) return k;
    }
    return NONE;
  };
  for (const std::string* p : patterns) {
    uint32_t s = 0;
    for (unsigned char c : *p) {
      uint32_t t = findChild(s, c);
      if (t == NONE) {
        t = static_cast<uint32_t>(label.size());
        label.push_back(c);
        terminal.push_back(0);
        firstChild.push_back(NONE);
        lastChild.push_back(NONE);
        nextSibling.push_back(NONE);
        if (s == 0) {
          rootChild[c] = t;
        } else if (firstChild[s] == NONE) {
          firstChild[s] = t;
        } else {
          nextSibling[lastChild[s]] = t;
        }
        if (s != 0) lastChild[s] = t;
      }
      s = t;
    }
    terminal[s] = 1;
  }

  // Breadth-first numbering, failure links and accept flags. The children of
  // a state are numbered consecutively, in byte order, when the state is
  // visited, and states are visited in number order: the edges of state s are
  // the states begin(s) + 1 .. begin(s + 1) and edge e leads to state e + 1.
  const size_t n = label.size();
  std::vector<uint32_t> order;
  order.reserve(n);
  std::vector<uint32_t> fail(n, 0);
  std::vector<unsigned char> accept(n, 0);
  std::vector<uint32_t> newId(n, 0);
  m_states.assign(n + 1, State{0, 0});
  order.push_back(0);
  auto visitChild = [&](uint32_t parent, uint32_t v) {
    const unsigned char c = label[v];
    uint32_t target = 0;
    for (uint32_t f = parent; f != 0;) {
      f = fail[f];
      const uint32_t t = findChild(f, c);
      if (t != NONE) {
        target = t;
        break;
      }
    }
    fail[v] = target;
    accept[v] = static_cast<unsigned char>(terminal[v] || accept[target]);
    newId[v] = static_cast<uint32_t>(order.size());
    order.push_back(v);
  };
  std::vector<uint32_t> kids;
  for (size_t i = 0; i < order.size(); ++i) {
    const uint32_t u = order[i];
    m_states[i].begin = static_cast<uint32_t>(order.size() - 1);
    if (u == 0) {
      for (int c = 0; c < 256; ++c) {
        if (rootChild[c] != NONE) visitChild(0, rootChild[c]);
      }
    } else {
      kids.clear();
      for (uint32_t k = firstChild[u]; k != NONE; k = nextSibling[k]) kids.push_back(k);
      std::sort(kids.begin(), kids.end(), [&](uint32_t a, uint32_t b) { return label[a] < label[b]; });
      for (uint32_t k : kids) visitChild(u, k);
    }
  }
  m_states[n].begin = static_cast<uint32_t>(n - 1);
  m_labels.resize(n - 1);
  for (size_t s = 0; s < n; ++s) {
    const uint32_t v = order[s];
    m_states[s].failAccept = newId[fail[v]] << 1 | accept[v];
    if (s > 0) m_labels[s - 1] = label[v];
  }
  for (int c = 0; c < 256; ++c) m_root[c] = rootChild[c] == NONE ? 0 : newId[rootChild[c]];

  size_t shortest = patterns.front()->size();
  for (const std::string* p : patterns) shortest = std::min(shortest, p->size());
  if (patterns.size() >= 64 && shortest >= 4) {
    m_uGram = std::min<size_t>(shortest, 8);
    // Sets of longer elements are probed at every 2nd to 4th position, on
    // grams of 5 to 8 bytes (fewer bytes would pass too many probes).
    m_uProbe = m_uGram;
    if (shortest >= 6) {
      m_uProbe = std::min<size_t>(shortest - 1, 8);
      m_uStep = std::min<size_t>(shortest - m_uProbe + 1, 4);
    }
    // Distinct prefixes, each with the state it leads to.
    std::vector<Gram> grams;
    grams.reserve(patterns.size());
    for (const std::string* p : patterns) {
      uint32_t st = 0;
      for (size_t k = 0; k < m_uGram; ++k) {
        const unsigned char c = static_cast<unsigned char>((*p)[k]);
        st = k == 0 ? m_root[c] : child(st, c);
      }
      grams.push_back(Gram{gramKey(p->data(), p->size(), m_uGram), st});
    }
    std::sort(grams.begin(), grams.end(), [](const Gram& x, const Gram& y) { return x.key < y.key; });
    grams.erase(std::unique(grams.begin(), grams.end(), [](const Gram& x, const Gram& y) { return x.key == y.key; }),
                grams.end());
    // Buckets for up to about 85% of the slots in use; a table that cannot
    // place every prefix is built again twice as large.
    unsigned bits = 1;
    while ((size_t{4} << bits) * 85 < grams.size() * 100) ++bits;
    for (;; ++bits) {
      m_uShift = 64 - bits;
      m_uBucketMask = (size_t{1} << bits) - 1;
      if (placeGrams(grams)) break;
    }
    std::vector<uint64_t> probes;
    probes.reserve(patterns.size() * m_uStep);
    for (const std::string* p : patterns) {
      for (size_t o = 0; o < m_uStep; ++o) probes.push_back(gramKey(p->data() + o, p->size() - o, m_uProbe));
    }
    std::sort(probes.begin(), probes.end());
    probes.erase(std::unique(probes.begin(), probes.end()), probes.end());
    unsigned log2Bits = 10;
    while (log2Bits < 21 && (size_t{1} << log2Bits) < 16 * probes.size()) ++log2Bits;
    m_uFilterShift = 64 - (log2Bits - 6);
    m_filter.assign((size_t{1} << log2Bits) / 64, 0);
    for (uint64_t key : probes) {
      const uint64_t h = gramMix(key);
      m_filter[h >> m_uFilterShift] |= filterBits(h);
    }
  }
}

size_t ContainsIndex::otherBucket(size_t bucket, uint16_t tag) const {
  return (bucket ^ (tag * size_t{0x5BD1E995})) & m_uBucketMask;
}

// Cuckoo insertion: a prefix goes to a free lane of one of its two buckets,
// else it takes a lane and the prefix there moves to its other bucket, and
// so on; false when a chain grows too long.
bool ContainsIndex::placeGrams(const std::vector<Gram>& grams) {
  m_gramBuckets.assign(m_uBucketMask + 1, 0);
  m_grams.assign(4 * (m_uBucketMask + 1), Gram{0, 0});
  auto tagAt = [&](size_t b, unsigned lane) { return static_cast<uint16_t>(m_gramBuckets[b] >> (16 * lane)); };
  auto setAt = [&](size_t b, unsigned lane, uint16_t tag, const Gram& g) {
    m_gramBuckets[b] = (m_gramBuckets[b] & ~(uint64_t{0xFFFF} << (16 * lane))) | uint64_t{tag} << (16 * lane);
    m_grams[4 * b + lane] = g;
  };
  uint32_t victim = 0;
  for (const Gram& in : grams) {
    Gram g = in;
    const uint64_t h = gramMix(g.key);
    uint16_t tag = static_cast<uint16_t>((h >> (m_uShift - 16)) | 1u);
    size_t b = h >> m_uShift;
    for (int kicks = 0;; ++kicks) {
      bool placed = false;
      for (size_t cand : {b, otherBucket(b, tag)}) {
        for (unsigned lane = 0; lane < 4 && !placed; ++lane) {
          if (tagAt(cand, lane) == 0) {
            setAt(cand, lane, tag, g);
            placed = true;
          }
        }
        if (placed) break;
      }
      if (placed) break;
      if (kicks == 500) return false;
      // Evict a lane of b (varying) and carry its prefix to its other bucket.
      const unsigned lane = victim++ % 4;
      const uint16_t oldTag = tagAt(b, lane);
      const Gram old = m_grams[4 * b + lane];
      setAt(b, lane, tag, g);
      tag = oldTag;
      g = old;
      b = otherBucket(b, tag);
    }
  }
  return true;
}

bool ContainsIndex::walkFrom(uint32_t s, std::string_view text, size_t j) const {
  for (;; ++j) {
    if (m_states[s].failAccept & 1u) return true;
    if (j == text.size()) return false;
    const uint32_t next = child(s, static_cast<unsigned char>(text[j]));
    if (next == NONE) return false;
    s = next;
  }
}

// Whether an element occurs at `start` (start + m_uGram <= text.size()).
bool ContainsIndex::startsAt(std::string_view text, size_t start) const {
  constexpr uint64_t kLow = 0x0001000100010001ull;
  constexpr uint64_t kHigh = 0x8000800080008000ull;
  const uint64_t key = gramKey(text.data() + start, text.size() - start, m_uGram);
  const uint64_t h = gramMix(key);
  const uint16_t tag = static_cast<uint16_t>((h >> (m_uShift - 16)) | 1u);
  const size_t b1 = h >> m_uShift;
  const size_t b2 = otherBucket(b1, tag);
  // A lane equal to the tag is a zero lane of x (exact "any" test).
  const uint64_t x1 = m_gramBuckets[b1] ^ (tag * kLow);
  const uint64_t x2 = m_gramBuckets[b2] ^ (tag * kLow);
  if (((((x1 - kLow) & ~x1) | ((x2 - kLow) & ~x2)) & kHigh) == 0) return false;
  // The prefix starts some element: walk the trie on from it; an accepting
  // state is an element (or one of its suffixes) ending here. (A prefix is
  // stored once.)
  for (size_t slot = 0; slot < 8; ++slot) {
    const size_t b = slot < 4 ? b1 : b2;
    const Gram& g = m_grams[4 * b + slot % 4];
    if (static_cast<uint16_t>(m_gramBuckets[b] >> (16 * (slot % 4))) == tag && g.key == key) {
      return walkFrom(g.state, text, start + m_uGram);
    }
  }
  return false;
}

bool ContainsIndex::foundByGrams(std::string_view text) const {
  const char* const data = text.data();
  const size_t n = text.size();
  const uint64_t* const filter = m_filter.data();
  const size_t step = m_uStep;
  const size_t probe = m_uProbe;
  for (size_t p = 0; p + probe <= n; p += step) {
    const uint64_t h = gramMix(gramKey(data + p, n - p, probe));
    const uint64_t want = filterBits(h);
    if ((filter[h >> m_uFilterShift] & want) != want) continue;
    for (size_t o = 0; o < step && o <= p; ++o) {
      if (p - o + m_uGram <= n && startsAt(text, p - o)) return true;
    }
  }
  return false;
}

uint32_t ContainsIndex::child(uint32_t state, unsigned char c) const {
  const unsigned char* first = m_labels.data() + m_states[state].begin;
  const unsigned char* last = m_labels.data() + m_states[state + 1].begin;
  if (last - first <= 8) {
    for (const unsigned char* p = first; p != last; ++p) {
      if (*p == c) return static_cast<uint32_t>(p - m_labels.data()) + 1;
    }
    return NONE;
  }
  const unsigned char* p = std::lower_bound(first, last, c);
  return p != last && *p == c ? static_cast<uint32_t>(p - m_labels.data()) + 1 : NONE;
}

bool ContainsIndex::foundIn(std::string_view text) const {
  if (text.empty()) return false;
  if (m_bEmptyValue) return true;
  if (m_bSingle) return filterdetail::containsBytes(text, m_strSingle);
  if (m_states.empty()) return false;
  if (m_uGram != 0) return foundByGrams(text);
  uint32_t s = 0;
  for (unsigned char c : text) {
    for (;;) {
      if (s == 0) {
        s = m_root[c];
        break;
      }
      const uint32_t t = child(s, c);
      if (t != NONE) {
        s = t;
        break;
      }
      s = m_states[s].failAccept >> 1;
    }
    if (m_states[s].failAccept & 1u) return true;
  }
  return false;
}

// ---------------------------------------------------------------------------
// IntValueMatch

IntValueMatch::IntValueMatch(char op, const std::set<long>& values) : m_cOperator(op) {
  if (values.empty()) return;  // every value
  const long lo = *values.begin();
  const long hi = *values.rbegin();
  m_lMin = lo;
  auto membership = [&](bool negated) {
    if (static_cast<unsigned long>(hi) - static_cast<unsigned long>(lo) < 64) {
      setInterval(lo, hi, negated);
      m_interval.mask = 0;
      for (long v : values) m_interval.mask |= 1ul << (static_cast<unsigned long>(v) - m_interval.low);
    } else {
      m_list.assign(values.begin(), values.end());
      m_kind = negated ? Kind::NOT_IN_LIST : Kind::IN_LIST;
    }
  };
  switch (op) {
    case 1:
    case 7:
    case 8:
    case 11:
    case 12:
      membership(false);
      break;
    case 2:
    case 9:
      membership(true);
      break;
    case 3:  // v > hi
      if (hi == LONG_MAX) {
        setInterval(1, 0, false);
      } else {
        setInterval(hi + 1, LONG_MAX, false);
      }
      break;
    case 4:  // v >= hi
      setInterval(hi, LONG_MAX, false);
      break;
    case 5:  // v < lo
      if (lo == LONG_MIN) {
        setInterval(1, 0, false);
      } else {
        setInterval(LONG_MIN, lo - 1, false);
      }
      break;
    case 6:  // v <= lo
      setInterval(LONG_MIN, lo, false);
      break;
    case 10:
      if (values.size() == 1) {
        m_kind = Kind::BETWEEN_ONE;
      } else {
        setInterval(lo, hi, false);
      }
      break;
    default:
      m_kind = Kind::BAD_OP;
      break;
  }
}

void IntValueMatch::setInterval(long lo, long hi, bool negated) {
  m_kind = Kind::INTERVAL;
  if (lo > hi) {  // no value: the negation of every value
    m_interval = Interval{0, ~0ul, ~0ul, !negated};
    return;
  }
  const unsigned long low = static_cast<unsigned long>(lo);
  m_interval = Interval{low, static_cast<unsigned long>(hi) - low, ~0ul, negated};
}

bool IntValueMatch::copyInterval(Interval& out) const {
  if (m_kind != Kind::INTERVAL) return false;
  out = m_interval;
  m_watch.markCopied();
  return true;
}

bool IntValueMatch::inList(long v) const { return std::binary_search(m_list.begin(), m_list.end(), v); }

bool IntValueMatch::general(long v) const {
  switch (m_kind) {
    case Kind::IN_LIST:
      return inList(v);
    case Kind::NOT_IN_LIST:
      return !inList(v);
    case Kind::BETWEEN_ONE:
      FM_TRACE(TRACE_ERROR, "BasicExp::evaluateInt, between param error!");
      return v >= m_lMin;
    default:
      FM_TRACE(TRACE_ERROR, "BasicExp::evaluateInt, op:%d error!", static_cast<int>(m_cOperator));
      return false;
  }
}

// ---------------------------------------------------------------------------
// StrValueMatch

StrValueMatch::StrValueMatch(char op, const std::set<std::string>& values) : m_cOperator(op) {
  if (values.empty()) return;  // ALL
  if (values.size() == 1 && (op == 1 || op == 8)) {
    m_kind = Kind::IN_ONE;
    m_strOne = *values.begin();
    return;
  }
  if (values.size() == 1 && (op == 7 || op == 11 || op == 12)) {
    // "" is contained in every non-empty text, as find has it.
    m_kind = Kind::CONTAINS_ONE;
    m_strOne = *values.begin();
    return;
  }
  auto t = std::make_shared<Tables>();
  t->first = *values.begin();
  t->last = *values.rbegin();
  switch (op) {
    case 1:
    case 8:
    case 2:
      t->sorted.assign(values.begin(), values.end());
      m_kind = op == 2 ? Kind::NOT_IN : Kind::IN;
      break;
    case 3:
      m_kind = Kind::GT;
      break;
    case 4:
      m_kind = Kind::GE;
      break;
    case 5:
      m_kind = Kind::LT;
      break;
    case 6:
      m_kind = Kind::LE;
      break;
    case 7:
    case 11:
    case 12:
    case 9:
      t->contains = std::make_unique<ContainsIndex>(values);
      m_kind = op == 9 ? Kind::CONTAINS_NONE : Kind::CONTAINS;
      break;
    case 10:
      m_kind = values.size() == 1 ? Kind::BETWEEN_ONE : Kind::BETWEEN;
      break;
    default:
      m_kind = Kind::BAD_OP;
      break;
  }
  m_tables = std::move(t);
}

const std::string* StrValueMatch::copyContainsOne() const {
  if (m_kind != Kind::CONTAINS_ONE) return nullptr;
  m_watch.markCopied();
  return &m_strOne;
}

bool StrValueMatch::inList(std::string_view v) const {
  const auto& s = m_tables->sorted;
  if (s.size() <= 4) {
    for (const auto& x : s) {
      if (v == x) return true;
    }
    return false;
  }
  auto it = std::lower_bound(s.begin(), s.end(), v, [](const std::string& a, std::string_view b) { return a < b; });
  return it != s.end() && v == *it;
}

// The kinds that operator() does not answer itself.
bool StrValueMatch::general(std::string_view v) const {
  switch (m_kind) {
    case Kind::IN:
      return inList(v);
    case Kind::NOT_IN:
      return !inList(v);
    case Kind::GT:
      return v > std::string_view(m_tables->last);
    case Kind::GE:
      return v >= std::string_view(m_tables->last);
    case Kind::LT:
      return v < std::string_view(m_tables->first);
    case Kind::LE:
      return v <= std::string_view(m_tables->first);
    case Kind::BETWEEN:
      return v >= std::string_view(m_tables->first) && v <= std::string_view(m_tables->last);
    case Kind::CONTAINS:
      return m_tables->contains->foundIn(v);
    case Kind::CONTAINS_NONE:
      return !m_tables->contains->foundIn(v);
    case Kind::BETWEEN_ONE:
      FM_TRACE(TRACE_ERROR, "BasicExp::evaluateStr, between param error!");
      return v >= std::string_view(m_tables->first);
    default:
      FM_TRACE(TRACE_ERROR, "BasicExp::evaluateStr, op:%d error!", static_cast<int>(m_cOperator));
      return false;
  }
}

// ---------------------------------------------------------------------------
// SQL of LIKE lists

namespace filterdetail {
namespace {

// Appends the chunks [lo, hi) joined pairwise by " or " into `out`.
void appendBalanced(const std::vector<std::string>& chunks, size_t lo, size_t hi, std::string& out) {
  if (hi - lo == 1) {
    out += " (";
    out += chunks[lo];
    out += ") ";
    return;
  }
  const size_t mid = lo + (hi - lo) / 2;
  out += " (";
  appendBalanced(chunks, lo, mid, out);
  out += " or ";
  appendBalanced(chunks, mid, hi, out);
  out += ") ";
}

}  // namespace

std::string containsListSql(char op, const std::string& col, const std::set<std::string>& values) {
  const char* open;
  const char* close;
  switch (op) {
    case 7:
    case 9:
      open = " like '%", close = "%' ";
      break;
    case 11:
      open = " like '%", close = "' ";
      break;
    case 12:
      open = " like '", close = "%' ";
      break;
    default:
      return std::string();
  }
  if (values.empty()) return std::string();
  const std::string& esc = KyroCommonUtils::getEscapeString();
  std::vector<std::string> chunks(1);
  size_t inChunk = 0;
  for (const auto& x : values) {
    if (inChunk == LIKE_CHUNK_TERMS) {
      chunks.emplace_back();
      inChunk = 0;
    }
    std::string& r = chunks.back();
    const std::string term =
        col + open + Kyrofmdb::CFMDBTools::getFiltSql(x, Kyrofmdb::CFMDBTools::FILT_LIKE) + close + esc;
    if (inChunk == 0) {
      r = term;
    } else {
      r += " or (" + term + " )";
    }
    ++inChunk;
  }
  std::string any;
  if (chunks.size() == 1) {
    any.swap(chunks.front());
  } else {
    appendBalanced(chunks, 0, chunks.size(), any);
  }
  if (op == 9) return "(" + col + " is null) or " + "not (" + any + ")";
  return any;
}

}  // namespace filterdetail

}  // namespace Kyrofm
