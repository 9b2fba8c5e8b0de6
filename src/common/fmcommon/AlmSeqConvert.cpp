// AlmSeqConvert.cpp: alarm records to and from the CORBA alarm structures:
// extended-parameter matrices, mediation alarms with their checks and times,
// synchronisation lists, and the client and northbound record sequences.
#include "fm_common/fmcommon/AlmSeqConvert.h"

#include "fm_common/platform/CAlmIdAdpter.h"

#include <strings.h>

#include <algorithm>
#include <atomic>
#include <iterator>
#include <ctime>
#include <exception>
#include <new>
#include <set>

#include "fm_common/fmcommon/AlmValidCheck.h"
#include "fm_common/fmcommon/FdnManager.h"
#include "fm_common/fmcommon/KyroSettingOP.h"
#include "fm_common/fmcommon/SysAttr.h"
#include "fm_common/platform/FMResult.h"
#include "fm_common/platform/KyroGlobalUtils.h"
#include "fm_common/platform/KyroTrace.h"
#include "fm_common/time/XRFMTimeCond.h"
#include "fm_common/time/XRFMTimeUtil.h"

namespace Kyrofm {

namespace {

// a + b (+ c) modulo 2^64: a time sum that leaves the range wraps instead of
// being undefined.
long wrapAdd(long a, long b, long c = 0) {
  return static_cast<long>(static_cast<unsigned long>(a) + static_cast<unsigned long>(b) +
                           static_cast<unsigned long>(c));
}

// ---------------------------------------------------------------------------
// Narrow and wide texts

// The service's character set, decided once per conversion call.
struct Charset {
  std::string name;  // empty for UTF-8
  Charset() {
    CKyroSettingOP* op = CKyroSettingOP::instance();
    if (op == nullptr || op->IsGlobalVersion() || op->isForceToUseUTF8()) return;
    std::string cs = op->GetLocalCharSet();
    if (cs.empty() || strcasecmp(cs.c_str(), "UTF-8") == 0 || strcasecmp(cs.c_str(), "UTF8") == 0) return;
    name = cs;
  }
};

constexpr wchar_t kEscapeBase = 0xDC00;  // U+DC80..U+DCFF carry undecodable bytes

// UTF-8 to wide; an undecodable byte b becomes U+DC00 + b. True when every
// byte decoded.
bool utf8ToWide(const std::string& in, std::wstring& out) {
  out.clear();
  out.reserve(in.size());
  bool clean = true;
  const auto* p = reinterpret_cast<const unsigned char*>(in.data());
  const size_t n = in.size();
  for (size_t i = 0; i < n;) {
    unsigned c = p[i];
    if (c < 0x80) {
      out.push_back(static_cast<wchar_t>(c));
      ++i;
      continue;
    }
    size_t len = 0;
    unsigned cp = 0, min = 0;
    if (c >= 0xC2 && c <= 0xDF) len = 2, cp = c & 0x1F, min = 0x80;
    else if (c >= 0xE0 && c <= 0xEF) len = 3, cp = c & 0x0F, min = 0x800;
    else if (c >= 0xF0 && c <= 0xF4) len = 4, cp = c & 0x07, min = 0x10000;
    bool ok = len != 0 && i + len <= n;
    for (size_t k = 1; ok && k < len; ++k) {
      if ((p[i + k] & 0xC0) != 0x80) ok = false;
      else cp = (cp << 6) | (p[i + k] & 0x3F);
    }
    if (ok && (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))) ok = false;
    if (!ok) {
      out.push_back(static_cast<wchar_t>(kEscapeBase + c));
      clean = false;
      ++i;
      continue;
    }
    out.push_back(static_cast<wchar_t>(cp));
    i += len;
  }
  return clean;
}

// Wide to UTF-8; U+DC80..U+DCFF give back their byte, any other surrogate or
// a value above U+10FFFF becomes '?'. True when every character was written.
bool wideToUtf8(const wchar_t* in, std::string& out) {
  out.clear();
  bool clean = true;
  for (const wchar_t* w = in; w != nullptr && *w != 0; ++w) {
    const unsigned long cp = static_cast<unsigned long>(static_cast<unsigned>(*w));
    if (cp < 0x80) {
      out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp >= 0xDC80 && cp <= 0xDCFF) {
      out.push_back(static_cast<char>(cp - kEscapeBase));
    } else if ((cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) {
      out.push_back('?');
      clean = false;
    } else if (cp < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
  }
  return clean;
}

bool narrowToWide(const Charset& cs, const std::string& in, std::wstring& out) {
  if (cs.name.empty()) return utf8ToWide(in, out);
  std::string utf8;
  bool clean = KyroGlobalUtils::KyroCodeSetConvert(cs.name, "UTF-8", in, utf8) == KYRO_CONV_SUCCESS;
  return utf8ToWide(utf8, out) && clean;
}

bool wideToNarrow(const Charset& cs, const wchar_t* in, std::string& out) {
  bool clean = wideToUtf8(in, out);
  if (!cs.name.empty() && KyroGlobalUtils::KyroCodeSetConvert("UTF-8", cs.name, out, out) != KYRO_CONV_SUCCESS) {
    clean = false;
  }
  return clean;
}

CORBA::WChar* wideDup(const std::wstring& w) { return CORBA::wstring_dup(w.c_str()); }

// ---------------------------------------------------------------------------
// Extended parameters

template <typename Seq>
void shapeLike(const XRFMExtMetadata& meta, Seq& out) {
  const int rows = meta.getRowCount();
  out.length(static_cast<CORBA::ULong>(rows));
  for (int r = 0; r < rows; ++r) out[static_cast<CORBA::ULong>(r)].length(static_cast<CORBA::ULong>(meta.getColumnCount(r)));
}

// Element (row, col) of a matrix sequence, when the sequence has it.
template <typename Seq, typename V>
void setIfPresent(Seq& seq, int row, int col, const V& v) {
  if (row >= 0 && col >= 0 && static_cast<CORBA::ULong>(row) < seq.length() &&
      static_cast<CORBA::ULong>(col) < seq[static_cast<CORBA::ULong>(row)].length()) {
    seq[static_cast<CORBA::ULong>(row)][static_cast<CORBA::ULong>(col)] = v;
  }
}

template <typename Seq>
long getIfPresent(const Seq& seq, int row, int col) {
  if (row >= 0 && col >= 0 && static_cast<CORBA::ULong>(row) < seq.length() &&
      static_cast<CORBA::ULong>(col) < seq[static_cast<CORBA::ULong>(row)].length()) {
    return static_cast<long>(seq[static_cast<CORBA::ULong>(row)][static_cast<CORBA::ULong>(col)]);
  }
  return 0;
}

// Rows and columns within both the sequence and the string metadata.
template <typename Seq, typename F>
void forStrCells(const Seq& in, F&& f) {
  const XRFMExtMetadata& meta = AlmRecord_t::strExtMetadata;
  const int rows = std::min(static_cast<int>(std::min<CORBA::ULong>(in.length(), 1u << 30)), meta.getRowCount());
  for (int r = 0; r < rows; ++r) {
    const auto& row = in[static_cast<CORBA::ULong>(r)];
    const int cols = std::min(static_cast<int>(std::min<CORBA::ULong>(row.length(), 1u << 30)), meta.getColumnCount(r));
    for (int c = 0; c < cols; ++c) f(r, c, row[static_cast<CORBA::ULong>(c)]);
  }
}

bool wstrS2X(const Charset& cs, const WStrSeqSeq& in, XRFMStrSeqSeq& out) {
  bool clean = true;
  std::string text;
  forStrCells(in, [&](int r, int c, const CORBA::WChar* w) {
    if (!wideToNarrow(cs, w, text)) clean = false;
    out.setValue(r, c, text);
  });
  return clean;
}

bool wstrX2S(const Charset& cs, const XRFMStrSeqSeq& in, WStrSeqSeq& out) {
  const XRFMExtMetadata& meta = AlmRecord_t::strExtMetadata;
  shapeLike(meta, out);
  bool clean = true;
  std::wstring w;
  for (int r = 0; r < meta.getRowCount(); ++r) {
    for (int c = 0; c < meta.getColumnCount(r); ++c) {
      if (!narrowToWide(cs, in.getValue(r, c, ""), w)) clean = false;
      out[static_cast<CORBA::ULong>(r)][static_cast<CORBA::ULong>(c)] = wideDup(w);
    }
  }
  return clean;
}

// ---------------------------------------------------------------------------
// Record <-> sequence element. Text policies: narrow copies, wide converts.

struct NarrowText {
  using Member = CORBA::String_member;
  bool clean = true;
  void put(const char* s, Member& m) { m = s; }
  void put(const std::string& s, Member& m) { m = s.c_str(); }
  void get(const Member& m, std::string& s) { s = m.in() != nullptr ? m.in() : ""; }
  void extOut(const XRFMStrSeqSeq& in, StrSeqSeq& out) { StrExtPara_X2S(in, out); }
  void extIn(const StrSeqSeq& in, XRFMStrSeqSeq& out) { StrExtPara_S2X(in, out); }
};

struct WideText {
  using Member = CORBA::WString_member;
  Charset cs;
  bool clean = true;
  std::wstring w;
  void put(const std::string& s, Member& m) {
    if (!narrowToWide(cs, s, w)) clean = false;
    m = wideDup(w);
  }
  void put(const char* s, Member& m) {
    if (!narrowToWide(cs, s, w)) clean = false;
    m = wideDup(w);
  }
  void get(const Member& m, std::string& s) {
    if (!wideToNarrow(cs, m.in(), s)) clean = false;
  }
  void extOut(const XRFMStrSeqSeq& in, WStrSeqSeq& out) {
    if (!wstrX2S(cs, in, out)) clean = false;
  }
  void extIn(const WStrSeqSeq& in, XRFMStrSeqSeq& out) {
    if (!wstrS2X(cs, in, out)) clean = false;
  }
};

template <typename Elem, typename Text>
void recordToElem(const AlmRecord_t& rec, Elem& e, Text& text) {
#define FM_OUT_LONG(Name) e.l##Name = rec.get##Name();
  FM_ALMRECORD_LONG_FIELDS(FM_OUT_LONG)
#undef FM_OUT_LONG
#define FM_OUT_CHAR(Name) e.c##Name = rec.get##Name();
  FM_ALMRECORD_CHAR_FIELDS(FM_OUT_CHAR)
#undef FM_OUT_CHAR
#define FM_OUT_CSTR(Name) text.put(rec.get##Name(), e.str##Name);
  FM_ALMRECORD_CSTR_FIELDS(FM_OUT_CSTR)
#undef FM_OUT_CSTR
#define FM_OUT_STR(Name) text.put(rec.get##Name(), e.str##Name);
  FM_ALMRECORD_STR_FIELDS(FM_OUT_STR)
#undef FM_OUT_STR
  text.put(rec.getNEInfo().strNEFDN, e.strNEFDN);
  e.lNEType = rec.getNEType();
  for (int i = 1; i <= AlmRecord_t::PARAM_COUNT; ++i) e.lParams[i - 1] = rec.getParam(i);
  e.ulParamFlag = static_cast<CORBA::ULong>(rec.getParamFlagWord());
  IntExtPara_C2I_ForProduct(rec.getIntExt(), e.intExtPara);
  text.extOut(rec.getStrExt(), e.strExtPara);
}

template <typename Elem, typename Text>
void elemToRecord(const Elem& e, AlmRecord_t& rec, Text& text) {
#define FM_IN_LONG(Name) rec.set##Name(static_cast<long>(e.l##Name));
  FM_ALMRECORD_LONG_FIELDS(FM_IN_LONG)
#undef FM_IN_LONG
#define FM_IN_CHAR(Name) rec.set##Name(e.c##Name);
  FM_ALMRECORD_CHAR_FIELDS(FM_IN_CHAR)
#undef FM_IN_CHAR
  std::string s;
#define FM_IN_STR(Name) text.get(e.str##Name, s), rec.set##Name(s);
  FM_ALMRECORD_CSTR_FIELDS(FM_IN_STR)
  FM_ALMRECORD_STR_FIELDS(FM_IN_STR)
#undef FM_IN_STR
  NEInfo_t ne;
  text.get(e.strNEFDN, ne.strNEFDN);
  ne.lNEType = static_cast<long>(e.lNEType);
  rec.setNE(ne);
  // Parameter 6 is the group id, which lGroupId already carries.
  for (int i = 1; i <= AlmRecord_t::PARAM_COUNT; ++i) {
    if (i != 6) rec.setParam(i, static_cast<long>(e.lParams[i - 1]));
  }
  rec.setParamFlagWord(e.ulParamFlag);
  IntExtPara_S2X(e.intExtPara, rec.getIntExt());
  text.extIn(e.strExtPara, rec.getStrExt());
}

template <typename Seq, typename Text>
long listToSeq(const char* op, const std::list<AlmRecord_t>& in, Seq& out) {
  try {
    Text text;
    out.length(static_cast<CORBA::ULong>(in.size()));
    long rc = FM_SUCCESS;
    CORBA::ULong i = 0;
    for (const AlmRecord_t& rec : in) {
      text.clean = true;
      recordToElem(rec, out[i++], text);
      if (!text.clean) {
        FM_TRACE(TRACE_ERROR, "%s, ConvertAlarms  fail,ret = %ld", op, FM_FAILURE);
        rc = FM_PARTIAL_SUCCESS;
      }
    }
    return rc;
  } catch (const std::bad_alloc&) {
    out.length(0);
    FM_TRACE(TRACE_ERROR, "%s, ConvertAlarms  fail,ret = %ld", op, FM_NO_MEMORY);
    return FM_NO_MEMORY;
  } catch (...) {
    out.length(0);
    FM_TRACE(TRACE_ERROR, "%s, ConvertAlarms  fail,ret = %ld", op, FM_FAILURE);
    return FM_FAILURE;
  }
}

template <typename Seq, typename Text>
long seqToList(const char* op, const Seq& in, std::list<AlmRecord_t>& out) {
  try {
    Text text;
    std::list<AlmRecord_t> records;
    long rc = FM_SUCCESS;
    for (CORBA::ULong i = 0; i < in.length(); ++i) {
      text.clean = true;
      records.emplace_back();
      elemToRecord(in[i], records.back(), text);
      if (!text.clean) {
        FM_TRACE(TRACE_ERROR, "%s, ConvertAlarms  fail,ret = %ld", op, FM_FAILURE);
        rc = FM_PARTIAL_SUCCESS;
      }
    }
    out.splice(out.end(), records);
    return rc;
  } catch (const std::bad_alloc&) {
    FM_TRACE(TRACE_ERROR, "%s, ConvertAlarms  fail,ret = %ld", op, FM_NO_MEMORY);
    return FM_NO_MEMORY;
  } catch (...) {
    FM_TRACE(TRACE_ERROR, "%s, ConvertAlarms  fail,ret = %ld", op, FM_FAILURE);
    return FM_FAILURE;
  }
}

// ---------------------------------------------------------------------------
// Mediation alarms

// The text of a CORBA string member; a null member reads as "".
const char* orEmpty(const char* s) { return s != nullptr ? s : ""; }

long reject(const char* fmt, long value) {
  FM_TRACE(TRACE_ERROR, fmt, value);
  return FM_FAILURE;
}

// Occurrence from the input's date and time read as host local time.
void plainTimes(const NEALARMRECORDEx& in, AlmRecord_t& out) {
  const long utc = XRFMTimeUtil::UTCTime(static_cast<long>(in.lDate), static_cast<long>(in.lTime), 0);
  out.setOccurUtcTime(utc);
  out.setOccurNeTime(wrapAdd(utc, CSysAttr::Instance()->GetSvrTimeZone()));
  out.setOccurDst(0);
  out.setClearCategory(1);
  out.setClearType(0);
  out.setBusinessAffected(0);
}

void setTimes(const NEALARMRECORDEx& in, AlmRecord_t& out) {
  const IntSeqSeq& m = in.intExtPara;
  if (m.length() < 2 || m[1].length() < 3) {
    plainTimes(in, out);
    return;
  }
  const KyroAlarm::IntSeq& row = m[1];
  const long n = static_cast<long>(row[0]), u = static_cast<long>(row[1]), s = static_cast<long>(row[2]);
  const std::string neFdn = orEmpty(in.strNEFDN.in());
  long neTime = 0, utc = 0, dst = 0;
  if (n < 1 && u < 1) {
    FM_TRACE(TRACE_PROGRESS, "AlmSyn MedAlmToFMAlm, kao ne:%s not support tzdst, devcsn:%ld, id:%ld", neFdn.c_str(),
             static_cast<long>(in.lDevCsn), static_cast<long>(in.lId));
    plainTimes(in, out);
    neTime = out.getOccurNeTime(), utc = out.getOccurUtcTime();
  } else if (n >= 1 && u >= 1) {
    neTime = n, utc = u, dst = s;
  } else if (n >= 1) {
    neTime = n, dst = s;
    utc = wrapAdd(n, -s, -XRFMTimeCondMgr::instance()->NETimeZone(neFdn));
  } else {
    CMOTimeInfo info;
    XRFMTimeCondMgr::instance()->GetNECurrentTime(neFdn, u, info);
    utc = u, neTime = info.m_lNELocalTime, dst = info.m_lNEDstOffset;
  }
  FM_TRACE(TRACE_PROGRESS, "AlmSyn MedAlmToFMAlm lOccurNETime:%ld, lUTCTime:%ld, isDst:%ld", neTime, utc, dst);
  out.setOccurNeTime(neTime);
  out.setOccurUtcTime(utc);
  out.setOccurDst(dst);
  out.setAckUtcTime(0);
  out.setAckDst(0);
  out.setClearNeTime(0);
  out.setClearUtcTime(0);
  out.setClearDst(0);
  if (row.length() > 11) {
    out.setClearCategory(row[4] == 2 ? 2 : 1);
    out.setClearType(static_cast<long>(row[5]));
    out.setBusinessAffected(static_cast<long>(row[6]));
    out.setClearMatchStrategy(static_cast<char>(row[7]));
    out.setProcessMode(static_cast<char>(row[8]));
    out.setSpecialAlmStatus(static_cast<long>(row[10]));
  }
}

long medAlmToFMAlm(const NEALARMRECORDEx& in, int synType, AlmRecord_t& out) {
  out = AlmRecord_t();
  out.setAlarmEventFlag(1);  // a synchronised NE alarm
  // 1. type, 2. NE type, 3. level, 4. object and NE FDN.
  char type = in.cType;
  if (CAlmIdAdpter::IsNeedConvertAlmType()) type = CAlmIdAdpter::ConvertAlmType(type);
  out.setAlarmType(type);
  if (!CAlmValidCheck::isAlmTypeValid(type)) return reject("MedAlmToFMAlm, alm_out.cType is invalid: %ld", type);
  NEInfo_t ne;
  ne.lNEType = static_cast<long>(in.lNEType);
  CAlmValidCheck::isAlmIDValid(ne.lNEType);
  out.setSeverity(in.cLevel);
  if (!CAlmValidCheck::isAlmLevelValid(in.cLevel)) {
    return reject("MedAlmToFMAlm, alm_out.cLevel is invalid: %ld", in.cLevel);
  }
  out.setMoDn(orEmpty(in.strFDN.in()));
  ne.strNEFDN = orEmpty(in.strNEFDN.in());
  out.setNE(ne);
  // 5. status, 6. an active synchronisation takes no cleared alarm.
  switch (in.iStatus) {
    case 1: out.setClearStatus(0), out.setAckStatus(0); break;
    case 2: out.setClearStatus(1), out.setAckStatus(0), out.setClearOperator(-1); break;
    case 3: out.setClearStatus(0), out.setAckStatus(1), out.setAckOperator(-1); break;
    default: return reject("MedAlmToFMAlm, alm_out.iStatus is invalid: %ld", static_cast<long>(in.iStatus));
  }
  if (synType == SYN_TYPE_ACTIVE && out.getClearStatus() == 1) {
    FM_TRACE(TRACE_ERROR, "MedAlmToFMAlm, not match syn type, active, ne is: %s, dev is: %ld", ne.strNEFDN.c_str(),
             static_cast<long>(in.lDevCsn));
    return FM_FAILURE;
  }
  // 7. device CSN and alarm id, 8. texts cut to their limits.
  out.setDevCsn(static_cast<long>(in.lDevCsn));
  out.setAlarmId(static_cast<long>(in.lId));
  CAlmValidCheck::isAlmIDValid(out.getAlarmId());
  StrExtPara_S2X(in.strExtPara, out.getStrExt());
  out.setAgentId(orEmpty(in.strAgentId.in()));
  out.setRootId(orEmpty(in.strRootId.in()));
  out.setHostIP(orEmpty(in.strHostIP.in()));
  out.setMOType(orEmpty(in.strMOType.in()));
  out.setDevRootID(orEmpty(in.strDevRootId.in()));
  CAlmValidCheck::resizeAgentId(out);
  CAlmValidCheck::resizeRootId(out);
  CAlmValidCheck::resizeHostIP(out);
  CAlmValidCheck::resizeMOType(out);
  CAlmValidCheck::resizeDevRootId(out);
  out.setAddtionalText(orEmpty(in.strAddtionalText.in()));
  // 9. times, 10. arrival.
  setTimes(in, out);
  out.setArrivedUtcTime(static_cast<long>(std::time(nullptr)));
  // 11. numbered parameters (6 is the group id).
  const CORBA::ULong params = std::min<CORBA::ULong>(in.lParams.length(), AlmRecord_t::PARAM_COUNT);
  for (CORBA::ULong i = 0; i < params; ++i) out.setParam(static_cast<int>(i) + 1, static_cast<long>(in.lParams[i]));
  // 12. extended information, cut (not refused) when too long.
  std::string info = orEmpty(in.strExtendInfo.in());
  const long limit = XRFMAlarmFieldPropManager::instance()->getAlmLocInfoLimit();
  if (static_cast<long>(info.size()) > limit) {
    FM_TRACE(TRACE_ERROR, "MedAlmToFMAlm, alm.strExtendInfo.length() is too long");
    StringResize(info, static_cast<size_t>(std::max(limit, 0L)));
  }
  out.setExtendInfo(info);
  // 13. link and special status.
  out.setLinkDn(orEmpty(in.strLinkFDN.in()));
  if (!CAlmValidCheck::isLinkFDNValid(out.getLinkDn())) {
    FM_TRACE(TRACE_ERROR, "MedAlmToFMAlm, alm.LinkFDN is invalid: %s", orEmpty(in.strLinkFDN.in()));
    return FM_FAILURE;
  }
  out.setLinkType(static_cast<long>(in.lLinkType));
  if (!CAlmValidCheck::isSpecialAlarmStatusValid(out.getSpecialAlmStatus())) {
    return reject("MedAlmToFMAlm, alm.getSpecialAlmStatus() is invalid: %ld", out.getSpecialAlmStatus());
  }
  FM_TRACE(TRACE_PROGRESS,
           "AlmSyn MedAlmToFMAlm lOccurNETime:%ld, lUTCTime:%ld, isDst:%ld,devCsn:%ld, GroupId:%ld, id:%ld, "
           "nefdn:%s, level:%d, cat:%ld, in clearstrategy:%d",
           out.getOccurNeTime(), out.getOccurUtcTime(), out.getOccurDst(), out.getDevCsn(), out.getGroupId(),
           out.getAlarmId(), ne.strNEFDN.c_str(), out.getSeverity(), out.getClearCategory(),
           out.getClearMatchStrategy());
  return FM_SUCCESS;
}

// Converts the alarms of `in` that pass MedAlmToFMAlm and `accept`; `take`
// receives each. Returns the number taken.
template <typename Accept, typename Take>
size_t convertEach(const NEALARMRECORDLISTEx& in, int synType, const std::string& fdn, bool logFailure,
                   Accept&& accept, Take&& take) {
  size_t taken = 0;
  for (CORBA::ULong i = 0; i < in.length(); ++i) {
    AlmRecord_t rec;
    if (MedAlmToFMAlm(in[i], synType, rec) != FM_SUCCESS) {
      if (logFailure) {
        FM_TRACE(TRACE_ERROR, "MedAlmToFMAlm failed  input fdn is: %s, synType is: %d", fdn.c_str(), synType);
      }
      continue;
    }
    if (!accept(rec)) continue;
    take(std::move(rec));
    ++taken;
  }
  return taken;
}

bool sameNe(const AlmRecord_t& rec, const std::string& neFdn) {
  if (rec.getNEInfo().strNEFDN == neFdn) return true;
  FM_TRACE(TRACE_ERROR, "neAlmSeqToList, alm.NE.strNEFDN, input fdn is: %s, %s", neFdn.c_str(),
           rec.getNEInfo().strNEFDN.c_str());
  return false;
}

}  // namespace

// ---------------------------------------------------------------------------
// CAlmRecordPool

CAlmRecordPool* CAlmRecordPool::instance() {
  static CAlmRecordPool* pool = new CAlmRecordPool();  // outlives every record handed out
  return pool;
}

CAlmRecordPool::Ptr CAlmRecordPool::acquire() {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_idle.empty()) {
      Ptr p(m_idle.back().release());
      m_idle.pop_back();
      return p;
    }
  }
  return Ptr(new AlmRecord_t());
}

size_t CAlmRecordPool::idleCount() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_idle.size();
}

void CAlmRecordPool::giveBack(AlmRecord_t* record) {
  std::unique_ptr<AlmRecord_t> owned(record);  // freed here unless kept
  try {
    *owned = AlmRecord_t();
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_idle.size() < maxIdle()) m_idle.push_back(std::move(owned));
  } catch (...) {
  }
}

void CAlmRecordPool::Return::operator()(AlmRecord_t* record) const {
  if (record != nullptr) CAlmRecordPool::instance()->giveBack(record);
}

// ---------------------------------------------------------------------------
// Texts

long FMNarrowToWide(const std::string& in, std::wstring& out) {
  if (narrowToWide(Charset(), in, out)) return FM_SUCCESS;
  FM_TRACE(TRACE_WARNING, "FMNarrowToWide, some bytes did not convert, text kept escaped");
  return FM_FAILURE;
}

long FMWideToNarrow(const wchar_t* in, std::string& out) {
  if (wideToNarrow(Charset(), in, out)) return FM_SUCCESS;
  FM_TRACE(TRACE_WARNING, "FMWideToNarrow, some characters did not convert: %s", out.c_str());
  return FM_FAILURE;
}

// ---------------------------------------------------------------------------
// Extended parameters

void IntExtPara_S2X(const IntSeqSeq& in, XRFMIntSeqSeq& out) {
  for (CORBA::ULong r = 0; r < in.length(); ++r) {
    for (CORBA::ULong c = 0; c < in[r].length(); ++c) {
      out.setValue(static_cast<int>(r), static_cast<int>(c), static_cast<long>(in[r][c]));
    }
  }
}

void IntExtPara_C2I_ForProduct(const XRFMIntSeqSeq& in, IntSeqSeq& out) {
  using namespace almext;
  const XRFMExtMetadata& meta = AlmRecord_t::intExtMetadata;
  shapeLike(meta, out);
  for (int r = 0; r < meta.getRowCount(); ++r) {
    KyroAlarm::IntSeq& row = out[static_cast<CORBA::ULong>(r)];
    for (int c = 0; c < meta.getColumnCount(r); ++c) row[static_cast<CORBA::ULong>(c)] = in.getValue(r, c, 0);
  }
  const long z = CSysAttr::Instance()->GetSvrTimeZone();
  const long a = in.getValue(ROW_ALARM, COL_CLEAR_UTC, 0);
  const long b = in.getValue(ROW_ALARM, COL_ACK_UTC, 0);
  const long t = in.getValue(ROW_NE_TIME, COL_OCCUR_UTC, 0);
  const long d1 = XRFMTimeUtil::GetSvrCurrentDstOffset(t);
  long neDst = 0, d2 = 0;
  XRFMTimeUtil::HabuDstOffset(in.getValue(ROW_ALARM, COL_CLEAR_DST, 0), neDst, d2);
  setIfPresent(out, ROW_ALARM, COL_CLEAR_SVR, a == 0 ? 0L : wrapAdd(a, z, d2));
  setIfPresent(out, ROW_ALARM, COL_ACK_SVR, b == 0 ? 0L : wrapAdd(b, z, in.getValue(ROW_ALARM, COL_ACK_DST, 0)));
  setIfPresent(out, ROW_ALARM, COL_OCCUR_SVR_B, wrapAdd(t, z, d1));
  setIfPresent(out, ROW_ALARM, COL_OCCUR_SVR_A, wrapAdd(t, z, d1));
}

void IntExtPara_C2I_ForDS(const AlmRecord_t& record, IntSeqSeq& out) {
  using namespace almext;
  const XRFMExtMetadata& meta = AlmRecord_t::intExtMetadata;
  shapeLike(meta, out);
  const XRFMIntSeqSeq& in = record.getIntExt();
  for (int r = 0; r < meta.getRowCount(); ++r) {
    KyroAlarm::IntSeq& row = out[static_cast<CORBA::ULong>(r)];
    for (int c = 0; c < meta.getColumnCount(r); ++c) row[static_cast<CORBA::ULong>(c)] = in.getValue(r, c, 0);
  }
  const struct {
    int col;
    std::string (*fdn)(const AlmRecord_t&);
  } ids[] = {
      {COL_MO_ID, [](const AlmRecord_t& a) { return a.getMoDn(); }},
      {COL_NE_ID, [](const AlmRecord_t& a) { return a.getNEInfo().strNEFDN; }},
      {COL_LINK_ID, [](const AlmRecord_t& a) { return a.getLinkDn(); }},
  };
  for (const auto& id : ids) {
    if (static_cast<CORBA::ULong>(id.col) >= out[ROW_ALARM].length()) continue;
    long v = getIfPresent(out, ROW_ALARM, id.col);
    if (v == 0) v = CFdnManager::instance()->getFdnIdEx(id.fdn(record));
    if (v != 0) setIfPresent(out, ROW_ALARM, id.col, std::max(v, 0L));
  }
  if (record.getAlarmEventFlag() == 3) setIfPresent(out, ROW_ALARM, COL_EVENT_MARK, 2L);
}

void StrExtPara_S2X(const StrSeqSeq& in, XRFMStrSeqSeq& out) {
  forStrCells(in, [&](int r, int c, const char* s) { out.setValue(r, c, s != nullptr ? s : ""); });
}

void StrExtPara_X2S(const XRFMStrSeqSeq& in, StrSeqSeq& out) {
  const XRFMExtMetadata& meta = AlmRecord_t::strExtMetadata;
  shapeLike(meta, out);
  for (int r = 0; r < meta.getRowCount(); ++r) {
    for (int c = 0; c < meta.getColumnCount(r); ++c) {
      const char* v = in.getValue(r, c, nullptr);
      out[static_cast<CORBA::ULong>(r)][static_cast<CORBA::ULong>(c)] = v != nullptr ? v : "";
    }
  }
}

void WStrExtPara_S2X(const WStrSeqSeq& in, XRFMStrSeqSeq& out) {
  if (!wstrS2X(Charset(), in, out)) FM_TRACE(TRACE_WARNING, "WStrExtPara_S2X, some texts did not convert");
}

void WStrExtPara_X2S(const XRFMStrSeqSeq& in, WStrSeqSeq& out) {
  if (!wstrX2S(Charset(), in, out)) FM_TRACE(TRACE_WARNING, "WStrExtPara_X2S, some texts did not convert");
}

// ---------------------------------------------------------------------------
// Mediation alarms

long MedAlmToFMAlm(const NEALARMRECORDEx& in, int synType, AlmRecord_t& out) {
  try {
    return medAlmToFMAlm(in, synType, out);
  } catch (const std::exception& e) {
    FM_TRACE(TRACE_ERROR, "MedAlmToFMAlm, exception: %s", e.what());
  } catch (...) {
    FM_TRACE(TRACE_ERROR, "MedAlmToFMAlm, unknown exception");
  }
  return FM_FAILURE;
}

long neAlmSeqToList(const NEALARMRECORDLISTEx& in, const std::string& neFdn, int synType,
                    std::multimap<long, AlmRecord_t>& out) {
  FM_FUNC_TRACE("neAlmSeqToList");
  try {
    size_t taken = convertEach(
        in, synType, neFdn, true,
        [&](const AlmRecord_t& rec) {
          return sameNe(rec, neFdn) && (rec.getDevCsn() == 0 || out.find(rec.getDevCsn()) == out.end());
        },
        [&](AlmRecord_t&& rec) { out.emplace(rec.getDevCsn(), std::move(rec)); });
    FM_TRACE(TRACE_DETAIL, "neAlmSeqToList, alm_syn, get alarm size is: %d", static_cast<int>(taken));
    return FM_SUCCESS;
  } catch (...) {
    FM_TRACE(TRACE_ERROR, "neAlmSeqToList, throw some exception!");
    return FM_FAILURE;
  }
}

long neAlmSeqToList(const NEALARMRECORDLISTEx& in, const std::string& neFdn, int synType,
                    std::list<PooledAlmRecord>& out) {
  FM_FUNC_TRACE("neAlmSeqToList");
  try {
    std::set<long> csns;
    for (const auto& p : out) {
      if (p && p->getDevCsn() != 0) csns.insert(p->getDevCsn());
    }
    size_t taken = convertEach(
        in, synType, neFdn, true,
        [&](const AlmRecord_t& rec) {
          return sameNe(rec, neFdn) && (rec.getDevCsn() == 0 || csns.count(rec.getDevCsn()) == 0);
        },
        [&](AlmRecord_t&& rec) {
          if (rec.getDevCsn() != 0) csns.insert(rec.getDevCsn());
          PooledAlmRecord p = CAlmRecordPool::instance()->acquire();
          *p = std::move(rec);
          out.push_back(std::move(p));
        });
    FM_TRACE(TRACE_DETAIL, "neAlmSeqToList, alm_syn, get alarm size is: %d", static_cast<int>(taken));
    return FM_SUCCESS;
  } catch (...) {
    FM_TRACE(TRACE_ERROR, "neAlmSeqToList, throw some exception!");
    return FM_FAILURE;
  }
}

long linkAlmSeqToList(const NEALARMRECORDLISTEx& in, const std::string& linkFdn, int synType,
                      std::list<SynAlm_t>& out) {
  FM_FUNC_TRACE("LinkWrapper::linkAlmSeqToList");
  try {
    size_t taken = convertEach(
        in, synType, linkFdn, false,
        [&](const AlmRecord_t& rec) {
          if (rec.getLinkDn() == linkFdn) return true;
          FM_TRACE(TRACE_ERROR, "linkAlmSeqToList, alm.LinkFDN is: %s, not equal input: %s", rec.getLinkDn().c_str(),
                   linkFdn.c_str());
          return false;
        },
        [&](AlmRecord_t&& rec) {
          const std::string& ne = rec.getNEInfo().strNEFDN;
          auto it = std::find_if(out.begin(), out.end(), [&](const SynAlm_t& s) { return s.m_strNeFdn == ne; });
          if (it == out.end()) {
            out.emplace_back();
            it = std::prev(out.end());
            it->m_strNeFdn = ne;
          }
          it->m_mapAlarms.emplace(rec.getDevCsn(), std::move(rec));
        });
    FM_TRACE(TRACE_DETAIL, "linkAlmSeqToList, alm_syn, get alarm size is: %d", static_cast<int>(taken));
    return FM_SUCCESS;
  } catch (...) {
    FM_TRACE(TRACE_ERROR, "linkAlmSeqToList, throw some exception!");
    return FM_FAILURE;
  }
}

// ---------------------------------------------------------------------------
// Record lists and sequences

long CAlmRecordListToITAlmRecordSeq(const std::list<AlmRecord_t>& in, ITAlmRecordSeq& out) {
  return listToSeq<ITAlmRecordSeq, WideText>("CAlmRecordListToITAlmRecordSeq", in, out);
}

long CAlmRecordListToAlmRecordSeqNB(const std::list<AlmRecord_t>& in, AlmRecordSeq& out) {
  return listToSeq<AlmRecordSeq, NarrowText>("CAlmRecordListToAlmRecordSeqNB", in, out);
}

long ITAlmRecordSeqToCAlmRecordList(const ITAlmRecordSeq& in, std::list<AlmRecord_t>& out) {
  return seqToList<ITAlmRecordSeq, WideText>("ITAlmRecordSeqToCAlmRecordList", in, out);
}

long AlmRecordSeqNBToCAlmRecordList(const AlmRecordSeq& in, std::list<AlmRecord_t>& out) {
  return seqToList<AlmRecordSeq, NarrowText>("AlmRecordSeqNBToCAlmRecordList", in, out);
}

}  // namespace Kyrofm
