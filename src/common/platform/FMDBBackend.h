// FMDBBackend.h: the few places where the database layer speaks to a SOCI
// backend directly: opening a session from a URL, the per-connection settings
// of SQLite (WAL, busy timeout, case-sensitive LIKE, the functions mod and
// bitand), the liveness check of a PostgreSQL connection, and the translation
// of SOCI errors into SAException. Layer-internal; called with the session's
// owner holding it.
#ifndef FM_PLATFORM_FMDBBACKEND_H
#define FM_PLATFORM_FMDBBACKEND_H

#include <exception>
#include <string>

namespace soci {
class session;
}

namespace Kyrofmdb {

// Opens session on url ("sqlite3://..." or "postgresql://..."); for SQLite
// creates the directory of the file. Throws SAException.
void fmdbOpenSession(soci::session& session, const std::string& url);

// WAL mode, busy timeout, case-sensitive LIKE, mod() and bitand().
void fmdbSetupSqliteSession(soci::session& session);

// Sends the server's notices to the trace client (detail level) instead of
// stderr and makes backslashes plain characters in string literals. Throws
// SAException.
void fmdbSetupPostgresSession(soci::session& session);

// False when the server closed the connection (without blocking).
bool fmdbPostgresAlive(soci::session& session);

// False when the server last reported that it takes no writes: a hot standby,
// or a server whose transactions are read-only by default (a fenced old
// primary). Reads only what the server reported (no round trip), so a change
// is seen after the next statement on the connection.
bool fmdbPostgresWritable(soci::session& session);

// True when a PostgreSQL URL asks libpq for a writable server
// (target_session_attrs=read-write or primary): a connection that has lost
// that property must be reopened.
bool fmdbUrlWantsWriter(const std::string& url);

// Rethrows the exception being handled as SAException; call from a catch
// block only. what names the operation for the message.
[[noreturn]] void fmdbRethrow(const char* what);

}  // namespace Kyrofmdb

#endif
