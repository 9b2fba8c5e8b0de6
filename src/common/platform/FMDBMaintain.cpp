// FMDBMaintain.cpp: the connection pool, transaction scopes, the thread limit
// and the connection guard of the database library.
//
// A pooled connection is checked each time it is leased: a connection that no
// longer reaches its server (PostgreSQL restarted, a failed reopen) is reopened
// then, so the pool serves again as soon as the database is back, without a
// restart of the process. With a multi-host URL that asks for a writable
// server (target_session_attrs=read-write) the reopen reaches whichever node
// is primary after a failover, and a connection whose server has turned
// read-only is reopened the same way. A connection that cannot be revived is given back
// unusable and the caller answers 33038.
#include "fm_common/platform/FMDBMaintain.h"

#include <soci/soci.h>
#include <soci/postgresql/soci-postgresql.h>
#include <soci/sqlite3/soci-sqlite3.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "fm_common/platform/FMDBBackend.h"
#include "fm_common/platform/FMDBSchema.h"
#include "fm_common/platform/KyroCommonUtils.h"

namespace Kyrofmdb {

// ---------------------------------------------------------------------------
// CFMServiceFlag

std::atomic<CFMServiceFlag*> CFMServiceFlag::m_pInstance{nullptr};
std::mutex CFMServiceFlag::m_instanceMutex;

CFMServiceFlag* CFMServiceFlag::instance() {
  CFMServiceFlag* p = m_pInstance.load(std::memory_order_acquire);
  if (p == nullptr) {
    std::lock_guard<std::mutex> lock(m_instanceMutex);
    p = m_pInstance.load(std::memory_order_relaxed);
    if (p == nullptr) {
      p = new CFMServiceFlag();
      m_pInstance.store(p, std::memory_order_release);
    }
  }
  return p;
}

void CFMServiceFlag::destroy() {
  std::lock_guard<std::mutex> lock(m_instanceMutex);
  delete m_pInstance.exchange(nullptr);
}

// ---------------------------------------------------------------------------
// SAConnection

SAConnection::SAConnection(soci::session* session, size_t pos, int dbType)
    : m_pSession(session), m_nPos(pos), m_iDBType(dbType) {}

SAConnection::~SAConnection() = default;

void SAConnection::setup() {
  if (m_iDBType == FM_DBTYPE_SQLITE) {
    fmdbSetupSqliteSession(*m_pSession);
  } else {
    fmdbSetupPostgresSession(*m_pSession);
  }
}

bool SAConnection::ensureAlive(const std::string& url) {
  try {
    if (m_bOpened && m_pSession->get_backend() != nullptr) {
      bool alive = !m_bSuspect && (m_iDBType != FM_DBTYPE_POSTGRESQL || fmdbPostgresAlive(*m_pSession));
      m_bSuspect = false;
      // After a failover the old primary may live on read-only (fenced):
      // a pool that was told to write only to a primary leaves it.
      bool writable = !alive || m_iDBType != FM_DBTYPE_POSTGRESQL || !fmdbUrlWantsWriter(url) ||
                      fmdbPostgresWritable(*m_pSession);
      if (alive && writable) return true;
      FM_TRACE(Kyrofm::TRACE_WARNING, "SAConnection::ensureAlive, connection %lu %s, reconnecting",
               static_cast<unsigned long>(m_nPos), alive ? "on a read-only server" : "lost");
      m_pSession->reconnect();
    } else if (m_bOpened) {
      m_pSession->reconnect();
    } else {
      fmdbOpenSession(*m_pSession, url);
      m_bOpened = true;
    }
    if (m_pSession->get_backend() == nullptr) return false;
    setup();
    return true;
  } catch (const std::exception& e) {
    FM_TRACE(Kyrofm::TRACE_ERROR, "SAConnection::ensureAlive, connection %lu cannot be opened: %s",
             static_cast<unsigned long>(m_nPos), Kyrofm::KyroTrace::oneLine(e.what()).c_str());
    return false;
  }
}

// ---------------------------------------------------------------------------
// CFMDBPool

CFMDBPool::CFMDBPool(const std::string& url, int dbType, size_t size)
    : m_strUrl(url), m_iDBType(dbType), m_pPool(std::make_unique<soci::connection_pool>(size)) {
  for (size_t i = 0; i < size; ++i) {
    m_conns.push_back(std::unique_ptr<SAConnection>(new SAConnection(&m_pPool->at(i), i, dbType)));
  }
}

CFMDBPool::~CFMDBPool() = default;

void CFMDBPool::open() {
  try {
    for (auto& c : m_conns) {
      fmdbOpenSession(c->session(), m_strUrl);
      c->m_bOpened = true;
      c->setup();
    }
    CFMDBSchema::apply(m_conns.front()->session(), m_iDBType);
  } catch (const SAException&) {
    throw;
  } catch (const std::exception& e) {
    throw SAException(e.what());
  }
}

SAConnection* CFMDBPool::lease(long timeoutMs) {
  std::size_t pos = 0;
  if (!m_pPool->try_lease(pos, static_cast<int>(timeoutMs < 0 ? 0 : timeoutMs))) return nullptr;
  ++m_iLeased;
  return m_conns[pos].get();
}

void CFMDBPool::giveBack(SAConnection* conn) {
  if (conn == nullptr) return;
  conn->m_bUsable = false;
  conn->m_bInTransaction = false;
  conn->m_eTx = SAConnection::TX_NONE;
  conn->m_bFailed = false;
  --m_iLeased;
  m_pPool->give_back(conn->m_nPos);
}

// ---------------------------------------------------------------------------
// CDBMaintain

std::atomic<CDBMaintain*> CDBMaintain::m_pInstance{nullptr};
std::mutex CDBMaintain::m_instanceMutex;

CDBMaintain::CDBMaintain() = default;

CDBMaintain::~CDBMaintain() {
  std::lock_guard<std::mutex> lock(m_mutex);
  closePoolLocked();
}

CDBMaintain* CDBMaintain::instance() {
  CDBMaintain* p = m_pInstance.load(std::memory_order_acquire);
  if (p == nullptr) {
    std::lock_guard<std::mutex> lock(m_instanceMutex);
    p = m_pInstance.load(std::memory_order_relaxed);
    if (p == nullptr) {
      p = new CDBMaintain();
      m_pInstance.store(p, std::memory_order_release);
    }
  }
  return p;
}

void CDBMaintain::destroy() {
  std::lock_guard<std::mutex> lock(m_instanceMutex);
  delete m_pInstance.exchange(nullptr);
}

int CDBMaintain::dbTypeOfUrl(const std::string& url) {
  if (url.rfind("sqlite3://", 0) == 0 || url.rfind("sqlite://", 0) == 0) return FM_DBTYPE_SQLITE;
  if (url.rfind("postgresql://", 0) == 0 || url.rfind("postgres://", 0) == 0) return FM_DBTYPE_POSTGRESQL;
  return 0;
}

std::string CDBMaintain::getDBUrl() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (!m_strUrl.empty()) return m_strUrl;
  const char* env = std::getenv("KYRO_FM_DB");
  if (env != nullptr && *env != '\0') return env;
  return "sqlite3://db=" + Kyrofm::KyroCommonUtils::getRoot() + "/var/fm/fm.db";
}

int CDBMaintain::getDBType() const {
  int forced = m_iTypeOverride.load();
  if (forced != 0) return forced;
  CFMDBPool* pool = m_pPool.load();
  if (pool != nullptr) return pool->dbType();
  return dbTypeOfUrl(getDBUrl());
}

long CDBMaintain::Init(int poolSize) {
  if (m_pPool.load() != nullptr) return Kyrofm::FM_SUCCESS;
  std::string url = getDBUrl();
  std::lock_guard<std::mutex> lock(m_mutex);
  if (m_pPool.load() != nullptr) return Kyrofm::FM_SUCCESS;
  int type = dbTypeOfUrl(url);
  if (type == 0) {
    FM_TRACE(Kyrofm::TRACE_ERROR, "CDBMaintain::Init, unsupported database url: %s", url.c_str());
    return Kyrofm::FM_DB_CONNECT_FAIL;
  }
  if (poolSize < 1) poolSize = 1;
  try {
    auto pool = std::make_unique<CFMDBPool>(url, type, static_cast<size_t>(poolSize));
    pool->open();
    m_pPool.store(pool.release());
  } catch (const std::exception& e) {
    FM_TRACE(Kyrofm::TRACE_ERROR, "CDBMaintain::Init, open database fail: %s",
             Kyrofm::KyroTrace::oneLine(e.what()).c_str());
    return Kyrofm::FM_DB_CONNECT_FAIL;
  }
  FM_TRACE(Kyrofm::TRACE_PROGRESS, "CDBMaintain::Init, database type %d, pool size %d", type, poolSize);
  return Kyrofm::FM_SUCCESS;
}

void CDBMaintain::closePoolLocked() {
  CFMDBPool* pool = m_pPool.load();
  if (pool == nullptr) return;
  // Leased connections belong to running transaction scopes: wait for them.
  for (int i = 0; pool->leasedCount() > 0 && i < 6000; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  if (pool->leasedCount() > 0) {
    FM_TRACE(Kyrofm::TRACE_ERROR, "CDBMaintain::Reset, %d connections still leased, pool kept",
             pool->leasedCount());
    return;
  }
  m_pPool.store(nullptr);
  delete pool;
}

void CDBMaintain::setDBUrl(const std::string& url) {
  std::lock_guard<std::mutex> lock(m_mutex);
  closePoolLocked();
  m_strUrl = url;
}

void CDBMaintain::Reset() {
  std::lock_guard<std::mutex> lock(m_mutex);
  closePoolLocked();
}

// ---------------------------------------------------------------------------
// CFMThreadLimitSingle

namespace {

struct ThreadLimitState {
  std::mutex mutex;
  std::condition_variable cond;
  int active = 0;
  int max = 32;
};

ThreadLimitState& limitState() {
  static ThreadLimitState state;
  return state;
}

thread_local int t_limitDepth = 0;

}  // namespace

CFMThreadLimitSingle::CFMThreadLimitSingle(const char* key, int line) {
  if (t_limitDepth > 0) {
    ++t_limitDepth;
    m_bAcquired = true;
    return;
  }
  ThreadLimitState& st = limitState();
  std::unique_lock<std::mutex> lock(st.mutex);
  while (st.active >= st.max) {
    if (CFMServiceFlag::instance()->getServiceStatus() == CFMServiceFlag::SERVICE_STOPPING) {
      FM_TRACE(Kyrofm::TRACE_WARNING, "CFMThreadLimitSingle, service stopping, give up: %s:%d",
               key ? key : "", line);
      return;
    }
    st.cond.wait_for(lock, std::chrono::seconds(1));
  }
  ++st.active;
  ++t_limitDepth;
  m_bAcquired = true;
  m_bOuter = true;
}

CFMThreadLimitSingle::~CFMThreadLimitSingle() {
  if (!m_bAcquired) return;
  --t_limitDepth;
  if (!m_bOuter) return;
  ThreadLimitState& st = limitState();
  {
    std::lock_guard<std::mutex> lock(st.mutex);
    --st.active;
  }
  st.cond.notify_one();
}

void CFMThreadLimitSingle::setMaxThreads(int n) {
  ThreadLimitState& st = limitState();
  {
    std::lock_guard<std::mutex> lock(st.mutex);
    st.max = n < 1 ? 1 : n;
  }
  st.cond.notify_all();
}

int CFMThreadLimitSingle::activeThreads() {
  ThreadLimitState& st = limitState();
  std::lock_guard<std::mutex> lock(st.mutex);
  return st.active;
}

// ---------------------------------------------------------------------------
// Transactions

void SAConnection::beginScope() {
  m_bInTransaction = true;
  m_bFailed = false;
  m_eTx = TX_NONE;
  if (m_iDBType != FM_DBTYPE_SQLITE) {
    m_pSession->begin();
    m_eTx = TX_WRITE;
  }
}

void SAConnection::prepareStatement(bool writes) {
  if (!m_bInTransaction || m_iDBType != FM_DBTYPE_SQLITE) return;
  try {
    if (m_eTx == TX_NONE) {
      *m_pSession << (writes ? "BEGIN IMMEDIATE" : "BEGIN");
      m_eTx = writes ? TX_WRITE : TX_READ;
    } else if (m_eTx == TX_READ && writes) {
      *m_pSession << "COMMIT";
      m_eTx = TX_NONE;
      *m_pSession << "BEGIN IMMEDIATE";
      m_eTx = TX_WRITE;
    }
  } catch (...) {
    m_bFailed = true;
    fmdbRethrow("SAConnection::prepareStatement");
  }
}

bool SAConnection::endScope(bool commit) {
  m_bInTransaction = false;
  TxState begun = m_eTx;
  m_eTx = TX_NONE;
  if (begun == TX_NONE) return commit;
  if (commit) {
    try {
      m_pSession->commit();
      return true;
    } catch (const std::exception& e) {
      FM_TRACE(Kyrofm::TRACE_ERROR, "FMAutoTransaction, commit fail, rolling back: %s",
               Kyrofm::KyroTrace::oneLine(e.what()).c_str());
      m_bFailed = true;
    }
  }
  try {
    m_pSession->rollback();
  } catch (const std::exception& e) {
    FM_TRACE(Kyrofm::TRACE_ERROR, "FMAutoTransaction, rollback fail: %s",
             Kyrofm::KyroTrace::oneLine(e.what()).c_str());
  }
  return false;
}

// ---------------------------------------------------------------------------
// FMAutoTransaction

FMAutoTransaction::FMAutoTransaction(CFMDBPool* pool, long timeoutMs)
    : m_pPool(pool), m_iUncaught(std::uncaught_exceptions()) {
  if (m_pPool == nullptr) return;
  m_pConn = m_pPool->lease(timeoutMs);
  if (m_pConn == nullptr) {
    FM_TRACE(Kyrofm::TRACE_ERROR, "FMAutoTransaction, no pooled connection within %ld ms", timeoutMs);
    return;
  }
  // A connection whose server went away may look healthy until it is used:
  // when BEGIN fails, reopen it and try once more (BEGIN changes nothing).
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (!m_pConn->ensureAlive(m_pPool->url())) return;
    try {
      m_pConn->beginScope();
      m_pConn->m_bUsable = true;
      return;
    } catch (const std::exception& e) {
      m_pConn->m_bInTransaction = false;
      m_pConn->m_bSuspect = true;
      FM_TRACE(Kyrofm::TRACE_WARNING, "FMAutoTransaction, begin transaction fail: %s",
               Kyrofm::KyroTrace::oneLine(e.what()).c_str());
    }
  }
}

FMAutoTransaction::~FMAutoTransaction() {
  if (m_pConn == nullptr) return;
  if (m_pConn->m_bInTransaction) {
    bool commit = std::uncaught_exceptions() <= m_iUncaught && !m_pConn->m_bFailed;
    m_pConn->endScope(commit);
  }
  m_pPool->giveBack(m_pConn);
}

long FMAutoTransaction::Commit() {
  if (m_pConn == nullptr || !m_pConn->m_bInTransaction) return Kyrofm::FM_FAILURE;
  bool ok = m_pConn->endScope(!m_pConn->m_bFailed);
  return ok ? Kyrofm::FM_SUCCESS : Kyrofm::FM_FAILURE;
}

void FMAutoTransaction::Rollback() {
  if (m_pConn == nullptr || !m_pConn->m_bInTransaction) return;
  m_pConn->endScope(false);
}

// ---------------------------------------------------------------------------
// CFMDBGuard

CFMDBPool* CFMDBGuard::pool(const char* name, Variant variant, bool limitAcquired) {
  CDBMaintain* db = CDBMaintain::instance();
  CFMDBPool* p = limitAcquired ? db->GetDBPool() : nullptr;
  if (p == nullptr && limitAcquired && db->Init(5) == Kyrofm::FM_SUCCESS) p = db->GetDBPool();
  if (p != nullptr) return p;
  const char* n = name ? name : "";
  switch (variant) {
    case WITH_LOGERR:
      FM_TRACE(Kyrofm::TRACE_ERROR, "%s:FMDB_CONNECTION_GUARD_WITH_LOGERR get database connection fail!", n);
      break;
    case ERR_RETURN_VOID:
      FM_TRACE(Kyrofm::TRACE_ERROR, "%s:FMDB_CONNECTION_GUARD_ERR_RETURN_VOID get database connection fail!", n);
      break;
    default:
      FM_TRACE(Kyrofm::TRACE_ERROR, "FMDB_CONNECTION_GUARD Get database connection fail!");
      break;
  }
  return nullptr;
}

void CFMDBGuard::logNoConnection(const char* name) {
  if (name == nullptr || *name == '\0') {
    FM_TRACE(Kyrofm::TRACE_ERROR, "Get database connection fail!");
  } else {
    FM_TRACE(Kyrofm::TRACE_ERROR, "%s: get database connection fail!", name);
  }
}

// One line: the operation's message and the driver's cause.
void CFMDBGuard::logException(const char* name, const std::exception& e) {
  std::string cause = Kyrofm::KyroTrace::oneLine(e.what());
  if (name == nullptr || *name == '\0') {
    FM_TRACE(Kyrofm::TRACE_ERROR, "Get database connection throw SAException! cause: %s", cause.c_str());
  } else {
    FM_TRACE(Kyrofm::TRACE_ERROR, "%s: get database throw SAException! cause: %s", name, cause.c_str());
  }
}

long CFMDBGuard::run(const char* file, int line, const char* name, long failCode,
                     const std::function<long(SAConnection&)>& body, Variant variant) {
  CFMThreadLimitSingle limit(file, line);
  CFMDBPool* p = pool(name, variant, limit.isAcquired());
  if (p == nullptr) return Kyrofm::FM_DB_CONNECT_FAIL;
  try {
    FMAutoTransaction trans(p, CDBMaintain::instance()->getConnPoolTimeOut());
    SAConnection* conn = trans.getConn();
    if (conn == nullptr || !conn->isConnected()) {
      logNoConnection(name);
      return Kyrofm::FM_DB_CONNECT_FAIL;
    }
    long rc = body(*conn);
    if (rc == Kyrofm::FM_SUCCESS && trans.Commit() != Kyrofm::FM_SUCCESS) rc = failCode;
    return rc;
  } catch (const SAException& e) {
    logException(name, e);
    return failCode;
  } catch (const std::exception& e) {
    logException(name, e);
    return failCode;
  }
}

}  // namespace Kyrofmdb
