// FMDBIdUtil.cpp: reading and writing the identifier kinds of tbl_fm_id.
//
// A write updates the kind's row and inserts it when the update touched no
// row, both in one transaction, so a failure leaves the row as it was.
#include "fmcommon/FMDBIdUtil.h"

#include <climits>

#include "platform/FMDBCommand.h"
#include "platform/FMDBMaintain.h"
#include "platform/FMDBTools.h"
#include "platform/FMResult.h"
#include "platform/KyroTrace.h"

namespace Kyrofmdb {

int32_t CFMDBIdUtil::resumeCounter(int64_t memMax, int64_t dbMax) {
  int64_t next = memMax > dbMax ? memMax : dbMax;
  if (next <= 0 || next >= INT32_MAX) return 0;
  return static_cast<int32_t>(next);
}

long CFMDBIdUtil::initDBIdFromDB(const std::string& table, std::map<FMIDTYPE, SFMID>& ids) {
  if (!CFMDBTools::isValidTableName(table)) {
    FM_TRACE(Kyrofm::TRACE_ERROR, "CFMDBIdUtil::initDBIdFromDB, bad table name '%s'", table.c_str());
    return Kyrofm::FM_INVALID_ARG;
  }
  std::map<FMIDTYPE, SFMID> loaded;
  long rc = CFMDBGuard::run(__FILE__, __LINE__, "CFMDBIdUtil::initDBIdFromDB", Kyrofm::FM_FAILURE,
                            [&](SAConnection& conn) -> long {
                              SACommand cmd(&conn, "select IdType, IdName, MemMax, DBMax, DBTimer from " + table);
                              cmd.setOption("PreFetchRows", "200");
                              cmd.Execute();
                              while (cmd.FetchNext()) {
                                SFMID id;
                                id.strName = cmd.Field(2).asString();
                                long long dbMax = cmd.Field(4).asLongLong();
                                id.lDBMax = static_cast<int32_t>(dbMax < 0 ? 0 : (dbMax > INT32_MAX ? INT32_MAX : dbMax));
                                id.lMemMax = resumeCounter(cmd.Field(3).asLongLong(), dbMax);
                                id.lDBTimer = static_cast<int32_t>(cmd.Field(5).asLong());
                                loaded[static_cast<FMIDTYPE>(cmd.Field(1).asLong())] = id;
                              }
                              return Kyrofm::FM_SUCCESS;
                            });
  if (rc != Kyrofm::FM_SUCCESS) {
    FM_TRACE(Kyrofm::TRACE_ERROR, "CFMDBIdUtil::initDBIdFromDB, reading %s failed (%ld)", table.c_str(), rc);
    return rc;
  }
  for (auto& kv : loaded) ids[kv.first] = kv.second;
  FM_TRACE(Kyrofm::TRACE_PROGRESS, "CFMDBIdUtil::initDBIdFromDB, %zu kinds from %s", loaded.size(), table.c_str());
  return Kyrofm::FM_SUCCESS;
}

long CFMDBIdUtil::setDBIdToDB(const std::string& table, FMIDTYPE type, const SFMID& sfmid) {
  if (!CFMDBTools::isValidTableName(table)) {
    FM_TRACE(Kyrofm::TRACE_ERROR, "CFMDBIdUtil::setDBIdToDB, bad table name '%s'", table.c_str());
    return Kyrofm::FM_INVALID_ARG;
  }
  long rc = CFMDBGuard::run(
      __FILE__, __LINE__, "CFMDBIdUtil::setDBIdToDB", Kyrofm::FM_FAILURE, [&](SAConnection& conn) -> long {
        SACommand upd(&conn, "update " + table +
                                 " set IdName = :name, MemMax = :mem, DBMax = :dbmax, DBTimer = :timer"
                                 " where IdType = :type");
        upd.Param("name").setAsString() = sfmid.strName;
        upd.Param("mem").setAsLong() = sfmid.lMemMax;
        upd.Param("dbmax").setAsLong() = sfmid.lDBMax;
        upd.Param("timer").setAsLong() = sfmid.lDBTimer;
        upd.Param("type").setAsLong() = static_cast<long>(type);
        upd.Execute();
        if (upd.RowsAffected() > 0) return Kyrofm::FM_SUCCESS;
        SACommand ins(&conn, "insert into " + table +
                                 " (IdType, IdName, MemMax, DBMax, DBTimer) values (:type, :name, :mem, :dbmax, :timer)");
        ins.Param("type").setAsLong() = static_cast<long>(type);
        ins.Param("name").setAsString() = sfmid.strName;
        ins.Param("mem").setAsLong() = sfmid.lMemMax;
        ins.Param("dbmax").setAsLong() = sfmid.lDBMax;
        ins.Param("timer").setAsLong() = sfmid.lDBTimer;
        ins.Execute();
        return Kyrofm::FM_SUCCESS;
      });
  if (rc != Kyrofm::FM_SUCCESS) {
    FM_TRACE(Kyrofm::TRACE_ERROR, "CFMDBIdUtil::setDBIdToDB, writing kind %d to %s failed (%ld)",
             static_cast<int>(type), table.c_str(), rc);
  }
  return rc;
}

}  // namespace Kyrofmdb
