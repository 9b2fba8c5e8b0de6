// KyroXmlFile.h: the file discipline shared by the settings service and the XML
// configuration adapter.
//
// Configuration files are small XML documents that several processes of the
// service read and a few write. Three rules keep them intact:
//  - a write never changes the file in place: the new content goes to a
//    temporary file in the same directory, is flushed to disk (fsync) and then
//    renamed over the old name, and the directory is synced, so a crash leaves
//    either the old or the new file, never a half-written one;
//  - writers of one file serialise on an advisory lock file ("<file>.lock",
//    flock) and re-read the file under it, so an update made by another process
//    in between is not lost; temporary files found under that lock are the
//    leftovers of a crashed writer and are removed;
//  - a malformed file is reported with its path and the line of the error and
//    is treated as absent by readers (the settings service, which caches the
//    parsed file, reports it once per change of the file).
//
// Thread safety: all functions may be called from any thread; KyroFileLock
// objects belong to the thread that made them.
#ifndef FM_PLATFORM_KYROXMLFILE_H
#define FM_PLATFORM_KYROXMLFILE_H

#include <sys/types.h>

#include <cstddef>
#include <string>

// The documents are pugixml's; only the .cpp files that parse or build them
// include pugixml, so it stays off the include path of the library's users.
namespace pugi {
class xml_document;
}

namespace Kyrofm {

// Results of the file functions (0 is success).
enum KyroFileResult {
  KYRO_FILE_OK = 0,
  KYRO_FILE_MISSING = 1,    // the file does not exist
  KYRO_FILE_IO_ERROR = 2,   // open, read, write, sync or rename failed
  KYRO_FILE_MALFORMED = 3,  // the file is not well-formed XML
};

// Identity of a file's current content as far as stat can tell: readers keep
// it to notice that another process replaced the file.
struct KyroFileStamp {
  bool exists = false;
  dev_t dev = 0;
  ino_t ino = 0;
  off_t size = 0;
  long mtimeSec = 0;
  long mtimeNsec = 0;
  long ctimeSec = 0;
  long ctimeNsec = 0;
  bool operator==(const KyroFileStamp& o) const;
  bool operator!=(const KyroFileStamp& o) const { return !(*this == o); }
};

class KyroXmlFile {
 public:
  // The stamp of `path` now (exists = false when it cannot be stat'ed).
  static KyroFileStamp stamp(const std::string& path);

  // Reads the whole file into `content`. KYRO_FILE_MISSING when it does not
  // exist, KYRO_FILE_IO_ERROR on any other failure.
  static int readFile(const std::string& path, std::string& content);

  // Replaces `path` by `content` atomically (see the header comment). Creates
  // the parent directory when it is missing. On failure the old file is left
  // as it was, the temporary file is removed and `error` says what failed.
  static int writeFileAtomically(const std::string& path, const std::string& content,
                                 std::string& error);

  // Loads and parses `path` into `doc`. On a parse error logs at level 5
  // "<who>, malformed XML file <path> at line <n>: <description>" and returns
  // KYRO_FILE_MALFORMED with `doc` reset; `errorLine` receives the line (1-based)
  // computed from the parser's byte offset.
  static int loadDocument(const std::string& path, pugi::xml_document& doc, const char* who,
                          int* errorLine = nullptr);

  // Serialises `doc` (UTF-8, two-blank indentation, XML declaration).
  static std::string serialise(const pugi::xml_document& doc);

  // 1-based line number of byte `offset` of `buffer` (offsets past the end give
  // the last line).
  static int lineOfOffset(const std::string& buffer, std::ptrdiff_t offset);

  // Removes "<base>.tmp.*" leftovers of crashed writers next to `path`. Only
  // call it while holding the file's KyroFileLock. Returns how many went.
  static int removeStrayTempFiles(const std::string& path);
};

// Exclusive advisory lock of one configuration file across threads and
// processes, held for the life of the object. The lock file is "<path>.lock".
class KyroFileLock {
 public:
  explicit KyroFileLock(const std::string& path);
  ~KyroFileLock();
  KyroFileLock(const KyroFileLock&) = delete;
  KyroFileLock& operator=(const KyroFileLock&) = delete;
  // False when the lock file could not be opened or locked; the holder must
  // not write then.
  bool locked() const { return m_iFd >= 0; }

 private:
  int m_iFd = -1;
};

}  // namespace Kyrofm

#endif
