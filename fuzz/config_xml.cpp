// Fuzz target: the XML configuration adapter (ConfigAdapter) on a file
// written from the input. For every element path of the document (up to a
// limit) getAllSysParam and getSysParam must agree on every key; then one key
// is changed with modifySysParam and the new value must be what both read
// paths see, in this adapter and in a fresh one that reads the file again.
#include <map>

#include <pugixml.hpp>

#include "FuzzSupport.h"
#include "fm_common/platform/KyroConfigAdapter.h"

using namespace Kyrofm;

namespace {

void collectPaths(const pugi::xml_node& node, const std::string& path, std::vector<std::string>& out) {
  for (pugi::xml_node c = node.first_child(); c && out.size() < 32; c = c.next_sibling()) {
    if (c.type() != pugi::node_element) continue;
    std::string p = path + "/" + c.name();
    out.push_back(p);
    collectPaths(c, p, out);
  }
}

void checkAgree(const ConfigAdapter& adapter, const std::string& section, std::map<std::string, std::string>& all) {
  all.clear();
  int rc = adapter.getAllSysParam(section, all);
  FUZZ_CHECK(rc == 0 || rc == CONFIG_NO_SUCH_PARAM || rc == CONFIG_INVALID_ARG);
  for (const auto& kv : all) {
    std::string v;
    FUZZ_CHECK(adapter.getSysParam(section, kv.first, v) == 0);
    FUZZ_CHECK(v == kv.second);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string file = fmfuzz::fuzzEnv() + "/etc/fuzz_conf.xml";
  fmfuzz::writeFile(file, data, size);
  ConfigAdapter adapter;
  if (adapter.init(file) != 0) return 0;
  pugi::xml_document doc;
  if (!doc.load_buffer(data, size, pugi::parse_default | pugi::parse_declaration | pugi::parse_comments)) return 0;
  std::vector<std::string> sections;
  collectPaths(doc, "", sections);

  std::map<std::string, std::string> all;
  std::string section, key;
  for (const auto& s : sections) {
    checkAgree(adapter, s, all);
    if (!all.empty() && key.empty()) {
      section = s;
      key = all.rbegin()->first;
    }
  }
  if (key.empty()) return 0;
  // The new value: the key's old value reversed and a part of the input.
  checkAgree(adapter, section, all);
  std::string value = std::string(all[key].rbegin(), all[key].rend()) +
          std::string(reinterpret_cast<const char*>(data), size % 13);
  int rc = adapter.modifySysParam(section, key, value, false);
  if (value.find('\0') != std::string::npos) {
    FUZZ_CHECK(rc == CONFIG_INVALID_ARG);
    return 0;
  }
  if (rc == CONFIG_INVALID_ARG) return 0;  // a section name the adapter does not write
  FUZZ_CHECK(rc == 0);
  ConfigAdapter fresh;
  FUZZ_CHECK(fresh.init(file) == 0);
  for (const ConfigAdapter* a : {&adapter, &fresh}) {
    std::string v;
    FUZZ_CHECK(a->getSysParam(section, key, v) == 0);
    FUZZ_CHECK(v == value);
    checkAgree(*a, section, all);
    FUZZ_CHECK(all[key] == value);
  }
  return 0;
}
