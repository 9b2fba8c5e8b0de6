// CAlmIdAdpter.h: the product adapter of alarm identifiers as the library uses
// it: some products code alarm types differently from the service, and their
// types are converted when alarms or explanation entries enter the service.
//
// The real adapter belongs to the product's customisation module; here it is
// an in-process registry. While no conversion is registered,
// IsNeedConvertAlmType() is false and ConvertAlmType() returns its argument.
// A host process (or a test) registers the product's type table with
// SetAlmTypeMap.
//
// Thread safety: every operation may be called from any thread.
#ifndef FM_PLATFORM_CALMIDADPTER_H
#define FM_PLATFORM_CALMIDADPTER_H

#include <map>

namespace Kyrofm {

class CAlmIdAdpter {
 public:
  // True while a type conversion table is registered.
  static bool IsNeedConvertAlmType();
  // The service's type for a product type; a type the table lacks (or any
  // type while no table is registered) is returned unchanged.
  static char ConvertAlmType(char type);

  // Registers the product's table (product type -> service type); an empty
  // table switches the conversion off.
  static void SetAlmTypeMap(const std::map<char, char>& table);
  static void Clear();
};

}  // namespace Kyrofm

#endif
