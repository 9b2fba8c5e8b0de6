// FMDBBackend.cpp: backend-specific pieces of the database layer (see the
// header).
#include "fm_common/platform/FMDBBackend.h"

#include <soci/soci.h>
#include <soci/postgresql/soci-postgresql.h>
#include <soci/sqlite3/soci-sqlite3.h>

#include <filesystem>

#include "fm_common/platform/FMDBMaintain.h"
#include "fm_common/platform/KyroTrace.h"

namespace Kyrofmdb {
namespace {

// The native handles behind a session. The SOCI backend libraries export no
// type information for their session classes, so these casts are kept out of
// the sanitizer's dynamic type check.
__attribute__((no_sanitize("vptr"))) sqlite_api::sqlite3* sqliteHandle(soci::session& session) {
  auto* be = static_cast<soci::sqlite3_session_backend*>(session.get_backend());
  return be == nullptr ? nullptr : be->conn_;
}

__attribute__((no_sanitize("vptr"))) PGconn* postgresHandle(soci::session& session) {
  auto* be = static_cast<soci::postgresql_session_backend*>(session.get_backend());
  return be == nullptr ? nullptr : be->conn_;
}

// The value of the "db=" entry of an SQLite connection string.
std::string sqliteFileOf(const std::string& connect) {
  size_t p = connect.find("db=");
  while (p != std::string::npos && p > 0 && connect[p - 1] != ' ') p = connect.find("db=", p + 1);
  if (p == std::string::npos) return connect.find('=') == std::string::npos ? connect : std::string();
  size_t start = p + 3;
  if (start < connect.size() && connect[start] == '"') {
    size_t end = connect.find('"', start + 1);
    return connect.substr(start + 1, end == std::string::npos ? std::string::npos : end - start - 1);
  }
  size_t end = connect.find(' ', start);
  return connect.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

void sqliteMod(sqlite_api::sqlite3_context* ctx, int argc, sqlite_api::sqlite3_value** argv) {
  if (argc != 2 || sqlite_api::sqlite3_value_type(argv[0]) == SQLITE_NULL ||
      sqlite_api::sqlite3_value_type(argv[1]) == SQLITE_NULL) {
    sqlite_api::sqlite3_result_null(ctx);
    return;
  }
  sqlite_api::sqlite3_int64 a = sqlite_api::sqlite3_value_int64(argv[0]);
  sqlite_api::sqlite3_int64 b = sqlite_api::sqlite3_value_int64(argv[1]);
  if (b == 0) {
    sqlite_api::sqlite3_result_error(ctx, "division by zero", -1);
    return;
  }
  if (b == -1) {  // avoids the overflow of INT64_MIN % -1
    sqlite_api::sqlite3_result_int64(ctx, 0);
    return;
  }
  sqlite_api::sqlite3_result_int64(ctx, a % b);  // sign of the dividend, as PostgreSQL's mod
}

void sqliteBitand(sqlite_api::sqlite3_context* ctx, int argc, sqlite_api::sqlite3_value** argv) {
  if (argc != 2 || sqlite_api::sqlite3_value_type(argv[0]) == SQLITE_NULL ||
      sqlite_api::sqlite3_value_type(argv[1]) == SQLITE_NULL) {
    sqlite_api::sqlite3_result_null(ctx);
    return;
  }
  sqlite_api::sqlite3_result_int64(
      ctx, sqlite_api::sqlite3_value_int64(argv[0]) & sqlite_api::sqlite3_value_int64(argv[1]));
}

void postgresNotice(void*, const char* message) {
  FM_TRACE(Kyrofm::TRACE_DETAIL, "PostgreSQL: %s",
           Kyrofm::KyroTrace::oneLine(message ? message : "").c_str());
}

}  // namespace

void fmdbOpenSession(soci::session& session, const std::string& url) {
  size_t sep = url.find("://");
  if (sep == std::string::npos) throw SAException("bad database url: " + url);
  std::string scheme = url.substr(0, sep);
  std::string connect = url.substr(sep + 3);
  try {
    if (scheme == "sqlite3" || scheme == "sqlite") {
      std::string file = sqliteFileOf(connect);
      if (!file.empty() && file != ":memory:") {
        std::filesystem::path dir = std::filesystem::path(file).parent_path();
        std::error_code ec;
        if (!dir.empty()) std::filesystem::create_directories(dir, ec);
      }
      session.open(*soci::factory_sqlite3(), connect);
    } else if (scheme == "postgresql" || scheme == "postgres") {
      session.open(*soci::factory_postgresql(), connect);
    } else {
      throw SAException("unsupported database url: " + url);
    }
  } catch (const SAException&) {
    throw;
  } catch (...) {
    fmdbRethrow("open");
  }
}

void fmdbSetupSqliteSession(soci::session& session) {
  sqlite_api::sqlite3* db = sqliteHandle(session);
  if (db == nullptr) throw SAException("sqlite session not open");
  sqlite_api::sqlite3_busy_timeout(db, 10000);
  char* err = nullptr;
  const char* pragmas =
      "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL; PRAGMA case_sensitive_like=ON;";
  int rc = sqlite_api::sqlite3_exec(db, pragmas, nullptr, nullptr, &err);
  if (rc != SQLITE_OK) {
    std::string text = err ? err : "sqlite pragma failed";
    sqlite_api::sqlite3_free(err);
    throw SAException(text, rc);
  }
  const int flags = SQLITE_UTF8 | SQLITE_DETERMINISTIC;
  rc = sqlite_api::sqlite3_create_function_v2(db, "mod", 2, flags, nullptr, &sqliteMod,
                                              nullptr, nullptr, nullptr);
  if (rc == SQLITE_OK) {
    rc = sqlite_api::sqlite3_create_function_v2(db, "bitand", 2, flags, nullptr,
                                                &sqliteBitand, nullptr, nullptr, nullptr);
  }
  if (rc != SQLITE_OK) throw SAException("sqlite3_create_function failed", rc);
}

void fmdbSetupPostgresSession(soci::session& session) {
  PGconn* conn = postgresHandle(session);
  if (conn == nullptr) throw SAException("postgresql session not open");
  PQsetNoticeProcessor(conn, &postgresNotice, nullptr);
  // Literals escaped by CFMDBTools::getFiltSql rely on backslashes being
  // plain characters in '...' strings, whatever the server's default.
  PGresult* res = PQexec(conn, "SET standard_conforming_strings = on");
  bool ok = res != nullptr && PQresultStatus(res) == PGRES_COMMAND_OK;
  std::string err = ok ? std::string() : PQerrorMessage(conn);
  PQclear(res);
  if (!ok) throw SAException("SET standard_conforming_strings failed: " + err);
}

bool fmdbPostgresAlive(soci::session& session) {
  PGconn* conn = postgresHandle(session);
  if (conn == nullptr) return false;
  if (PQstatus(conn) != CONNECTION_OK) return false;
  // Reads whatever the server sent meanwhile: a server that shut down has
  // closed the socket, which turns the status bad.
  if (PQconsumeInput(conn) == 0) return false;
  return PQstatus(conn) == CONNECTION_OK;
}

bool fmdbPostgresWritable(soci::session& session) {
  PGconn* conn = postgresHandle(session);
  if (conn == nullptr) return false;
  // Parses what PQconsumeInput read: parameter changes the server reported.
  (void)PQisBusy(conn);
  const char* standby = PQparameterStatus(conn, "in_hot_standby");
  const char* readOnly = PQparameterStatus(conn, "default_transaction_read_only");
  return !(standby != nullptr && std::string(standby) == "on") &&
         !(readOnly != nullptr && std::string(readOnly) == "on");
}

bool fmdbUrlWantsWriter(const std::string& url) {
  return url.find("target_session_attrs=read-write") != std::string::npos ||
         url.find("target_session_attrs=primary") != std::string::npos;
}

void fmdbRethrow(const char* what) {
  try {
    throw;
  } catch (const SAException&) {
    throw;
  } catch (const soci::sqlite3_soci_error& e) {
    throw SAException(std::string(what) + ": " + e.what(), e.result());
  } catch (const soci::postgresql_soci_error& e) {
    throw SAException(std::string(what) + ": [" + e.sqlstate() + "] " + e.what());
  } catch (const std::exception& e) {
    throw SAException(std::string(what) + ": " + e.what());
  } catch (...) {
    throw SAException(std::string(what) + ": unknown error");
  }
}

}  // namespace Kyrofmdb
