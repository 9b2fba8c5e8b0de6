// CCentralCfg.cpp: the search for the information file and group reads.
#include "fm_common/platform/CCentralCfg.h"

#include <dlfcn.h>
#include <unistd.h>

#include <mutex>

#include "fm_common/platform/KyroCommonUtils.h"
#include "fm_common/platform/KyroConfigAdapter.h"

namespace Kyrofm {
namespace {

std::mutex g_mutex;
std::string g_override;  // guarded by g_mutex

bool readable(const std::string& path) { return !path.empty() && ::access(path.c_str(), R_OK) == 0; }

std::string dirName(const std::string& path) {
  auto pos = path.rfind('/');
  return pos == std::string::npos ? std::string(".") : path.substr(0, pos);
}

}  // namespace

std::string CCentralCfg::GetInstalledRecConfigFileName() {
  Dl_info info;
  if (::dladdr(reinterpret_cast<void*>(&CCentralCfg::GetInstalledRecConfigFileName), &info) == 0 ||
      info.dli_fname == nullptr) {
    return std::string();
  }
  std::string libDir = dirName(info.dli_fname);
  for (const char* up : {"/..", "/../.."}) {
    std::string candidate = libDir + up + "/share/fm_common/etc/" + REC_CONFIG_FILE;
    if (readable(candidate)) return candidate;
  }
  return std::string();
}

std::string CCentralCfg::GetRecConfigFileName() {
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    if (!g_override.empty()) return g_override;
  }
  std::string site = KyroCommonUtils::getRoot() + "/etc/" + REC_CONFIG_FILE;
  if (readable(site)) return site;
  std::string installed = GetInstalledRecConfigFileName();
  return installed.empty() ? site : installed;
}

void CCentralCfg::SetRecConfigFileName(const std::string& path) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_override = path;
}

int CCentralCfg::GetParamGroups(const ConfigAdapter& file, const std::string& group,
                                std::map<std::string, std::string>& params) {
  params.clear();
  return file.getAllSysParam(group, params);
}

}  // namespace Kyrofm
