// FmSettingsFile.cpp: see the header.
#include "support/FmSettingsFile.h"

#include <gtest/gtest.h>

#include <pugixml.hpp>

namespace fmtest {

void writeSettings(const std::string& file, const SettingsKV& kv) {
  pugi::xml_document doc;
  pugi::xml_node root = doc.append_child("settings");
  for (const auto& e : kv) {
    // One group element per entry: the settings service merges groups of one path.
    const std::string::size_type pos = e.first.rfind('/');
    pugi::xml_node g = root.append_child("group");
    g.append_attribute("path") = e.first.substr(0, pos).c_str();
    pugi::xml_node p = g.append_child("param");
    p.append_attribute("name") = e.first.substr(pos + 1).c_str();
    p.append_attribute("value") = e.second.c_str();
  }
  ASSERT_TRUE(doc.save_file(file.c_str()));
}

}  // namespace fmtest
