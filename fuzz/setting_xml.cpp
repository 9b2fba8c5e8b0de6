// Fuzz target: the settings service (Setting) on a settings file written from
// the input. For every group of the file, getGroupParams and getParamValue
// must agree on every addressable parameter (a name holding '/' cannot be
// addressed by a path); then one parameter is changed with setParam and the
// new value must be what both read paths see, also after the service is
// rebuilt and reads the file again.
#include <map>

#include <pugixml.hpp>

#include "FuzzSupport.h"
#include "fm_common/platform/KyroSetting.h"

using namespace Kyrofm;

namespace {

std::string paramPath(const std::string& group, const std::string& name) {
  return (group == "/" ? std::string() : group) + "/" + name;
}

void checkAgree(const std::string& group, std::map<std::string, std::string>& params) {
  params.clear();
  if (Setting::instance()->getGroupParams(group, params) != 0) return;
  for (const auto& kv : params) {
    if (kv.first.find('/') != std::string::npos) continue;
    std::string v;
    FUZZ_CHECK(Setting::instance()->getParamValue(paramPath(group, kv.first), v) == 0);
    FUZZ_CHECK(v == kv.second);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string file = fmfuzz::fuzzEnv() + "/etc/fuzz_settings.xml";
  fmfuzz::writeFile(file, data, size);
  Setting::instance()->setStorePath(file);
  pugi::xml_document doc;
  if (!doc.load_buffer(data, size, pugi::parse_default | pugi::parse_declaration | pugi::parse_comments)) return 0;

  std::map<std::string, std::string> params;
  std::string group, name;
  for (pugi::xml_node g = doc.document_element().first_child(); g; g = g.next_sibling()) {
    std::string path = g.attribute("path").value();
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    checkAgree(path, params);
    for (const auto& kv : params) {
      if (name.empty() && !kv.first.empty() && kv.first.find('/') == std::string::npos) {
        group = path;
        name = kv.first;
      }
    }
  }
  if (name.empty()) return 0;
  std::string old;
  FUZZ_CHECK(Setting::instance()->getParamValue(paramPath(group, name), old) == 0);
  std::string value = std::string(old.rbegin(), old.rend()) + std::string(reinterpret_cast<const char*>(data), size % 13);
  int rc = Setting::instance()->setParam(paramPath(group, name), value);
  if (value.find('\0') != std::string::npos && rc != 0) return 0;
  FUZZ_CHECK(rc == 0);
  for (int round = 0; round < 2; ++round) {
    if (round == 1) {
      Setting::destroy();
      Setting::instance()->setStorePath(file);
    }
    std::string v;
    FUZZ_CHECK(Setting::instance()->getParamValue(paramPath(group, name), v) == 0);
    FUZZ_CHECK(v == value);
    checkAgree(group, params);
    FUZZ_CHECK(params[name] == value);
  }
  return 0;
}
