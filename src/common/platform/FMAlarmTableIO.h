// FMAlarmTableIO.h: alarm records in and out of the alarm tables.
//
// The alarm tables (tbl_cur_alm, tbl_alm_log, tbl_event_log, tbl_mask_alm,
// tbl_his_alm) have one column per field of AlmRecord_t. The column names are
// those the filters, sort orders and conversions write:
//   Csn (the alarm's serial number: the record's LogId), Id (alarm id), para1 ..
//   para10 (para6 is the group id, getParam(6)), AlmLevel (severity), Cat
//   (category, the alarm/event flag), Type (alarm type), NEType, LinkType,
//   IsConfirmed (acknowledge status), IsCleared (clear status), Operator
//   (acknowledge operator), ClearOperator, DevCsn, ExtendInfo, OccurUtc,
//   OccurTime (NE time), OccurDst, ClearUtc, ClearTime, ClearDst, AckUtc, AckDst,
//   ArrivedUtcTime, FDNId / NEFDNId / LinkFDNId (the FDN ids the record carries
//   in its integer extended parameters (0,16), (0,15) and (0,18)), the FDN
//   texts MoDn, NEFDN, LinkDn, the other fields under their own names, and one
//   column per extended parameter named by
//   XRFMAlarmFieldPropManager::getProp(kind, group, index)->getDbName().
// An empty text is stored as NULL (the filters' SQL writes the empty value as
// "is null") and reads back as "". columns() lists the columns with their
// types; the DDL (FMDBSchema.h) is made from it.
//
// Thread safety: the static functions may be called from any thread; each
// call runs in its own transaction scope.
#ifndef FM_PLATFORM_FMALARMTABLEIO_H
#define FM_PLATFORM_FMALARMTABLEIO_H

#include <functional>
#include <string>
#include <vector>

#include "fm_common/platform/AlmRecord.h"

namespace Kyrofmdb {

class SAParam;
class SAField;

// One column of an alarm table and how it maps to the record.
struct FMAlarmColumn {
  enum Type { LONG, SHORT, TEXT };
  std::string name;
  Type type;
  std::function<void(const Kyrofm::AlmRecord_t&, SAParam&)> write;
  std::function<void(const SAField&, Kyrofm::AlmRecord_t&)> read;
};

class FMAlarmTableIO {
 public:
  // Every column of an alarm table, in table order.
  static const std::vector<FMAlarmColumn>& columns();

  // Inserts the records into table in batches of at most 1000 rows, all in one
  // transaction: either every record is written or none. 33000, 33038 without
  // a connection, 33002 on a database error.
  static long writeRecords(const std::string& table, const std::vector<Kyrofm::AlmRecord_t>& records);

  // Reads the rows of table that satisfy condition (SQL text after "where";
  // empty: every row), ordered by orderBy (empty: Csn), into records (cleared
  // first). Text and integer fields come back as written; an extended
  // parameter is set in the record when its column holds a nonzero or
  // non-empty value. 33000, 33038 or 33002.
  static long readRecords(const std::string& table, const std::string& condition,
                          std::vector<Kyrofm::AlmRecord_t>& records, const std::string& orderBy = "");

  // The Csn column of the rows that satisfy condition, ascending.
  static long selectCsns(const std::string& table, const std::string& condition, std::vector<long>& csns);
};

}  // namespace Kyrofmdb

#endif
