// XRFMCommonInvoke.cpp: services of named operations and the dispatcher that
// routes a call by its full name.
#include "fm_common/fmcommon/XRFMCommonInvoke.h"

#include <cerrno>
#include <exception>
#include <mutex>
#include <new>
#include <vector>

#include "fm_common/platform/FMResult.h"
#include "fm_common/platform/KyroTrace.h"

namespace Kyrofm {

XRFMCommonInvokeService::~XRFMCommonInvokeService() = default;

void XRFMCommonInvokeService::addMethod(const std::string& methodName, RpcMethodEntry::MethodFunc func) {
  auto entry = std::make_unique<RpcMethodEntry>();
  entry->m_pService = this;
  entry->m_strFullName = m_strName + "." + methodName;
  entry->m_pFunc = func;
  m_lstMethods.push_back(std::move(entry));
}

XRFMCommonInvokeDispatcher::~XRFMCommonInvokeDispatcher() {
  m_mapMethods.clear();
  m_mapServices.clear();
}

long XRFMCommonInvokeDispatcher::registerService(XRFMCommonInvokeService* service) {
  std::unique_ptr<XRFMCommonInvokeService> owned(service);
  if (!owned) {
    FM_TRACE(TRACE_ERROR, "XRFMCommonInvokeDispatcher::registerService, service is null");
    return FM_INVALID_ARG;
  }
  try {
    std::unique_lock<std::shared_mutex> lock(m_mutex);
    const std::string& name = owned->getName();
    if (m_mapServices.count(name) != 0) {
      FM_TRACE(TRACE_ERROR, "XRFMCommonInvokeDispatcher::registerService, service %s already registered",
               name.c_str());
      return FM_INVALID_ARG;
    }
    std::map<std::string, RpcMethodEntry*> entries;
    for (const auto& entry : owned->getMethodSeq()) {
      if (!entry->m_pFunc || m_mapMethods.count(entry->m_strFullName) != 0 ||
          !entries.emplace(entry->m_strFullName, entry.get()).second) {
        FM_TRACE(TRACE_ERROR, "XRFMCommonInvokeDispatcher::registerService, method %s is null or already registered",
                 entry->m_strFullName.c_str());
        return FM_INVALID_ARG;
      }
    }
    m_mapMethods.insert(entries.begin(), entries.end());
    try {
      m_mapServices.emplace(name, std::move(owned));
    } catch (...) {
      for (const auto& e : entries) m_mapMethods.erase(e.first);
      throw;
    }
    return FM_SUCCESS;
  } catch (const std::bad_alloc&) {
    FM_TRACE(TRACE_ERROR, "XRFMCommonInvokeDispatcher::registerService, out of memory");
    return FM_NO_MEMORY;
  }
}

long XRFMCommonInvokeDispatcher::invoke(const ITOpInfo& opInfo, const std::string& fullName,
                                        const CorbaCommParam& in, CorbaCommParam*& out) {
  RpcMethodEntry* entry = nullptr;
  {
    std::shared_lock<std::shared_mutex> lock(m_mutex);
    auto it = m_mapMethods.find(fullName);
    if (it != m_mapMethods.end()) entry = it->second;
  }
  // Entries live as long as the dispatcher: services are never unregistered.
  if (entry == nullptr) {
    out = new (std::nothrow) CorbaCommParam();
    if (out == nullptr) {
      errno = ENOMEM;
      return FM_NO_MEMORY;
    }
    out->props.length(0);
    return FM_METHOD_NOT_FOUND;
  }
  out = nullptr;
  long rc = FM_SUCCESS;
  try {
    (entry->m_pService->*(entry->m_pFunc))(opInfo, in, out);
  } catch (const std::exception& e) {
    FM_TRACE(TRACE_ERROR, "XRFMCommonInvokeDispatcher::invoke, %s throw exception: %s", fullName.c_str(), e.what());
    rc = FM_FAILURE;
  } catch (...) {
    FM_TRACE(TRACE_ERROR, "XRFMCommonInvokeDispatcher::invoke, %s throw exception", fullName.c_str());
    rc = FM_FAILURE;
  }
  if (out == nullptr) {
    out = new (std::nothrow) CorbaCommParam();
    if (out == nullptr) {
      errno = ENOMEM;
      return FM_NO_MEMORY;
    }
  }
  return rc;
}

size_t XRFMCommonInvokeDispatcher::serviceCount() const {
  std::shared_lock<std::shared_mutex> lock(m_mutex);
  return m_mapServices.size();
}

size_t XRFMCommonInvokeDispatcher::methodCount() const {
  std::shared_lock<std::shared_mutex> lock(m_mutex);
  return m_mapMethods.size();
}

}  // namespace Kyrofm
