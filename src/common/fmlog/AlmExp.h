// AlmExp.h: the records of the alarm explanation knowledge base and the free
// functions that work on lists of them.
//
// An explanation entry (AlmExp_t) holds, for one alarm definition (its key
// AlarmInfo_t: group id, alarm id), the alarm's attributes and its reasons
// (ReasonInfo), each with the texts shown to operators. The in-memory buffer
// keeps reduced entries (AlmBasicExp_t with BasicReasonInfo) in a chained hash
// table of 5 000 buckets (AlmBasicExpTable). Lists of entries travel as
// std::list<AlmExp_t>; in the *expanded form* every entry holds exactly one
// reason and several entries may share a key. The single-entry list functions
// take their input in expanded form: they look only at its first reason. Every
// key comparison looks at the alarm key alone.
//
// The list functions never fail: a missing key, a missing reason or an empty
// input leaves the target unchanged. checkAlmExp validates an entry before it
// is stored; the conversions to and from the CORBA sequences of idl/
// KyroAlmExp.idl catch every exception and answer with a result code.
//
// Thread safety: plain records and free functions without shared state; the
// owner of a shared list or table serialises access to it.
#ifndef FM_FMLOG_ALMEXP_H
#define FM_FMLOG_ALMEXP_H

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <list>
#include <map>
#include <new>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "fm_common/fmcommon/FMValueTypes.h"
#include "fm_common/idl/KyroAlmExp.hh"

namespace Kyrofm {

// Result codes of the explanation records besides 33000, 33002 and 33021.
constexpr long FM_EXP_NO_ENTRY = 33044;        // an empty list or sequence
constexpr long FM_EXP_INVALID_TYPE = 33072;    // alarm type rejected
constexpr long FM_EXP_INVALID_LEVEL = 33074;   // alarm level rejected
constexpr long FM_EXP_TEXT_TOO_LONG = 33077;   // a text passes its limit

// Limits of the stored texts, in bytes of the service's narrow code set.
constexpr size_t ALARM_NAME_MAX = 150;
constexpr size_t ALARM_EXP_MAX = 4096;          // Explain and ClearAdvice
constexpr size_t ALARM_EXP_FORMAT_MAX = 250;    // ExpFormat and AlarmGroupLabel

// Operation types of a reason.
constexpr std::uint8_t EXP_OPER_UPDATED = 1;
constexpr std::uint8_t EXP_OPER_ADDED = 2;
constexpr std::uint8_t EXP_OPER_DELETED = 3;

// One reason of an entry. Copy and assignment are member-wise.
struct ReasonInfo {
  std::int32_t ExpTimeStamp = 0;  // last change, seconds since 1970 UTC
  std::int32_t ReasonID = 0;      // the entry's attributes belong to reason 0
  std::string Explain;            // at most 4096 when stored
  std::string ClearAdvice;        // at most 4096
  std::string ExpFormat;          // at most 250
  std::string AlarmGroupLabel;    // at most 250
  std::string Meaning;
  std::int32_t MergeStrategy = 0;  // 1: merged by frequency
  std::uint8_t OperationType = 0;  // 1 updated, 2 added, 3 marked deleted
  std::uint8_t DefineField = 0;
};

// Resizes dst to src's size (new slots default) and assigns element by element.
void CopyReasons(const std::vector<ReasonInfo>& src, std::vector<ReasonInfo>& dst);

// True when ReasonID, Explain, ClearAdvice or ExpFormat differ.
bool operator!=(const ReasonInfo& a, const ReasonInfo& b);

// One explanation entry: the alarm key, the attributes and the reasons.
struct AlmExp_t : public AlarmInfo_t {
  char Category = 0;
  char AlarmLevel = 0;
  char AlarmType = 0;
  char ClearCategory = 1;
  std::string AlarmName;
  std::int32_t LinkType = -1;
  std::int32_t RelativeAlmID = 0;
  std::int32_t ClearStrategy = 0;
  std::vector<ReasonInfo> Reasons;
  std::int32_t ReasonType = 0;

  AlmExp_t() = default;
  AlmExp_t(const AlmExp_t&) = default;
  // Assigns the key, the attributes and (through CopyReasons) the reasons;
  // assignment to itself does nothing.
  AlmExp_t& operator=(const AlmExp_t& other);
};

// The entries differ when their keys, Category, AlarmLevel, AlarmType,
// AlarmName, LinkType, ReasonType or reason counts differ, or a reason differs
// from the reason at the same index. ClearCategory, RelativeAlmID,
// ClearStrategy and the reasons' time stamps, labels, meanings, merge
// strategies, operation types and defined-field flags take no part.
bool operator!=(const AlmExp_t& a, const AlmExp_t& b);

// The reduced reason of the in-memory buffer.
struct BasicReasonInfo {
  std::int32_t ExpTimeStamp = 0;
  std::int32_t ReasonID = 0;
  std::uint8_t OperationType = 0;
};

// The reduced entry of the in-memory buffer. Note the order ReasonType,
// RelativeAlmID, ClearStrategy, unlike AlmExp_t; conversions map by name.
struct AlmBasicExp_t : public AlarmInfo_t {
  char Category = 0;
  char AlarmLevel = 0;
  char AlarmType = 0;
  char ClearCategory = 1;
  std::string AlarmName;
  std::int32_t LinkType = -1;
  std::int32_t ReasonType = 0;
  std::int32_t RelativeAlmID = 0;
  std::int32_t ClearStrategy = 0;
  std::vector<BasicReasonInfo> Reasons;
};

// Key of the set of alarms merged by frequency.
struct AlarmExpKey {
  std::int32_t m_iGroupId = 0;
  std::int32_t m_iAlarmId = 0;

  AlarmExpKey() = default;
  AlarmExpKey(std::int32_t groupId, std::int32_t alarmId) : m_iGroupId(groupId), m_iAlarmId(alarmId) {}
  bool operator==(const AlarmExpKey& o) const { return m_iGroupId == o.m_iGroupId && m_iAlarmId == o.m_iAlarmId; }
  // By group id, then by alarm id.
  bool operator<(const AlarmExpKey& o) const {
    return m_iGroupId != o.m_iGroupId ? m_iGroupId < o.m_iGroupId : m_iAlarmId < o.m_iAlarmId;
  }
};

// ---------------------------------------------------------------------------
// The buffer's hash table.

// A hash table of singly linked chains with a fixed vector of bucket heads.
// Hasher maps a key to its bucket index (a key whose index is outside the
// vector is neither found nor inserted); GetKey extracts the key of a value;
// Equal compares keys. New nodes are linked at the head of their chain.
// Iteration runs bucket by bucket from bucket 0 and within a bucket from the
// chain head (most recently inserted first). Iterators and references stay
// valid until their node is erased or the table cleared.
template <typename Key, typename Value, typename Hasher, typename GetKey, typename Equal>
class Chained_Hash_Table {
  struct Node {
    Value value;
    Node* next;
  };

 public:
  template <bool Const>
  class Iter {
   public:
    using iterator_category = std::forward_iterator_tag;
    using value_type = Value;
    using difference_type = std::ptrdiff_t;
    using pointer = std::conditional_t<Const, const Value*, Value*>;
    using reference = std::conditional_t<Const, const Value&, Value&>;
    using table_type = std::conditional_t<Const, const Chained_Hash_Table, Chained_Hash_Table>;

    Iter() = default;
    Iter(table_type* table, size_t bucket, Node* node) : m_pTable(table), m_nBucket(bucket), m_pNode(node) {}
    // An iterator converts to a const_iterator.
    template <bool C, typename = std::enable_if_t<Const && !C>>
    Iter(const Iter<C>& o) : m_pTable(o.m_pTable), m_nBucket(o.m_nBucket), m_pNode(o.m_pNode) {}  // NOLINT
    reference operator*() const { return m_pNode->value; }
    pointer operator->() const { return &m_pNode->value; }
    Iter& operator++() {
      m_pNode = m_pNode->next;
      if (m_pNode == nullptr) {
        while (++m_nBucket < m_pTable->m_buckets.size()) {
          if ((m_pNode = m_pTable->m_buckets[m_nBucket]) != nullptr) break;
        }
      }
      return *this;
    }
    Iter operator++(int) {
      Iter old = *this;
      ++*this;
      return old;
    }
    bool operator==(const Iter& o) const { return m_pNode == o.m_pNode; }
    bool operator!=(const Iter& o) const { return m_pNode != o.m_pNode; }

   private:
    template <bool>
    friend class Iter;
    table_type* m_pTable = nullptr;
    size_t m_nBucket = 0;
    Node* m_pNode = nullptr;
  };
  using iterator = Iter<false>;
  using const_iterator = Iter<true>;

  explicit Chained_Hash_Table(size_t buckets = 5000) : m_buckets(buckets, nullptr) {}
  Chained_Hash_Table(const Chained_Hash_Table& other) : m_buckets(other.m_buckets.size(), nullptr) {
    copyFrom(other);
  }
  Chained_Hash_Table& operator=(const Chained_Hash_Table& other) {
    if (this != &other) {
      Chained_Hash_Table copy(other);
      swap(copy);
    }
    return *this;
  }
  ~Chained_Hash_Table() { clear(); }

  void swap(Chained_Hash_Table& other) noexcept {
    m_buckets.swap(other.m_buckets);
    std::swap(m_nCount, other.m_nCount);
  }

  size_t size() const { return m_nCount; }
  bool empty() const { return m_nCount == 0; }
  size_t bucket_count() const { return m_buckets.size(); }

  iterator begin() { return firstFrom<iterator>(this, 0); }
  iterator end() { return iterator(this, m_buckets.size(), nullptr); }
  const_iterator begin() const { return firstFrom<const_iterator>(this, 0); }
  const_iterator end() const { return const_iterator(this, m_buckets.size(), nullptr); }

  // Inserts value unless a value with an equal key is present: the value found
  // (or the new one) and whether it was inserted. A key outside the buckets or
  // an allocation failure gives (end(), false).
  std::pair<iterator, bool> insert_unique(const Value& value) {
    const size_t b = m_hasher(m_getKey(value));
    if (b >= m_buckets.size()) return {end(), false};
    for (Node* n = m_buckets[b]; n != nullptr; n = n->next) {
      if (m_equal(m_getKey(n->value), m_getKey(value))) return {iterator(this, b, n), false};
    }
    return linkHead(b, value);
  }
  // Links value at the head of its chain without looking for an equal key.
  std::pair<iterator, bool> insert_equal(const Value& value) {
    const size_t b = m_hasher(m_getKey(value));
    if (b >= m_buckets.size()) return {end(), false};
    return linkHead(b, value);
  }

  iterator find(const Key& key) {
    const size_t b = m_hasher(key);
    if (b >= m_buckets.size()) return end();
    for (Node* n = m_buckets[b]; n != nullptr; n = n->next) {
      if (m_equal(m_getKey(n->value), key)) return iterator(this, b, n);
    }
    return end();
  }
  const_iterator find(const Key& key) const { return const_cast<Chained_Hash_Table*>(this)->find(key); }

  // Unlinks and frees the first value with an equal key: 1, or 0 when absent.
  size_t erase(const Key& key) {
    const size_t b = m_hasher(key);
    if (b >= m_buckets.size()) return 0;
    for (Node** link = &m_buckets[b]; *link != nullptr; link = &(*link)->next) {
      if (m_equal(m_getKey((*link)->value), key)) {
        Node* victim = *link;
        *link = victim->next;
        delete victim;
        --m_nCount;
        return 1;
      }
    }
    return 0;
  }

  void clear() {
    for (Node*& head : m_buckets) {
      while (head != nullptr) {
        Node* next = head->next;
        delete head;
        head = next;
      }
    }
    m_nCount = 0;
  }

 private:
  template <typename It, typename Table>
  static It firstFrom(Table* table, size_t bucket) {
    for (; bucket < table->m_buckets.size(); ++bucket) {
      if (table->m_buckets[bucket] != nullptr) return It(table, bucket, table->m_buckets[bucket]);
    }
    return It(table, table->m_buckets.size(), nullptr);
  }

  std::pair<iterator, bool> linkHead(size_t b, const Value& value) {
    Node* n = new (std::nothrow) Node{value, m_buckets[b]};
    if (n == nullptr) return {end(), false};
    m_buckets[b] = n;
    ++m_nCount;
    return {iterator(this, b, n), true};
  }

  // Chains are copied in order, so the copy iterates like the original.
  void copyFrom(const Chained_Hash_Table& other) {
    for (size_t b = 0; b < other.m_buckets.size(); ++b) {
      Node** tail = &m_buckets[b];
      for (const Node* n = other.m_buckets[b]; n != nullptr; n = n->next) {
        *tail = new Node{n->value, nullptr};
        tail = &(*tail)->next;
        ++m_nCount;
      }
    }
  }

  std::vector<Node*> m_buckets;
  size_t m_nCount = 0;
  Hasher m_hasher;
  GetKey m_getKey;
  Equal m_equal;
};

// (group id * 10 + alarm id) in unsigned 32-bit arithmetic, modulo 5000.
struct AlmBasicExpHasher_t {
  static constexpr std::uint32_t BUCKETS = 5000;
  size_t operator()(const AlarmInfo_t& key) const {
    const std::uint32_t h = static_cast<std::uint32_t>(key.m_lGroupId) * 10u + static_cast<std::uint32_t>(key.m_lAlarmId);
    return h % BUCKETS;
  }
};

struct AlmBasicExpGetKey_t {
  const AlarmInfo_t& operator()(const AlmBasicExp_t& e) const { return e; }
};

struct AlmBasicExpEqual_t {
  bool operator()(const AlarmInfo_t& a, const AlarmInfo_t& b) const {
    return a.m_lGroupId == b.m_lGroupId && a.m_lAlarmId == b.m_lAlarmId;
  }
};

using AlmBasicExpTable =
    Chained_Hash_Table<AlarmInfo_t, AlmBasicExp_t, AlmBasicExpHasher_t, AlmBasicExpGetKey_t, AlmBasicExpEqual_t>;

// ---------------------------------------------------------------------------
// List operations.

using AlmExpList = std::list<AlmExp_t>;
// Result code -> keys of the entries that failed with it.
using AlmExpErrorMap = std::map<long, std::list<AlarmInfo_t>>;

// Merges e's first reason into the list: a new key appends a copy of e (all
// its reasons); a known key gets e's first reason appended unless it already
// has a reason with that id (its attributes stay). e without reasons: nothing.
void addToExpList(const AlmExp_t& e, AlmExpList& dst);
// Expands src, then merges every expanded entry into dst.
void combineExpList(const AlmExpList& src, AlmExpList& dst);
// Merges every entry of src into dst as it stands.
void combineExpListWithoutExpand(const AlmExpList& src, AlmExpList& dst);
// Removes every reason with e's first reason id from the first entry with e's
// key; an entry left without reasons is removed.
void delFromExpList(const AlmExp_t& e, AlmExpList& dst);
void delFromExpList(const AlmExpList& src, AlmExpList& dst);
// Replaces the first entry with e's key by e's attributes; its reason with e's
// first reason id becomes e's first reason, stamped with the current time and
// OperationType 1. A missing key or reason id changes nothing.
void updateToExpList(const AlmExp_t& e, AlmExpList& dst);
void updateToExpList(const AlmExpList& src, AlmExpList& dst);
// Appends src to dst in expanded form: one copy per reason, each holding only
// that reason; an entry without reasons is appended unchanged.
void expandExpList(const AlmExpList& src, AlmExpList& dst);

// Index of the first reason with that id, -1 when absent.
int findReasonId(long reasonId, const AlmExp_t& e);
int findReasonId(long reasonId, const AlmBasicExp_t& e);
// Erases every reason with that id.
void delReasonId(long reasonId, AlmExp_t& e);
void delReasonId(long reasonId, AlmBasicExp_t& e);
// 33000 when every reason is marked deleted (or there is none), else 33002.
long findDeletedAll(const AlmExp_t& e);

// Validity check before storing; reasons marked deleted are skipped and the
// attributes are checked with reason 0: 33000, 33021 (name empty or longer
// than 150, or negative group id), 33072 (type), 33074 (level) or 33077 (a
// text passes its limit).
long checkAlmExp(const AlmExp_t& e);

// ---------------------------------------------------------------------------
// CORBA sequences.

// List to client sequence: 33000 (an empty list gives an empty sequence) or
// 33002 when filling raised an exception.
long almExpListToSeq(const AlmExpList& src, KyroExp::AlmExpSeq& seq);
// List to northbound sequence: 33000, 33044 for an empty list, or 33002.
long almExpListToSeqNB(const AlmExpList& src, KyroExp::NBAlmExpSeq& seq);
// Client sequence to list in expanded form. An empty sequence gives 33044 and
// leaves dst untouched; otherwise dst is replaced by the accepted entries, the
// keys of the rejected ones (checkAlmExp, when check is true) are added to
// errors under their code, and the result is 33000.
long almExpSeqToList(const KyroExp::AlmExpSeq& seq, AlmExpList& dst, AlmExpErrorMap& errors, bool check);

}  // namespace Kyrofm

#endif
