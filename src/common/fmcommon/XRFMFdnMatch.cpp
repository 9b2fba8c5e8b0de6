// XRFMFdnMatch.cpp: the FDN pattern matcher, a hash table of the patterns'
// normal forms probed with the hashes of an FDN's leading components.
//
// The hash of a component sequence is built one component at a time
// (chain(h, hash of the component's bytes)), so a test extends the hash of
// the FDN's first k components to k + 1 without reading them again, and
// separator runs never enter it: ",A,,B" and "A,B" hash alike.
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

// Hash of one component's bytes, 8 at a time.
inline uint64_t hashBytes(const char* p, size_t n) {
  uint64_t h = static_cast<uint64_t>(n) * 0x9E3779B97F4A7C15ULL;
  while (n >= 8) {
    uint64_t w;
    std::memcpy(&w, p, 8);
    h = (h ^ w) * 0xBF58476D1CE4E5B9ULL;
    h ^= h >> 29;
    p += 8;
    n -= 8;
  }
  if (n > 0) {
    uint64_t w = 0;
    std::memcpy(&w, p, n);
    h = (h ^ w) * 0x94D049BB133111EBULL;
    h ^= h >> 32;
  }
  return h;
}

// The hash of a sequence extended by one component.
inline uint64_t chain(uint64_t h, uint64_t component) {
  h = (h ^ component) * 0xD6E8FEB86659FD93ULL;
  return h ^ (h >> 31);
}

inline uint32_t tagOf(uint64_t hash) { return static_cast<uint32_t>(hash >> 32); }

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
  m_depths.swap(copy.m_depths);
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
    const char* key = m_keys.data() + s.m_uOffset + sizeof len;
    uint64_t h = kSeed;
    size_t start = 0;
    for (size_t k = 0; k <= len; ++k) {
      if (k == len || key[k] == m_cSeparator) {
        h = chain(h, hashBytes(key + start, k - start));
        start = k + 1;
      }
    }
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

void XRFMFdnMatch::addPattern(const char* pattern) {
  if (!pattern) {
    FM_TRACE(TRACE_WARNING, "XRFMFdnMatch::addPattern, null pattern ignored");
    return;
  }
  m_bMatchAll = std::strcmp(pattern, "*") == 0;
  m_patterns.emplace_back(pattern);
  std::string normal;
  uint64_t h = kSeed;
  size_t depth = 0;
  for (const char* p = pattern; *p;) {
    if (*p == m_cSeparator) {
      ++p;
      continue;
    }
    const char* start = p;
    while (*p && *p != m_cSeparator) ++p;
    const size_t n = static_cast<size_t>(p - start);
    if (depth++ > 0) normal += m_cSeparator;
    normal.append(start, n);
    h = chain(h, hashBytes(start, n));
  }
  // A pattern without components names no object: it matches nothing, and in
  // particular must not make every FDN match.
  if (depth == 0) return;
  auto d = std::lower_bound(m_depths.begin(), m_depths.end(), depth);
  if (d == m_depths.end() || *d != depth) m_depths.insert(d, depth);
  insertKey(normal, h);
}

bool XRFMFdnMatch::match(const char* fdn, bool ignoreMatchAll) const {
  if (!ignoreMatchAll && m_bMatchAll) return true;
  if (m_nKeys == 0 || !fdn) return false;
  const char sep = m_cSeparator;
  size_t i = 0;
  while (fdn[i] == sep) ++i;
  if (fdn[i] == '\0') return false;
  const size_t begin = i;
  bool normal = true;  // no separator run so far: the text is its own normal form
  uint64_t h = kSeed;
  size_t depth = 0, next = 0, want = m_depths[0];
  for (;;) {
    const size_t start = i;
    while (fdn[i] != '\0' && fdn[i] != sep) ++i;
    h = chain(h, hashBytes(fdn + start, i - start));
    if (++depth == want) {
      if (probe(h, fdn, begin, i, normal)) return true;
      if (++next == m_depths.size()) return false;  // no pattern is deeper
      want = m_depths[next];
    }
    if (fdn[i] == '\0') return false;
    const size_t end = i;
    while (fdn[i] == sep) ++i;
    if (fdn[i] == '\0') return false;
    if (i - end > 1) normal = false;
  }
}

}  // namespace Kyrofm
