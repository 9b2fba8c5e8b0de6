// AlmExp.cpp: explanation records, their list operations, their validity check
// and their conversions to and from the CORBA sequences.
//
// The list operations search lists from the front and compare keys only; the
// single-entry forms read the first reason of their input, which callers give
// in expanded form. The conversions build each sequence element in place and
// let the CORBA string members free what they held before.
#include "fm_common/fmlog/AlmExp.h"

#include <ctime>
#include <exception>

#include "fm_common/fmcommon/AlmValidCheck.h"
#include "fm_common/fmcommon/RecStringMap.h"
#include "fm_common/platform/CAlmIdAdpter.h"
#include "fm_common/platform/FMResult.h"
#include "fm_common/platform/KyroTrace.h"
#include "fm_common/platform/KyroWideString.h"

namespace Kyrofm {
namespace {

bool sameKey(const AlarmInfo_t& a, const AlarmInfo_t& b) {
  return a.m_lGroupId == b.m_lGroupId && a.m_lAlarmId == b.m_lAlarmId;
}

AlmExpList::iterator findKey(AlmExpList& list, const AlarmInfo_t& key) {
  for (auto it = list.begin(); it != list.end(); ++it) {
    if (sameKey(*it, key)) return it;
  }
  return list.end();
}

template <typename Entry>
int findReasonIdIn(long reasonId, const Entry& e) {
  for (size_t i = 0; i < e.Reasons.size(); ++i) {
    if (e.Reasons[i].ReasonID == reasonId) return static_cast<int>(i);
  }
  return -1;
}

template <typename Entry>
void delReasonIdIn(long reasonId, Entry& e) {
  for (auto it = e.Reasons.begin(); it != e.Reasons.end();) {
    FM_TRACE(TRACE_PROGRESS, "delReasonId: %ld <> %ld", static_cast<long>(it->ReasonID), reasonId);
    if (it->ReasonID == reasonId) {
      FM_TRACE(TRACE_PROGRESS, "delReasonId: deleted.");
      it = e.Reasons.erase(it);
    } else {
      ++it;
    }
  }
}

}  // namespace

// ---------------------------------------------------------------------------
// Records.

void CopyReasons(const std::vector<ReasonInfo>& src, std::vector<ReasonInfo>& dst) {
  if (&src == &dst) return;
  dst.resize(src.size());
  for (size_t i = 0; i < src.size(); ++i) dst[i] = src[i];
}

bool operator!=(const ReasonInfo& a, const ReasonInfo& b) {
  return a.ReasonID != b.ReasonID || a.Explain != b.Explain || a.ClearAdvice != b.ClearAdvice ||
         a.ExpFormat != b.ExpFormat;
}

AlmExp_t& AlmExp_t::operator=(const AlmExp_t& other) {
  if (this == &other) return *this;
  static_cast<AlarmInfo_t&>(*this) = other;
  Category = other.Category;
  AlarmLevel = other.AlarmLevel;
  AlarmType = other.AlarmType;
  AlarmName = other.AlarmName;
  LinkType = other.LinkType;
  CopyReasons(other.Reasons, Reasons);
  ReasonType = other.ReasonType;
  ClearCategory = other.ClearCategory;
  RelativeAlmID = other.RelativeAlmID;
  ClearStrategy = other.ClearStrategy;
  return *this;
}

bool operator!=(const AlmExp_t& a, const AlmExp_t& b) {
  if (!sameKey(a, b)) return true;
  if (a.Category != b.Category || a.AlarmLevel != b.AlarmLevel || a.AlarmType != b.AlarmType ||
      a.AlarmName != b.AlarmName || a.LinkType != b.LinkType || a.ReasonType != b.ReasonType) {
    return true;
  }
  if (a.Reasons.size() != b.Reasons.size()) return true;
  for (size_t i = 0; i < a.Reasons.size(); ++i) {
    if (a.Reasons[i] != b.Reasons[i]) return true;
  }
  return false;
}

// ---------------------------------------------------------------------------
// List operations.

void addToExpList(const AlmExp_t& e, AlmExpList& dst) {
  if (e.Reasons.empty()) return;
  auto it = findKey(dst, e);
  if (it == dst.end()) {
    dst.push_back(e);
    return;
  }
  if (findReasonId(e.Reasons.front().ReasonID, *it) >= 0) return;
  it->Reasons.push_back(e.Reasons.front());
}

void combineExpListWithoutExpand(const AlmExpList& src, AlmExpList& dst) {
  for (const AlmExp_t& e : src) addToExpList(e, dst);
}

void combineExpList(const AlmExpList& src, AlmExpList& dst) {
  if (src.empty()) return;
  AlmExpList expanded;
  expandExpList(src, expanded);
  combineExpListWithoutExpand(expanded, dst);
}

void expandExpList(const AlmExpList& src, AlmExpList& dst) {
  if (src.empty()) {
    FM_TRACE(TRACE_ERROR, "expandExpList, srcList.length() == 0 !");
    return;
  }
  for (const AlmExp_t& e : src) {
    if (e.Reasons.empty()) {
      dst.push_back(e);
      continue;
    }
    for (const ReasonInfo& r : e.Reasons) {
      AlmExp_t one;
      static_cast<AlarmInfo_t&>(one) = e;
      one.Category = e.Category;
      one.AlarmLevel = e.AlarmLevel;
      one.AlarmType = e.AlarmType;
      one.ClearCategory = e.ClearCategory;
      one.AlarmName = e.AlarmName;
      one.LinkType = e.LinkType;
      one.RelativeAlmID = e.RelativeAlmID;
      one.ClearStrategy = e.ClearStrategy;
      one.ReasonType = e.ReasonType;
      one.Reasons.push_back(r);
      dst.push_back(std::move(one));
    }
  }
}

void delFromExpList(const AlmExp_t& e, AlmExpList& dst) {
  if (e.Reasons.empty()) return;
  auto it = findKey(dst, e);
  if (it == dst.end()) return;
  const long id = e.Reasons.front().ReasonID;
  if (findReasonId(id, *it) < 0) return;
  delReasonId(id, *it);
  if (it->Reasons.empty()) dst.erase(it);
}

void delFromExpList(const AlmExpList& src, AlmExpList& dst) {
  for (const AlmExp_t& e : src) delFromExpList(e, dst);
}

void updateToExpList(const AlmExp_t& e, AlmExpList& dst) {
  if (e.Reasons.empty()) return;
  auto it = findKey(dst, e);
  if (it == dst.end()) return;
  const int i = findReasonId(e.Reasons.front().ReasonID, *it);
  if (i < 0) return;
  AlmExp_t replacement(e);
  CopyReasons(it->Reasons, replacement.Reasons);
  ReasonInfo& changed = replacement.Reasons[static_cast<size_t>(i)];
  changed = e.Reasons.front();
  changed.ExpTimeStamp = static_cast<std::int32_t>(std::time(nullptr));
  changed.OperationType = EXP_OPER_UPDATED;
  *it = replacement;
}

void updateToExpList(const AlmExpList& src, AlmExpList& dst) {
  if (src.empty()) {
    FM_TRACE(TRACE_ERROR, "updateToExpList, srcExpList.length() == 0 !");
    return;
  }
  for (const AlmExp_t& e : src) updateToExpList(e, dst);
}

int findReasonId(long reasonId, const AlmExp_t& e) { return findReasonIdIn(reasonId, e); }
int findReasonId(long reasonId, const AlmBasicExp_t& e) { return findReasonIdIn(reasonId, e); }
void delReasonId(long reasonId, AlmExp_t& e) { delReasonIdIn(reasonId, e); }
void delReasonId(long reasonId, AlmBasicExp_t& e) { delReasonIdIn(reasonId, e); }

long findDeletedAll(const AlmExp_t& e) {
  if (e.Reasons.empty()) return FM_SUCCESS;
  int deleted = 0;
  for (const ReasonInfo& r : e.Reasons) {
    if (r.OperationType == EXP_OPER_DELETED) {
      ++deleted;
    } else {
      FM_TRACE(TRACE_PROGRESS, "findDeletedAll: operation type %d.", static_cast<int>(r.OperationType));
    }
  }
  const int count = static_cast<int>(e.Reasons.size());
  if (deleted == count) return FM_SUCCESS;
  FM_TRACE(TRACE_ERROR, "findDeletedAll nCount != nDelCount nCount=%d, nDelCount=%d", count, deleted);
  return FM_FAILURE;
}

long checkAlmExp(const AlmExp_t& e) {
  for (const ReasonInfo& r : e.Reasons) {
    if (r.OperationType == EXP_OPER_DELETED) continue;
    if (r.ReasonID == 0) {
      if (e.AlarmName.size() > ALARM_NAME_MAX || e.AlarmName.empty()) {
        FM_TRACE(TRACE_ERROR, "Data is invalid: name size=%d, > %d or alarmName is %s",
                 static_cast<int>(e.AlarmName.size()), static_cast<int>(ALARM_NAME_MAX), e.AlarmName.c_str());
        FM_TRACE(TRACE_DETAIL, "alarmId is %d and ReasonId = %ld", static_cast<int>(e.m_lAlarmId),
                 static_cast<long>(r.ReasonID));
        return FM_INVALID_ARG;
      }
      if (!CAlmValidCheck::isAlmTypeValid(e.AlarmType)) {
        FM_TRACE(TRACE_ERROR, "fail:alm_exp.Type is %d, max= %d", static_cast<int>(e.AlarmType),
                 CRecStringMap::Instance()->getAlmTypeMax());
        return FM_EXP_INVALID_TYPE;
      }
      if (!CAlmValidCheck::isAlmLevelValid(e.AlarmLevel)) {
        FM_TRACE(TRACE_ERROR, "fail:alm_exp.Level is %d, max= %d", static_cast<int>(e.AlarmLevel),
                 CRecStringMap::Instance()->getAlmLevelMax());
        return FM_EXP_INVALID_LEVEL;
      }
    }
    if (r.Explain.size() > ALARM_EXP_MAX) {
      FM_TRACE(TRACE_ERROR, "Data is invalid: alarm exp size =%d, > ALARM_EXP_MAX(%d)",
               static_cast<int>(r.Explain.size()), static_cast<int>(ALARM_EXP_MAX));
      return FM_EXP_TEXT_TOO_LONG;
    }
    if (r.ClearAdvice.size() > ALARM_EXP_MAX) {
      FM_TRACE(TRACE_ERROR, "Data is invalid: alarm restore advice size %d, > %d",
               static_cast<int>(r.ClearAdvice.size()), static_cast<int>(ALARM_EXP_MAX));
      return FM_EXP_TEXT_TOO_LONG;
    }
    if (r.ExpFormat.size() > ALARM_EXP_FORMAT_MAX) {
      FM_TRACE(TRACE_ERROR, "Data is invalid: alarm exp format size =%d, >%d",
               static_cast<int>(r.ExpFormat.size()), static_cast<int>(ALARM_EXP_FORMAT_MAX));
      return FM_EXP_TEXT_TOO_LONG;
    }
    if (r.AlarmGroupLabel.size() > ALARM_EXP_FORMAT_MAX) {
      FM_TRACE(TRACE_ERROR, "Data is invalid: alarm exp AlarmGroupLabel size =%d, >%d",
               static_cast<int>(r.AlarmGroupLabel.size()), static_cast<int>(ALARM_EXP_FORMAT_MAX));
      return FM_EXP_TEXT_TOO_LONG;
    }
  }
  if (e.m_lGroupId < 0) {
    FM_TRACE(TRACE_ERROR, "alm_exp.Alm.lGroupID =%d,  negative", static_cast<int>(e.m_lGroupId));
    return FM_INVALID_ARG;
  }
  return FM_SUCCESS;
}

// ---------------------------------------------------------------------------
// CORBA sequences.

namespace {

// Fills one element of either sequence; dup turns a narrow text into a fresh
// string of the element's kind, which the member then owns (freeing the one it
// held before).
template <typename Elem, typename Dup>
void fillElement(const AlmExp_t& e, Elem& out, Dup dup) {
  out.Alm.lGroupID = static_cast<CORBA::Long>(e.m_lGroupId);
  out.Alm.lAlarmID = static_cast<CORBA::Long>(e.m_lAlarmId);
  out.cCategory = e.Category;
  out.Level = e.AlarmLevel;
  out.Type = e.AlarmType;
  out.AlarmName = dup(e.AlarmName);
  out.lLinkType = e.LinkType;
  out.lReasonType = e.ReasonType;
  out.Reasons.length(static_cast<CORBA::ULong>(e.Reasons.size()));
  for (CORBA::ULong k = 0; k < e.Reasons.size(); ++k) {
    const ReasonInfo& r = e.Reasons[k];
    auto& o = out.Reasons[k];
    o.lTimeStamp = r.ExpTimeStamp;
    o.cOperType = r.OperationType;
    o.lReasonID = r.ReasonID;
    o.Explain = dup(r.Explain);
    o.ClearAdvice = dup(r.ClearAdvice);
    o.Format = dup(r.ExpFormat);
    o.Meaning = dup(r.Meaning);
  }
}

CORBA::WChar* dupWide(const std::string& text) { return CORBA::wstring_dup(KyroA2W(text).c_str()); }
char* dupNarrow(const std::string& text) { return CORBA::string_dup(text.c_str()); }

}  // namespace

long almExpListToSeq(const AlmExpList& src, KyroExp::AlmExpSeq& seq) {
  if (src.empty()) FM_TRACE(TRACE_ERROR, "almExpListToSeq, expList.length() <= 0 !");
  try {
    seq.length(static_cast<CORBA::ULong>(src.size()));
    CORBA::ULong i = 0;
    for (const AlmExp_t& e : src) fillElement(e, seq[i++], dupWide);
  } catch (...) {
    FM_TRACE(TRACE_ERROR, "almExpListToSeq,  throw some exception!");
    return FM_FAILURE;
  }
  return FM_SUCCESS;
}

long almExpListToSeqNB(const AlmExpList& src, KyroExp::NBAlmExpSeq& seq) {
  if (src.empty()) {
    FM_TRACE(TRACE_ERROR, "almExpListToSeqNB,  expList.length() <= 0 !");
    return FM_EXP_NO_ENTRY;
  }
  try {
    seq.length(static_cast<CORBA::ULong>(src.size()));
    CORBA::ULong i = 0;
    for (const AlmExp_t& e : src) fillElement(e, seq[i++], dupNarrow);
  } catch (...) {
    FM_TRACE(TRACE_ERROR, "almExpListToSeqNB,   throw some exception!");
    return FM_FAILURE;
  }
  return FM_SUCCESS;
}

long almExpSeqToList(const KyroExp::AlmExpSeq& seq, AlmExpList& dst, AlmExpErrorMap& errors, bool check) {
  if (seq.length() == 0) {
    FM_TRACE(TRACE_ERROR, "almExpSeqToList, AlarmExpSeq.length() == 0 !");
    return FM_EXP_NO_ENTRY;
  }
  dst.clear();
  const bool convertType = CAlmIdAdpter::IsNeedConvertAlmType();
  for (CORBA::ULong i = 0; i < seq.length(); ++i) {
    const KyroExp::AlmExp& in = seq[i];
    AlmExp_t e;
    e.m_lGroupId = in.Alm.lGroupID;
    e.m_lAlarmId = in.Alm.lAlarmID;
    e.AlarmName = KyroW2A(static_cast<const CORBA::WChar*>(in.AlarmName));
    e.Category = in.cCategory;
    e.AlarmLevel = in.Level;
    e.AlarmType = convertType ? CAlmIdAdpter::ConvertAlmType(in.Type) : in.Type;
    e.LinkType = in.lLinkType;
    e.ReasonType = in.lReasonType;
    e.RelativeAlmID = 0;
    e.ClearStrategy = 0;
    if (in.Reasons.length() == 0) {
      const long r = check ? checkAlmExp(e) : FM_SUCCESS;
      if (r == FM_SUCCESS) {
        dst.push_back(e);
      } else {
        errors[r].push_back(e);
        FM_TRACE(TRACE_ERROR, "almExpSeqToListis not ok,  lReasonErr = %d", static_cast<int>(r));
      }
      continue;
    }
    e.Reasons.resize(1);
    for (CORBA::ULong k = 0; k < in.Reasons.length(); ++k) {
      const KyroExp::Reason& rin = in.Reasons[k];
      ReasonInfo& reason = e.Reasons.front();
      reason = ReasonInfo();
      reason.ReasonID = rin.lReasonID;
      reason.Explain = KyroW2A(static_cast<const CORBA::WChar*>(rin.Explain));
      reason.ClearAdvice = KyroW2A(static_cast<const CORBA::WChar*>(rin.ClearAdvice));
      reason.ExpFormat = KyroW2A(static_cast<const CORBA::WChar*>(rin.Format));
      reason.ExpTimeStamp = rin.lTimeStamp;
      reason.OperationType = rin.cOperType;
      reason.Meaning = KyroW2A(static_cast<const CORBA::WChar*>(rin.Meaning));
      const long r = check ? checkAlmExp(e) : FM_SUCCESS;
      if (r == FM_SUCCESS) {
        dst.push_back(e);
      } else {
        errors[r].push_back(e);
        FM_TRACE(TRACE_ERROR, "almExpSeqToListis not ok, Reasons=1, lReasonErr = %d", static_cast<int>(r));
      }
    }
  }
  return FM_SUCCESS;
}

}  // namespace Kyrofm
