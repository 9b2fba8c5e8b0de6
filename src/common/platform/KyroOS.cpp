// KyroOS.cpp: thin POSIX wrappers of the platform's file utilities.
#include "fm_common/platform/KyroOS.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace Kyrofm {
namespace {

bool knownEncoding(const char* encoding) {
  return encoding == nullptr || *encoding == '\0' || std::strcmp(encoding, "UTF-8") == 0 ||
         std::strcmp(encoding, "utf-8") == 0;
}

}  // namespace

long KYRO_OS_filesize(const std::string& path, const char* encoding) {
  if (!knownEncoding(encoding) || path.empty()) return -1;
  struct stat st;
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return -1;
  return static_cast<long>(st.st_size);
}

int KYRO_OS_access(const std::string& path, int mode) {
  if (path.empty()) return -1;
  return ::access(path.c_str(), mode) == 0 ? 0 : -1;
}

int KYRO_OS_unlink(const std::string& path, const char* encoding) {
  if (!knownEncoding(encoding) || path.empty()) {
    errno = EINVAL;
    return -1;
  }
  return ::unlink(path.c_str()) == 0 ? 0 : -1;
}

std::vector<std::string> KyroUtils::split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  split(text, std::string(1, separator), parts);
  return parts;
}

bool KyroUtils::parseLong(const std::string& text, long& value) {
  // Indexes the string itself rather than its c_str(): an embedded NUL is a
  // character like any other here, and not a digit or a blank, so "1\0x" is
  // refused instead of being read as "1".
  const std::string::size_type n = text.size();
  std::string::size_type i = 0;
  auto blank = [&text](std::string::size_type k) { return text[k] == ' ' || text[k] == '\t'; };
  while (i < n && blank(i)) ++i;
  bool negative = false;
  if (i < n && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  if (i == n || text[i] < '0' || text[i] > '9') return false;
  // Accumulated towards the negative side, which holds LONG_MIN.
  long v = 0;
  for (; i < n && text[i] >= '0' && text[i] <= '9'; ++i) {
    if (__builtin_mul_overflow(v, 10L, &v) || __builtin_sub_overflow(v, static_cast<long>(text[i] - '0'), &v)) {
      return false;
    }
  }
  while (i < n && blank(i)) ++i;
  if (i != n) return false;
  if (!negative && __builtin_mul_overflow(v, -1L, &v)) return false;
  value = v;
  return true;
}

void KyroUtils::split(const std::string& text, const std::string& separator, std::vector<std::string>& parts) {
  parts.clear();
  if (separator.empty()) {
    parts.push_back(text);
    return;
  }
  std::string::size_type start = 0;
  for (;;) {
    std::string::size_type pos = text.find(separator, start);
    if (pos == std::string::npos) {
      parts.push_back(text.substr(start));
      return;
    }
    parts.push_back(text.substr(start, pos - start));
    start = pos + separator.size();
  }
}

std::string& FMTrim(std::string& text, const std::string& characters) {
  std::string::size_type last = text.find_last_not_of(characters);
  if (last == std::string::npos) {
    text.clear();
    return text;
  }
  text.erase(last + 1);
  text.erase(0, text.find_first_not_of(characters));
  return text;
}

}  // namespace Kyrofm
