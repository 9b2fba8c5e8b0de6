// XRIMIrpPluginplat.h: the platform plug-in object and the managed-object
// naming services that the record string map asks for display names.
//
//  - the OMC NE: the FDN of the network-management server's own NE and the
//    name shown for it and every object below it;
//  - the operator/EAM naming service: the display name of an FDN, singly or
//    in batches;
//  - the product library: names objects the naming service does not know;
//    "loaded" once the host installs one.
// All three are in-process registries that the host process (or a test)
// fills; without entries the naming service knows no name and no product
// library is loaded.
//
// Ownership and threads: one process-wide object (Instance/Destroy); every
// operation may be called from any thread.
#ifndef FM_PLATFORM_XRIMIRPPLUGINPLAT_H
#define FM_PLATFORM_XRIMIRPPLUGINPLAT_H

#include <atomic>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>

namespace Kyrofm {

// Answer of the naming service for an FDN it does not know.
constexpr int MONAME_NOT_FOUND = 33002;

class XRIMIrpPluginplat {
 public:
  // Product library: fills the name of an FDN and returns 0, or a nonzero code.
  using ProductNamer = std::function<int(const std::string& fdn, std::string& name)>;

  static XRIMIrpPluginplat* Instance();
  static void Destroy();

  std::string getOMCNeFdn() const;
  void setOMCNeFdn(const std::string& fdn);
  std::string getOMCName() const;
  void setOMCName(const std::string& name);

  // Naming service: 33000 and the name, MONAME_NOT_FOUND when unknown.
  int getMOName(const std::string& fdn, std::string& name) const;
  // Names of every FDN of `fdns` the service knows (others are left out):
  // 33000, or MONAME_NOT_FOUND when the service is switched off.
  int getBatchMOName(const std::set<std::string>& fdns, std::map<std::string, std::string>& names) const;
  void setMOName(const std::string& fdn, const std::string& name);
  void removeMOName(const std::string& fdn);
  // Switches the naming service off (every call fails) or on.
  void setNamingAvailable(bool available);
  // How many times the naming service was asked (single and batch calls).
  long getNamingCalls() const { return m_lCalls.load(); }

  // Product library.
  bool hasProductLib() const;
  int getProductMOName(const std::string& fdn, std::string& name) const;
  void setProductNamer(ProductNamer namer);

  // Forgets every name, the OMC NE and the product library.
  void clear();

  XRIMIrpPluginplat(const XRIMIrpPluginplat&) = delete;
  XRIMIrpPluginplat& operator=(const XRIMIrpPluginplat&) = delete;
  ~XRIMIrpPluginplat() = default;

 private:
  XRIMIrpPluginplat() = default;

  static std::atomic<XRIMIrpPluginplat*> m_pInstance;
  static std::mutex m_InstanceMutex;

  mutable std::mutex m_mutex;
  std::string m_strOMCNeFdn;
  std::string m_strOMCName;
  std::map<std::string, std::string> m_names;
  bool m_bNamingAvailable = true;
  ProductNamer m_productNamer;
  mutable std::atomic<long> m_lCalls{0};
};

}  // namespace Kyrofm

#endif
