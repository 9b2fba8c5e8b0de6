// FMDBIdUtil.h: the identifier storage of the fault-management database
// library, and the state of one identifier kind.
//
// The identifier allocator (FMIdMgr.h) keeps, per identifier kind, a
// persisted high-water mark and its generation counter in the table
// tbl_fm_id (IdType, IdName, MemMax, DBMax, DBTimer). This utility reads all
// kinds of that table and writes one kind back, each in its own transaction
// through the connection guard.
//
// Loading sets lMemMax, the next identifier to hand out, from the persisted
// mark: no identifier at or above the mark has ever been handed out, so the
// counter resumes there (or higher, when the stored MemMax column lies above
// it). A mark at the top of the identifier range (2147483647) means the range
// is used up: the counter is loaded as 0, so the next request restarts the
// kind at 1 instead of handing out 2147483647 a second time.
//
// Thread safety: the static functions may be called from any thread.
#ifndef FM_FMCOMMON_FMDBIDUTIL_H
#define FM_FMCOMMON_FMDBIDUTIL_H

#include <cstdint>
#include <map>
#include <string>

namespace Kyrofmdb {

// Identifier kinds. The kinds in use and their states come from tbl_fm_id;
// any integer stored there is a kind. Kind 3 names temporary tables.
enum FMIDTYPE : int {
  FM_IDTYPE_TEMPTABLE = 3,
};

// State of one identifier kind.
struct SFMID {
  int32_t lMemMax = 0;   // next identifier to hand out (in memory)
  int32_t lDBMax = 0;    // persisted mark: no identifier at or above it has been handed out
  int32_t lDBTimer = 0;  // generation counter, incremented at every persisted change
  std::string strName;   // the kind's parameter name in the configuration file
};

class CFMDBIdUtil {
 public:
  // Fills ids with one entry per kind stored in table (entries of other kinds
  // are left alone). 33000; 33038 without a database connection; 33021 for a
  // bad table name; 33002 on any other failure (ids unchanged then).
  static long initDBIdFromDB(const std::string& table, std::map<FMIDTYPE, SFMID>& ids);

  // Stores the values of one kind (the row is made when missing). 33000,
  // 33038, 33021 or 33002; on failure the table is unchanged.
  static long setDBIdToDB(const std::string& table, FMIDTYPE type, const SFMID& sfmid);

  // The counter a kind resumes at when its stored mark is dbMax and its
  // stored counter memMax (see the top of this file).
  static int32_t resumeCounter(int64_t memMax, int64_t dbMax);
};

}  // namespace Kyrofmdb

#endif
