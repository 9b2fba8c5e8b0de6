// KyroXmlFile.cpp: atomic replacement, locking and parsing of the XML
// configuration files (see the header for the rules).
#include "fm_common/platform/KyroXmlFile.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <vector>

#include <pugixml.hpp>

#include "fm_common/platform/KyroTrace.h"

namespace Kyrofm {
namespace {

std::string dirOf(const std::string& path) {
  std::string::size_type pos = path.rfind('/');
  if (pos == std::string::npos) return ".";
  if (pos == 0) return "/";
  return path.substr(0, pos);
}

std::string baseOf(const std::string& path) {
  std::string::size_type pos = path.rfind('/');
  return pos == std::string::npos ? path : path.substr(pos + 1);
}

// Writes all of `data` to `fd`, retrying short writes and EINTR.
bool writeAll(int fd, const char* data, size_t len) {
  while (len > 0) {
    ssize_t n = ::write(fd, data, len);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += n;
    len -= static_cast<size_t>(n);
  }
  return true;
}

void syncDirectory(const std::string& dir) {
  int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) {
    ::fsync(fd);
    ::close(fd);
  }
}

}  // namespace

bool KyroFileStamp::operator==(const KyroFileStamp& o) const {
  return exists == o.exists && dev == o.dev && ino == o.ino && size == o.size &&
         mtimeSec == o.mtimeSec && mtimeNsec == o.mtimeNsec && ctimeSec == o.ctimeSec &&
         ctimeNsec == o.ctimeNsec;
}

KyroFileStamp KyroXmlFile::stamp(const std::string& path) {
  KyroFileStamp s;
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return s;
  s.exists = true;
  s.dev = st.st_dev;
  s.ino = st.st_ino;
  s.size = st.st_size;
  s.mtimeSec = static_cast<long>(st.st_mtim.tv_sec);
  s.mtimeNsec = static_cast<long>(st.st_mtim.tv_nsec);
  s.ctimeSec = static_cast<long>(st.st_ctim.tv_sec);
  s.ctimeNsec = static_cast<long>(st.st_ctim.tv_nsec);
  return s;
}

int KyroXmlFile::readFile(const std::string& path, std::string& content) {
  content.clear();
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return errno == ENOENT ? KYRO_FILE_MISSING : KYRO_FILE_IO_ERROR;
  char buf[8192];
  for (;;) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR) continue;
      ::close(fd);
      content.clear();
      return KYRO_FILE_IO_ERROR;
    }
    if (n == 0) break;
    content.append(buf, static_cast<size_t>(n));
  }
  ::close(fd);
  return KYRO_FILE_OK;
}

int KyroXmlFile::writeFileAtomically(const std::string& path, const std::string& content,
                                     std::string& error) {
  const std::string dir = dirOf(path);
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);  // an existing directory is fine

  std::string tmpl = path + ".tmp.XXXXXX";
  std::vector<char> name(tmpl.begin(), tmpl.end());
  name.push_back('\0');
  int fd = ::mkstemp(name.data());
  if (fd < 0) {
    error = std::string("cannot create temporary file ") + tmpl + ": " + std::strerror(errno);
    return KYRO_FILE_IO_ERROR;
  }
  const std::string tmp(name.data());
  // Keep the permissions of the file being replaced (mkstemp makes 0600).
  struct stat st;
  if (::stat(path.c_str(), &st) == 0) {
    ::fchmod(fd, st.st_mode & 07777);
  } else {
    ::fchmod(fd, 0644);
  }

  const char* step = nullptr;
  if (!writeAll(fd, content.data(), content.size())) {
    step = "write";
  } else if (::fsync(fd) != 0) {
    step = "fsync";
  }
  int savedErrno = errno;
  if (::close(fd) != 0 && step == nullptr) {
    step = "close";
    savedErrno = errno;
  }
  if (step == nullptr && ::rename(tmp.c_str(), path.c_str()) != 0) {
    step = "rename";
    savedErrno = errno;
  }
  if (step != nullptr) {
    ::unlink(tmp.c_str());
    error = std::string(step) + " of " + tmp + " failed: " + std::strerror(savedErrno);
    return KYRO_FILE_IO_ERROR;
  }
  syncDirectory(dir);
  return KYRO_FILE_OK;
}

int KyroXmlFile::lineOfOffset(const std::string& buffer, std::ptrdiff_t offset) {
  if (offset < 0) offset = 0;
  size_t end = std::min(static_cast<size_t>(offset), buffer.size());
  int line = 1;
  for (size_t i = 0; i < end; ++i) {
    if (buffer[i] == '\n') ++line;
  }
  return line;
}

int KyroXmlFile::loadDocument(const std::string& path, pugi::xml_document& doc, const char* who,
                              int* errorLine) {
  doc.reset();
  if (errorLine) *errorLine = 0;
  std::string content;
  int rc = readFile(path, content);
  if (rc != KYRO_FILE_OK) return rc;
  pugi::xml_parse_result res = doc.load_buffer(content.data(), content.size(),
                                               pugi::parse_default | pugi::parse_declaration | pugi::parse_comments,
                                               pugi::encoding_utf8);
  if (!res) {
    int line = lineOfOffset(content, res.offset);
    if (errorLine) *errorLine = line;
    FM_TRACE(TRACE_ERROR, "%s, malformed XML file %s at line %d: %s", who, path.c_str(), line,
             res.description());
    doc.reset();
    return KYRO_FILE_MALFORMED;
  }
  return KYRO_FILE_OK;
}

std::string KyroXmlFile::serialise(const pugi::xml_document& doc) {
  std::ostringstream os;
  doc.save(os, "  ", pugi::format_default, pugi::encoding_utf8);
  return os.str();
}

int KyroXmlFile::removeStrayTempFiles(const std::string& path) {
  const std::string dir = dirOf(path);
  const std::string prefix = baseOf(path) + ".tmp.";
  int removed = 0;
  DIR* d = ::opendir(dir.c_str());
  if (d == nullptr) return 0;
  std::vector<std::string> victims;
  while (struct dirent* e = ::readdir(d)) {
    if (std::strncmp(e->d_name, prefix.c_str(), prefix.size()) == 0) victims.emplace_back(e->d_name);
  }
  ::closedir(d);
  for (const auto& v : victims) {
    std::string full = dir + "/" + v;
    if (::unlink(full.c_str()) == 0) {
      ++removed;
      FM_TRACE(TRACE_WARNING, "KyroXmlFile, removed temporary file %s left by an interrupted write",
               full.c_str());
    }
  }
  return removed;
}

KyroFileLock::KyroFileLock(const std::string& path) {
  const std::string lockPath = path + ".lock";
  std::error_code ec;
  std::filesystem::create_directories(dirOf(path), ec);
  int fd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) {
    FM_TRACE(TRACE_ERROR, "KyroFileLock, cannot open lock file %s: %s", lockPath.c_str(),
             std::strerror(errno));
    return;
  }
  int rc;
  do {
    rc = ::flock(fd, LOCK_EX);
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) {
    FM_TRACE(TRACE_ERROR, "KyroFileLock, cannot lock %s: %s", lockPath.c_str(), std::strerror(errno));
    ::close(fd);
    return;
  }
  m_iFd = fd;
}

KyroFileLock::~KyroFileLock() {
  if (m_iFd >= 0) {
    ::flock(m_iFd, LOCK_UN);
    ::close(m_iFd);
  }
}

}  // namespace Kyrofm
