// XRFMFdnMatch.cpp: the FDN pattern matcher, a hash table of the patterns'
// normal forms probed with the hashes of an FDN's leading components.
//
// The hash of a component sequence is built as the text is read: each
// component is taken eight bytes at a time from its first byte (the last word
// padded with zero bytes, which no component contains), every word is mixed
// into the running hash, and the component's end mixes in its length. So a
// test extends the hash of the FDN's first k components to k + 1 without
// reading them again, the word that shows a component's end also gives its
// last bytes, and separator runs never enter the hash: ",A,,B" and "A,B" hash
// alike. The running hash is finished (fully mixed) only where the table is
// probed.
#include "fm_common/fmcommon/XRFMFdnMatch.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

#include "fm_common/fmcommon/KyroSettingOP.h"
#include "fm_common/platform/KyroTrace.h"

namespace Kyrofm {

namespace {

constexpr uint64_t kSeed = 0x243F6A8885A308D3ULL;
constexpr uint64_t kLowBits = 0x0101010101010101ULL;
constexpr uint64_t kHighBits = 0x8080808080808080ULL;

// Eight bytes (or the n < 8 bytes, zero-padded) at p, the first byte lowest.
inline uint64_t loadWord(const char* p) {
  uint64_t w;
  std::memcpy(&w, p, 8);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
  w = __builtin_bswap64(w);
#endif
  return w;
}
inline uint64_t loadPartial(const char* p, size_t n) {
  uint64_t w = 0;
  std::memcpy(&w, p, n);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
  w = __builtin_bswap64(w);
#endif
  return w;
}

// The high bit of each byte of w that equals the byte repeated in `pattern`;
// bits above the lowest one may be false alarms, the lowest one is exact.
inline uint64_t bytesEqual(uint64_t w, uint64_t pattern) {
  const uint64_t x = w ^ pattern;
  return (x - kLowBits) & ~x & kHighBits;
}

inline uint64_t mixWord(uint64_t h, uint64_t w) {
  h = (h ^ w) * 0xBF58476D1CE4E5B9ULL;
  return h ^ (h >> 29);
}

inline uint64_t endComponent(uint64_t h, size_t len) {
  h = (h ^ static_cast<uint64_t>(len)) * 0xD6E8FEB86659FD93ULL;
  return h ^ (h >> 31);
}

// The table hash of a prefix whose running hash is h.
inline uint64_t finish(uint64_t h) {
  h ^= h >> 33;
  h *= 0xFF51AFD7ED558CCDULL;
  h ^= h >> 33;
  h *= 0xC4CEB9FE1A85EC53ULL;
  return h ^ (h >> 33);
}

inline uint32_t tagOf(uint64_t hash) { return static_cast<uint32_t>(hash >> 32); }

// Reads the component that starts at s[i] (not a separator) of the n bytes at
// s, mixing it into h; returns the index of its end (a separator, or n).
inline size_t scanComponent(const char* s, size_t i, size_t n, uint64_t seps, uint64_t& h) {
  const size_t start = i;
  for (; i + 8 <= n; i += 8) {
    const uint64_t w = loadWord(s + i);
    const uint64_t hit = bytesEqual(w, seps);
    if (hit != 0) {
      const unsigned k = static_cast<unsigned>(__builtin_ctzll(hit)) >> 3;
      if (k > 0) h = mixWord(h, w & ((uint64_t(1) << (8 * k)) - 1));
      h = endComponent(h, i + k - start);
      return i + k;
    }
    h = mixWord(h, w);
  }
  if (i < n) {
    const size_t rest = n - i;
    const uint64_t w = loadPartial(s + i, rest);
    // Only the bytes read count: the padding could equal a NUL separator.
    const uint64_t hit = bytesEqual(w, seps) & ((uint64_t(1) << (8 * rest)) - 1);
    const unsigned k = hit != 0 ? static_cast<unsigned>(__builtin_ctzll(hit)) >> 3 : static_cast<unsigned>(rest);
    if (k > 0) h = mixWord(h, w & ((uint64_t(1) << (8 * k)) - 1));
    i += k;
  }
  h = endComponent(h, i - start);
  return i;
}

}  // namespace

namespace {
constexpr size_t kHugePage = size_t(2) << 20;
}  // namespace

void* XRFMFdnMatch::allocBlock(size_t bytes) {
  if (bytes < kHugePage) return ::operator new(bytes);
  const size_t rounded = (bytes + kHugePage - 1) / kHugePage * kHugePage;
  void* p = std::aligned_alloc(kHugePage, rounded);
  if (p == nullptr) throw std::bad_alloc();
#ifdef MADV_HUGEPAGE
  ::madvise(p, rounded, MADV_HUGEPAGE);  // advice only: without huge pages it works the same
#endif
  return p;
}

void XRFMFdnMatch::freeBlock(void* p, size_t bytes) {
  if (bytes < kHugePage) ::operator delete(p);
  else std::free(p);
}

XRFMFdnMatch::XRFMFdnMatch() : XRFMFdnMatch(CKyroSettingOP::instance()->getFDNSplitter()) {}

XRFMFdnMatch::XRFMFdnMatch(char separator) : m_cSeparator(separator) {}

XRFMFdnMatch::XRFMFdnMatch(const XRFMFdnMatch& other) : m_cSeparator(other.m_cSeparator) {
  for (const std::string& p : other.m_patterns) addPattern(p.c_str());
}

XRFMFdnMatch& XRFMFdnMatch::operator=(const XRFMFdnMatch& other) {
  if (this == &other) return *this;
  // Build first, so that a failure leaves this matcher as it was.
  XRFMFdnMatch copy(other);
  m_slots.swap(copy.m_slots);
  m_uBits = copy.m_uBits;
  m_nKeys = copy.m_nKeys;
  m_keys.swap(copy.m_keys);
  m_uDepthMask = copy.m_uDepthMask;
  m_nMaxDepth = copy.m_nMaxDepth;
  m_patterns.swap(copy.m_patterns);
  m_bMatchAll = copy.m_bMatchAll;
  m_cSeparator = copy.m_cSeparator;
  return *this;
}

XRFMFdnMatch::~XRFMFdnMatch() = default;

bool XRFMFdnMatch::keyEquals(uint32_t offset, const char* text, size_t begin, size_t end, bool normal) const {
  uint32_t len;
  std::memcpy(&len, m_keys.data() + offset, sizeof len);
  const char* key = m_keys.data() + offset + sizeof len;
  if (normal) return len == end - begin && std::memcmp(key, text + begin, len) == 0;
  // The text has separator runs: each run stands for the key's one separator.
  size_t i = 0, j = begin;
  while (i < len && j < end) {
    if (key[i] == m_cSeparator) {
      if (text[j] != m_cSeparator) return false;
      while (j < end && text[j] == m_cSeparator) ++j;
      ++i;
    } else {
      if (text[j] != key[i]) return false;
      ++i;
      ++j;
    }
  }
  return i == len && j == end;
}

bool XRFMFdnMatch::probe(uint64_t hash, const char* text, size_t begin, size_t end, bool normal) const {
  const size_t mask = m_slots.size() - 1;
  const uint32_t tag = tagOf(hash);
  for (size_t i = home(hash, m_uBits);; i = (i + 1) & mask) {
    const Slot& s = m_slots[i];
    if (s.m_uOffset == kEmpty) return false;
    if (s.m_uTag == tag && keyEquals(s.m_uOffset, text, begin, end, normal)) return true;
  }
}

void XRFMFdnMatch::grow() {
  const unsigned bits = m_uBits == 0 ? 4 : m_uBits + 1;
  std::vector<Slot, BlockAllocator<Slot>> slots(size_t(1) << bits, Slot{0, kEmpty});
  const size_t mask = slots.size() - 1;
  // Rehash from the records: each record's hash is recomputed from its text.
  for (const Slot& s : m_slots) {
    if (s.m_uOffset == kEmpty) continue;
    uint32_t len;
    std::memcpy(&len, m_keys.data() + s.m_uOffset, sizeof len);
    const uint64_t h = hashOfNormal(m_keys.data() + s.m_uOffset + sizeof len, len, m_cSeparator);
    size_t i = home(h, bits);
    while (slots[i].m_uOffset != kEmpty) i = (i + 1) & mask;
    slots[i] = s;
  }
  m_slots.swap(slots);
  m_uBits = bits;
}

void XRFMFdnMatch::insertKey(const std::string& normal, uint64_t hash) {
  if (!m_slots.empty()) {
    const size_t mask = m_slots.size() - 1;
    const uint32_t tag = tagOf(hash);
    for (size_t i = home(hash, m_uBits);; i = (i + 1) & mask) {
      const Slot& s = m_slots[i];
      if (s.m_uOffset == kEmpty) break;
      if (s.m_uTag == tag && keyEquals(s.m_uOffset, normal.data(), 0, normal.size(), true)) return;  // known
    }
  }
  const size_t need = m_keys.size() + sizeof(uint32_t) + normal.size();
  if (need >= kEmpty) {
    FM_TRACE(TRACE_ERROR, "XRFMFdnMatch::addPattern, pattern table full, pattern of %lu bytes not indexed",
             static_cast<unsigned long>(normal.size()));
    return;
  }
  // At most half full: a probe for an absent prefix ends after a slot or two.
  if (2 * (m_nKeys + 1) > m_slots.size()) grow();
  const uint32_t offset = static_cast<uint32_t>(m_keys.size());
  const uint32_t len = static_cast<uint32_t>(normal.size());
  const char* lenBytes = reinterpret_cast<const char*>(&len);
  m_keys.insert(m_keys.end(), lenBytes, lenBytes + sizeof len);
  m_keys.insert(m_keys.end(), normal.begin(), normal.end());
  const size_t mask = m_slots.size() - 1;
  size_t i = home(hash, m_uBits);
  while (m_slots[i].m_uOffset != kEmpty) i = (i + 1) & mask;
  m_slots[i] = Slot{tagOf(hash), offset};
  ++m_nKeys;
}

uint64_t XRFMFdnMatch::hashOfNormal(const char* key, size_t len, char separator) {
  const uint64_t seps = kLowBits * static_cast<unsigned char>(separator);
  uint64_t h = kSeed;
  for (size_t i = 0; i < len; ++i) i = scanComponent(key, i, len, seps, h);
  return finish(h);
}

void XRFMFdnMatch::addPattern(const char* pattern) {
  if (!pattern) {
    FM_TRACE(TRACE_WARNING, "XRFMFdnMatch::addPattern, null pattern ignored");
    return;
  }
  m_bMatchAll = std::strcmp(pattern, "*") == 0;
  m_patterns.emplace_back(pattern);
  const size_t n = m_patterns.back().size();
  const uint64_t seps = kLowBits * static_cast<unsigned char>(m_cSeparator);
  std::string normal;
  uint64_t h = kSeed;
  size_t depth = 0;
  for (size_t i = 0; i < n;) {
    if (pattern[i] == m_cSeparator) {
      ++i;
      continue;
    }
    const size_t end = scanComponent(pattern, i, n, seps, h);
    if (depth++ > 0) normal += m_cSeparator;
    normal.append(pattern + i, end - i);
    i = end;
  }
  // A pattern without components names no object: it matches nothing, and in
  // particular must not make every FDN match.
  if (depth == 0) return;
  if (depth <= 64) m_uDepthMask |= uint64_t(1) << (depth - 1);
  m_nMaxDepth = std::max(m_nMaxDepth, depth);
  insertKey(normal, finish(h));
}

bool XRFMFdnMatch::match(const char* fdn, bool ignoreMatchAll) const {
  if (!ignoreMatchAll && m_bMatchAll) return true;
  if (m_nKeys == 0 || !fdn) return false;
  const char sep = m_cSeparator;
  const uint64_t seps = kLowBits * static_cast<unsigned char>(sep);
  const size_t n = std::strlen(fdn);
  size_t i = 0;
  while (i < n && fdn[i] == sep) ++i;
  if (i == n) return false;
  const size_t begin = i;
  bool normal = true;  // no separator run so far: the text is its own normal form
  uint64_t h = kSeed;
  for (size_t depth = 1;; ++depth) {
    const size_t end = scanComponent(fdn, i, n, seps, h);
    if (hasDepth(depth) && probe(finish(h), fdn, begin, end, normal)) return true;
    if (depth == m_nMaxDepth || end == n) return false;  // no pattern is deeper, or no component follows
    i = end + 1;
    if (i < n && fdn[i] == sep) {
      normal = false;
      do ++i;
      while (i < n && fdn[i] == sep);
    }
    if (i == n) return false;
  }
}

}  // namespace Kyrofm
