// KyroSetting.cpp: the file-backed settings service (see the header for the
// file format and the write discipline).
#include "fm_common/platform/KyroSetting.h"

#include "fm_common/platform/KyroOS.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include <pugixml.hpp>

#include "fm_common/platform/KyroCommonUtils.h"
#include "fm_common/platform/KyroTrace.h"

namespace Kyrofm {

std::atomic<Setting*> Setting::_instance{nullptr};
std::mutex Setting::_instanceMutex;

namespace {

const char* const kRoot = "settings";
const char* const kGroup = "group";
const char* const kParam = "param";

}  // namespace

bool Setting::parseLong(const std::string& text, long& out) { return KyroUtils::parseLong(text, out); }

namespace {

std::string paramText(const pugi::xml_node& param) {
  pugi::xml_attribute v = param.attribute("value");
  return v ? std::string(v.value()) : std::string(param.text().get());
}

}  // namespace

Setting* Setting::instance() {
  Setting* p = _instance.load(std::memory_order_acquire);
  if (p == nullptr) {
    std::lock_guard<std::mutex> guard(_instanceMutex);
    p = _instance.load(std::memory_order_relaxed);
    if (p == nullptr) {
      p = new Setting();
      _instance.store(p, std::memory_order_release);
    }
  }
  return p;
}

void Setting::destroy() {
  std::lock_guard<std::mutex> guard(_instanceMutex);
  delete _instance.exchange(nullptr, std::memory_order_acq_rel);
}

Setting::Setting() = default;

std::string Setting::defaultStorePath() {
  return KyroCommonUtils::getRoot() + "/etc/kyro_settings.xml";
}

void Setting::setStorePath(const std::string& path) {
  std::lock_guard<std::mutex> guard(m_mutex);
  m_bPathSet = !path.empty();
  m_strPath = path;
  m_bLoaded = false;
  m_bMalformed = false;
  m_stamp = KyroFileStamp();
  m_groups.clear();
}

std::string Setting::getStorePath() const {
  std::lock_guard<std::mutex> guard(m_mutex);
  return m_bPathSet ? m_strPath : defaultStorePath();
}

bool Setting::normaliseGroup(const std::string& in, std::string& out) {
  if (in.empty() || in[0] != '/') return false;
  std::string g = in;
  while (g.size() > 1 && g.back() == '/') g.pop_back();
  if (g.find("//") != std::string::npos) return false;
  out = g;
  return true;
}

bool Setting::splitPath(const std::string& path, std::string& group, std::string& name) {
  if (path.size() < 2 || path[0] != '/' || path.back() == '/') return false;
  if (path.find("//") != std::string::npos) return false;
  std::string::size_type pos = path.rfind('/');
  group = pos == 0 ? std::string("/") : path.substr(0, pos);
  name = path.substr(pos + 1);
  return true;
}

void Setting::fillGroups(const pugi::xml_document& doc, GroupMap& groups) {
  groups.clear();
  pugi::xml_node root = doc.child(kRoot);
  for (pugi::xml_node g = root.child(kGroup); g; g = g.next_sibling(kGroup)) {
    std::string path;
    if (!normaliseGroup(g.attribute("path").value(), path)) {
      FM_TRACE(TRACE_WARNING, "Setting, ignored group with invalid path '%s'", g.attribute("path").value());
      continue;
    }
    auto& params = groups[path];
    for (pugi::xml_node p = g.child(kParam); p; p = p.next_sibling(kParam)) {
      std::string name = p.attribute("name").value();
      if (name.empty()) continue;
      params.emplace(name, paramText(p));  // the first of duplicate names wins
    }
  }
}

void Setting::refreshLocked(bool force) {
  const std::string path = m_bPathSet ? m_strPath : defaultStorePath();
  if (path.empty()) {
    if (!m_bLoaded) FM_TRACE(TRACE_WARNING, "Setting, KYRO_ROOT is not set; no settings file");
    m_groups.clear();
    m_bLoaded = true;
    m_bMalformed = false;
    m_stamp = KyroFileStamp();
    return;
  }
  KyroFileStamp now = KyroXmlFile::stamp(path);
  if (!force && m_bLoaded && now == m_stamp) return;
  m_stamp = now;
  m_bLoaded = true;
  m_bMalformed = false;
  m_groups.clear();
  if (!now.exists) return;
  pugi::xml_document doc;
  int rc = KyroXmlFile::loadDocument(path, doc, "Setting");
  if (rc == KYRO_FILE_MALFORMED) {
    m_bMalformed = true;
    return;
  }
  if (rc != KYRO_FILE_OK) {
    if (rc != KYRO_FILE_MISSING) {
      FM_TRACE(TRACE_ERROR, "Setting, cannot read settings file %s: %s", path.c_str(), std::strerror(errno));
    }
    return;
  }
  fillGroups(doc, m_groups);
}

int Setting::getParamValue(const std::string& path, std::string& value) {
  std::string group, name;
  if (!splitPath(path, group, name)) return SETTING_INVALID_PATH;
  try {
    std::lock_guard<std::mutex> guard(m_mutex);
    refreshLocked(false);
    auto g = m_groups.find(group);
    if (g == m_groups.end()) return SETTING_NO_SUCH_PATH;
    auto p = g->second.find(name);
    if (p == g->second.end()) return SETTING_NO_SUCH_PATH;
    value = p->second;
    return 0;
  } catch (const std::exception& e) {
    FM_TRACE(TRACE_ERROR, "Setting::getParamValue, %s: %s", path.c_str(), e.what());
    return SETTING_WRITE_FAILED;
  }
}

int Setting::getParamValue(const std::string& path, long& value) {
  std::string text;
  int rc = getParamValue(path, text);
  if (rc != 0) return rc;
  long v = 0;
  if (!parseLong(text, v)) return SETTING_NOT_A_NUMBER;
  value = v;
  return 0;
}

int Setting::getGroupParams(const std::string& group, std::map<std::string, std::string>& params) {
  std::string g;
  if (!normaliseGroup(group, g)) return SETTING_INVALID_PATH;
  try {
    std::lock_guard<std::mutex> guard(m_mutex);
    refreshLocked(false);
    auto it = m_groups.find(g);
    if (it == m_groups.end()) return SETTING_NO_SUCH_PATH;
    for (const auto& kv : it->second) params[kv.first] = kv.second;
    return 0;
  } catch (const std::exception& e) {
    FM_TRACE(TRACE_ERROR, "Setting::getGroupParams, %s: %s", group.c_str(), e.what());
    return SETTING_WRITE_FAILED;
  }
}

int Setting::setParam(const std::string& path, const std::string& value) {
  std::string group, name;
  if (!splitPath(path, group, name)) {
    FM_TRACE(TRACE_ERROR, "Setting::setParam, invalid path '%s'", path.c_str());
    return SETTING_INVALID_PATH;
  }
  try {
    std::lock_guard<std::mutex> guard(m_mutex);
    const std::string file = m_bPathSet ? m_strPath : defaultStorePath();
    if (file.empty()) {
      FM_TRACE(TRACE_ERROR, "Setting::setParam, KYRO_ROOT is not set; cannot write %s", path.c_str());
      return SETTING_WRITE_FAILED;
    }
    KyroFileLock lock(file);
    if (!lock.locked()) return SETTING_WRITE_FAILED;
    KyroXmlFile::removeStrayTempFiles(file);

    // Work on the file as it is now on disk: another process may have changed it.
    pugi::xml_document doc;
    int errorLine = 0;
    int rc = KyroXmlFile::loadDocument(file, doc, "Setting::setParam", &errorLine);
    if (rc == KYRO_FILE_MALFORMED) {
      FM_TRACE(TRACE_ERROR,
               "Setting::setParam, settings file %s is malformed (line %d); not overwritten, %s not written",
               file.c_str(), errorLine, path.c_str());
      return SETTING_STORE_MALFORMED;
    }
    if (rc == KYRO_FILE_IO_ERROR) {
      FM_TRACE(TRACE_ERROR, "Setting::setParam, cannot read settings file %s", file.c_str());
      return SETTING_WRITE_FAILED;
    }
    if (rc == KYRO_FILE_MISSING) {
      doc.reset();
      pugi::xml_node decl = doc.append_child(pugi::node_declaration);
      decl.append_attribute("version") = "1.0";
      decl.append_attribute("encoding") = "UTF-8";
    }
    pugi::xml_node root = doc.child(kRoot);
    if (!root) root = doc.append_child(kRoot);
    pugi::xml_node gnode;
    for (pugi::xml_node g = root.child(kGroup); g; g = g.next_sibling(kGroup)) {
      std::string gp;
      if (normaliseGroup(g.attribute("path").value(), gp) && gp == group) {
        gnode = g;
        break;
      }
    }
    if (!gnode) {
      gnode = root.append_child(kGroup);
      gnode.append_attribute("path") = group.c_str();
    }
    pugi::xml_node pnode;
    for (pugi::xml_node p = gnode.child(kParam); p; p = p.next_sibling(kParam)) {
      if (name == p.attribute("name").value()) {
        pnode = p;
        break;
      }
    }
    if (!pnode) {
      pnode = gnode.append_child(kParam);
      pnode.append_attribute("name") = name.c_str();
    }
    pugi::xml_attribute va = pnode.attribute("value");
    if (!va) {
      // A value held as element text is replaced by the attribute form.
      while (pnode.first_child()) pnode.remove_child(pnode.first_child());
      va = pnode.append_attribute("value");
    }
    va = value.c_str();

    std::string error;
    if (KyroXmlFile::writeFileAtomically(file, KyroXmlFile::serialise(doc), error) != KYRO_FILE_OK) {
      FM_TRACE(TRACE_ERROR, "Setting::setParam, cannot write %s to %s: %s", path.c_str(), file.c_str(),
               error.c_str());
      return SETTING_WRITE_FAILED;
    }
    // The cache is rebuilt from what was written.
    fillGroups(doc, m_groups);
    m_stamp = KyroXmlFile::stamp(file);
    m_bLoaded = true;
    m_bMalformed = false;
    return 0;
  } catch (const std::exception& e) {
    FM_TRACE(TRACE_ERROR, "Setting::setParam, %s: %s", path.c_str(), e.what());
    return SETTING_WRITE_FAILED;
  }
}

}  // namespace Kyrofm
