// KyroMsg.cpp: the in-process message service registry.
#include "fm_common/platform/KyroMsg.h"

#include "fm_common/platform/KyroGlobalUtils.h"
#include "fm_common/platform/KyroWideString.h"

namespace Kyrofm {

std::atomic<KyroMsg*> KyroMsg::_instance{nullptr};
std::mutex KyroMsg::_instanceMutex;

KyroMsg* KyroMsg::instance() {
  KyroMsg* p = _instance.load(std::memory_order_acquire);
  if (p == nullptr) {
    std::lock_guard<std::mutex> guard(_instanceMutex);
    p = _instance.load(std::memory_order_relaxed);
    if (p == nullptr) {
      p = new KyroMsg();
      _instance.store(p, std::memory_order_release);
    }
  }
  return p;
}

void KyroMsg::destroy() {
  std::lock_guard<std::mutex> guard(_instanceMutex);
  delete _instance.exchange(nullptr, std::memory_order_acq_rel);
}

KyroMsg::KyroMsg() : m_strLanguage(KyroGlobalUtils::KyroGetEnv("KYRO_LANGUAGE")) {
  if (m_strLanguage.empty()) m_strLanguage = "en_US";
}

std::string KyroMsg::getLanguage() const {
  std::lock_guard<std::mutex> guard(m_mutex);
  return m_strLanguage;
}

void KyroMsg::setLanguage(const std::string& language) {
  if (language.empty()) return;
  std::lock_guard<std::mutex> guard(m_mutex);
  m_strLanguage = language;
}

std::wstring KyroMsg::getResString(const std::string& key, const std::string& field) const {
  {
    std::lock_guard<std::mutex> guard(m_mutex);
    auto it = m_resStrings.find({key, field});
    if (it != m_resStrings.end()) return it->second;
  }
  const size_t slash = key.find_last_of('/');
  const std::string last = slash == std::string::npos ? key : key.substr(slash + 1);
  return KyroA2W(last.empty() ? field : last);
}

void KyroMsg::setResString(const std::string& key, const std::string& field, const std::wstring& text) {
  std::lock_guard<std::mutex> guard(m_mutex);
  m_resStrings[{key, field}] = text;
}

void KyroMsg::clearResStrings() {
  std::lock_guard<std::mutex> guard(m_mutex);
  m_resStrings.clear();
}

}  // namespace Kyrofm
