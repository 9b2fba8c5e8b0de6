// FdnManager.cpp: the FDN manager. Memory is the authority for look-ups; the
// table tbl_fdn_mgr is the authority across restarts, with the FDN file as its
// stand-in while the table refuses writes. Every change is written to the
// table (or the file) first and enters memory only when it was stored, so
// that every identifier a caller receives is found again after a restart.
#include "fm_common/fmcommon/FdnManager.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>

#include "fm_common/fmcommon/AlmValidCheck.h"
#include "fm_common/fmcommon/FMIdMgr.h"
#include "fm_common/fmcommon/FMEvents.h"
#include "fm_common/fmcommon/FMTools.h"
#include "fm_common/fmcommon/KyroSettingOP.h"
#include "fm_common/platform/FMDBCommand.h"
#include "fm_common/platform/FMDBMaintain.h"
#include "fm_common/platform/FMDBTools.h"
#include "fm_common/platform/FMResult.h"
#include "fm_common/platform/KyroCommonUtils.h"
#include "fm_common/platform/KyroTrace.h"
#include "fm_common/time/CalculateTime.h"


namespace Kyrofm {

using Kyrofmdb::CFMDBGuard;
using Kyrofmdb::CFMDBTools;
using Kyrofmdb::SACommand;
using Kyrofmdb::SAConnection;
using Kyrofmdb::SAException;

namespace {

const char* const kNeedDelete = "needdelete";
const char* const kInsertSql = " insert into tbl_fdn_mgr(fdnid, fdnname) values(:fdnid,:fdnstr)";

// The statements below are built from literal pieces and the table name.
std::string withTable(const std::string& before, const std::string& table, const std::string& after) {
  return before + table + after;
}

std::string joinIds(std::set<long>::const_iterator first, std::set<long>::const_iterator last, const char* sep) {
  std::string text;
  for (auto it = first; it != last; ++it) {
    if (!text.empty()) text += sep;
    text += std::to_string(*it);
  }
  return text;
}

// Logs the names of a list as one or more lines "<prefix>a;b;c".
void traceNameList(int level, const char* prefix, const std::vector<const std::string*>& names) {
  if (names.empty() || !KyroTrace::enabled(level)) return;
  std::string line = prefix;
  const size_t base = line.size();
  for (const std::string* n : names) {
    if (line.size() > base && line.size() + n->size() > 4000) {
      KyroTrace::traceText(level, FM_MODULE, line);
      line.resize(base);
    }
    if (line.size() > base) line += ';';
    line += *n;
  }
  KyroTrace::traceText(level, FM_MODULE, line);
}

long toLong(const std::string& text) {
  char* end = nullptr;
  long v = std::strtol(text.c_str(), &end, 10);
  return (end == text.c_str()) ? 0 : v;
}

}  // namespace

// ---------------------------------------------------------------------------
// FdnExactTable and FdnIdIndex

struct FdnExactTable::Record {
  long m_lId;
  size_t m_nLength;
  const char* text() const { return reinterpret_cast<const char*>(this + 1); }
  char* text() { return reinterpret_cast<char*>(this + 1); }
};

FdnExactTable::~FdnExactTable() { clear(); }

size_t FdnExactTable::hashOf(std::string_view fdn) { return std::hash<std::string_view>()(fdn); }

bool FdnExactTable::equals(const Record* r, std::string_view fdn) {
  return r->m_nLength == fdn.size() && std::memcmp(r->text(), fdn.data(), fdn.size()) == 0;
}

size_t FdnExactTable::locate(std::string_view fdn, size_t hash) const {
  const size_t mask = m_slots.size() - 1;
  size_t i = hash & mask;
  while (m_slots[i].m_pRecord != nullptr &&
         !(m_slots[i].m_hash == hash && equals(m_slots[i].m_pRecord, fdn)))
    i = (i + 1) & mask;
  return i;
}

bool FdnExactTable::find(std::string_view fdn, long& id) const {
  if (m_nSize == 0) return false;
  const Slot& s = m_slots[locate(fdn, hashOf(fdn))];
  if (s.m_pRecord == nullptr) return false;
  id = s.m_pRecord->m_lId;
  return true;
}

void FdnExactTable::rehash(size_t slots) {
  std::vector<Slot> fresh(slots, Slot{0, nullptr});
  const size_t mask = slots - 1;
  for (const Slot& s : m_slots) {
    if (s.m_pRecord == nullptr) continue;
    size_t i = s.m_hash & mask;
    while (fresh[i].m_pRecord != nullptr) i = (i + 1) & mask;
    fresh[i] = s;
  }
  m_slots.swap(fresh);
}

void FdnExactTable::reserve(size_t n) {
  size_t slots = 16;
  while (slots < 2 * n) slots *= 2;
  if (slots > m_slots.size()) rehash(slots);
}

void FdnExactTable::put(std::string_view fdn, long id) {
  if (2 * (m_nSize + 1) > m_slots.size()) rehash(m_slots.empty() ? 16 : 2 * m_slots.size());
  const size_t hash = hashOf(fdn);
  Slot& s = m_slots[locate(fdn, hash)];
  if (s.m_pRecord != nullptr) {
    s.m_pRecord->m_lId = id;
    return;
  }
  void* mem = ::operator new(sizeof(Record) + fdn.size());
  Record* r = new (mem) Record{id, fdn.size()};
  if (!fdn.empty()) std::memcpy(r->text(), fdn.data(), fdn.size());
  s = Slot{hash, r};
  ++m_nSize;
}

bool FdnExactTable::erase(std::string_view fdn) {
  if (m_nSize == 0) return false;
  const size_t mask = m_slots.size() - 1;
  size_t i = locate(fdn, hashOf(fdn));
  if (m_slots[i].m_pRecord == nullptr) return false;
  ::operator delete(m_slots[i].m_pRecord);
  --m_nSize;
  // Backward shift: entries after the hole that may live in it move up, so
  // that every entry stays reachable from its home slot without tombstones.
  for (size_t j = (i + 1) & mask; m_slots[j].m_pRecord != nullptr; j = (j + 1) & mask) {
    const size_t home = m_slots[j].m_hash & mask;
    const bool between = (i <= j) ? (i < home && home <= j) : (i < home || home <= j);
    if (between) continue;
    m_slots[i] = m_slots[j];
    i = j;
  }
  m_slots[i] = Slot{0, nullptr};
  return true;
}

void FdnExactTable::clear() {
  for (Slot& s : m_slots) {
    if (s.m_pRecord != nullptr) ::operator delete(s.m_pRecord);
    s = Slot{0, nullptr};
  }
  m_nSize = 0;
}

void FdnIdIndex::setSorted(const std::vector<std::pair<const std::string*, long>>& pairs) {
  std::unique_lock<std::shared_mutex> lock(m_mtxExact);
  m_exact.reserve(m_exact.size() + pairs.size());
  auto hint = pairs.empty() ? m_map.end() : m_map.lower_bound(*pairs.front().first);
  for (const auto& p : pairs) {
    // Right when nothing lies between the previous name and this one.
    auto it = m_map.emplace_hint(hint, *p.first, p.second);
    it->second = p.second;
    m_exact.put(it->first, p.second);
    hint = std::next(it);
  }
}

void FdnIdIndex::swap(map_type& other) {
  m_map.swap(other);
  std::unique_lock<std::shared_mutex> lock(m_mtxExact);
  m_exact.clear();
  m_exact.reserve(m_map.size());
  for (const auto& kv : m_map) m_exact.put(kv.first, kv.second);
}

// ---------------------------------------------------------------------------
// FdnUpdateSource

FdnUpdateSource::FdnUpdateSource(const std::list<FMNameValue_t>& attrs) {
  for (const auto& nv : attrs) {
    if (nv.m_strName == "oldFDN") m_strOldFdn = nv.m_strValue;
    else if (nv.m_strName == "oldNEFDN") m_strOldNeFdn = nv.m_strValue;
    else if (nv.m_strName == "oldNEType") m_lOldNeType = toLong(nv.m_strValue);
    else if (nv.m_strName == "newFDN") m_strNewFdn = nv.m_strValue;
    else if (nv.m_strName == "newNEFDN") m_strNewNeFdn = nv.m_strValue;
    else if (nv.m_strName == "newNEType") m_lNewNeType = toLong(nv.m_strValue);
    else if (nv.m_strName == "fdnStartTime") m_lStartTime = toLong(nv.m_strValue);
  }
}

// ---------------------------------------------------------------------------
// Lifecycle

std::atomic<CFdnManager*> CFdnManager::m_instance{nullptr};
std::mutex CFdnManager::m_mtxInstance;

CFdnManager::CFdnManager() : m_rwLock("CFdnManager::m_rwLock"), m_strTableName("tbl_fdn_mgr") {}
CFdnManager::~CFdnManager() = default;

CFdnManager* CFdnManager::instance() {
  CFdnManager* p = m_instance.load(std::memory_order_acquire);
  if (p != nullptr) return p;
  std::lock_guard<std::mutex> guard(m_mtxInstance);
  p = m_instance.load(std::memory_order_relaxed);
  if (p == nullptr) {
    p = new CFdnManager();
    p->init();
    m_instance.store(p, std::memory_order_release);
  }
  return p;
}

void CFdnManager::Destroy() {
  std::lock_guard<std::mutex> guard(m_mtxInstance);
  delete m_instance.exchange(nullptr, std::memory_order_acq_rel);
}

int CFdnManager::init() {
  FM_FUNC_TRACE("CFdnManager::init");
  try {
    Write_Lock_Guard lock(m_rwLock);
    const std::string path = KyroCommonUtils::getRoot() + "/var/fm/fmdb_FDN";
    FM_TRACE(TRACE_PROGRESS, "CFdnManager ,fdn filename is %s", path.c_str());
    m_fdnFile.setFileName(path);
    {
      std::error_code ec;  // a missing directory only costs the file fallback
      std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
    }
    int status = Kyrofmdb::CFMServiceFlag::instance()->getServiceStatus();
    m_bServiceFlag = !(status == 1 || status == 11);
    return loadLocked();
  } catch (const std::exception& e) {
    FM_TRACE(TRACE_ERROR, "CFdnManager::init exception: %s", e.what());
    return static_cast<int>(FM_FAILURE);
  }
}

int CFdnManager::readTableLocked(StrMap& strMap, LongMap& longMap, long& maxId) {
  // The identifiers of merged rows are given up here. The highest row of the
  // table keeps its identifier reserved as a row without a name, so that the
  // counter of the next start does not fall below an identifier once given.
  CFMDBGuard::run(__FILE__, __LINE__, "CFdnManager::init", FM_FAILURE, [&](SAConnection& conn) -> long {
    SACommand retire(&conn, withTable("update ", m_strTableName,
                                      " set fdnname='' where fdnname='needdelete' and fdnid=(select max(fdnid) from " +
                                          m_strTableName + ")"));
    retire.Execute();
    SACommand del(&conn, withTable("DELETE FROM ", m_strTableName, " WHERE fdnname='needdelete'"));
    del.Execute();
    SACommand stale(&conn, withTable("delete from ", m_strTableName,
                                     " where fdnname='' and fdnid<(select max(fdnid) from " + m_strTableName + ")"));
    stale.Execute();
    return FM_SUCCESS;
  });

  return static_cast<int>(
      CFMDBGuard::run(__FILE__, __LINE__, "CFdnManager::init", FM_FAILURE, [&](SAConnection& conn) -> long {
        SACommand cmd(&conn, withTable(" select fdnid, fdnname from ", m_strTableName, ""));
        cmd.setOption("PreFetchRows", "200");
        cmd.Execute();
        while (cmd.FetchNext()) {
          long id = cmd.Field("fdnid").asLong();
          std::string name = cmd.Field("fdnname").asString();
          if (id > maxId) maxId = id;
          if (name.empty()) continue;  // a reserved identifier
          // A name stored twice (a batch whose commit was reported lost, then
          // given again) resolves to its highest id, the one handed out last,
          // whatever order the rows come in; both ids keep their FDN.
          auto r = strMap.emplace(name, id);
          if (!r.second && id > r.first->second) r.first->second = id;
          longMap.emplace(id, std::move(name));
        }
        return FM_SUCCESS;
      }));
}

int CFdnManager::loadLocked() {
  StrMap strMap;
  LongMap longMap;
  long maxId = 0;
  int rc = readTableLocked(strMap, longMap, maxId);
  const bool tableRead = (rc == FM_SUCCESS);
  if (tableRead) {
    m_FdnStrMap.swap(strMap);
    m_FdnLongMap.swap(longMap);
    raiseNextLocked(maxId);
  } else {
    FM_TRACE(TRACE_ERROR, "CFdnManager::init>>read %s failed(%d), no fdnid is allocated until it is read",
             m_strTableName.c_str(), rc);
  }

  // The file: replayed into the table by the allocating process; read into
  // memory only by the others, and when the table is out of reach.
  long fileRc = FM_SUCCESS;
  if (tableRead && m_bServiceFlag) {
    fileRc = ProcessFdnFile();
  } else if (m_fdnFile.isFileExist()) {
    StrMap fileMap;
    fileRc = m_fdnFile.FileToStrBuffer(fileMap);
    if (fileRc == FM_SUCCESS) mergeFdnLocked(fileMap);
  }
  if (fileRc != FM_SUCCESS) FM_TRACE(TRACE_ERROR, "CFdnManager::init>>ProcessFdnFile failed.");

  if (!m_FdnLongMap.empty()) raiseNextLocked(m_FdnLongMap.rbegin()->first);
  m_bLoadedForAlloc = tableRead && m_bServiceFlag;
  FM_TRACE(TRACE_PROGRESS, "CFdnManager::init>>m_FdnStrMap.size():%ld, m_FdnLongMap.size():%ld, next fdnid:%ld",
           static_cast<long>(m_FdnStrMap.size()), static_cast<long>(m_FdnLongMap.size()), m_lNextFdnId);
  return tableRead ? static_cast<int>(FM_SUCCESS) : static_cast<int>(FM_DB_CONNECT_FAIL);
}

bool CFdnManager::readyToAllocateLocked() {
  if (m_bLoadedForAlloc) return true;
  // The counter (and memory) may lag behind what another process or an
  // unreachable table held: read the table again first.
  FM_TRACE(TRACE_PROGRESS, "CFdnManager::AddFdnSetToDBAndMem>>read %s before allocating", m_strTableName.c_str());
  loadLocked();
  return m_bLoadedForAlloc;
}

long CFdnManager::setServiceFlag(bool bAlloc) {
  Write_Lock_Guard lock(m_rwLock);
  if (!bAlloc) m_bLoadedForAlloc = false;
  m_bServiceFlag = bAlloc;
  return FM_SUCCESS;
}

bool CFdnManager::getServiceFlag() const {
  Read_Lock_Guard lock(m_rwLock);
  return m_bServiceFlag;
}

long CFdnManager::getCurMaxFdnId() {
  Read_Lock_Guard lock(m_rwLock);
  return m_lNextFdnId;
}

std::string CFdnManager::getFdnFileName() {
  Read_Lock_Guard lock(m_rwLock);
  return m_fdnFile.getFileName();
}

int CFdnManager::outPutMemInfo() {
  Read_Lock_Guard lock(m_rwLock);
  std::string dir = KyroCommonUtils::getRoot() + "/log";
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  std::ofstream out(dir + "/fdnManager_data.log", std::ios_base::out | std::ios_base::trunc);
  if (!out.is_open()) {
    FM_TRACE(TRACE_ERROR, " open fdnManager_data.log fail !");
    return static_cast<int>(FM_FAILURE);
  }
  char now[32] = {0};
  std::time_t t = std::time(nullptr);
  struct tm tmv;
  localtime_r(&t, &tmv);
  std::strftime(now, sizeof now, "%Y-%m-%d %H:%M:%S", &tmv);
  out << "...begin output fdn manager data..." << now << '\n';
  out << "output m_FdnLongMap data info" << '\n';
  for (const auto& kv : m_FdnLongMap) out << "FdnID:" << kv.first << " | FdnName:" << kv.second << '\n';
  out << "total fdnMap record:" << m_FdnLongMap.size() << '\n';
  out << "...output fdn manager data end..." << '\n';
  return out.good() ? static_cast<int>(FM_SUCCESS) : static_cast<int>(FM_FAILURE);
}

// ---------------------------------------------------------------------------
// Memory helpers

void CFdnManager::raiseNextLocked(long id) {
  if (id < LONG_MAX && id + 1 > m_lNextFdnId) m_lNextFdnId = id + 1;
}

void CFdnManager::putLocked(const std::string& fdn, long id) {
  // The pair names the current FDN of id: an older name of id stops resolving
  // to it. An older id of fdn keeps resolving to fdn (alarms may carry it).
  auto itL = m_FdnLongMap.find(id);
  if (itL != m_FdnLongMap.end() && itL->second != fdn) {
    auto itOld = m_FdnStrMap.find(itL->second);
    if (itOld != m_FdnStrMap.end() && itOld->second == id) m_FdnStrMap.erase(itOld);
  }
  m_FdnStrMap.set(fdn, id);
  m_FdnLongMap[id] = fdn;
}

void CFdnManager::putManyLocked(const PairList& pairs) {
  bool fresh = m_FdnLongMap.empty() || pairs.empty() || pairs.front().second > m_FdnLongMap.rbegin()->first;
  for (size_t i = 1; fresh && i < pairs.size(); ++i)
    fresh = *pairs[i - 1].first < *pairs[i].first && pairs[i - 1].second < pairs[i].second;
  if (!fresh) {
    for (const auto& p : pairs) putLocked(*p.first, p.second);
    return;
  }
  // Identifiers above every one in memory name no FDN yet: nothing to unlink.
  m_FdnStrMap.setSorted(pairs);
  for (const auto& p : pairs) m_FdnLongMap.emplace_hint(m_FdnLongMap.end(), p.second, *p.first);
}

template <typename Take>
void CFdnManager::walkSubtree(const StrMap& map, const std::string& fdn, Take take, bool anyLength) const {
  if (fdn.empty()) return;  // the empty FDN has no subtree
  // The subtree is the FDN itself and the FDNs that continue it with the
  // splitter (every FDN that begins with it when it ends with the splitter):
  // one entry and one contiguous run, whatever FDNs merely continue its last
  // name with more characters.
  const char splitter = CKyroSettingOP::instance()->getFDNSplitter();
  // FDNs of MAX_FDN_LENGTH bytes or more fail the parent test (which logs them).
  auto eligible = [&](const std::string& k) {
    return anyLength || k.size() <= CAlmValidCheck::MAX_FDN_LENGTH || CAlmValidCheck::isFdnParent(fdn, k, true);
  };
  std::string below = fdn;
  auto it = map.lower_bound(fdn);
  if (fdn.back() != splitter) {
    if (it != map.end() && it->first == fdn) {
      if (eligible(it->first)) take(*it);
      ++it;
    }
    below += splitter;
    // FDNs that continue the name with characters below the splitter lie in
    // between: skipped by a second search, not one by one.
    if (it != map.end() && it->first < below) it = map.lower_bound(below);
  }
  for (; it != map.end() && it->first.compare(0, below.size(), below) == 0; ++it)
    if (eligible(it->first)) take(*it);
}

void CFdnManager::sendEvents(const EventList& events) {
  for (const auto& list : events) {
    if (list.empty()) continue;
    CCommonEventSender::instance()->sendNameValueEvents("FMNameValueSourceClass", "FMMODelEvent", 101, list);
  }
}

// ---------------------------------------------------------------------------
// FDN to identifier

int CFdnManager::GetIntFdn(const std::string& fdn) {
  if (fdn.empty()) return static_cast<int>(FDN_EMPTY_ID);
  try {
    // A known FDN is answered from the exact table under its own shared mutex:
    // no monitored lock is taken, and a writer that is talking to the database
    // does not hold this look-up up.
    long id = 0;
    if (m_FdnStrMap.findShared(fdn, id)) return static_cast<int>(id);
    NameList one{&fdn};
    if (AddFdnSetToDBAndMem(one) != FM_SUCCESS) return static_cast<int>(FDN_UNKNOWN_ID);
    Read_Lock_Guard lock(m_rwLock);
    return m_FdnStrMap.find(fdn, id) ? static_cast<int>(id) : static_cast<int>(FDN_UNKNOWN_ID);
  } catch (const std::exception& e) {
    FM_TRACE(TRACE_ERROR, "CFdnManager::GetIntFdn exception: %s", e.what());
    return static_cast<int>(FDN_UNKNOWN_ID);
  }
}

void CFdnManager::sortUnique(NameList& names) {
  std::sort(names.begin(), names.end(), [](const std::string* a, const std::string* b) { return *a < *b; });
  names.erase(std::unique(names.begin(), names.end(), [](const std::string* a, const std::string* b) { return *a == *b; }),
              names.end());
}

int CFdnManager::GetIntFdnList(const std::list<std::string>& fdns, std::list<long>& ids) {
  try {
    // The missing names are pointers into the caller's list, sorted and
    // without duplicates: the set of new FDNs in its order, without copies.
    NameList missing;
    {
      Read_Lock_Guard lock(m_rwLock);
      for (const auto& f : fdns)
        if (!f.empty() && !m_FdnStrMap.contains(f)) missing.push_back(&f);
    }
    sortUnique(missing);
    traceNameList(TRACE_DETAIL, "CFdnManager::GetIntFdnList,not found fdn:", missing);
    if (!missing.empty() && AddFdnSetToDBAndMem(missing) != FM_SUCCESS) return static_cast<int>(FM_FAILURE);
    int rc = static_cast<int>(FM_SUCCESS);
    Read_Lock_Guard lock(m_rwLock);
    for (const auto& f : fdns) {
      if (f.empty()) {
        ids.push_back(FDN_EMPTY_ID);
        continue;
      }
      long id = 0;
      if (m_FdnStrMap.find(f, id)) {
        ids.push_back(id);
      } else {
        FM_TRACE(TRACE_DETAIL, "CFdnManager::GetIntFdnList %s: still not found ", f.c_str());
        ids.push_back(FDN_UNRESOLVED_ID);
        rc = static_cast<int>(FM_FAILURE);
      }
    }
    return rc;
  } catch (const std::exception& e) {
    FM_TRACE(TRACE_ERROR, "CFdnManager::GetIntFdnList exception: %s", e.what());
    return static_cast<int>(FM_FAILURE);
  }
}

int CFdnManager::GetIntFdnSet(const std::set<std::string>& fdns, std::set<long>& ids) {
  try {
    NameList missing;  // in set order already
    {
      Read_Lock_Guard lock(m_rwLock);
      for (const auto& f : fdns) {
        if (f.empty()) {
          ids.insert(FDN_EMPTY_ID);
          continue;
        }
        long id = 0;
        if (m_FdnStrMap.find(f, id)) ids.insert(id);
        else missing.push_back(&f);
      }
    }
    if (missing.empty()) return static_cast<int>(FM_SUCCESS);
    traceNameList(TRACE_DETAIL, "CFdnManager::GetIntFdnList,not found fdn:", missing);
    if (AddFdnSetToDBAndMem(missing) != FM_SUCCESS) return static_cast<int>(FM_FAILURE);
    int rc = static_cast<int>(FM_SUCCESS);
    Read_Lock_Guard lock(m_rwLock);
    for (const std::string* f : missing) {
      long id = 0;
      if (m_FdnStrMap.find(*f, id)) {
        ids.insert(id);
      } else {
        FM_TRACE(TRACE_PROGRESS, "CFdnManager::GetIntFdnSet %s: still not found ", f->c_str());
        ids.insert(FDN_UNRESOLVED_ID);
        rc = static_cast<int>(FM_FAILURE);
      }
    }
    return rc;
  } catch (const std::exception& e) {
    FM_TRACE(TRACE_ERROR, "CFdnManager::GetIntFdnSet exception: %s", e.what());
    return static_cast<int>(FM_FAILURE);
  }
}

int CFdnManager::GetIntFdnMap(const std::set<std::string>& fdns, std::map<std::string, long>& ids) {
  try {
    NameList missing;  // in set order already
    {
      Read_Lock_Guard lock(m_rwLock);
      for (const auto& f : fdns) {
        if (f.empty()) {
          ids[f] = FDN_EMPTY_ID;
          continue;
        }
        long id = 0;
        if (m_FdnStrMap.find(f, id)) {
          ids[f] = id;
        } else {
          FM_TRACE(TRACE_DETAIL, "CFdnManager::GetIntFdnSet %s:not found ", f.c_str());
          missing.push_back(&f);
        }
      }
    }
    if (missing.empty()) return static_cast<int>(FM_SUCCESS);
    if (AddFdnSetToDBAndMem(missing) != FM_SUCCESS) return static_cast<int>(FM_FAILURE);
    int rc = static_cast<int>(FM_SUCCESS);
    Read_Lock_Guard lock(m_rwLock);
    for (const std::string* f : missing) {
      long id = 0;
      if (m_FdnStrMap.find(*f, id)) {
        ids[*f] = id;
      } else {
        FM_TRACE(TRACE_DETAIL, "CFdnManager::GetIntFdnList %s: still not found ", f->c_str());
        ids[*f] = FDN_UNRESOLVED_ID;
        rc = static_cast<int>(FM_FAILURE);
      }
    }
    return rc;
  } catch (const std::exception& e) {
    FM_TRACE(TRACE_ERROR, "CFdnManager::GetIntFdnMap exception: %s", e.what());
    return static_cast<int>(FM_FAILURE);
  }
}

long CFdnManager::AddFdnSetToDBAndMem(NameList& fdns) {
  Write_Lock_Guard lock(m_rwLock);
  // Only the FDNs still unknown: another thread may have added some since.
  auto known = [&](const std::string* f) { return f->empty() || m_FdnStrMap.contains(*f); };
  fdns.erase(std::remove_if(fdns.begin(), fdns.end(), known), fdns.end());
  if (fdns.empty()) return FM_SUCCESS;

  if (m_bServiceFlag && !m_bLoadedForAlloc) {
    if (!readyToAllocateLocked()) {
      FM_TRACE(TRACE_ERROR, "CFdnManager::AddFdnSetToDBAndMem>>%s not read, %ld fdn not allocated",
               m_strTableName.c_str(), static_cast<long>(fdns.size()));
      return FM_FAILURE;
    }
    fdns.erase(std::remove_if(fdns.begin(), fdns.end(), known), fdns.end());
    if (fdns.empty()) return FM_SUCCESS;
  }

  PairList succ, fail;
  StrMap readBack;  // the names a process that does not allocate read from the table
  long rc = AddFdnListToDB(fdns, succ, fail, readBack);
  FM_TRACE(TRACE_PROGRESS, "CFdnManager::AddFdnSetToDBAndMem>>size:mapSuccfdn(%ld),mapFailfdn(%ld)ret(%ld)",
           static_cast<long>(succ.size()), static_cast<long>(fail.size()), rc);
  if (rc != FM_SUCCESS) {
    if (!fail.empty()) {
      StrMap failMap;
      for (const auto& p : fail) failMap.emplace(*p.first, p.second);
      long fileRc = saveFileLocked(failMap);
      if (fileRc == FM_SUCCESS) {
        succ.insert(succ.end(), fail.begin(), fail.end());
      } else {
        // Only pairs that the file really holds may be handed out.
        StrMap inFile;
        long kept = 0;
        if (m_fdnFile.isFileExist() && m_fdnFile.FileToStrBuffer(inFile) == FM_SUCCESS) {
          for (const auto& p : fail) {
            auto it = inFile.find(*p.first);
            if (it != inFile.end() && it->second == p.second) {
              succ.push_back(p);
              ++kept;
            }
          }
        }
        FM_TRACE(TRACE_ERROR, "CFdnManager::AddFdnSetToDBAndMem>>save to file failed(%ld), fdn dropped:%ld", fileRc,
                 static_cast<long>(fail.size()) - kept);
      }
    }
  } else if (m_bServiceFlag && m_fdnFile.isFileExist()) {
    replayFileLocked();
  }
  putManyLocked(succ);
  return FM_SUCCESS;
}

void CFdnManager::replayFileLocked() {
  StrMap fileMap, failed;
  if (m_fdnFile.FileToStrBuffer(fileMap) != FM_SUCCESS) return;
  mergeFdnLocked(fileMap);
  if (syncLocked(fileMap, failed) == FM_SUCCESS) {
    m_fdnFile.deleteFile();
  } else {
    m_fdnFile.flushFdnStrToFile(failed);
  }
}

long CFdnManager::AddFdnListToDB(const NameList& fdns, PairList& succ, PairList& fail, StrMap& readBack) {
  succ.clear();
  fail.clear();
  if (!m_bServiceFlag) {
    // Reading by names: the rows another process wrote.
    std::set<std::string> names;
    for (const std::string* f : fdns) names.insert(names.end(), *f);
    long rc = GetFdnidListFromDB(names, readBack);
    for (const auto& kv : readBack) succ.emplace_back(&kv.first, kv.second);
    return rc;
  }

  // Every new FDN gets the next identifier, in order; the pairs are written
  // BATCH_SIZE at a time straight from this one list.
  PairList all;
  all.reserve(fdns.size());
  bool exhausted = false;
  for (const std::string* f : fdns) {
    if (m_lNextFdnId > INT_MAX || m_lNextFdnId < 1) {
      // Identifiers are handed out as int: none is left.
      FM_TRACE(TRACE_ERROR, "CFdnManager::AddFdnListToDB>>fdnid %ld out of range, fdn %s not added", m_lNextFdnId,
               f->c_str());
      exhausted = true;
      break;
    }
    all.emplace_back(f, m_lNextFdnId++);
  }
  succ.reserve(all.size());
  for (size_t k = 0; k < all.size(); k += BATCH_SIZE) {
    const size_t n = std::min(BATCH_SIZE, all.size() - k);
    PairList& to = BatchInsert(all.data() + k, n) == FM_SUCCESS ? succ : fail;
    to.insert(to.end(), all.begin() + static_cast<long>(k), all.begin() + static_cast<long>(k + n));
  }
  return (fail.empty() && !exhausted) ? FM_SUCCESS : FM_FAILURE;
}

long CFdnManager::BatchInsert(const NamePair* rows, size_t count) {
  if (count == 0) return FM_SUCCESS;
  if (count == 1) return Insert(*rows[0].first, rows[0].second);
  const int n = static_cast<int>(count);
  // The batch goes as one insert of literal rows: the database parses one
  // statement and inserts every row in one step, all or nothing as the batch
  // mode of the database layer. Names that a literal cannot carry (an
  // embedded NUL) leave the batch to that batch mode.
  bool literal = true;
  for (size_t i = 0; literal && i < count; ++i) literal = rows[i].first->find('\0') == std::string::npos;
  std::string sql;
  if (literal) {
    sql.reserve(64 + count * (24 + rows[0].first->size()));
    sql = withTable(" insert into ", m_strTableName, "(fdnid, fdnname) values ");
    for (size_t i = 0; i < count; ++i) {
      sql += i ? ",(" : "(";
      sql += std::to_string(rows[i].second);
      sql += ",'";
      sql += CFMDBTools::getFiltSql(*rows[i].first, CFMDBTools::FILT_LITERAL);
      sql += "')";
    }
  }
  for (int attempt = 0; attempt < 2; ++attempt) {
    long rc = CFMDBGuard::run(__FILE__, __LINE__, "CFdnManager::BatchInsert", FM_FAILURE,
                              [&](SAConnection& conn) -> long {
                                bool ok = false;
                                if (literal) {
                                  SACommand cmd(&conn, sql);
                                  cmd.Execute();
                                  ok = cmd.RowsAffected() > 0;
                                } else {
                                  SACommand cmd(&conn);
                                  cmd.SetExecBatch(true);
                                  cmd.SetTable(m_strTableName);
                                  cmd.SetBatchMaxRowCount(n);
                                  for (size_t i = 0; i < count; ++i) {
                                    cmd.Param("fdnid").setAsLong() = rows[i].second;
                                    cmd.Param("fdnname").setAsString() = *rows[i].first;
                                    cmd.EndRow();
                                  }
                                  cmd.Execute(n);
                                  ok = cmd.RowsAffected() > 0;
                                  cmd.SetExecBatch(false);
                                }
                                if (ok) return FM_SUCCESS;
                                FM_TRACE(TRACE_ERROR, "CFdnManager::BatchInsert error");
                                return FM_FAILURE;
                              });
    if (rc == FM_SUCCESS) return FM_SUCCESS;
  }
  return FM_FAILURE;
}

long CFdnManager::Insert(const std::string& fdn, long id) {
  for (int attempt = 0; attempt < 3; ++attempt) {
    long rc = CFMDBGuard::run(__FILE__, __LINE__, "CFdnManager::Insert", FM_FAILURE, [&](SAConnection& conn) -> long {
      SACommand cmd(&conn, withTable(" insert into ", m_strTableName, "(fdnid, fdnname) values(:fdnid,:fdnstr)"));
      cmd.Param("fdnid").setAsLong() = id;
      cmd.Param("fdnstr").setAsString() = fdn;
      try {
        cmd.Execute();
      } catch (const SAException&) {
        FM_TRACE(TRACE_ERROR, "CFdnManager::Insert, strFDN:%s, lFdnID:%d", fdn.c_str(), static_cast<int>(id));
        throw;
      }
      if (cmd.RowsAffected() > 0) return FM_SUCCESS;
      FM_TRACE(TRACE_ERROR, "CFdnManager::Insert error, sql is: %s, lFdnID: %ld,szFdn:%s", kInsertSql, id,
               fdn.c_str());
      return FM_FAILURE;
    });
    if (rc == FM_SUCCESS) return FM_SUCCESS;
  }
  return FM_FAILURE;
}

long CFdnManager::GetFdnidListFromDB(const std::set<std::string>& fdns, StrMap& out) {
  if (fdns.empty()) return FM_SUCCESS;
  // One statement per NAMES_PER_READ names: a longer OR chain passes the
  // expression depth that SQLite accepts (1000).
  std::vector<std::string> sqls;
  std::string cond;
  size_t terms = 0, names = 0;
  for (const auto& f : fdns) {
    if (names % NAMES_PER_READ == 0) {
      if (names) sqls.push_back(withTable(" select fdnid, fdnname from ", m_strTableName, " where ") + cond);
      cond = " 1 < 0 ";
      terms = 0;
    }
    ++names;
    std::string t = " or fdnname = '";
    t += CFMDBTools::getFiltSql(f, CFMDBTools::FILT_LITERAL);
    t += "' ";
    if (terms == OR_TERMS_PER_WRAP) {
      cond = "(" + cond + t + ") and 1>0 ";
      terms = 0;
    } else {
      cond += t;
      ++terms;
    }
  }
  sqls.push_back(withTable(" select fdnid, fdnname from ", m_strTableName, " where ") + cond);
  return CFMDBGuard::run(__FILE__, __LINE__, "CFdnManager::GetFdnidListFromDB", FM_FAILURE,
                         [&](SAConnection& conn) -> long {
                           for (const auto& sql : sqls) {
                             SACommand cmd(&conn, sql);
                             cmd.setOption("PreFetchRows", "200");
                             cmd.Execute();
                             while (cmd.FetchNext()) {
                               long id = cmd.Field("fdnid").asLong();
                               std::string name = cmd.Field("fdnname").asString();
                               FM_TRACE(TRACE_DETAIL, "CFdnManager::init %s: %d  ", name.c_str(),
                                        static_cast<int>(id));
                               out[name] = id;
                             }
                           }
                           return FM_SUCCESS;
                         });
}

long CFdnManager::GetFdnidFromDB(const std::string& fdn, long& id) {
  bool found = false;
  long rc = CFMDBGuard::run(__FILE__, __LINE__, "CFdnManager::GetFdnidFromDB", FM_FAILURE,
                            [&](SAConnection& conn) -> long {
                              SACommand cmd(&conn, withTable("select fdnid from ", m_strTableName,
                                                             " where fdnname=:fdnname"));
                              cmd.Param("fdnname").setAsString() = fdn;
                              cmd.Execute();
                              if (cmd.FetchNext()) {
                                id = cmd.Field("fdnid").asLong();
                                found = true;
                              }
                              return FM_SUCCESS;
                            });
  if (rc == FM_SUCCESS && found) return FM_SUCCESS;
  FM_TRACE(TRACE_ERROR, "CFdnManager::GetFdnidFromDB, not found szFdn is: %s", fdn.c_str());
  return FM_FAILURE;
}

// ---------------------------------------------------------------------------
// Memory-only look-ups

int CFdnManager::getFdnIdEx(const std::string& fdn) {
  Read_Lock_Guard lock(m_rwLock);
  long id = 0;
  if (m_FdnStrMap.find(fdn, id)) return static_cast<int>(id);
  auto itT = m_FdnStrMapTemp.find(fdn);
  if (itT != m_FdnStrMapTemp.end()) return static_cast<int>(itT->second);
  if (!fdn.empty()) FM_TRACE(TRACE_PROGRESS, "CFdnManager::getFdnIdEx not find FdnId, strFdn:%s", fdn.c_str());
  return static_cast<int>(FDN_UNKNOWN_ID);
}

void CFdnManager::equalSetLocked(const std::list<std::string>& fdns, std::set<long>& ids, bool log) {
  for (const auto& f : fdns) {
    long id = 0;
    if (m_FdnStrMap.find(f, id)) {
      ids.insert(id);
    } else {
      ids.insert(FDN_UNKNOWN_ID);
      if (log) FM_TRACE(TRACE_PROGRESS, "GetIntFdnEqualSet, swdFdnIdSet -100 fdn [%s]", f.c_str());
    }
  }
}

void CFdnManager::likeSetLocked(const std::list<std::string>& fdns, std::set<long>& ids, bool log, bool anyLength) {
  for (const auto& f : fdns) {
    if (log) FM_TRACE(TRACE_PROGRESS, "GetFdnLikeSet, %s", f.c_str());
    walkSubtree(m_FdnStrMap.ordered(), f, [&](const StrMap::value_type& e) { ids.insert(e.second); }, anyLength);
  }
}

int CFdnManager::QueryIntFdnEqualSet(const std::list<std::string>& fdns, std::set<long>& ids) {
  Read_Lock_Guard lock(m_rwLock);
  equalSetLocked(fdns, ids, true);
  return static_cast<int>(FM_SUCCESS);
}

int CFdnManager::GetFdnLikeSet(const std::list<std::string>& fdns, std::set<long>& ids) {
  Read_Lock_Guard lock(m_rwLock);
  likeSetLocked(fdns, ids, true);
  return static_cast<int>(FM_SUCCESS);
}

int CFdnManager::GetFdnLikeSetAnyLength(const std::list<std::string>& fdns, std::set<long>& ids) {
  Read_Lock_Guard lock(m_rwLock);
  likeSetLocked(fdns, ids, true, true);
  return static_cast<int>(FM_SUCCESS);
}

int CFdnManager::GetIntFdnListLikeFdn(const std::string& fdn, std::set<int>& ids) {
  Read_Lock_Guard lock(m_rwLock);
  walkSubtree(m_FdnStrMap.ordered(), fdn, [&](const StrMap::value_type& e) { ids.insert(static_cast<int>(e.second)); });
  return static_cast<int>(FM_SUCCESS);
}

int CFdnManager::GetStrFdnListLikeFdn(const std::string& fdn, std::set<std::string>& fdns) {
  Read_Lock_Guard lock(m_rwLock);
  walkSubtree(m_FdnStrMap.ordered(), fdn, [&](const StrMap::value_type& e) { fdns.insert(e.first); });
  return static_cast<int>(FM_SUCCESS);
}

int CFdnManager::GetUserFdnEqualSet(const std::list<std::string>& a, const std::list<std::string>& b,
                                    std::set<long>& ids) {
  std::set<long> sa, sb;
  {
    Read_Lock_Guard lock(m_rwLock);
    equalSetLocked(a, sa, true);
    equalSetLocked(b, sb, true);
  }
  for (long id : sb)
    if (sa.count(id)) ids.insert(id);
  return static_cast<int>(FM_SUCCESS);
}

int CFdnManager::GetUserFdnLikeSet(const std::list<std::string>& a, const std::list<std::string>& b,
                                   std::set<long>& ids) {
  std::set<long> sa, sb;
  {
    Read_Lock_Guard lock(m_rwLock);
    likeSetLocked(a, sa, true);
    likeSetLocked(b, sb, true);
  }
  for (long id : sb)
    if (sa.count(id)) ids.insert(id);
  return static_cast<int>(FM_SUCCESS);
}

bool CFdnManager::IsFdnParent(const std::string& parent, const std::string& child, const char& splitter) {
  return CAlmValidCheck::CheckFdnParent(parent, child, splitter);
}

int CFdnManager::GetFdnIdByFdnName(const std::list<std::string>& names, const char& matchType,
                                   std::list<FMNameValue_t>& out) {
  CCalculateTime timer("CFdnManager::GetFdnIdByFdnName");
  Read_Lock_Guard lock(m_rwLock);
  size_t count = 0;
  auto limitReached = [&]() {
    if (count < MAX_QUERY_SIZE) return false;
    FM_TRACE(TRACE_PROGRESS, "CFdnManager::GetFdnIdByFdnName:reach max query size, matchtype is %d.",
             static_cast<int>(matchType));
    return true;
  };
  if (matchType == 1) {
    for (const auto& n : names) {
      if (limitReached()) return static_cast<int>(FM_RESULT_LIMIT_REACHED);
      long id = 0;
      if (!m_FdnStrMap.find(n, id)) {
        FM_TRACE(TRACE_PROGRESS, "CFdnManager::GetFdnIdByFdnName %s:not found.", n.c_str());
        continue;
      }
      out.emplace_back(n, std::to_string(id));
      ++count;
    }
  } else if (matchType == 2) {
    const char splitter = CKyroSettingOP::instance()->getFDNSplitter();
    for (const auto& e : m_FdnStrMap) {
      bool below = false;
      for (const auto& n : names) {
        if (IsFdnParent(n, e.first, splitter)) {
          below = true;
          break;
        }
      }
      if (!below) continue;
      if (limitReached()) return static_cast<int>(FM_RESULT_LIMIT_REACHED);
      out.emplace_back(e.first, std::to_string(e.second));
      ++count;
    }
  } else {
    FM_TRACE(TRACE_PROGRESS, "CFdnManager::GetFdnIdByFdnName:invalid matchType %d.", static_cast<int>(matchType));
    return static_cast<int>(FM_INVALID_ARG);
  }
  timer.setHandleNum(static_cast<unsigned>(count));
  return static_cast<int>(FM_SUCCESS);
}

// ---------------------------------------------------------------------------
// Identifier to FDN

std::string CFdnManager::GetStrFdn(const long& id) {
  if (id == FDN_EMPTY_ID) return std::string();
  Read_Lock_Guard lock(m_rwLock);
  auto it = m_FdnLongMap.find(id);
  if (it != m_FdnLongMap.end()) return it->second;
  FM_TRACE(TRACE_DETAIL, "CFdnManager::GetStrFdn %d:not found ", static_cast<int>(id));
  return "UNKNOWN";
}

int CFdnManager::GetStrFdnMap(const std::set<long>& ids, std::map<long, std::string>& out) {
  Read_Lock_Guard lock(m_rwLock);
  for (long id : ids) {
    if (id == FDN_EMPTY_ID) {
      out[id] = std::string();
      continue;
    }
    auto it = m_FdnLongMap.find(id);
    if (it != m_FdnLongMap.end()) {
      out[id] = it->second;
    } else {
      FM_TRACE(TRACE_DETAIL, "CFdnManager::GetStrFdnMap(%d) not found.", static_cast<int>(id));
      out[id] = "UNKNOWN";
    }
  }
  return static_cast<int>(FM_SUCCESS);
}

int CFdnManager::GetStrFdnSet(const std::set<long>& ids, std::set<std::string>& out) {
  Read_Lock_Guard lock(m_rwLock);
  for (long id : ids) {
    if (id == FDN_EMPTY_ID) {
      out.insert(std::string());
      continue;
    }
    auto it = m_FdnLongMap.find(id);
    if (it != m_FdnLongMap.end()) {
      out.insert(it->second);
    } else {
      FM_TRACE(TRACE_DETAIL, "CFdnManager::GetStrFdnSet(%d) not found.", static_cast<int>(id));
      out.insert("UNKNOWN");
    }
  }
  return static_cast<int>(FM_SUCCESS);
}

// ---------------------------------------------------------------------------
// Deletion

void CFdnManager::DelFdn(const std::string& fdn) {
  EventList events;
  try {
    Write_Lock_Guard lock(m_rwLock);
    // Whatever can be created can be deleted: FDNs of any length are taken.
    StrMap pairs;
    std::set<long> ids;
    auto take = [&](const StrMap::value_type& e) {
      pairs.insert(e);
      ids.insert(e.second);
    };
    walkSubtree(m_FdnStrMap.ordered(), fdn, take, true);
    if (ids.empty()) {
      FM_TRACE(TRACE_PROGRESS, "CFdnManager::DelFdn>>No fdn need to delete!");
      return;
    }
    // The FDN file may hold some of the pairs (given or renamed while the table
    // refused writes): its next replay would bring them back, so they leave it
    // too. It is read before the table is touched: an unreadable file changes
    // nothing.
    StrMap fileMap;
    std::set<std::string> fileNames;
    std::set<long> fileIds;
    if (m_fdnFile.isFileExist()) {
      if (m_fdnFile.FileToStrBuffer(fileMap) != FM_SUCCESS) {
        FM_TRACE(TRACE_ERROR, "CFdnManager::DelFdn>>fdn file not read, %s not deleted", fdn.c_str());
        return;
      }
      for (auto it = fileMap.begin(); it != fileMap.end();) {
        if (!pairs.count(it->first) && !ids.count(it->second)) {
          ++it;
          continue;
        }
        fileNames.insert(it->first);
        fileIds.insert(it->second);
        it = fileMap.erase(it);
      }
    }
    if (DelFdnSetFromDB(ids) != FM_SUCCESS) return;  // memory stays as the table
    // When the file cannot be rewritten, the pairs it holds stay (in memory and
    // file; the next replay writes them to the table again): only the others
    // are deleted.
    const bool fileKept = !fileIds.empty() && m_fdnFile.flushFdnStrToFile(fileMap) == FM_FAILURE;
    if (fileKept) FM_TRACE(TRACE_ERROR, "CFdnManager::DelFdn>>fdn file not rewritten, its fdns under %s are kept",
                           fdn.c_str());
    std::list<FMNameValue_t> nv;
    for (const auto& kv : pairs) {
      if (fileKept && (fileNames.count(kv.first) || fileIds.count(kv.second))) continue;
      m_FdnLongMap.erase(kv.second);
      m_FdnStrMap.erase(kv.first);
      nv.emplace_back(std::string(), kv.first);
      FM_TRACE(TRACE_PROGRESS, "CFdnManager>>DelFdn deleted fdn:%s and its subObject:%s", fdn.c_str(),
               kv.first.c_str());
    }
    events.push_back(std::move(nv));
  } catch (const std::exception& e) {
    FM_TRACE(TRACE_ERROR, "CFdnManager::DelFdn exception: %s", e.what());
  }
  sendEvents(events);
}

long CFdnManager::DelFdnSetFromDB(const std::set<long>& ids) {
  if (ids.empty()) return FM_SUCCESS;
  const long top = *ids.rbegin();
  return CFMDBGuard::run(__FILE__, __LINE__, "CFdnManager::DelFdnSetFromDB", FM_FAILURE,
                         [&](SAConnection& conn) -> long {
                           auto it = ids.begin();
                           while (it != ids.end()) {
                             auto end = it;
                             for (size_t n = 0; n < DELETE_CHUNK && end != ids.end(); ++n) ++end;
                             std::string sql = withTable("delete from ", m_strTableName, " where fdnid in ( ") +
                                               joinIds(it, end, ", ") + " ) ";
                             FM_TRACE(TRACE_PROGRESS, "DelFdnSetFromDB, sqlText :%s", sql.c_str());
                             SACommand cmd(&conn, sql);
                             cmd.Execute();
                             it = end;
                           }
                           // The highest identifier stays reserved (see readTableLocked).
                           SACommand max(&conn, withTable("select max(fdnid) from ", m_strTableName, ""));
                           max.Execute();
                           bool reserve = !max.FetchNext() || max.Field(1).isNull() || max.Field(1).asLong() < top;
                           max.Close();
                           if (reserve) {
                             SACommand ins(&conn, withTable(" insert into ", m_strTableName,
                                                            "(fdnid, fdnname) values(:fdnid,:fdnstr)"));
                             ins.Param("fdnid").setAsLong() = top;
                             ins.Param("fdnstr").setAsString() = std::string();
                             ins.Execute();
                           }
                           return FM_SUCCESS;
                         });
}

// ---------------------------------------------------------------------------
// Renames

int CFdnManager::UpdateFdnID(std::map<std::string, std::string>& oldToNew) {
  EventList events;
  int rc = static_cast<int>(FM_SUCCESS);
  try {
    Write_Lock_Guard lock(m_rwLock);
    for (const auto& kv : oldToNew) {
      auto it = m_FdnStrMap.find(kv.first);
      if (it == m_FdnStrMap.end()) {
        FM_TRACE(TRACE_ERROR, "CFdnManager::UpdateFdnID , The oldfdn not found, FDN is: %s", kv.first.c_str());
        continue;
      }
      FM_TRACE(TRACE_DETAIL, "CFdnManager::UpdateFdnID,  The oldfdn :%s is found ", kv.first.c_str());
      if (kv.second.empty()) {
        FM_TRACE(TRACE_ERROR, "CFdnManager::UpdateFdnID,  The newfdn is null");
        continue;
      }
      const long id = it->second;
      auto existing = m_FdnStrMap.find(kv.second);
      if (existing != m_FdnStrMap.end() && existing->second != id) {
        // The new name has its id already: the renamed id is merged into it,
        // as in the NE rename, so that the name keeps one id, also after a
        // restart.
        FM_TRACE(TRACE_ERROR, "CFdnManager::UpdateFdnID FDN existed. fdn is:%s, old FDNId is:%d. new FDNId is:%d",
                 kv.first.c_str(), static_cast<int>(id), static_cast<int>(existing->second));
        if (UpdateFdnToDBOrFile(id, kNeedDelete, kv.first, events) != FM_SUCCESS) {
          rc = static_cast<int>(FM_FAILURE);
          break;
        }
        m_FdnStrMap.erase(it);
        m_FdnLongMap.erase(id);
        continue;
      }
      if (UpdateFdnToDBOrFile(id, kv.second, kv.first, events) != FM_SUCCESS) {
        rc = static_cast<int>(FM_FAILURE);
        break;
      }
      m_FdnStrMap.erase(it);
      putLocked(kv.second, id);
    }
  } catch (const std::exception& e) {
    FM_TRACE(TRACE_ERROR, "CFdnManager::UpdateFdnID exception: %s", e.what());
    rc = static_cast<int>(FM_FAILURE);
  }
  sendEvents(events);
  return rc;
}

long CFdnManager::UpdateFdnToDBOrFile(long id, const std::string& newName, const std::string& oldName,
                                      EventList& events) {
  if (UpdateFdnIDToDB(id, newName) == FM_SUCCESS) {
    events.push_back(std::list<FMNameValue_t>{FMNameValue_t(std::string(), oldName)});
    return FM_SUCCESS;
  }
  FM_TRACE(TRACE_PROGRESS, "CFdnManager::UpdateFdnIDToDB>>fail to update DB");
  return UpdateNeFdnToFile(id, newName);
}

long CFdnManager::UpdateFdnIDToDB(long id, const std::string& name) {
  const std::string sql = withTable("update ", m_strTableName, " set fdnname=:fdnname where fdnid=:fdnid");
  for (int attempt = 0; attempt < 3; ++attempt) {
    long rc = CFMDBGuard::run(__FILE__, __LINE__, "CFdnManager::UpdateFdnIDToDB", FM_FAILURE,
                              [&](SAConnection& conn) -> long {
                                SACommand cmd(&conn, sql);
                                cmd.Param("fdnname").setAsString() = name;
                                cmd.Param("fdnid").setAsLong() = id;
                                cmd.Execute();
                                if (cmd.RowsAffected() > 0) return FM_SUCCESS;
                                FM_TRACE(TRACE_ERROR, "CFdnManager::UpdateFdnIDToDB error, sql is: %s", sql.c_str());
                                return FM_FAILURE;
                              });
    if (rc == FM_SUCCESS) return FM_SUCCESS;
  }
  return FM_FAILURE;
}

long CFdnManager::UpdateNeFdnToFile(long id, const std::string& name) {
  if (!m_fdnFile.isFileExist()) {
    if (saveFileLocked(StrMap{{name, id}}) != FM_SUCCESS) {
      FM_TRACE(TRACE_ERROR, "processUpdateNeFdn, save to file failed!fdn:fdnid=%s:%d", name.c_str(),
               static_cast<int>(id));
      return FM_FAILURE;
    }
    return FM_SUCCESS;
  }
  LongMap byId;
  if (loadLongLocked(byId) != FM_SUCCESS) {
    FM_TRACE(TRACE_PROGRESS, "fmfdn,processUpdateNeFdn load FDN from file failed");
    return FM_FAILURE;
  }
  byId[id] = name;
  return flushLongLocked(byId) == FM_SUCCESS ? FM_SUCCESS : FM_FAILURE;
}

long CFdnManager::checkNewFdnIsExist(const FdnUpdateSource& src) {
  Read_Lock_Guard lock(m_rwLock);
  bool hit = false;
  walkSubtree(m_FdnStrMap.ordered(), src.m_strNewFdn, [&](const StrMap::value_type&) { hit = true; });
  if (!hit) return FM_SUCCESS;
  FM_TRACE(TRACE_ERROR, "CFdnManager::checkNewFdnIsExist new fdn exist. newFnd:%s", src.m_strNewFdn.c_str());
  return FM_FAILURE;
}

void CFdnManager::backOldFdnIdForNefdnUpdate(const std::string& neFdn) {
  Write_Lock_Guard lock(m_rwLock);
  walkSubtree(m_FdnStrMap.ordered(), neFdn, [&](const StrMap::value_type& e) { m_FdnStrMapTemp[e.first] = e.second; });
  FM_TRACE(TRACE_PROGRESS, "CFdnManager::backOldFdnIdForNefdnUpdate,m_FdnStrMapTemp.size():%d",
           static_cast<int>(m_FdnStrMapTemp.size()));
}

void CFdnManager::clearOldFdnIdBack() {
  Write_Lock_Guard lock(m_rwLock);
  m_FdnStrMapTemp.clear();
}

void CFdnManager::updateNefdn(const FdnUpdateSource& src, std::map<long, long>& idChange) {
  EventList events;
  bool remembered = false;
  long rememberedId = 0;
  try {
    Write_Lock_Guard lock(m_rwLock);
    std::set<long> ids;
    walkSubtree(m_FdnStrMap.ordered(), src.m_strOldFdn, [&](const StrMap::value_type& e) { ids.insert(e.second); });
    for (long id : ids) {
      auto itL = m_FdnLongMap.find(id);
      if (itL == m_FdnLongMap.end()) continue;
      const std::string fdn = itL->second;
      if (!CAlmValidCheck::isFdnParent(src.m_strOldFdn, fdn, true)) continue;
      if (fdn != src.m_strOldNeFdn) {
        std::string newName = fdn;
        replaceStrFirst(newName, src.m_strOldFdn, src.m_strNewFdn);
        auto existing = m_FdnStrMap.find(newName);
        if (existing != m_FdnStrMap.end()) {
          FM_TRACE(TRACE_ERROR, "CFdnManager::updateNefdn FDN existed. fdn is:%s, old FDNId is:%d. new FDNId is:%d",
                   fdn.c_str(), static_cast<int>(id), static_cast<int>(existing->second));
          idChange[id] = existing->second;
          UpdateFdnToDBOrFile(id, kNeedDelete, fdn, events);
          m_FdnLongMap.erase(id);
          auto itS = m_FdnStrMap.find(fdn);
          if (itS != m_FdnStrMap.end() && itS->second == id) m_FdnStrMap.erase(itS);
        } else if (UpdateFdnToDBOrFile(id, newName, fdn, events) == FM_SUCCESS) {
          auto itS = m_FdnStrMap.find(fdn);
          if (itS != m_FdnStrMap.end() && itS->second == id) m_FdnStrMap.erase(itS);
          putLocked(newName, id);
        } else {
          FM_TRACE(TRACE_PROGRESS, "CFdnManager::updateNefdn update DB failed. fdn:%s", fdn.c_str());
        }
      } else {
        if (src.m_strNewFdn == src.m_strNewNeFdn) {
          auto itN = m_FdnStrMap.find(src.m_strNewNeFdn);
          if (itN != m_FdnStrMap.end()) idChange[id] = itN->second;
        } else {
          remembered = true;
          rememberedId = id;
        }
      }
    }
  } catch (const std::exception& e) {
    FM_TRACE(TRACE_ERROR, "CFdnManager::updateNefdn exception: %s", e.what());
  }
  sendEvents(events);
  if (remembered) {
    long nid = GetIntFdn(src.m_strNewFdn);
    // A failed look-up must not map alarms of the old id onto a marker.
    if (nid >= 0) idChange[rememberedId] = nid;
    else FM_TRACE(TRACE_ERROR, "CFdnManager::updateNefdn>>GetIntFdn(%s) failed(%ld)", src.m_strNewFdn.c_str(), nid);
  }
  Read_Lock_Guard lock(m_rwLock);
  FM_TRACE(TRACE_PROGRESS, "CFdnManager::updateNefdn m_FdnLongMap.size():%d, m_FdnStrMap.size():%d",
           static_cast<int>(m_FdnLongMap.size()), static_cast<int>(m_FdnStrMap.size()));
}

long CFdnManager::updateNefdnID(const FdnUpdateSource& src) {
  CCalculateTime timer("CFdnManager::updateNefdnID");
  long rc = GetIntFdn(src.m_strNewNeFdn);
  if (rc < 0) {
    FM_TRACE(TRACE_ERROR, "CFdnManager::updateNefdnID>>GetIntFdn(%s) failed(%ld)", src.m_strNewNeFdn.c_str(), rc);
  }
  return rc;
}

// ---------------------------------------------------------------------------
// The FDN file

long CFdnManager::ProcessFdnFile() {
  if (!m_fdnFile.isFileExist()) return FM_SUCCESS;
  StrMap fileMap, failed;
  long rc = m_fdnFile.FileToStrBuffer(fileMap);
  if (rc != FM_SUCCESS) {
    FM_TRACE(TRACE_ERROR, "ProcessFdnFile>>loadFdnStrFromFile failed(%ld)", rc);
    return rc;
  }
  rc = mergeFdnLocked(fileMap);
  if (rc != FM_SUCCESS) FM_TRACE(TRACE_ERROR, "ProcessFdnFile>>deleteDuplicateFdn failed(%ld)", rc);
  if (syncLocked(fileMap, failed) == FM_SUCCESS) {
    m_fdnFile.deleteFile();
  } else {
    m_fdnFile.flushFdnStrToFile(failed);
  }
  return FM_SUCCESS;
}

long CFdnManager::mergeFdnLocked(const StrMap& fdnMap) {
  for (const auto& kv : fdnMap) {
    FM_TRACE(TRACE_PROGRESS, "mergeFdn>>add to mem, fdn=%s,fdnid=%d", kv.first.c_str(), static_cast<int>(kv.second));
    // Identifiers of the file were handed out: the counter stays above them.
    raiseNextLocked(kv.second);
    // A merged-away identifier names no FDN.
    if (kv.first == kNeedDelete) {
      auto itL = m_FdnLongMap.find(kv.second);
      if (itL != m_FdnLongMap.end()) {
        auto itS = m_FdnStrMap.find(itL->second);
        if (itS != m_FdnStrMap.end() && itS->second == kv.second) m_FdnStrMap.erase(itS);
        m_FdnLongMap.erase(itL);
      }
      continue;
    }
    putLocked(kv.first, kv.second);
  }
  return FM_SUCCESS;
}

long CFdnManager::syncBatchLocked(const PairList& batch) {
  if (BatchInsert(batch.data(), batch.size()) == FM_SUCCESS) return FM_SUCCESS;
  // The batch may collide with rows that an earlier replay wrote before it was
  // cut short, or with the row of an id that the file renames: a pair whose id
  // has its row already is written as a rename, the others are inserted.
  std::map<long, std::string> inTable;
  std::set<long> ids;
  for (const auto& p : batch) ids.insert(p.second);
  long rc = CFMDBGuard::run(__FILE__, __LINE__, "CFdnManager::syncFileContentToDB", FM_FAILURE,
                            [&](SAConnection& conn) -> long {
                              auto it = ids.begin();
                              while (it != ids.end()) {
                                auto end = it;
                                for (size_t n = 0; n < DELETE_CHUNK && end != ids.end(); ++n) ++end;
                                SACommand cmd(&conn, withTable("select fdnid, fdnname from ", m_strTableName,
                                                               " where fdnid in ( ") +
                                                         joinIds(it, end, ", ") + " ) ");
                                cmd.setOption("PreFetchRows", "200");
                                cmd.Execute();
                                while (cmd.FetchNext())
                                  inTable[cmd.Field("fdnid").asLong()] = cmd.Field("fdnname").asString();
                                it = end;
                              }
                              return FM_SUCCESS;
                            });
  if (rc != FM_SUCCESS) return FM_FAILURE;
  PairList rest;
  bool ok = true;
  for (const auto& p : batch) {
    auto it = inTable.find(p.second);
    if (it == inTable.end()) {
      rest.push_back(p);
    } else if (it->second != *p.first && UpdateFdnIDToDB(p.second, *p.first) != FM_SUCCESS) {
      ok = false;
    }
  }
  if (!rest.empty() && BatchInsert(rest.data(), rest.size()) != FM_SUCCESS) ok = false;
  return ok ? FM_SUCCESS : FM_FAILURE;
}

long CFdnManager::syncLocked(const StrMap& fdnMap, StrMap& failed) {
  if (fdnMap.empty()) return FM_SUCCESS;
  PairList batch;
  auto flush = [&]() {
    if (batch.empty()) return;
    if (syncBatchLocked(batch) != FM_SUCCESS)
      for (const auto& p : batch) failed.emplace(*p.first, p.second);
    batch.clear();
  };
  for (const auto& kv : fdnMap) {
    batch.emplace_back(&kv.first, kv.second);
    if (batch.size() >= BATCH_SIZE) flush();
  }
  flush();
  return failed.empty() ? FM_SUCCESS : FM_FAILURE;
}

long CFdnManager::saveFileLocked(const StrMap& fdnMap) {
  if (fdnMap.empty()) {
    FM_TRACE(TRACE_ERROR, "CFdnManager::saveFdnInfoToFile>>fdnMap is empty!");
    return FM_SUCCESS;
  }
  return m_fdnFile.saveToFile(fdnMap);
}

long CFdnManager::loadLongLocked(LongMap& fdnMap) {
  StrMap byName;
  long rc = m_fdnFile.FileToStrBuffer(byName);
  if (rc != FM_SUCCESS) return rc;
  for (const auto& kv : byName) fdnMap[kv.second] = kv.first;
  return FM_SUCCESS;
}

long CFdnManager::flushLongLocked(const LongMap& fdnMap) {
  StrMap byName;
  for (const auto& kv : fdnMap) byName[kv.second] = kv.first;
  return m_fdnFile.flushFdnStrToFile(byName);
}

long CFdnManager::saveFdnInfoToFile(const std::map<std::string, long>& fdnMap) {
  Write_Lock_Guard lock(m_rwLock);
  return saveFileLocked(fdnMap);
}

long CFdnManager::loadFdnStrFromFile(std::map<std::string, long>& fdnMap) {
  Write_Lock_Guard lock(m_rwLock);
  return m_fdnFile.FileToStrBuffer(fdnMap);
}

long CFdnManager::loadFdnLongFromFile(std::map<long, std::string>& fdnMap) {
  Write_Lock_Guard lock(m_rwLock);
  return loadLongLocked(fdnMap);
}

long CFdnManager::flushFdnStrToFile(const std::map<std::string, long>& fdnMap) {
  Write_Lock_Guard lock(m_rwLock);
  return m_fdnFile.flushFdnStrToFile(fdnMap);
}

long CFdnManager::flushFdnLongToFile(const std::map<long, std::string>& fdnMap) {
  Write_Lock_Guard lock(m_rwLock);
  return flushLongLocked(fdnMap);
}

bool CFdnManager::isFileExist() {
  Write_Lock_Guard lock(m_rwLock);
  return m_fdnFile.isFileExist();
}

long CFdnManager::deleteFile() {
  Write_Lock_Guard lock(m_rwLock);
  return m_fdnFile.deleteFile();
}

long CFdnManager::mergeFdn(const std::map<std::string, long>& fdnMap) {
  Write_Lock_Guard lock(m_rwLock);
  return mergeFdnLocked(fdnMap);
}

long CFdnManager::syncFileContentToDB(const std::map<std::string, long>& fdnMap,
                                      std::map<std::string, long>& failed) {
  Write_Lock_Guard lock(m_rwLock);
  return syncLocked(fdnMap, failed);
}

// ---------------------------------------------------------------------------
// CTempTableGuard

CTempTableGuard::CTempTableGuard(const std::string& name) : m_strTempTable(name) {
  if (!m_strTempTable.empty()) return;
  long id = -1;
  try {
    id = FMIdMgr::instance()->allocateId(static_cast<FMIDTYPE>(TEMP_TABLE_ID_TYPE));
  } catch (const std::exception& e) {
    FM_TRACE(TRACE_ERROR, "CTempTableGuard exception: %s", e.what());
  }
  if (id < 0) {
    FM_TRACE(TRACE_ERROR, "CTempTableGuard allocateIds fail:%d", static_cast<int>(id));
    return;
  }
  m_strTempTable = "tbl_tmpfm_" + std::to_string(id);
}

CTempTableGuard::~CTempTableGuard() {
  if (!m_bCreated) return;
  try {
    CFMDBTools::DropTable(m_strTempTable);
  } catch (...) {
    // A destructor gives nothing back; DropTable logs its own failures.
  }
}

bool CTempTableGuard::getSqlInCond(const std::set<long>& ids, std::string& cond) {
  cond.clear();
  if (ids.empty() || m_strTempTable.empty()) {
    FM_TRACE(TRACE_ERROR, "CTempTableGuard::getSqlInCond,setID or m_strTempTable(%s) is empty.",
             m_strTempTable.c_str());
    return false;
  }
  if (ids.size() < INLINE_LIMIT) {
    cond = " ( " + joinIds(ids.begin(), ids.end(), ",") + " ) ";
  } else {
    m_bCreated = true;
    bool filled = false;
    try {
      filled = CFMDBTools::initTempTable(ids, m_strTempTable);
    } catch (const std::exception& e) {
      FM_TRACE(TRACE_ERROR, "CTempTableGuard::getSqlInCond exception: %s", e.what());
    }
    if (!filled) {
      FM_TRACE(TRACE_ERROR, "CTempTableGuard::getSqlInCond, initTempTable fail");
      return false;
    }
    cond = "( select id from " + m_strTempTable + " )";
  }
  FM_TRACE(TRACE_PROGRESS, "CTempTableGuard::getSqlInCond, sqlCond:%s", cond.c_str());
  return true;
}

}  // namespace Kyrofm
