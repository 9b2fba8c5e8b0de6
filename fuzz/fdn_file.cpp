// Fuzz target: the FDN file reader (FdnFile). The input is the file as found
// on disk. Checks: every pair read is storable; what was read, rewritten by
// flushFdnStrToFile, reads back the same; a block appended by saveToFile after
// that content (an incomplete last line included) reads back as the old pairs
// updated by the new ones.
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
  for (const auto& kv : read) {
    FUZZ_CHECK(!kv.first.empty() && kv.first.find_first_of(":\r\n") == std::string::npos);
    FUZZ_CHECK(std::to_string(kv.second).size() + 1 + kv.first.size() <= FdnFile::MAX_LINE_LENGTH);
  }

  // New pairs: a few FDNs made of the input's bytes (some not storable).
  std::map<std::string, long> added;
  std::string text(reinterpret_cast<const char*>(data), size);
  for (size_t i = 0; i < 4 && i * 7 < size; ++i) added[text.substr(i * 7, 9)] = static_cast<long>(i) - 2;
  std::map<std::string, long> want = read;
  size_t refused = 0;
  for (const auto& kv : added) {
    std::string line = std::to_string(kv.second) + ":" + kv.first;
    if (kv.first.empty() || kv.first.find_first_of(":\r\n") != std::string::npos ||
        line.size() > FdnFile::MAX_LINE_LENGTH) {
      ++refused;
    } else {
      want[kv.first] = kv.second;
    }
  }
  long rc = file.saveToFile(added);
  FUZZ_CHECK(rc == (refused ? FM_PARTIAL_SUCCESS : FM_SUCCESS));
  std::map<std::string, long> appended;
  FUZZ_CHECK(file.FileToStrBuffer(appended) == FM_SUCCESS);
  FUZZ_CHECK(appended == want);

  FUZZ_CHECK(file.flushFdnStrToFile(read) == FM_SUCCESS);
  std::map<std::string, long> again;
  FUZZ_CHECK(file.FileToStrBuffer(again) == FM_SUCCESS);
  FUZZ_CHECK(again == read);
  return 0;
}
