// KyroCommonUtils.h: process-wide facts of the platform that the library asks
// for: whether this is the global (UTF-8) edition, the escape clause that follows
// every LIKE pattern, and the root directory of all files.
//
// Thread safety: all functions may be called from any thread.
#ifndef FM_PLATFORM_KYROCOMMONUTILS_H
#define FM_PLATFORM_KYROCOMMONUTILS_H

#include <string>

namespace Kyrofm {

class KyroCommonUtils {
 public:
  // True for the global edition (UTF-8 texts). Default: true; the environment
  // variable KYRO_GLOBAL_VERSION=0 selects the local edition.
  static bool IsGlobalVersion();
  static void setGlobalVersion(bool global);

  // The escape clause appended after every LIKE pattern: " escape '\'".
  // Patterns escape '\', '%' and '_' with a backslash.
  static const std::string& getEscapeString();
  static constexpr char LIKE_ESCAPE_CHAR = '\\';

  // The root directory of every file the library reads or writes (database,
  // FDN file, settings, configuration, identifier marks, logs): KYRO_ROOT when
  // it is set and not empty; otherwise "<working directory>/var", fixed at the
  // first such call, which writes one warning line to stderr (directly, not
  // through the trace client). Never empty. Every path of the library is built
  // from this answer; nothing reads KYRO_ROOT on its own.
  static std::string getRoot();

  // Gives the file to the service's user; a no-op where the process already
  // owns it. Returns 0.
  static int Kyrochown(const std::string& path);
};

}  // namespace Kyrofm

#endif
