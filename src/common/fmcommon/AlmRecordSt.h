// AlmRecordSt.h: AlmRecord_st, an alarm record as display strings.
//
// AlmRecord_st is what the record string map (CRecStringMap::AlmMap and its
// variants, see RecStringMap.h) makes of an AlmRecord_t: every coded field
// turned into the text that clients show, exports write and post-processing
// scripts receive. It is a plain value record; it holds no references into
// the alarm record or the map, and is not synchronised.
//
// Besides the named texts it carries two tables:
//  - strExt: the alarm's string extended parameters, copied cell by cell to
//    the same (row, column) as in the alarm record;
//  - extend: the display texts of the alarm's times and clearance attributes,
//    one text per AlmStExtColumn (below).
//
// Time texts in `extend` are "<date> <time> GMT+hh:mm[ DST]", the date and
// time written with the "date" and "time" formats of the information file:
// the wall-clock time, the zone's standard offset, and " DST" when a
// daylight-saving offset was added (by default "2026-07-01 14:00:00 GMT+01:00
// DST" for noon UTC in Berlin in summer), see CRecStringMap::formatTime2Str. A time of 0 (never happened) is "". Each time
// is written twice: in the NE's own zone (its standard offset plus the NE
// daylight-saving offset in force at that instant), and in the zone the
// caller asked for.
#ifndef FM_FMCOMMON_ALMRECORDST_H
#define FM_FMCOMMON_ALMRECORDST_H

#include <array>
#include <string>

#include "fm_common/platform/AlmRecord.h"

namespace Kyrofm {

// Columns of AlmRecord_st::extend.
enum AlmStExtColumn {
  ALMST_OCCUR_NE = 0,        // occurrence time, NE zone
  ALMST_OCCUR_LOCAL,         // occurrence time, caller's zone
  ALMST_CLEAR_NE,            // clearance time, NE zone
  ALMST_CLEAR_LOCAL,         // clearance time, caller's zone
  ALMST_ACK_NE,              // acknowledgement time, NE zone
  ALMST_ACK_LOCAL,           // acknowledgement time, caller's zone
  ALMST_FIRST_OCCUR_NE,      // first occurrence time, NE zone
  ALMST_FIRST_OCCUR_LOCAL,   // first occurrence time, caller's zone
  ALMST_ARRIVED_NE,          // arrival at the server, NE zone
  ALMST_ARRIVED_LOCAL,       // arrival at the server, caller's zone
  ALMST_CLEAR_CATEGORY,      // clear category text
  ALMST_CLEAR_TYPE,          // clear type text
  ALMST_AFFECT_OPERATION,    // whether the alarm affects operation (business-affected flag)
  ALMST_EXT_COLUMN_COUNT
};

struct AlmRecord_st {
  // Identity, as decimal texts.
  std::string strCsn;         // serial number (log id)
  std::string strAlarmId;     // alarm id
  std::string strDevCsn;      // device serial number
  std::string strOccurCount;  // occurrence count
  std::string strGroupId;     // group id (parameter 6)

  // Coded fields.
  std::string strCategory;    // category, grouped as shown to clients
  std::string strNEType;
  std::string strNEName;      // name of the NE
  std::string strMOName;      // name of the managed object
  std::string strType;
  std::string strLevel;
  std::string strStatus;      // acknowledgement and clearance state
  std::string strAckOperator;    // user name; "" when nobody acknowledged
  std::string strClearOperator;  // user name; "" when nobody cleared
  std::string strExtendInfo;  // additional information, display form
  std::string strLinkName;    // link alarms only
  std::string strLinkType;    // link alarms only
  std::string strCommonLinkType;  // link type text of every alarm
  std::string strIdentifier;  // "(name)" per identifier flag
  std::string strAlarmName;

  // Knowledge base texts.
  std::string strExplanation;
  std::string strClearAdvice;

  XRFMStrSeqSeq strExt;
  std::array<std::string, ALMST_EXT_COLUMN_COUNT> extend;
};

}  // namespace Kyrofm

#endif
