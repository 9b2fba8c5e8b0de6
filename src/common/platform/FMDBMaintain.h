// FMDBMaintain.h: connection handling of the fault-management database library.
//
// Every database statement of the library runs on a connection leased from one
// process-wide pool (CDBMaintain). A caller brackets its database use with
//   - CFMThreadLimitSingle: limits how many threads use the database at once;
//   - FMAutoTransaction: leases a connection (SAConnection), opens a
//     transaction on it, and when the scope ends commits (normal exit) or rolls
//     back (an exception is leaving the scope, or a statement of the scope
//     failed), then gives the connection back;
// and runs its statements with SACommand (FMDBCommand.h). The connection guard
// (FMDB_CONNECTION_GUARD and its variants, or CFMDBGuard::run) does all of
// this in the documented order and with the documented messages.
//
// The database is selected by one SOCI URL: the environment variable KYRO_FM_DB
// ("postgresql://<libpq connection string>" or "sqlite3://db=<path> ..."), by
// default SQLite at $KYRO_ROOT/var/fm/fm.db. SQLite connections run in WAL mode
// with a busy timeout, case-sensitive LIKE and the functions mod and bitand.
// The tables of sql/ are created on first use.
//
// SOCI errors never leave this layer: they are translated into SAException.
//
// SQLite has one writer at a time: a thread that has written through one
// transaction scope must not write through a second scope before the first
// ends (the second waits for the busy timeout and fails). Reading through a
// nested scope is fine on both databases.
//
// Ownership: CDBMaintain owns the pool, the pool owns its connections; an
// SAConnection pointer is valid while the FMAutoTransaction that leased it
// lives. Thread safety: CDBMaintain, CFMServiceFlag and CFMThreadLimitSingle may
// be used from any thread; one SAConnection is used by one thread at a time
// (the one whose transaction scope leased it).
#ifndef FM_PLATFORM_FMDBMAINTAIN_H
#define FM_PLATFORM_FMDBMAINTAIN_H

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "fm_common/platform/FMResult.h"
#include "fm_common/platform/KyroTrace.h"

namespace soci {
class session;
class connection_pool;
}  // namespace soci

namespace Kyrofmdb {

// Database client types answered by CDBMaintain::getDBType().
constexpr int FM_DBTYPE_SQLITE = 1;
constexpr int FM_DBTYPE_MODFUNC = 2;  // the dialect written with mod(...) and bitand(...)
constexpr int FM_DBTYPE_POSTGRESQL = 3;

// A database error. Thrown by SAConnection and SACommand; callers catch it by
// reference at the edge of their operation and turn it into a result code.
class SAException : public std::runtime_error {
 public:
  explicit SAException(const std::string& text, int nativeError = 0)
      : std::runtime_error(text), m_iNativeError(nativeError) {}
  // The text of the error as the database reported it.
  std::string ErrText() const { return what(); }
  // The native error of the database (SQLite result code), 0 when unknown.
  int ErrNativeCode() const { return m_iNativeError; }

 private:
  int m_iNativeError;
};

// Process-wide service state: 1 while the service is stopping. Long loops and
// waits test it and give up.
class CFMServiceFlag {
 public:
  static constexpr int SERVICE_RUNNING = 0;
  static constexpr int SERVICE_STOPPING = 1;

  static CFMServiceFlag* instance();
  static void destroy();

  int getServiceStatus() const { return m_iStatus.load(); }
  void setServiceStatus(int status) { m_iStatus.store(status); }

 private:
  CFMServiceFlag() = default;
  std::atomic<int> m_iStatus{SERVICE_RUNNING};
  static std::atomic<CFMServiceFlag*> m_pInstance;
  static std::mutex m_instanceMutex;
};

class CFMDBPool;

// One pooled connection. Leased and given back by FMAutoTransaction; callers
// only test isConnected() and hand it to SACommand.
class SAConnection {
 public:
  SAConnection(const SAConnection&) = delete;
  SAConnection& operator=(const SAConnection&) = delete;
  ~SAConnection();

  // True when the connection is open and its transaction began: statements
  // may run on it.
  bool isConnected() const { return m_bUsable; }
  // The client type of the database behind it (1 SQLite, 3 PostgreSQL).
  int getDBType() const { return m_iDBType; }

  // Layer-internal: the SOCI session, the failure mark of the current
  // transaction (set by a failed statement: the scope then rolls back and
  // later statements of the scope are refused, on every database alike).
  soci::session& session() { return *m_pSession; }
  void markFailed() { m_bFailed = true; }
  bool hasFailed() const { return m_bFailed; }
  // Called by SACommand before each statement. SQLite transactions begin
  // lazily: a reading statement begins a deferred transaction, a writing one
  // takes the write lock (BEGIN IMMEDIATE, waiting up to the busy timeout);
  // the first write after reads commits the reads and takes the write lock,
  // which gives the same read-committed view as PostgreSQL's default. Throws
  // SAException.
  void prepareStatement(bool writes);

 private:
  friend class CFMDBPool;
  friend class FMAutoTransaction;
  SAConnection(soci::session* session, size_t pos, int dbType);

  // Opens the session when needed, checks that an open one still reaches the
  // server and reopens a broken one. False when the database is unreachable.
  bool ensureAlive(const std::string& url);
  // Per-connection settings (SQLite pragmas and functions).
  void setup();

  // Begins the scope's transaction (PostgreSQL at once, SQLite lazily).
  void beginScope();
  // Ends the scope's transaction; false when a commit failed (rolled back).
  bool endScope(bool commit);

  enum TxState { TX_NONE, TX_READ, TX_WRITE };
  soci::session* m_pSession;  // owned by the soci::connection_pool
  size_t m_nPos;
  int m_iDBType;
  bool m_bOpened = false;
  bool m_bUsable = false;
  bool m_bInTransaction = false;  // a transaction scope is open on it
  TxState m_eTx = TX_NONE;        // what the database has begun
  bool m_bFailed = false;
  bool m_bSuspect = false;  // reopen before the next use
};

// The connection pool: a soci::connection_pool with one SAConnection per slot.
class CFMDBPool {
 public:
  CFMDBPool(const std::string& url, int dbType, size_t size);
  ~CFMDBPool();
  CFMDBPool(const CFMDBPool&) = delete;
  CFMDBPool& operator=(const CFMDBPool&) = delete;

  // Opens every connection and creates the missing tables. Throws SAException.
  void open();

  // Leases a connection, waiting up to timeoutMs; null on timeout.
  SAConnection* lease(long timeoutMs);
  void giveBack(SAConnection* conn);

  size_t size() const { return m_conns.size(); }
  int leasedCount() const { return m_iLeased.load(); }
  const std::string& url() const { return m_strUrl; }
  int dbType() const { return m_iDBType; }

 private:
  std::string m_strUrl;
  int m_iDBType;
  std::unique_ptr<soci::connection_pool> m_pPool;
  std::vector<std::unique_ptr<SAConnection>> m_conns;
  std::atomic<int> m_iLeased{0};
};

// The owner of the process's connection pool.
class CDBMaintain {
 public:
  static CDBMaintain* instance();
  static void destroy();

  // Opens the pool with poolSize connections (when not open yet). 33000 on
  // success (also when it is already open), 33038 when the database cannot be
  // opened; then GetDBPool() stays null and a later Init tries again.
  long Init(int poolSize);
  // The pool, or null before a successful Init.
  CFMDBPool* GetDBPool() const { return m_pPool.load(); }
  // How long a caller waits for a pooled connection, in milliseconds.
  long getConnPoolTimeOut() const { return m_lTimeOutMs.load(); }
  void setConnPoolTimeOut(long ms) { m_lTimeOutMs.store(ms); }
  // The database client type: 1 SQLite, 3 PostgreSQL (2 when a test forces the
  // mod/bitand dialect with setDBTypeOverride).
  int getDBType() const;
  // Forces the answer of getDBType (0 removes the override); SQL text only.
  void setDBTypeOverride(int type) { m_iTypeOverride.store(type); }

  // The URL in use: KYRO_FM_DB, or the default SQLite file, or the URL given
  // to setDBUrl.
  std::string getDBUrl() const;
  // Re-targets the layer at another URL (empty: back to the environment
  // default) and closes the pool; the next Init opens the new database. Waits
  // until every leased connection is given back. Meant for tests and tools.
  void setDBUrl(const std::string& url);
  // Closes the pool (waiting for leased connections); the next Init reopens.
  void Reset();

  // The client type a URL selects: 1, 3, or 0 for an unknown scheme.
  static int dbTypeOfUrl(const std::string& url);

 private:
  CDBMaintain();
  ~CDBMaintain();
  void closePoolLocked();

  mutable std::mutex m_mutex;  // guards Init, the URL and pool replacement
  std::atomic<CFMDBPool*> m_pPool{nullptr};
  std::string m_strUrl;  // explicit URL, empty: from the environment
  std::atomic<long> m_lTimeOutMs{10000};
  std::atomic<int> m_iTypeOverride{0};
  static std::atomic<CDBMaintain*> m_pInstance;
  static std::mutex m_instanceMutex;
};

// Limits the number of threads that use the database at the same time. Made
// with the call site's file and line; nested scopes of one thread count once.
// Waiting polls once a second and gives up when the service is stopping.
class CFMThreadLimitSingle {
 public:
  CFMThreadLimitSingle(const char* key, int line);
  ~CFMThreadLimitSingle();
  CFMThreadLimitSingle(const CFMThreadLimitSingle&) = delete;
  CFMThreadLimitSingle& operator=(const CFMThreadLimitSingle&) = delete;

  // False when the wait was given up (service stopping).
  bool isAcquired() const { return m_bAcquired; }

  // Most threads inside a limit scope at once (default 32).
  static void setMaxThreads(int n);
  static int activeThreads();

 private:
  bool m_bAcquired = false;
  bool m_bOuter = false;
};

// Transaction scope over one pooled connection. See the top of this file.
class FMAutoTransaction {
 public:
  // Leases a connection from pool (which may be null) waiting up to
  // timeoutMs, revives it when broken and begins a transaction.
  FMAutoTransaction(CFMDBPool* pool, long timeoutMs);
  ~FMAutoTransaction();
  FMAutoTransaction(const FMAutoTransaction&) = delete;
  FMAutoTransaction& operator=(const FMAutoTransaction&) = delete;

  // The leased connection, null when the pool had none to give.
  SAConnection* getConn() const { return m_pConn; }

  // End the transaction now: commit (33000; 33002 when the commit failed or
  // a statement of the scope failed, and the transaction rolled back) or roll
  // back. Statements that follow in the scope run without a transaction.
  long Commit();
  void Rollback();

 private:
  CFMDBPool* m_pPool;
  SAConnection* m_pConn = nullptr;
  int m_iUncaught;
};

// The connection guard as one call: runs body(conn) on a pooled connection
// in its own transaction scope, following the documented steps. Returns
// 33038 when no connection could be had, failCode when body threw SAException
// (or another exception), else body's result. name, when not empty, goes
// into the messages ("%s: get database connection fail!" and "%s: get database
// throw SAException!"); variant selects the messages of the pool failure.
class CFMDBGuard {
 public:
  enum Variant { PLAIN, WITH_LOGERR, ERR_RETURN_VOID };

  static long run(const char* file, int line, const char* name, long failCode,
                  const std::function<long(SAConnection&)>& body, Variant variant = PLAIN);

  // Step 2 of the guard: the pool, opened with Init(5) when missing. Logs the
  // variant's message and returns null on failure (also when the thread limit
  // was not acquired because the service is stopping).
  static CFMDBPool* pool(const char* name, Variant variant, bool limitAcquired = true);
  // Step 3's message for a missing or broken connection.
  static void logNoConnection(const char* name);
  // Step 4's message for an SAException.
  static void logException(const char* name, const std::exception& e);
};

}  // namespace Kyrofmdb

// The connection guard as macros, for operations written in the documented
// style. Each declares `conn` (Kyrofmdb::SAConnection*) for the rest of the
// enclosing block and keeps its transaction scope open until the block ends;
// on failure it logs and returns from the enclosing function. The statements
// that follow are wrapped by the caller in try/catch (Kyrofmdb::SAException&),
// logged with FMDB_LOG_EXCEPTION.
// The three variants differ only in the pool step's message and in what
// they return; FMDB_GUARD_IMPL_ is their common body (`...` is the return
// value, empty for void).
#define FMDB_GUARD_IMPL_(conn, name, variant, ...)                                             \
  ::Kyrofmdb::CFMThreadLimitSingle _fmdb_limit_##conn(__FILE__, __LINE__);                    \
  ::Kyrofmdb::CFMDBPool* _fmdb_pool_##conn =                                                  \
      ::Kyrofmdb::CFMDBGuard::pool((name), ::Kyrofmdb::CFMDBGuard::variant,                    \
                                   _fmdb_limit_##conn.isAcquired());                          \
  if (_fmdb_pool_##conn == nullptr) return __VA_ARGS__;                                       \
  ::Kyrofmdb::FMAutoTransaction _fmdb_trans_##conn(                                           \
      _fmdb_pool_##conn, ::Kyrofmdb::CDBMaintain::instance()->getConnPoolTimeOut());          \
  ::Kyrofmdb::SAConnection* conn = _fmdb_trans_##conn.getConn();                              \
  if (conn == nullptr || !conn->isConnected()) {                                              \
    ::Kyrofmdb::CFMDBGuard::logNoConnection(name);                                            \
    return __VA_ARGS__;                                                                       \
  }

#define FMDB_CONNECTION_GUARD(conn, failRet) FMDB_GUARD_IMPL_(conn, nullptr, PLAIN, (failRet))
#define FMDB_CONNECTION_GUARD_WITH_LOGERR(conn, name, failRet) \
  FMDB_GUARD_IMPL_(conn, (name), WITH_LOGERR, (failRet))
#define FMDB_CONNECTION_GUARD_ERR_RETURN_VOID(conn, name) FMDB_GUARD_IMPL_(conn, (name), ERR_RETURN_VOID)

// Logs an SAException caught after a guard: name null gives "Get database
// connection throw SAException!", else "%s: get database throw SAException!".
#define FMDB_LOG_EXCEPTION(name, e) ::Kyrofmdb::CFMDBGuard::logException((name), (e))

#endif
