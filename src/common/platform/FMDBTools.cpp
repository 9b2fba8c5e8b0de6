// FMDBTools.cpp: the table tools of the database library.
#include "platform/FMDBTools.h"

#include "platform/KyroCommonUtils.h"

namespace Kyrofmdb {

std::string CFMDBTools::getFiltSql(const std::string& value, int kind) {
  std::string out;
  out.reserve(value.size() + 8);
  for (char c : value) {
    if (c == '\'') {
      out += "''";
      continue;
    }
    if (kind == FILT_LIKE &&
        (c == Kyrofm::KyroCommonUtils::LIKE_ESCAPE_CHAR || c == '%' || c == '_')) {
      out += Kyrofm::KyroCommonUtils::LIKE_ESCAPE_CHAR;
    }
    out += c;
  }
  return out;
}

}  // namespace Kyrofmdb
