// FMDBIdUtil.cpp: rows of the identifier table.
#include "fm_common/platform/FMDBIdUtil.h"

#include "fm_common/platform/FMDBCommand.h"
#include "fm_common/platform/FMDBTools.h"
#include "fm_common/platform/FMResult.h"
#include "fm_common/platform/KyroTrace.h"

namespace Kyrofmdb {

long CFMDBIdUtil::loadRows(const std::string& table, std::vector<FMDBIdRow>& rows) {
  rows.clear();
  if (!CFMDBTools::isValidTableName(table)) {
    FM_TRACE(Kyrofm::TRACE_ERROR, "CFMDBIdUtil::loadRows: invalid table name [%s]", table.c_str());
    return Kyrofm::FM_INVALID_ARG;
  }
  std::vector<FMDBIdRow> out;
  long rc = CFMDBGuard::run(__FILE__, __LINE__, "CFMDBIdUtil::loadRows", Kyrofm::FM_FAILURE,
                            [&](SAConnection& conn) -> long {
                              SACommand cmd(&conn, "select IdType, IdName, MemMax, DBMax, DBTimer from " + table +
                                                       " order by IdType");
                              cmd.Execute();
                              while (cmd.FetchNext()) {
                                FMDBIdRow r;
                                r.iType = static_cast<int>(cmd.Field(1).asLong());
                                r.strName = cmd.Field(2).asString();
                                r.lMemMax = cmd.Field(3).asLong();
                                r.lDBMax = cmd.Field(4).asLong();
                                r.lDBTimer = cmd.Field(5).asLong();
                                out.push_back(r);
                              }
                              return Kyrofm::FM_SUCCESS;
                            });
  if (rc == Kyrofm::FM_SUCCESS) rows.swap(out);
  return rc;
}

long CFMDBIdUtil::storeRow(const std::string& table, const FMDBIdRow& row) {
  if (!CFMDBTools::isValidTableName(table)) {
    FM_TRACE(Kyrofm::TRACE_ERROR, "CFMDBIdUtil::storeRow: invalid table name [%s]", table.c_str());
    return Kyrofm::FM_INVALID_ARG;
  }
  return CFMDBGuard::run(__FILE__, __LINE__, "CFMDBIdUtil::storeRow", Kyrofm::FM_FAILURE,
                         [&](SAConnection& conn) -> long {
                           auto bind = [&row](SACommand& cmd) {
                             cmd.Param("t").setAsLong() = row.iType;
                             cmd.Param("n").setAsString() = row.strName;
                             cmd.Param("m").setAsLong() = row.lMemMax;
                             cmd.Param("d").setAsLong() = row.lDBMax;
                             cmd.Param("g").setAsLong() = row.lDBTimer;
                           };
                           SACommand upd(&conn, "update " + table +
                                                    " set IdName = :n, MemMax = :m, DBMax = :d, DBTimer = :g "
                                                    "where IdType = :t");
                           bind(upd);
                           upd.Execute();
                           if (upd.RowsAffected() > 0) return Kyrofm::FM_SUCCESS;
                           SACommand ins(&conn, "insert into " + table +
                                                    " (IdType, IdName, MemMax, DBMax, DBTimer) "
                                                    "values (:t, :n, :m, :d, :g)");
                           bind(ins);
                           ins.Execute();
                           return ins.RowsAffected() > 0 ? Kyrofm::FM_SUCCESS : Kyrofm::FM_FAILURE;
                         });
}

}  // namespace Kyrofmdb
