// KyroMsg.cpp: the in-process message service registry.
#include "fm_common/platform/KyroMsg.h"

#include "fm_common/platform/KyroGlobalUtils.h"

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

}  // namespace Kyrofm
