// FMDBIdUtil.h: the identifier storage of the database library.
//
// The identifier allocator keeps, per identifier kind, a persisted high-water
// mark in tbl_fm_id (IdType, IdName, MemMax, DBMax, DBTimer). These two
// functions load and store those rows for any state record that has the
// members lMemMax, lDBMax, lDBTimer (integers) and strName (string), keyed by
// a kind that converts to and from int.
//
// On load lMemMax is set to lDBMax: no identifier at or above the persisted
// mark was handed out before, so handing out from the mark on never repeats
// one.
//
// Thread safety: may be called from any thread; each call is one transaction.
#ifndef FM_PLATFORM_FMDBIDUTIL_H
#define FM_PLATFORM_FMDBIDUTIL_H

#include <map>
#include <string>
#include <vector>

namespace Kyrofmdb {

// One row of the identifier table.
struct FMDBIdRow {
  int iType = 0;
  std::string strName;
  long lMemMax = 0;
  long lDBMax = 0;
  long lDBTimer = 0;
};

class CFMDBIdUtil {
 public:
  // Every row of table. 33000, 33038, 33021 or 33002.
  static long loadRows(const std::string& table, std::vector<FMDBIdRow>& rows);
  // Inserts or replaces the row of row.iType. 33000, 33038, 33021 or 33002.
  static long storeRow(const std::string& table, const FMDBIdRow& row);
};

// Fills ids with one state per kind stored in table.
template <typename Kind, typename State>
long initDBIdFromDB(const std::string& table, std::map<Kind, State>& ids) {
  std::vector<FMDBIdRow> rows;
  long rc = CFMDBIdUtil::loadRows(table, rows);
  if (rc != 33000) return rc;
  for (const auto& r : rows) {
    State& s = ids[static_cast<Kind>(r.iType)];
    s.lDBMax = static_cast<decltype(s.lDBMax)>(r.lDBMax);
    s.lMemMax = static_cast<decltype(s.lMemMax)>(r.lDBMax);
    s.lDBTimer = static_cast<decltype(s.lDBTimer)>(r.lDBTimer);
    s.strName = r.strName;
  }
  return rc;
}

// Stores the state of one kind.
template <typename Kind, typename State>
long setDBIdToDB(const std::string& table, Kind type, const State& state) {
  FMDBIdRow row;
  row.iType = static_cast<int>(type);
  row.strName = state.strName;
  row.lMemMax = state.lMemMax;
  row.lDBMax = state.lDBMax;
  row.lDBTimer = state.lDBTimer;
  return CFMDBIdUtil::storeRow(table, row);
}

}  // namespace Kyrofmdb

#endif
