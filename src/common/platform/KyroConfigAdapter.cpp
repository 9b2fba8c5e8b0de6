// KyroConfigAdapter.cpp: node lookup, reads and atomic writes of the XML
// configuration files (see the header for the addressing rules).
#include "fm_common/platform/KyroConfigAdapter.h"

#include <vector>

#include <pugixml.hpp>

#include "fm_common/platform/KyroCommonUtils.h"
#include "fm_common/platform/KyroTrace.h"
#include "fm_common/platform/KyroXmlFile.h"

namespace Kyrofm {
namespace {

std::vector<std::string> splitSection(const std::string& section) {
  std::vector<std::string> parts;
  std::string cur;
  for (char c : section) {
    if (c == '/') {
      if (!cur.empty()) parts.push_back(cur);
      cur.clear();
    } else {
      cur += c;
    }
  }
  if (!cur.empty()) parts.push_back(cur);
  return parts;
}

// The node of `section`, null when any step is missing (or `create` makes it).
pugi::xml_node findNode(pugi::xml_document& doc, const std::vector<std::string>& parts, bool create) {
  pugi::xml_node cur = doc;
  for (const auto& name : parts) {
    pugi::xml_node next = cur.child(name.c_str());
    if (!next) {
      if (!create) return pugi::xml_node();
      next = cur.append_child(name.c_str());
    }
    cur = next;
  }
  return cur;
}

pugi::xml_node findParam(const pugi::xml_node& node, const std::string& key) {
  for (pugi::xml_node p = node.child("param"); p; p = p.next_sibling("param")) {
    if (key == p.attribute("name").value()) return p;
  }
  return pugi::xml_node();
}

bool isLeaf(const pugi::xml_node& n) {
  for (pugi::xml_node c = n.first_child(); c; c = c.next_sibling()) {
    if (c.type() == pugi::node_element) return false;
  }
  return true;
}

bool lookup(const pugi::xml_node& node, const std::string& key, std::string& value) {
  if (pugi::xml_node p = findParam(node, key)) {
    pugi::xml_attribute v = p.attribute("value");
    value = v ? v.value() : p.text().get();
    return true;
  }
  pugi::xml_node leaf = node.child(key.c_str());
  if (leaf && isLeaf(leaf)) {
    value = leaf.text().get();
    return true;
  }
  if (pugi::xml_attribute a = node.attribute(key.c_str())) {
    value = a.value();
    return true;
  }
  return false;
}

bool validName(const std::string& s) {
  if (s.empty()) return false;
  for (char c : s) {
    if (c == ' ' || c == '\t' || c == '<' || c == '>' || c == '&' || c == '"' || c == '\'') return false;
  }
  return true;
}

}  // namespace

std::string ConfigAdapter::configDir() {
  return KyroCommonUtils::getRoot() + "/etc";
}

std::string ConfigAdapter::resolve(const std::string& file) {
  if (file.empty()) return std::string();
  if (file.find('/') != std::string::npos) return file;
  std::string dir = configDir();
  return dir.empty() ? std::string() : dir + "/" + file;
}

ConfigAdapter::ConfigAdapter() : m_pDoc(std::make_unique<pugi::xml_document>()) {}

ConfigAdapter::~ConfigAdapter() = default;

int ConfigAdapter::init(const std::string& file, bool createIfMissing) {
  std::lock_guard<std::mutex> guard(m_mutex);
  m_bInit = false;
  m_pDoc->reset();
  m_strFile = resolve(file);
  if (m_strFile.empty()) {
    FM_TRACE(TRACE_ERROR, "ConfigAdapter::init, cannot resolve file '%s' (KYRO_ROOT not set?)", file.c_str());
    return CONFIG_NO_FILE;
  }
  try {
    int rc = KyroXmlFile::loadDocument(m_strFile, *m_pDoc, "ConfigAdapter::init");
    switch (rc) {
      case KYRO_FILE_OK:
        break;
      case KYRO_FILE_MISSING:
        if (!createIfMissing) {
          FM_TRACE(TRACE_WARNING, "ConfigAdapter::init, file %s does not exist", m_strFile.c_str());
          return CONFIG_NO_FILE;
        }
        break;
      case KYRO_FILE_MALFORMED:
        return CONFIG_MALFORMED;
      default:
        FM_TRACE(TRACE_ERROR, "ConfigAdapter::init, cannot read %s", m_strFile.c_str());
        return CONFIG_IO_ERROR;
    }
  } catch (const std::exception& e) {
    FM_TRACE(TRACE_ERROR, "ConfigAdapter::init, %s: %s", m_strFile.c_str(), e.what());
    m_pDoc->reset();
    return CONFIG_IO_ERROR;
  }
  m_bInit = true;
  return 0;
}

int ConfigAdapter::getSysParam(const std::string& section, const std::string& key,
                               std::string& value) const {
  std::lock_guard<std::mutex> guard(m_mutex);
  if (!m_bInit) return CONFIG_NOT_INIT;
  std::vector<std::string> parts = splitSection(section);
  if (parts.empty() || key.empty()) return CONFIG_INVALID_ARG;
  pugi::xml_node node = findNode(const_cast<pugi::xml_document&>(*m_pDoc), parts, false);
  if (!node) return CONFIG_NO_SUCH_PARAM;
  return lookup(node, key, value) ? 0 : CONFIG_NO_SUCH_PARAM;
}

int ConfigAdapter::getAllSysParam(const std::string& section,
                                  std::map<std::string, std::string>& params) const {
  std::lock_guard<std::mutex> guard(m_mutex);
  if (!m_bInit) return CONFIG_NOT_INIT;
  std::vector<std::string> parts = splitSection(section);
  if (parts.empty()) return CONFIG_INVALID_ARG;
  pugi::xml_node node = findNode(const_cast<pugi::xml_document&>(*m_pDoc), parts, false);
  if (!node) return CONFIG_NO_SUCH_PARAM;
  // Attributes first, then leaf elements, then param entries: the documented
  // precedence of lookup decides when a key appears in several forms.
  for (pugi::xml_attribute a = node.first_attribute(); a; a = a.next_attribute()) {
    params[a.name()] = a.value();
  }
  for (pugi::xml_node c = node.first_child(); c; c = c.next_sibling()) {
    if (c.type() == pugi::node_element && std::string(c.name()) != "param" && isLeaf(c)) {
      params[c.name()] = c.text().get();
    }
  }
  for (pugi::xml_node p = node.last_child(); p; p = p.previous_sibling()) {
    if (p.type() != pugi::node_element || std::string(p.name()) != "param") continue;
    std::string name = p.attribute("name").value();
    if (name.empty()) continue;
    pugi::xml_attribute v = p.attribute("value");
    params[name] = v ? v.value() : p.text().get();
  }
  return 0;
}

int ConfigAdapter::modifySysParam(const std::string& section, const std::string& key,
                                  const std::string& value, bool create) {
  std::lock_guard<std::mutex> guard(m_mutex);
  if (!m_bInit) return CONFIG_NOT_INIT;
  std::vector<std::string> parts = splitSection(section);
  if (parts.empty() || key.empty()) return CONFIG_INVALID_ARG;
  for (const auto& p : parts) {
    if (!validName(p)) return CONFIG_INVALID_ARG;
  }
  try {
    KyroFileLock lock(m_strFile);
    if (!lock.locked()) return CONFIG_IO_ERROR;
    KyroXmlFile::removeStrayTempFiles(m_strFile);
    // Apply the change to the file as it is now: another process may have written it.
    pugi::xml_document doc;
    int rc = KyroXmlFile::loadDocument(m_strFile, doc, "ConfigAdapter::modifySysParam");
    if (rc == KYRO_FILE_MALFORMED) return CONFIG_MALFORMED;
    if (rc == KYRO_FILE_IO_ERROR) return CONFIG_IO_ERROR;
    if (rc == KYRO_FILE_MISSING) {
      if (!create) return CONFIG_NO_SUCH_PARAM;
      pugi::xml_node decl = doc.append_child(pugi::node_declaration);
      decl.append_attribute("version") = "1.0";
      decl.append_attribute("encoding") = "UTF-8";
    }
    if (doc.document_element() && parts[0] != doc.document_element().name()) {
      if (!create) return CONFIG_NO_SUCH_PARAM;
      FM_TRACE(TRACE_ERROR, "ConfigAdapter::modifySysParam, %s has document element <%s>, not <%s>",
               m_strFile.c_str(), doc.document_element().name(), parts[0].c_str());
      return CONFIG_INVALID_ARG;
    }
    pugi::xml_node node = findNode(doc, parts, create);
    if (!node) return CONFIG_NO_SUCH_PARAM;

    // Change the key in whichever form holds it; a new key gets the param form.
    if (pugi::xml_node p = findParam(node, key)) {
      pugi::xml_attribute v = p.attribute("value");
      if (!v) {
        while (p.first_child()) p.remove_child(p.first_child());
        v = p.append_attribute("value");
      }
      v = value.c_str();
    } else if (pugi::xml_node leaf = node.child(key.c_str()); leaf && isLeaf(leaf)) {
      leaf.text().set(value.c_str());
    } else if (pugi::xml_attribute a = node.attribute(key.c_str())) {
      a = value.c_str();
    } else {
      if (!create) return CONFIG_NO_SUCH_PARAM;
      pugi::xml_node p = node.append_child("param");
      p.append_attribute("name") = key.c_str();
      p.append_attribute("value") = value.c_str();
    }

    std::string error;
    if (KyroXmlFile::writeFileAtomically(m_strFile, KyroXmlFile::serialise(doc), error) != KYRO_FILE_OK) {
      FM_TRACE(TRACE_ERROR, "ConfigAdapter::modifySysParam, cannot write %s: %s", m_strFile.c_str(),
               error.c_str());
      return CONFIG_IO_ERROR;
    }
    m_pDoc->reset(doc);
    return 0;
  } catch (const std::exception& e) {
    FM_TRACE(TRACE_ERROR, "ConfigAdapter::modifySysParam, %s: %s", m_strFile.c_str(), e.what());
    return CONFIG_IO_ERROR;
  }
}

int ConfigAdapter::readValue(const std::string& file, const std::string& nodePath, const std::string& key,
                             std::string& value) {
  ConfigAdapter adapter;
  int rc = adapter.init(file);
  if (rc != 0) return rc;
  return adapter.getSysParam(nodePath, key, value);
}

}  // namespace Kyrofm
