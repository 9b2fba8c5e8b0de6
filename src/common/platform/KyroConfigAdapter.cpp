// KyroConfigAdapter.cpp: node lookup, reads and atomic writes of the XML
// configuration files (see the header for the addressing rules).
#include "fm_common/platform/KyroConfigAdapter.h"

#include <cstring>
#include <set>
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
// The first step is the document element: the parser also accepts further
// top-level elements, which no read or write addresses.
pugi::xml_node findNode(pugi::xml_document& doc, const std::vector<std::string>& parts, bool create) {
  pugi::xml_node cur = doc;
  for (const auto& name : parts) {
    pugi::xml_node next = cur == doc ? doc.document_element() : cur.child(name.c_str());
    if (next && name != next.name()) next = pugi::xml_node();
    if (!next) {
      if (!create) return pugi::xml_node();
      next = cur.append_child(name.c_str());
    }
    cur = next;
  }
  return cur;
}

bool isLeaf(const pugi::xml_node& n) {
  for (pugi::xml_node c = n.first_child(); c; c = c.next_sibling()) {
    if (c.type() == pugi::node_element) return false;
  }
  return true;
}

bool isParam(const pugi::xml_node& n) { return std::strcmp(n.name(), "param") == 0; }

// Where the key of a node is held. The one lookup rule of every operation:
// the first <param name="KEY"> entry; else the first leaf child element named
// KEY (a <param> element is always an entry, never a leaf named "param", and
// an element with element children is a node, not a value); else the
// attribute KEY of the node.
struct KeySlot {
  pugi::xml_node param;
  pugi::xml_node leaf;
  pugi::xml_attribute attr;
  explicit operator bool() const { return param || leaf || attr; }
};

KeySlot findKey(const pugi::xml_node& node, const std::string& key) {
  KeySlot slot;
  for (pugi::xml_node c = node.first_child(); c; c = c.next_sibling()) {
    if (c.type() != pugi::node_element) continue;
    if (isParam(c)) {
      if (key == c.attribute("name").value()) {
        slot.param = c;
        return slot;
      }
    } else if (!slot.leaf && key == c.name() && isLeaf(c)) {
      slot.leaf = c;
    }
  }
  if (!slot.leaf) slot.attr = node.attribute(key.c_str());
  return slot;
}

// The value held by a slot found by findKey; an entry without a value
// attribute holds its text.
std::string slotValue(const KeySlot& slot) {
  if (slot.param) {
    pugi::xml_attribute v = slot.param.attribute("value");
    return v ? v.value() : slot.param.text().get();
  }
  if (slot.leaf) return slot.leaf.text().get();
  return slot.attr.value();
}

void setSlot(KeySlot slot, const std::string& value) {
  if (slot.param) {
    pugi::xml_attribute v = slot.param.attribute("value");
    if (!v) {
      while (slot.param.first_child()) slot.param.remove_child(slot.param.first_child());
      v = slot.param.append_attribute("value");
    }
    v = value.c_str();
  } else if (slot.leaf) {
    // Element text loses a carriage return (line ends are normalised when the
    // file is read) and a text of blanks only (dropped as indentation): such a
    // value replaces the leaf by an entry, whose attribute keeps it exactly.
    pugi::xml_node parent = slot.leaf.parent();
    if (value.find('\r') != std::string::npos ||
        (!value.empty() && value.find_first_not_of(" \t\n") == std::string::npos)) {
      pugi::xml_node p = parent.insert_child_before("param", slot.leaf);
      p.append_attribute("name") = slot.leaf.name();
      p.append_attribute("value") = value.c_str();
      parent.remove_child(slot.leaf);
      return;
    }
    while (slot.leaf.first_child()) slot.leaf.remove_child(slot.leaf.first_child());
    slot.leaf.append_child(pugi::node_pcdata).set_value(value.c_str());
  } else {
    pugi::xml_attribute a = slot.attr;
    a = value.c_str();
  }
}

// Names and texts reach pugixml as C strings: an embedded NUL would address
// another key than the one asked for.
bool hasNul(const std::string& s) { return s.find('\0') != std::string::npos; }

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
  if (parts.empty() || key.empty() || hasNul(section) || hasNul(key)) return CONFIG_INVALID_ARG;
  pugi::xml_node node = findNode(const_cast<pugi::xml_document&>(*m_pDoc), parts, false);
  if (!node) return CONFIG_NO_SUCH_PARAM;
  KeySlot slot = findKey(node, key);
  if (!slot) return CONFIG_NO_SUCH_PARAM;
  value = slotValue(slot);
  return 0;
}

int ConfigAdapter::getAllSysParam(const std::string& section,
                                  std::map<std::string, std::string>& params) const {
  std::lock_guard<std::mutex> guard(m_mutex);
  if (!m_bInit) return CONFIG_NOT_INIT;
  std::vector<std::string> parts = splitSection(section);
  if (parts.empty() || hasNul(section)) return CONFIG_INVALID_ARG;
  pugi::xml_node node = findNode(const_cast<pugi::xml_document&>(*m_pDoc), parts, false);
  if (!node) return CONFIG_NO_SUCH_PARAM;
  // Every name the node holds in any form, each resolved by the same rule as
  // getSysParam, so that both always agree.
  std::set<std::string> names;
  for (pugi::xml_attribute a = node.first_attribute(); a; a = a.next_attribute()) names.insert(a.name());
  for (pugi::xml_node c = node.first_child(); c; c = c.next_sibling()) {
    if (c.type() != pugi::node_element) continue;
    if (isParam(c)) {
      names.insert(c.attribute("name").value());
    } else if (isLeaf(c)) {
      names.insert(c.name());
    }
  }
  names.erase(std::string());
  for (const auto& name : names) {
    if (KeySlot slot = findKey(node, name)) params[name] = slotValue(slot);
  }
  return 0;
}

int ConfigAdapter::modifySysParam(const std::string& section, const std::string& key,
                                  const std::string& value, bool create) {
  std::lock_guard<std::mutex> guard(m_mutex);
  if (!m_bInit) return CONFIG_NOT_INIT;
  std::vector<std::string> parts = splitSection(section);
  if (parts.empty() || key.empty() || hasNul(section) || hasNul(key) || hasNul(value)) {
    return CONFIG_INVALID_ARG;
  }
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
    if (KeySlot slot = findKey(node, key)) {
      setSlot(slot, value);
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
