// FdnFile.cpp: the FDN file of the FDN manager. Appends go to the end of the
// file in one write; a full rewrite goes through a file beside it that is renamed
// over it; the reader skips what it cannot parse and keeps going, so a damaged
// line costs only itself.
#include "fm_common/fmcommon/FdnFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <vector>

#include "fm_common/platform/FMResult.h"
#include "fm_common/platform/KyroCommonUtils.h"
#include "fm_common/platform/KyroTrace.h"

namespace Kyrofm {
namespace {

// True when `fdn` can be stored in a line: not empty, no ':' (the separator)
// and no line end characters.
bool storable(const std::string& fdn) {
  return !fdn.empty() && fdn.find_first_of(":\r\n") == std::string::npos;
}

// Parses the id text of a line: an optional '-' and one or more decimal
// digits (leading zeros allowed, no length limit), nothing else, whose value
// fits in a long.
bool parseId(const std::string& text, long& id) {
  if (text.empty()) return false;
  size_t i = (text[0] == '-') ? 1 : 0;
  if (i == text.size()) return false;
  for (size_t k = i; k < text.size(); ++k)
    if (text[k] < '0' || text[k] > '9') return false;
  errno = 0;
  char* end = nullptr;
  long v = std::strtol(text.c_str(), &end, 10);
  if (errno == ERANGE || end != text.c_str() + text.size()) return false;
  id = v;
  return true;
}

}  // namespace

std::string FdnFile::buildBlock(const std::map<std::string, long>& fdns, const char* function,
                                size_t& refused) const {
  std::string block;
  refused = 0;
  for (const auto& kv : fdns) {
    std::string line = std::to_string(kv.second);
    line += ':';
    line += kv.first;
    if (!storable(kv.first) || line.size() > MAX_LINE_LENGTH) {
      FM_TRACE(TRACE_ERROR, "%s>>fdn(%s) id(%ld) can not be stored in the fdn file", function, kv.first.c_str(),
               kv.second);
      ++refused;
      continue;
    }
    block += line;
    block += '\n';
  }
  return block;
}

bool FdnFile::dropIncompleteLastLine() {
  long size = KYRO_OS_filesize(m_strFileName, "UTF-8");
  if (size <= 0) return true;
  UTF8_ifstream in(m_strFileName, std::ios_base::binary);
  if (!in.is_open()) return false;
  long keep = 0;
  long pos = size;
  std::vector<char> buf(4096);
  while (pos > 0) {
    long chunk = pos < static_cast<long>(buf.size()) ? pos : static_cast<long>(buf.size());
    in.seekg(pos - chunk);
    if (!in.read(buf.data(), chunk)) return false;
    long i = chunk - 1;
    while (i >= 0 && buf[i] != '\n') --i;
    if (i >= 0) {
      keep = pos - chunk + i + 1;
      break;
    }
    pos -= chunk;
  }
  in.close();
  if (keep == size) return true;
  FM_TRACE(TRACE_WARNING, "FdnFile::saveToFile>>incomplete last line dropped, filesize(%ld) kept(%ld)", size, keep);
  std::error_code ec;
  std::filesystem::resize_file(m_strFileName, static_cast<std::uintmax_t>(keep), ec);
  return !ec;
}

bool FdnFile::writeBlock(const std::string& path, std::ios_base::openmode mode, const std::string& block,
                         const char* function) {
  m_outStream.clear();
  m_outStream.open(path, mode);
  if (!m_outStream.is_open()) {
    FM_TRACE(TRACE_ERROR, "fdnFile::saveToFile , open file failed!");
    return false;
  }
  m_outStream.write(block.data(), static_cast<std::streamsize>(block.size()));
  m_outStream.flush();
  bool ok = m_outStream.good();
  m_outStream.close();
  // The file holds ids the table does not have yet: it must reach the disk
  // before the ids are handed out.
  if (ok) {
    int fd = ::open(path.c_str(), O_RDONLY);
    ok = fd >= 0 && ::fsync(fd) == 0;
    if (fd >= 0) ::close(fd);
  }
  if (!ok) FM_TRACE(TRACE_ERROR, "%s>>write failed, errno is:%d", function, errno);
  return ok;
}

long FdnFile::saveToFile(const std::map<std::string, long>& fdns) {
  try {
    KyroCommonUtils::Kyrochown(m_strFileName);
    long size = KYRO_OS_filesize(m_strFileName, "UTF-8");
    if (size >= MAX_FILE_SIZE) {
      FM_TRACE(TRACE_ERROR, "FdnFile::saveToFile>>fdnfile is too large,filesize(%ld)", size);
      return FM_FAILURE;
    }
    if (!dropIncompleteLastLine()) {
      FM_TRACE(TRACE_ERROR, "fdnFile::saveToFile , open file failed!");
      return FM_FAILURE;
    }
    size_t refused = 0;
    std::string block = buildBlock(fdns, "FdnFile::saveToFile", refused);

    if (!writeBlock(m_strFileName, std::ios_base::app, block, "FdnFile::saveToFile")) return FM_FAILURE;
    return refused ? FM_PARTIAL_SUCCESS : FM_SUCCESS;
  } catch (const std::exception& ex) {
    FM_TRACE(TRACE_ERROR, "FdnFile::saveToFile exception: %s", ex.what());
    if (m_outStream.is_open()) m_outStream.close();
    return FM_FAILURE;
  }
}

long FdnFile::flushFdnStrToFile(const std::map<std::string, long>& fdns) {
  const std::string tmp = m_strFileName + ".tmp";
  try {
    KyroCommonUtils::Kyrochown(m_strFileName);
    size_t refused = 0;
    std::string block = buildBlock(fdns, "FdnFile::flushFdnStrToFile", refused);

    if (!writeBlock(tmp, std::ios_base::binary | std::ios_base::trunc, block, "FdnFile::flushFdnStrToFile")) {
      KYRO_OS_unlink(tmp, "UTF-8");
      return FM_FAILURE;
    }
    if (std::rename(tmp.c_str(), m_strFileName.c_str()) != 0) {
      FM_TRACE(TRACE_ERROR, "FdnFile::flushFdnStrToFile>>rename failed, errno is:%d", errno);
      KYRO_OS_unlink(tmp, "UTF-8");
      return FM_FAILURE;
    }
    KyroCommonUtils::Kyrochown(m_strFileName);
    return refused ? FM_PARTIAL_SUCCESS : FM_SUCCESS;
  } catch (const std::exception& ex) {
    FM_TRACE(TRACE_ERROR, "FdnFile::flushFdnStrToFile exception: %s", ex.what());
    if (m_outStream.is_open()) m_outStream.close();
    KYRO_OS_unlink(tmp, "UTF-8");
    return FM_FAILURE;
  }
}

long FdnFile::FileToStrBuffer(std::map<std::string, long>& fdns) {
  try {
    KyroCommonUtils::Kyrochown(m_strFileName);
    m_inStream.clear();
    m_inStream.open(m_strFileName, std::ios_base::binary);
    if (!m_inStream.is_open()) {
      FM_TRACE(TRACE_ERROR, "FdnFile::FileToStrBuffer open file failed! errno is:%d", errno);
      return FM_FAILURE;
    }
    std::streambuf* sb = m_inStream.rdbuf();
    // One line: at most MAX_LINE_LENGTH characters plus a carriage return are
    // kept; anything longer only sets the flag.
    std::string line;
    line.reserve(MAX_LINE_LENGTH + 2);
    bool tooLong = false;
    std::vector<std::string> parts;

    auto takeLine = [&]() {
      FMTrim(line, "\r\n");
      if (tooLong || line.size() > MAX_LINE_LENGTH) {
        FM_TRACE(TRACE_ERROR, "FdnFile::FileToStrBuffer>>line longer than %d characters skipped, begins (%.64s)",
                 static_cast<int>(MAX_LINE_LENGTH), line.c_str());
        return;
      }
      if (line.empty()) return;
      KyroUtils::split(line, ":", parts);
      long id = 0;
      // A pair the writer could not store again (an FDN with a carriage
      // return inside) never came from it: skipped, so that a rewrite of what
      // was read never drops a pair silently.
      if (parts.size() != 2 || !storable(parts[1]) || !parseId(parts[0], id)) {
        FM_TRACE(TRACE_ERROR, "FdnFile::FileToStrBuffer>>lineString(%s) parse failed!", line.c_str());
        return;
      }
      fdns[parts[1]] = id;
    };

    for (int c = sb->sbumpc(); c != std::char_traits<char>::eof(); c = sb->sbumpc()) {
      if (c == '\n') {
        takeLine();
        line.clear();
        tooLong = false;
      } else if (line.size() <= MAX_LINE_LENGTH) {
        line.push_back(static_cast<char>(c));
      } else {
        tooLong = true;
      }
    }
    if (!line.empty() || tooLong) {
      // Every writer ends its lines; a last line without an end was cut short.
      FM_TRACE(TRACE_ERROR, "FdnFile::FileToStrBuffer>>lineString(%.64s) incomplete, skipped", line.c_str());
    }
    m_inStream.close();
    return FM_SUCCESS;
  } catch (const std::exception& ex) {
    FM_TRACE(TRACE_ERROR, "FdnFile::FileToStrBuffer exception: %s", ex.what());
    if (m_inStream.is_open()) m_inStream.close();
    return FM_FAILURE;
  }
}

bool FdnFile::isFileExist() {
  if (KYRO_OS_access(m_strFileName, 0) == 0) return true;
  FM_TRACE(TRACE_PROGRESS, "FdnFile::isFileExist>>access failed,%s is not exist", m_strFileName.c_str());
  return false;
}

long FdnFile::deleteFile() {
  if (KYRO_OS_access(m_strFileName, 0) != 0) {
    FM_TRACE(TRACE_PROGRESS, "FdnFile::deleteFile>>access failed ,%s is not exist", m_strFileName.c_str());
    return FM_SUCCESS;
  }
  KyroCommonUtils::Kyrochown(m_strFileName);
  if (KYRO_OS_unlink(m_strFileName, "UTF-8") == 0) return FM_SUCCESS;
  FM_TRACE(TRACE_ERROR, "FdnFile::deleteFile>>failed(%ld)", static_cast<long>(errno));
  return FM_FAILURE;
}

}  // namespace Kyrofm
