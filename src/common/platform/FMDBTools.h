// FMDBTools.h: table tools of the fault-management database library.
//
// getFiltSql makes a value safe for an SQL literal; it agrees with the escape
// clause of KyroCommonUtils::getEscapeString() on SQLite and PostgreSQL.
//
// Thread safety: the static functions may be called from any thread.
#ifndef FM_PLATFORM_FMDBTOOLS_H
#define FM_PLATFORM_FMDBTOOLS_H

#include <string>

namespace Kyrofmdb {

class CFMDBTools {
 public:
  enum FiltKind {
    FILT_LITERAL = 0,  // text placed between single quotes after =, <>, <, >, <=, >=
    FILT_LIKE = 1,     // text placed inside a LIKE pattern followed by the escape clause
  };

  // Kind 0 doubles every single quote. Kind 1 also puts the escape character
  // '\' before every '\', '%' and '_', so that they match themselves.
  static std::string getFiltSql(const std::string& value, int kind);
};

}  // namespace Kyrofmdb

#endif
