// AlmRecord.cpp: the alarm record, its extended-parameter matrices, the field
// property table and the product customisation registry.
#include "fm_common/platform/AlmRecord.h"

#include <cstring>

#include "fm_common/platform/FMResult.h"

namespace Kyrofm {

void AlmRecordText::assign(std::string_view v) {
  if (v.size() <= INLINE) {
    std::memmove(m_buf, v.data(), v.size());  // v may be this text
    m_buf[v.size()] = '\0';
    release();
    m_p = m_buf;
  } else {
    char* block = new char[v.size() + 1];
    std::memcpy(block, v.data(), v.size());
    block[v.size()] = '\0';
    release();
    m_p = block;
  }
  m_size = v.size();
}

void AlmRecordText::release() noexcept {
  if (m_p != m_buf) delete[] m_p;
  m_p = m_buf;
}

void AlmRecordText::take(AlmRecordText& o) noexcept {
  release();
  if (o.m_p == o.m_buf) {
    std::memcpy(m_buf, o.m_buf, o.m_size + 1);
  } else {
    m_p = o.m_p;
    o.m_p = o.m_buf;
  }
  m_size = o.m_size;
  o.m_size = 0;
  o.m_buf[0] = '\0';
}

long XRFMIntSeqSeq::getValue(int row, int column, long def) const {
  auto it = m_values.find({row, column});
  return it == m_values.end() ? def : it->second;
}

void XRFMIntSeqSeq::setValue(int row, int column, long value) { m_values[{row, column}] = value; }

const char* XRFMStrSeqSeq::getValue(int row, int column, const char* def) const {
  auto it = m_values.find({row, column});
  return it == m_values.end() ? def : it->second.c_str();
}

std::string_view XRFMStrSeqSeq::getView(int row, int column) const {
  auto it = m_values.find({row, column});
  return it == m_values.end() ? std::string_view() : std::string_view(it->second);
}

void XRFMStrSeqSeq::setValue(int row, int column, const std::string& value) {
  m_values[{row, column}] = value;
}

// Row 0 of the integer matrix carries the time and identifier columns used by
// the conversions (up to column 24); row 1 the NE time information.
const XRFMExtMetadata AlmRecord_t::intExtMetadata({32, 12, 8});
const XRFMExtMetadata AlmRecord_t::strExtMetadata({8, 8});

long AlmRecord_t::getParam(int i) const {
  if (i == 6) return m_lGroupId;
  if (i < 1 || i > PARAM_COUNT) return 0;
  return m_lParams[i - 1];
}

void AlmRecord_t::setParam(int i, long v) {
  if (i == 6) {
    m_lGroupId = v;
    return;
  }
  if (i < 1 || i > PARAM_COUNT) return;
  m_lParams[i - 1] = v;
}

long AlmRecord_t::getStatus(long ackStatus, long clearStatus) {
  if ((ackStatus != 0 && ackStatus != 1) || (clearStatus != 0 && clearStatus != 1)) return 0;
  return 1 + clearStatus + 2 * ackStatus;
}

XRFMAlarmFieldPropManager::XRFMAlarmFieldPropManager() {
  auto add = [this](long kind, const XRFMExtMetadata& meta, const char* prefix) {
    for (int g = 0; g < meta.getRowCount(); ++g) {
      for (int i = 0; i < meta.getColumnCount(g); ++i) {
        std::string name = std::string(prefix) + std::to_string(g) + "_" + std::to_string(i);
        m_props[{kind, g, i}] = std::make_unique<XRFMAlarmFieldProp>(kind, g, i, name);
      }
    }
  };
  add(KIND_INT_EXT, AlmRecord_t::intExtMetadata, "IntExt");
  add(KIND_STR_EXT, AlmRecord_t::strExtMetadata, "StrExt");
}

XRFMAlarmFieldPropManager* XRFMAlarmFieldPropManager::instance() {
  static XRFMAlarmFieldPropManager inst;
  return &inst;
}

const XRFMAlarmFieldProp* XRFMAlarmFieldPropManager::getProp(long kind, long group, long index) const {
  auto it = m_props.find({kind, group, index});
  return it == m_props.end() ? nullptr : it->second.get();
}

std::vector<const XRFMAlarmFieldProp*> XRFMAlarmFieldPropManager::getProps(long kind) const {
  std::vector<const XRFMAlarmFieldProp*> out;
  for (const auto& kv : m_props) {
    if (std::get<0>(kv.first) == kind) out.push_back(kv.second.get());
  }
  return out;
}

ProductCustomizeModuleManager* ProductCustomizeModuleManager::instance() {
  static ProductCustomizeModuleManager inst;
  return &inst;
}

long ProductCustomizeModuleManager::oid2Fdn(const std::string& oid, std::string& fdn) const {
  std::lock_guard<std::mutex> lock(m_mutex);
  auto it = m_oidToFdn.find(oid);
  fdn = it == m_oidToFdn.end() ? oid : it->second;
  return FM_SUCCESS;
}

std::string ProductCustomizeModuleManager::fdn2Oid(const std::string& fdn) const {
  std::lock_guard<std::mutex> lock(m_mutex);
  auto it = m_fdnToOid.find(fdn);
  return it == m_fdnToOid.end() ? fdn : it->second;
}

void ProductCustomizeModuleManager::addMapping(const std::string& oid, const std::string& fdn) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_oidToFdn[oid] = fdn;
  m_fdnToOid[fdn] = oid;
}

void ProductCustomizeModuleManager::clearMappings() {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_oidToFdn.clear();
  m_fdnToOid.clear();
}

}  // namespace Kyrofm
