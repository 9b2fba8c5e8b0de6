// FMValueTypes.cpp: comparison operators of the key records.
//
// The keys are used in std::map and std::set; every operator< here is a strict
// weak ordering consistent with the matching operator==.
#include "fm_common/fmcommon/FMValueTypes.h"

#include <tuple>

namespace Kyrofm {

bool AlarmInfo_t::operator==(const AlarmInfo_t& o) const {
  return m_lGroupId == o.m_lGroupId && m_lAlarmId == o.m_lAlarmId;
}

bool AlarmInfo_t::operator<(const AlarmInfo_t& o) const {
  return std::tie(m_lGroupId, m_lAlarmId) < std::tie(o.m_lGroupId, o.m_lAlarmId);
}

bool AlarmInfoEx_t::operator==(const AlarmInfoEx_t& o) const {
  return m_lGroupId == o.m_lGroupId && m_lAlarmId == o.m_lAlarmId && m_lReasonId == o.m_lReasonId;
}

bool AlarmInfoEx_t::operator<(const AlarmInfoEx_t& o) const {
  return std::tie(m_lGroupId, m_lAlarmId, m_lReasonId) < std::tie(o.m_lGroupId, o.m_lAlarmId, o.m_lReasonId);
}

bool SCommonKey::operator==(const SCommonKey& o) const { return m_lstKey == o.m_lstKey; }

bool SCommonKey::operator<(const SCommonKey& o) const {
  if (m_lstKey.size() != o.m_lstKey.size()) return m_lstKey.size() < o.m_lstKey.size();
  auto a = m_lstKey.begin();
  auto b = o.m_lstKey.begin();
  for (; a != m_lstKey.end(); ++a, ++b) {
    if (*a != *b) return *a < *b;
  }
  return false;
}

bool ComFdnInfo_t::operator==(const ComFdnInfo_t& o) const {
  return m_lNum == o.m_lNum && m_strFdn == o.m_strFdn;
}

bool ComFdnInfo_t::operator<(const ComFdnInfo_t& o) const {
  if (m_lNum != o.m_lNum) return m_lNum < o.m_lNum;
  return m_strFdn < o.m_strFdn;
}

bool SProcInfo::operator==(const SProcInfo& o) const {
  return m_lValue1 == o.m_lValue1 && m_lValue2 == o.m_lValue2 && m_lValue3 == o.m_lValue3 &&
         m_lValue4 == o.m_lValue4;
}

bool SProcInfo::operator<(const SProcInfo& o) const {
  return std::tie(m_lValue1, m_lValue2, m_lValue3, m_lValue4) <
         std::tie(o.m_lValue1, o.m_lValue2, o.m_lValue3, o.m_lValue4);
}

bool CNMTime::operator<(const CNMTime& o) const {
  return std::tie(m_strWeekDay, m_strPeriod) < std::tie(o.m_strWeekDay, o.m_strPeriod);
}

}  // namespace Kyrofm
