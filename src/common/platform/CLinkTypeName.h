// CLinkTypeName.h: the platform's link type name service: the display name of
// each link type, per product.
//
// An in-process registry that the host process (or a test) fills with
// setName. getName answers "unknow" for a link type no product names.
//
// Ownership and threads: the record string map owns one object; every
// operation may be called from any thread.
#ifndef FM_PLATFORM_CLINKTYPENAME_H
#define FM_PLATFORM_CLINKTYPENAME_H

#include <map>
#include <mutex>
#include <string>

namespace Kyrofm {

// Key of a link type name: product and link type.
struct ProductLinkType_t {
  long m_lProduct = 0;
  long m_lLinkType = 0;
  bool operator<(const ProductLinkType_t& o) const {
    return m_lProduct != o.m_lProduct ? m_lProduct < o.m_lProduct : m_lLinkType < o.m_lLinkType;
  }
  bool operator==(const ProductLinkType_t& o) const {
    return m_lProduct == o.m_lProduct && m_lLinkType == o.m_lLinkType;
  }
};

class CLinkTypeName {
 public:
  static constexpr const char* UNKNOWN_NAME = "unknow";

  // Loads the names registered for the process (setDefaultName); returns 0.
  int init();

  // The name of `linkType` (the first product that names it), "unknow" if none.
  std::string getName(long linkType) const;
  // Every (product, link type) -> name.
  void getAllLinkTypeInfo(std::map<ProductLinkType_t, std::string>& out) const;

  void setName(long product, long linkType, const std::string& name);
  void clear();

  // Names every new service object starts with after init (process-wide).
  static void setDefaultName(long product, long linkType, const std::string& name);
  static void clearDefaultNames();

 private:
  mutable std::mutex m_mutex;
  std::map<ProductLinkType_t, std::string> m_names;
};

}  // namespace Kyrofm

#endif
