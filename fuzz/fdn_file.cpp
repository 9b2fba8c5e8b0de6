// Fuzz target: the FDN file reader (FdnFile). The input is the file as found
// on disk. Checks: every pair read has a well-formed FDN; what was read,
// rewritten by flushFdnStrToFile, reads back the same; a block appended by saveToFile after that content (an
// incomplete last line included) reads back as the old pairs updated by the
// new ones.
#include <map>

#include "FuzzSupport.h"
#include "fm_common/fmcommon/FdnFile.h"
#include "fm_common/platform/FMResult.h"

using namespace Kyrofm;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string path = fmfuzz::fuzzEnv() + "/fdn.txt";
  fmfuzz::writeFile(path, data, size);
  FdnFile file(path);
  std::map<std::string, long> read;
  FUZZ_CHECK(file.FileToStrBuffer(read) == FM_SUCCESS);
  // What the writer stores: a line "<id>:<fdn>" of at most 511 characters, the
  // FDN not empty and without ':', carriage return or line feed.
  auto storable = [](const std::string& fdn, long id) {
    return !fdn.empty() && fdn.find_first_of(":\r\n") == std::string::npos &&
           std::to_string(id).size() + 1 + fdn.size() <= FdnFile::MAX_LINE_LENGTH;
  };
  // Every pair read can be written again: the reader skips what the writer
  // would refuse.
  for (const auto& kv : read) FUZZ_CHECK(storable(kv.first, kv.second));

  // New pairs: a few FDNs made of the input's bytes (some not storable).
  std::map<std::string, long> added;
  std::string text(reinterpret_cast<const char*>(data), size);
  for (size_t i = 0; i < 4 && i * 7 < size; ++i) added[text.substr(i * 7, 9)] = static_cast<long>(i) - 2;
  std::map<std::string, long> want = read;
  size_t refused = 0;
  for (const auto& kv : added) {
    if (storable(kv.first, kv.second)) {
      want[kv.first] = kv.second;
    } else {
      ++refused;
    }
  }
  long rc = file.saveToFile(added);
  FUZZ_CHECK(rc == (refused ? FM_PARTIAL_SUCCESS : FM_SUCCESS));
  std::map<std::string, long> appended;
  FUZZ_CHECK(file.FileToStrBuffer(appended) == FM_SUCCESS);
  FUZZ_CHECK(appended == want);

  rc = file.flushFdnStrToFile(read);
  FUZZ_CHECK(rc == FM_SUCCESS);
  std::map<std::string, long> again;
  FUZZ_CHECK(file.FileToStrBuffer(again) == FM_SUCCESS);
  FUZZ_CHECK(again == read);
  return 0;
}
