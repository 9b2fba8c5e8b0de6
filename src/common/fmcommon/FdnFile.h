// FdnFile.h: the FDN file, where the FDN manager keeps FDN identifiers that it
// could not write to the table tbl_fdn_mgr, so that identifiers already handed
// out survive a restart until the file is replayed into the table.
//
// Format: plain text, one pair per line, "<fdnid>:<fdn>" and a line end (a
// line feed; carriage returns and line feeds at either end of a line are
// ignored when reading). A line holds at most 511 characters. Appended blocks
// follow each other, so an FDN may occur more than once; when read back the
// later line wins. An FDN that is empty or contains ':', a carriage return or a
// line feed cannot be stored and is refused when written.
//
// A line parses when it splits at ':' into exactly two parts, the FDN (the
// line's ends trimmed) is one the writer can store, so no carriage return
// inside, and the id text is an optional '-' followed by one or more decimal
// digits and nothing else (no blanks, no '+'), of any length (leading zeros
// are allowed: "000000000000000000005" is 5), whose value fits in a long. A
// line that does not parse is skipped when read (an empty one silently), and
// so is an incomplete last line (one without its line end, left by an
// interrupted write).
//
// FdnFile owns its path and its streams. It has no lock: the FDN manager calls
// it only while it holds its write lock, so one thread at a time.
#ifndef FM_FMCOMMON_FDNFILE_H
#define FM_FMCOMMON_FDNFILE_H

#include <map>
#include <string>

#include "fm_common/platform/KyroOS.h"

namespace Kyrofm {

class FdnFile {
 public:
  // A file of 20 MiB or more is not appended to.
  static constexpr long MAX_FILE_SIZE = 0x1400000;
  // Longest line, line end excluded.
  static constexpr size_t MAX_LINE_LENGTH = 511;

  FdnFile() = default;
  explicit FdnFile(const std::string& path) : m_strFileName(path) {}
  FdnFile(const FdnFile&) = delete;
  FdnFile& operator=(const FdnFile&) = delete;

  void setFileName(const std::string& path) { m_strFileName = path; }
  const std::string& getFileName() const { return m_strFileName; }

  // Appends the pairs of `fdns` in map order as one block. An incomplete last
  // line already in the file is dropped first, so the block starts on a line of
  // its own. 33002 when the file is 20 MiB or larger (file unchanged), cannot be
  // opened or the write fails; 33001 when some pairs could not be stored (see
  // above; the others are written); else 33000.
  long saveToFile(const std::map<std::string, long>& fdns);

  // Replaces the file's content by the pairs of `fdns` (an empty map leaves an
  // empty file). The new content is written beside the file and renamed over
  // it, so a failure leaves the old content. 33002 on failure, 33001 when some
  // pairs could not be stored, else 33000.
  long flushFdnStrToFile(const std::map<std::string, long>& fdns);

  // Reads the file into `fdns` (entries are set, none removed; a later line
  // overwrites an earlier one). Lines that do not parse, longer lines than
  // MAX_LINE_LENGTH and an incomplete last line are logged and skipped.
  // 33002 when the file cannot be opened, else 33000.
  long FileToStrBuffer(std::map<std::string, long>& fdns);

  // True when the file exists.
  bool isFileExist();

  // Removes the file: 33000 when removed or already missing, 33002 otherwise.
  long deleteFile();

 private:
  // Builds the text of `fdns`; counts the pairs that cannot be stored.
  std::string buildBlock(const std::map<std::string, long>& fdns, const char* function, size_t& refused) const;
  // Cuts an incomplete last line off the file; false when that fails.
  bool dropIncompleteLastLine();
  // Writes `block` to `path` opened with `mode` and flushes it to the disk;
  // false (logged with `function`'s name) when any step fails.
  bool writeBlock(const std::string& path, std::ios_base::openmode mode, const std::string& block,
                  const char* function);

  std::string m_strFileName;
  UTF8_ifstream m_inStream;
  UTF8_ofstream m_outStream;
};

}  // namespace Kyrofm

#endif
