// Alarm sequence conversions: round trips, recomputed columns, mediation alarms, list rules, shapes, bad texts.
#include <gtest/gtest.h>

#include <random>

#include "fm_common/fmcommon/AlmSeqConvert.h"
#include "fm_common/fmcommon/FdnManager.h"
#include "fm_common/fmcommon/KyroSettingOP.h"
#include "fm_common/fmcommon/RecStringMap.h"
#include "fm_common/platform/CCentralCfg.h"
#include "fm_common/platform/FMResult.h"
#include "fm_common/platform/KyroCommonUtils.h"
#include "fm_common/platform/KyroGlobalUtils.h"
#include "fm_common/time/XRFMTimeCond.h"
#include "support/FmTestSupport.h"
#include "time_test_server.h"

namespace Kyrofm {
namespace {

class AlmSeqConvertTest : public ::testing::Test {
 protected:
  void SetUp() override {  // alarm types 1..11, levels 1..4
    CCentralCfg::SetRecConfigFileName(std::string(FM_SOURCE_DIR) + "/etc/fm.xml");
    CRecStringMap::Destroy(), CRecStringMap::Instance(), CKyroSettingOP::instance(), cap.sink().clear();
  }
  void TearDown() override { CRecStringMap::Destroy(), CCentralCfg::SetRecConfigFileName(""); }
  fmtest::ServerZone zone{"UTC", 3600, 1800};  // server time disagrees with the host: DST offset 1800 always
  fmtest::TraceCapture cap;
};

std::string text(std::mt19937_64& g) {  // multibyte, and bytes that are no UTF-8 at all
  static const char* parts[] = {"a", "Z", " ", "\xC3\xA9", "\xE4\xB8\xAD", "\xF0\x9F\x98\x80", "\xFF", "\xC3"};
  std::string s;
  for (size_t n = g() % 12; n > 0; --n) s += parts[g() % 8];
  return s;
}

AlmRecord_t randomRecord(std::mt19937_64& g) {
  AlmRecord_t r;
#define FM_T_L(N) r.set##N(static_cast<decltype(r.get##N())>(g()));
#define FM_T_S(N) r.set##N(text(g));
  FM_ALMRECORD_LONG_FIELDS(FM_T_L) FM_ALMRECORD_CHAR_FIELDS(FM_T_L)
  FM_ALMRECORD_CSTR_FIELDS(FM_T_S) FM_ALMRECORD_STR_FIELDS(FM_T_S)
  r.setNE({text(g), static_cast<long>(g())});
  for (int i = 1; i <= 10; ++i) r.setParam(i, static_cast<long>(g()));
  r.setParamFlagWord(g());
  const unsigned fill = g() % 3;  // none, half or every cell of the shape, and one cell beyond it
  for (int row = 0; row < 4; ++row) {
    for (int c = 0; c < 40; ++c) {
      if (g() % 2 >= fill && !(row == 3 && c == 39)) continue;
      r.setIntExtParam(row, c, static_cast<long>(g()));
      r.setStrExtParam(row, c, text(g));
    }
  }
  if (g() % 2) r.setIntExtParam(0, 4, 0), r.setIntExtParam(0, 6, 0);
  r.setIntExtParam(0, 5, (static_cast<long>(g() % 43201) << 16) | static_cast<long>(g() % 43201));
  r.setIntExtParam(1, 1, static_cast<long>(g() % 4000000000u));
  return r;
}

void expectCarried(const AlmRecord_t& a, const AlmRecord_t& b) {
#define FM_T_EQ(N) EXPECT_EQ(a.get##N(), b.get##N()) << #N;
#define FM_T_SEQ(N) EXPECT_STREQ(a.get##N(), b.get##N()) << #N;
  FM_ALMRECORD_LONG_FIELDS(FM_T_EQ) FM_ALMRECORD_CHAR_FIELDS(FM_T_EQ)
  FM_ALMRECORD_CSTR_FIELDS(FM_T_SEQ) FM_ALMRECORD_STR_FIELDS(FM_T_EQ)
  EXPECT_TRUE(a.getNE() == b.getNE());
  for (int i = 1; i <= 10; ++i) EXPECT_EQ(a.getParam(i), b.getParam(i)) << i;
  EXPECT_EQ(a.getParamFlagWord(), b.getParamFlagWord());
  const XRFMExtMetadata &im = AlmRecord_t::intExtMetadata, &sm = AlmRecord_t::strExtMetadata;
  auto u = [](long v) { return static_cast<unsigned long>(v); };
  const long z = 3600, t = a.getIntExtParam(1, 1), clr = a.getIntExtParam(0, 4), ack = a.getIntExtParam(0, 6);
  const long svrDst = (a.getIntExtParam(0, 5) & 0xFFFF) - 21600;
  for (int r = 0; r < im.getRowCount(); ++r) {
    for (int c = 0; c < im.getColumnCount(r); ++c) {
      long want = a.getIntExtParam(r, c);
      if (r == 0 && (c == 21 || c == 22)) want = static_cast<long>(u(t) + z + 1800);
      if (r == 0 && c == 23) want = clr == 0 ? 0 : static_cast<long>(u(clr) + z + u(svrDst));
      if (r == 0 && c == 24) want = ack == 0 ? 0 : static_cast<long>(u(ack) + z + u(a.getIntExtParam(0, 7)));
      EXPECT_EQ(b.getIntExtParam(r, c), want) << r << "," << c;  // the string shape lies inside the integer one
      EXPECT_STREQ(b.getStrExtParam(r, c), sm.contains(r, c) ? a.getStrExtParam(r, c) : "") << r << "," << c;
    }
  }
  EXPECT_EQ(b.getIntExtParam(3, 39), 0);  // beyond the shape: not carried
}

TEST_F(AlmSeqConvertTest, RandomRecordsSurviveBothSequences) {
  std::mt19937_64 g(20261205);
  std::list<AlmRecord_t> in, viaNb, viaIt;
  for (int i = 0; i < 60; ++i) in.push_back(randomRecord(g));
  AlmRecordSeq nb;
  ITAlmRecordSeq it;
  ASSERT_EQ(CAlmRecordListToAlmRecordSeqNB(in, nb), FM_SUCCESS);
  // Bytes that are no UTF-8 travel escaped (reported as not clean) and come back unchanged.
  ASSERT_EQ(CAlmRecordListToITAlmRecordSeq(in, it), FM_PARTIAL_SUCCESS);
  ASSERT_EQ(AlmRecordSeqNBToCAlmRecordList(nb, viaNb), FM_SUCCESS);
  ASSERT_EQ(ITAlmRecordSeqToCAlmRecordList(it, viaIt), FM_SUCCESS);
  ASSERT_EQ(viaNb.size(), 60u); ASSERT_EQ(viaIt.size(), 60u);
  auto b = viaNb.begin(), w = viaIt.begin();
  for (const AlmRecord_t& a : in) expectCarried(a, *b++), expectCarried(a, *w++);
}

TEST_F(AlmSeqConvertTest, IdentifiersFromTheFdnManager) {
  CFdnManager* m = CFdnManager::instance();
  const long mo = m->GetIntFdn("seqconv=1,mo=1"), ne = m->GetIntFdn("seqconv=1"), link = m->GetIntFdn("seqconv=1,l=2");
  struct { const char* moDn; long preMo, preNe, flag, wantMo, wantNe, want17; } cases[] = {
      {"seqconv=1,mo=1", 0, 0, 1, mo, ne, 9}, {"seqconv=1,mo=1", 7, -3, 3, 7, 0, 2}, {"seqconv=1,mo=1", 0, 5, 3, mo, 5, 2},
      {"seqconv=9", 0, 0, 1, 0, ne, 9}};  // an unknown FDN answers -100, written as 0
  for (const auto& k : cases) {
    AlmRecord_t r;
    r.setMoDn(k.moDn), r.setNE({"seqconv=1", 1}), r.setLinkDn("seqconv=1,l=2"), r.setAlarmEventFlag(k.flag);
    r.setIntExtParam(0, 16, k.preMo), r.setIntExtParam(0, 15, k.preNe), r.setIntExtParam(0, 17, 9);
    IntSeqSeq out;
    IntExtPara_C2I_ForDS(r, out);
    EXPECT_EQ(out[0][16], k.wantMo); EXPECT_EQ(out[0][15], k.wantNe); EXPECT_EQ(out[0][18], link);
    EXPECT_EQ(out[0][17], k.want17); EXPECT_EQ(out[1].length(), 12u);
  }
}

NEALARMRECORDEx goodAlarm(std::vector<long> row1 = {}) {  // row1: the NE time row of the integer matrix
  NEALARMRECORDEx a;
  a.cType = 2, a.lNEType = 7, a.cLevel = 1, a.strFDN = "ne=1,b=2", a.strNEFDN = "ne=1", a.iStatus = 1;
  a.lDevCsn = 5, a.lId = 1001, a.lDate = 20240102, a.lTime = 30405, a.lLinkType = 0, a.lParams.length(6);
  for (CORBA::ULong i = 0; i < 6; ++i) a.lParams[i] = 100 + i;
  if (!row1.empty()) a.intExtPara.length(2), a.intExtPara[1].length(static_cast<CORBA::ULong>(row1.size()));
  for (size_t i = 0; i < row1.size(); ++i) a.intExtPara[1][static_cast<CORBA::ULong>(i)] = row1[i];
  return a;
}

TEST_F(AlmSeqConvertTest, MediationAlarmRejections) {
  using Mut = void (*)(NEALARMRECORDEx&);
  const struct { Mut mut; int syn; std::string msg; } cases[] = {
      {[](NEALARMRECORDEx& a) { a.cType = 12; }, 1, "MedAlmToFMAlm, alm_out.cType is invalid: 12"},
      {[](NEALARMRECORDEx& a) { a.cLevel = 5; }, 1, "MedAlmToFMAlm, alm_out.cLevel is invalid: 5"},
      {[](NEALARMRECORDEx& a) { a.iStatus = 4; }, 1, "MedAlmToFMAlm, alm_out.iStatus is invalid: 4"},
      {[](NEALARMRECORDEx& a) { a.iStatus = 2; }, 2, "MedAlmToFMAlm, not match syn type, active, ne is: ne=1, dev is: 5"},
      {[](NEALARMRECORDEx& a) { a.strLinkFDN = std::string(256, 'l').c_str(); }, 1,
       "MedAlmToFMAlm, alm.LinkFDN is invalid: " + std::string(256, 'l')},
      {[](NEALARMRECORDEx& a) { a = goodAlarm({5, 6, 0, 0, 0, 0, 0, 0, 0, 0, 17, 0}); }, 1,
       "MedAlmToFMAlm, alm.getSpecialAlmStatus() is invalid: 17"},
  };
  for (const auto& k : cases) {
    NEALARMRECORDEx a = goodAlarm();
    AlmRecord_t r;
    k.mut(a), cap.sink().clear();
    EXPECT_EQ(MedAlmToFMAlm(a, k.syn, r), FM_FAILURE) << k.msg;
    EXPECT_EQ(cap.count(k.msg, TRACE_ERROR), 1u) << k.msg;
  }
  NEALARMRECORDEx a = goodAlarm();
  a.iStatus = 3;  // acknowledged passes an active synchronisation; the extend info is cut, not refused
  a.strExtendInfo = std::string(1030, 'x').c_str();
  AlmRecord_t r;
  ASSERT_EQ(MedAlmToFMAlm(a, 2, r), FM_SUCCESS);
  EXPECT_EQ(std::string(r.getExtendInfo()).size(), 1024u);
  EXPECT_TRUE(cap.contains("MedAlmToFMAlm, alm.strExtendInfo.length() is too long", TRACE_ERROR));
  EXPECT_EQ(r.getAckStatus(), 1); EXPECT_EQ(r.getAckOperator(), -1); EXPECT_EQ(r.getGroupId(), 105);
}

TEST_F(AlmSeqConvertTest, MediationAlarmTimes) {
  const long plainUtc = 1704164645, sec = 1700000000;  // 2024-01-02 03:04:05 host (UTC) time
  CMOTimeInfo ne;  // an NE of unknown zone: the server's time
  XRFMTimeCondMgr::instance()->GetNECurrentTime("ne=1", sec, ne);
  const struct { std::vector<long> row; long neTime, utc, dst, clearCat, clearType; bool noTz; } cases[] = {
      {{}, plainUtc + 3600, plainUtc, 0, 1, 0, false},
      {{0, 0, 0}, plainUtc + 3600, plainUtc, 0, 1, 0, true},
      {{sec, sec - 60, 1800}, sec, sec - 60, 1800, 0, 0, false},
      {{sec, 0, 1800}, sec, sec - 1800 - 3600, 1800, 0, 0, false},
      {{0, sec, 0}, ne.m_lNELocalTime, sec, ne.m_lNEDstOffset, 0, 0, false},
      {{sec, sec, 0, 0, 2, 4, 1, 3, 2, 0, 16}, sec, sec, 0, 0, 0, false},  // 11 values: the tail is not read
      {{sec, sec, 0, 0, 2, 4, 1, 3, 2, 0, 16, 0}, sec, sec, 0, 2, 4, false},
  };
  for (const auto& k : cases) {
    NEALARMRECORDEx a = goodAlarm(k.row);
    AlmRecord_t r;
    cap.sink().clear();
    ASSERT_EQ(MedAlmToFMAlm(a, 1, r), FM_SUCCESS);
    EXPECT_EQ(r.getOccurNeTime(), k.neTime); EXPECT_EQ(r.getOccurUtcTime(), k.utc); EXPECT_EQ(r.getOccurDst(), k.dst);
    EXPECT_EQ(r.getClearCategory(), k.clearCat); EXPECT_EQ(r.getClearType(), k.clearType);
    EXPECT_EQ(cap.contains("kao ne:ne=1 not support tzdst, devcsn:5, id:1001", TRACE_PROGRESS), k.noTz);
    EXPECT_EQ(r.getSpecialAlmStatus(), k.row.size() == 12 ? 16 : 0); EXPECT_EQ(r.getProcessMode(), k.clearType ? 2 : 0);
  }
}

TEST_F(AlmSeqConvertTest, ListsSkipRejectedAndKeepFirstDeviceCsn) {
  NEALARMRECORDLISTEx list;
  const struct { long csn; const char* ne; const char* link; long status; } in[] = {
      {5, "ne=1", "l=1", 1}, {5, "ne=1", "l=1", 3}, {0, "ne=1", "l=1", 1}, {0, "ne=1", "l=1", 1},
      {6, "ne=2", "l=1", 1}, {7, "ne=1", "l=1", 9}, {8, "ne=1", "l=2", 1}};
  for (CORBA::ULong i = 0; i < 7; ++i) {
    list.length(i + 1), list[i] = goodAlarm(), list[i].lDevCsn = in[i].csn, list[i].strNEFDN = in[i].ne;
    list[i].strLinkFDN = in[i].link, list[i].iStatus = in[i].status;
  }
  std::multimap<long, AlmRecord_t> map{{8, AlmRecord_t()}};
  ASSERT_EQ(neAlmSeqToList(list, "ne=1", 1, map), FM_SUCCESS);
  EXPECT_EQ(map.size(), 4u); EXPECT_EQ(map.count(0), 2u); EXPECT_EQ(map.find(5)->second.getAckStatus(), 0);
  EXPECT_EQ(cap.count("MedAlmToFMAlm failed  input fdn is: ne=1, synType is: 1", TRACE_ERROR), 1u);
  EXPECT_EQ(cap.count("neAlmSeqToList, alm.NE.strNEFDN, input fdn is: ne=1, ne=2", TRACE_ERROR), 1u);
  EXPECT_TRUE(cap.contains("neAlmSeqToList, alm_syn, get alarm size is: 3", TRACE_DETAIL));
  std::list<PooledAlmRecord> pooled;  // the same rules
  std::vector<long> csns;
  ASSERT_EQ(neAlmSeqToList(list, "ne=1", 1, pooled), FM_SUCCESS);
  for (const auto& p : pooled) csns.push_back(p->getDevCsn());
  pooled.clear();
  EXPECT_EQ(csns, (std::vector<long>{5, 0, 0, 8})); EXPECT_GE(CAlmRecordPool::instance()->idleCount(), 4u);
  std::list<SynAlm_t> links;
  ASSERT_EQ(linkAlmSeqToList(list, "l=1", 1, links), FM_SUCCESS); ASSERT_EQ(links.size(), 2u);
  EXPECT_EQ(links.front().m_strNeFdn, "ne=1"); EXPECT_EQ(links.front().m_mapAlarms.size(), 4u);
  EXPECT_EQ(links.back().m_strNeFdn, "ne=2"); EXPECT_EQ(links.back().m_mapAlarms.size(), 1u);
  EXPECT_TRUE(cap.contains("linkAlmSeqToList, alm.LinkFDN is: l=2, not equal input: l=1", TRACE_ERROR));
}

TEST_F(AlmSeqConvertTest, MatrixShapesAndTextsThatDoNotConvert) {
  StrSeqSeq s;  // rows longer and shorter than the shape, and a row beyond it
  s.length(3), s[0].length(10), s[1].length(1), s[2].length(1);
  for (CORBA::ULong c = 0; c < 10; ++c) s[0][c] = std::to_string(c).c_str();
  s[1][0] = "x", s[2][0] = "beyond";
  XRFMStrSeqSeq x;
  StrExtPara_S2X(s, x);
  EXPECT_STREQ(x.getValue(0, 7, nullptr), "7"); EXPECT_EQ(x.getValue(0, 8, nullptr), nullptr);
  EXPECT_EQ(x.getValue(2, 0, nullptr), nullptr);
  StrExtPara_X2S(XRFMStrSeqSeq(), s);  // an empty matrix gives the full shape of empty texts
  ASSERT_EQ(s.length(), 2u); EXPECT_EQ(s[1].length(), 8u); EXPECT_STREQ(s[1][7], "");
  WStrSeqSeq w;
  w.length(1), w[0].length(3), w[0][0] = L"\xD800x", w[0][1] = L"\xDCFF\x110000", w[0][2] = L"\x7FF\x800\xFFFF\x10000";
  WStrExtPara_S2X(w, x);
  EXPECT_STREQ(x.getValue(0, 0, ""), "?x"); EXPECT_STREQ(x.getValue(0, 1, ""), "\xFF?");
  EXPECT_STREQ(x.getValue(0, 2, ""), "\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBF\xF0\x90\x80\x80");  // each length's edges
  ITAlmRecordSeq it;  // a record whose text does not convert is kept, with '?'
  std::list<AlmRecord_t> out;
  it.length(1), it[0].strMoDn = L"a\xD800";
  EXPECT_EQ(ITAlmRecordSeqToCAlmRecordList(it, out), FM_PARTIAL_SUCCESS);
  ASSERT_EQ(out.size(), 1u); EXPECT_EQ(out.front().getMoDn(), "a?");
  KyroCommonUtils::setGlobalVersion(false), KyroGlobalUtils::setLocalCharset("GBK"), CKyroSettingOP::destroy();
  std::wstring wide;  std::string narrow;
  EXPECT_EQ(FMNarrowToWide("\xD6\xD0", wide), FM_SUCCESS); EXPECT_EQ(wide, L"\x4E2D");
  EXPECT_EQ(FMWideToNarrow(L"\x4E2D", narrow), FM_SUCCESS); EXPECT_EQ(narrow, "\xD6\xD0");
  EXPECT_EQ(FMWideToNarrow(L"\x1F600", narrow), FM_FAILURE); EXPECT_EQ(narrow, "\xF0\x9F\x98\x80");
  KyroCommonUtils::setGlobalVersion(true), KyroGlobalUtils::setLocalCharset(""), CKyroSettingOP::destroy();
}

}  // namespace
}  // namespace Kyrofm
