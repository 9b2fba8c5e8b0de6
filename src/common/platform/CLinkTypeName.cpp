// CLinkTypeName.cpp: the in-process link type name registry.
#include "fm_common/platform/CLinkTypeName.h"

namespace Kyrofm {
namespace {

std::mutex g_defaultMutex;
std::map<ProductLinkType_t, std::string>& defaults() {
  static auto* d = new std::map<ProductLinkType_t, std::string>();
  return *d;
}

}  // namespace

int CLinkTypeName::init() {
  std::map<ProductLinkType_t, std::string> copy;
  {
    std::lock_guard<std::mutex> lock(g_defaultMutex);
    copy = defaults();
  }
  std::lock_guard<std::mutex> lock(m_mutex);
  for (auto& kv : copy) m_names[kv.first] = kv.second;
  return 0;
}

std::string CLinkTypeName::getName(long linkType) const {
  std::lock_guard<std::mutex> lock(m_mutex);
  for (const auto& kv : m_names) {
    if (kv.first.m_lLinkType == linkType) return kv.second;
  }
  return UNKNOWN_NAME;
}

void CLinkTypeName::getAllLinkTypeInfo(std::map<ProductLinkType_t, std::string>& out) const {
  std::lock_guard<std::mutex> lock(m_mutex);
  out = m_names;
}

void CLinkTypeName::setName(long product, long linkType, const std::string& name) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_names[ProductLinkType_t{product, linkType}] = name;
}

void CLinkTypeName::clear() {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_names.clear();
}

void CLinkTypeName::setDefaultName(long product, long linkType, const std::string& name) {
  std::lock_guard<std::mutex> lock(g_defaultMutex);
  defaults()[ProductLinkType_t{product, linkType}] = name;
}

void CLinkTypeName::clearDefaultNames() {
  std::lock_guard<std::mutex> lock(g_defaultMutex);
  defaults().clear();
}

}  // namespace Kyrofm
