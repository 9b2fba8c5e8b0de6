// KyroOS.h: the platform's operating-system utility functions as the library
// uses them: file size, access test and removal of files named by UTF-8 paths,
// file streams that open UTF-8 paths, and two small text helpers (split at a
// separator, trim a set of characters). On POSIX hosts paths are bytes, so a
// UTF-8 path is used as it is; the encoding arguments name the path's encoding
// and only "UTF-8" (or an empty name) is accepted.
//
// Thread safety: all functions may be called from any thread; a stream belongs
// to one thread at a time.
#ifndef FM_PLATFORM_KYROOS_H
#define FM_PLATFORM_KYROOS_H

#include <fstream>
#include <string>
#include <vector>

namespace Kyrofm {

// Size in bytes of the regular file `path`; -1 when it cannot be determined
// (missing, not a regular file, or an unknown encoding).
long KYRO_OS_filesize(const std::string& path, const char* encoding);

// access(2): 0 when `path` is accessible in `mode` (0: exists), -1 otherwise.
int KYRO_OS_access(const std::string& path, int mode);

// Removes the file `path`: 0 on success, -1 otherwise (errno tells why).
int KYRO_OS_unlink(const std::string& path, const char* encoding);

// File streams opened by a UTF-8 path.
class UTF8_ifstream : public std::ifstream {
 public:
  UTF8_ifstream() = default;
  explicit UTF8_ifstream(const std::string& utf8Path, std::ios_base::openmode mode = std::ios_base::in) {
    open(utf8Path, mode);
  }
  void open(const std::string& utf8Path, std::ios_base::openmode mode = std::ios_base::in) {
    std::ifstream::open(utf8Path.c_str(), mode | std::ios_base::in);
  }
};

class UTF8_ofstream : public std::ofstream {
 public:
  UTF8_ofstream() = default;
  explicit UTF8_ofstream(const std::string& utf8Path, std::ios_base::openmode mode = std::ios_base::out) {
    open(utf8Path, mode);
  }
  void open(const std::string& utf8Path, std::ios_base::openmode mode = std::ios_base::out) {
    std::ofstream::open(utf8Path.c_str(), mode | std::ios_base::out);
  }
};

class KyroUtils {
 public:
  // Splits `text` at every occurrence of `separator` (a non-empty string) into
  // `parts`, which is cleared first. Empty parts are kept: "a::b" split at ":"
  // gives "a", "", "b"; an empty text gives one empty part.
  static void split(const std::string& text, const std::string& separator, std::vector<std::string>& parts);
  // The same at a one-character separator, returning the parts.
  static std::vector<std::string> split(const std::string& text, char separator);

  // Reads a whole decimal integer: blanks (space, tab) around it and a sign
  // are allowed, anything else (no digit, trailing text, an embedded NUL, a
  // value outside long) gives false and leaves `value` unchanged. The whole
  // string counts, not just the part before a NUL.
  static bool parseLong(const std::string& text, long& value);
};

// Removes every character of `characters` from both ends of `text`; returns it.
std::string& FMTrim(std::string& text, const std::string& characters);

}  // namespace Kyrofm

#endif
