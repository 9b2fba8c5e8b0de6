// Alarm records as display strings: lookups, no user service, zones and DST, unknown clearance codes.
#include <gtest/gtest.h>

#include "fm_common/fmcommon/RecStringMap.h"
#include "fm_common/fmlog/AlarmExpQueryer.h"
#include "fm_common/platform/CCentralCfg.h"
#include "fm_common/platform/CUserIDMaintain.h"
#include "fm_common/platform/EAMUtil2DB.h"
#include "fm_common/platform/FMDBTools.h"
#include "fm_common/platform/FMResult.h"
#include "fm_common/platform/KyroMsg.h"
#include "fm_common/time/XRFMTimeCond.h"
#include "time_test_server.h"

namespace Kyrofm {
namespace {

const long kJuly = 1782907200, kJanuary = 1767268800;  // 2026-07-01 and 2026-01-01, 12:00 UTC

class RecStringMapDisplayTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CRecStringMap::Destroy(), XRFMTimeCondMgr::destroy();
    CCentralCfg::SetRecConfigFileName(std::string(FM_SOURCE_DIR) + "/etc/fm.xml"), m = CRecStringMap::Instance();
    EAMUtil2DB::SetZoneInfoByNe("NE=berlin", "Europe/Berlin"), CUserIDMaintain::SetUserID("alice", "SM_ROOT", 7);
    r.setNE({"NE=berlin", 1003}), r.setMoDn("NE=berlin,Board=3"), r.setLinkDn("Link=7");
    r.setCategory(1), r.setAlarmType(4), r.setSeverity(2), r.setAckStatus(1);
    r.setLogId(41), r.setAlarmId(900), r.setGroupId(7712), r.setDevCsn(5000000000L), r.setParam(8, 9);
    r.setAckOperator(7), r.setClearOperator(99), r.setExtendInfo("a=3&semi- b=1"), r.setAddtionalText("fan");
    r.setStrExtParam(1, 2, "rack B"), r.setOccurUtcTime(kJuly), r.setClearUtcTime(kJanuary);
    r.setClearCategory(2), r.setClearType(1), r.setBusinessAffected(1);
  }
  void TearDown() override {
    g_UserMaintain = m_saved, KyroMsg::instance()->clearResStrings(), EAMUtil2DB::RemoveNE("NE=berlin");
    CUserIDMaintain::Clear(), XRFMTimeCondMgr::destroy(), CRecStringMap::Destroy();
  }
  fmtest::ServerZone m_server{"Asia/Shanghai", 28800, 0};
  CUserIDMaintain* m_saved = g_UserMaintain;
  CRecStringMap* m = nullptr;
  AlmRecord_t r;  // an acknowledged link alarm of an NE in Berlin
  AlmRecord_st st;
};

TEST_F(RecStringMapDisplayTest, WholeRecordWithKnownLookups) {
  using Kyrofmdb::CFMDBTools;
  m->setAlmName(AlarmInfo_t(7712, 900), "Fan failure");
  CAlarmExpQueryer::destroy(), CFMDBTools::ExecuteSQL("delete from tbl_alm_exp_info where GroupID=7712");
  CFMDBTools::ExecuteSQL("insert into tbl_alm_exp_info (GroupID, AlarmID, ReasonID, Explain, ClearAdvice) "
                         "values (7712, 900, 0, 'Fan stopped', 'Replace fan')");
  ASSERT_EQ(m->AlmMap(r, st, 3600), FM_SUCCESS);
  std::list<FMNameValue_t> pairs;
  std::string all;
  m->TransFormAlmInfo2Struct(st, pairs);
  for (const auto& p : pairs) all += p.m_strValue.empty() ? "" : p.m_strName + "=" + p.m_strValue + "\n";
  EXPECT_EQ(all,
            "Serial_number=41\nAlarm_id=900\nEquipment_serial_number=5000000000\nOccurrence_count=0\nGroup_id=7712\n"
            "Alarm_category=Alarm\nNe_type=Base station\nNE_identity=NE=berlin\nObject_identity=NE=berlin,Board=3\n"
            "Alarm_type=Equipment alarm\nAlarm_level=Major\nAlarm_status=Acknowledged and uncleared\n"
            "Acknowledge_operator=alice\nClear_operator=99\nAdditional_information=a=3; b=1 ; fan\n"
            "Link_identity=Link=7\nLink_type=Unknown_link_type\nAlarm_identifier=(Auto-acknowledged)(Root alarm)\n"
            "Alarm_name=Fan failure\nAlarm_explanation=Fan stopped\nClear_advice=Replace fan\n"
            "Occurrence_time_NE=2026-07-01 14:00:00 GMT+01:00 DST\n"
            "Occurrence_time=2026-07-01 13:00:00 GMT+01:00\nClearance_time_NE=2026-01-01 13:00:00 GMT+01:00\n"
            "Clearance_time=2026-01-01 13:00:00 GMT+01:00\nClear_category=ADMC\nClear_type=Manual clear\n"
            "Affect_operation=Yes\nStr_param_1_2=rack B\n");
  r.setCategory(3);  // an event: no status, no clearing operator
  ASSERT_EQ(m->MapAlarmForPostExe(r, st), FM_SUCCESS);
  EXPECT_EQ(st.strStatus + st.strClearOperator + "|" + st.strAckOperator, "|alice");
}

TEST_F(RecStringMapDisplayTest, MissingUserServiceLeavesBaseFieldsEmpty) {
  g_UserMaintain = nullptr;
  EXPECT_EQ(m->AlmMap(r, st), FM_SUCCESS);
  EXPECT_EQ(st.strNEType + st.strStatus + st.strAckOperator + st.strLinkName + "|" + st.strCategory, "|Alarm");
  EXPECT_EQ(m->MapAlarmForPostExe(r, st), FM_FAILURE);
  EXPECT_EQ(st.strLevel + "|" + st.strAckOperator, "Major|");  // post-processing keeps what needs no user
}

TEST_F(RecStringMapDisplayTest, ZonesOfNeAndCaller) {  // texts: occurrence NE|occurrence|clearance
  const std::string summer = "2026-07-01 14:00:00 GMT+01:00 DST|", shanghai = "2026-07-01 20:00:00 GMT+08:00|";
  const struct { const char* ne; long offset; bool dst; std::string texts; } cases[] = {
      {"NE=berlin", 86399, false, summer + "2026-07-02 11:59:59 GMT+23:59|2026-01-02 11:59:59 GMT+23:59"},
      {"NE=berlin", -86399, false, summer + "2026-06-30 12:00:01 GMT-23:59|2025-12-31 12:00:01 GMT-23:59"},
      {"NE=berlin", 86400, false, summer + shanghai + "2026-01-01 20:00:00 GMT+08:00"},
      {"NE=berlin", -86400, false, summer + shanghai + "2026-01-01 20:00:00 GMT+08:00"},
      {"NE=nozone", 0, true, summer + "2026-07-01 12:00:00 GMT+00:00|2026-01-01 12:00:00 GMT+00:00"},
      {"NE=nozone", 86400, true, summer + summer + "2026-01-01 13:00:00 GMT+01:00"},
  };
  for (const auto& c : cases) {
    fmtest::ServerZone server(c.dst ? "Europe/Berlin" : "Asia/Shanghai", c.dst ? 3600 : 28800, 3600 * c.dst);
    XRFMTimeCondMgr::destroy(), r.setNE({c.ne, 1003});
    m->changeAlmIntExtend2Str(r, st, c.offset);
    const auto& e = st.extend;
    EXPECT_EQ(e[ALMST_OCCUR_NE] + "|" + e[ALMST_OCCUR_LOCAL] + "|" + e[ALMST_CLEAR_LOCAL], c.texts) << c.offset;
  }
}

TEST_F(RecStringMapDisplayTest, UnknownClearanceCodesReadAsUnknown) {  // texts: category|type|affect
  KyroMsg::instance()->setResString("/fmAlarmField/AlarmClearType/", "42", L"Reset");
  const struct { long category, type, affect; const char* texts; } cases[] = {
      {1, 42, 0, "ADAC|Reset|No"},
      {3, -1, 2, "unknown_AlarmClearCategory|unknown_AlarmClearType|unknown_IsAffectOperationFlag"}};
  for (const auto& c : cases) {
    r.setClearCategory(c.category), r.setClearType(c.type), r.setBusinessAffected(c.affect), m->AlmMapForExport(r, st);
    const auto& e = st.extend;
    EXPECT_EQ(e[ALMST_CLEAR_CATEGORY] + "|" + e[ALMST_CLEAR_TYPE] + "|" + e[ALMST_AFFECT_OPERATION], c.texts);
  }
}

}  // namespace
}  // namespace Kyrofm
