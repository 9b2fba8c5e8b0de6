// FMNameValue.h: FMNameValue_t, a name and a value, both strings; the entries
// of name/value events and of other name/value lists exchanged between the
// fault-management processes. A plain copyable value.
#ifndef FM_FMCOMMON_FMNAMEVALUE_H
#define FM_FMCOMMON_FMNAMEVALUE_H

#include <string>
#include <utility>

namespace Kyrofm {

struct FMNameValue_t {
  std::string m_strName;
  std::string m_strValue;

  FMNameValue_t() = default;
  FMNameValue_t(std::string name, std::string value)
      : m_strName(std::move(name)), m_strValue(std::move(value)) {}

  bool operator==(const FMNameValue_t& o) const {
    return m_strName == o.m_strName && m_strValue == o.m_strValue;
  }
  bool operator!=(const FMNameValue_t& o) const { return !(*this == o); }
};

}  // namespace Kyrofm

#endif
