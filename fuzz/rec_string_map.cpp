// Fuzz target: the fault-management information file read by CRecStringMap
// (ReadFMInfoFile; the same input also as the combined-alarm filter file of
// ReadMBTSFilterFile), read by a new map each time so that no input depends
// on the one before. After a read the lookups must agree with the ranges (a
// name only for a valid level, every valid type named), and the display texts
// built with the formats taken from the file must stay within their buffers.
#include "FuzzSupport.h"
#include "fm_common/fmcommon/RecStringMap.h"
#include "fm_common/platform/FMResult.h"

using namespace Kyrofm;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string& root = fmfuzz::fuzzEnv();
  fmfuzz::writeFile(root + "/etc/fm.xml", data, size);
  fmfuzz::writeFile(root + "/etc/FMNotify/MBTSFilter.xml", data, size);
  CRecStringMap::Destroy();
  CRecStringMap* map = CRecStringMap::Instance();  // reads fm.xml
  FUZZ_CHECK(map != nullptr);
  int rc = map->ReadFMInfoFile();
  FUZZ_CHECK(rc == FM_SUCCESS || rc == FM_FAILURE);
  rc = map->ReadMBTSFilterFile();
  FUZZ_CHECK(rc == FM_SUCCESS || rc == FM_FAILURE);

  std::string text;
  for (int v = -2; v <= 20; ++v) {
    rc = map->Level(v, text);
    FUZZ_CHECK(rc == FM_SUCCESS ? map->isAlmLevelValid(static_cast<char>(v)) : rc == FM_INVALID_ARG && text.empty());
    if (map->isAlmLevelValid(static_cast<char>(v))) {
      FUZZ_CHECK(v >= map->getAlmLevelMin() && v <= map->getAlmLevelMax());
    }
    if (map->isAlmTypeValid(static_cast<char>(v))) {
      FUZZ_CHECK(v >= 1 && v <= 16 && v >= map->getAlmTypeMin() && v <= map->getAlmTypeMax());
      FUZZ_CHECK(map->Type(v, text) == FM_SUCCESS && !text.empty());
    }
    for (long (*code)(long) : {+[](long x) { return x; }, +[](long x) { return x * 1000 + 7; }}) {
      long c = code(v);
      rc = map->Category(c, text);
      FUZZ_CHECK(rc == FM_SUCCESS || (rc == FM_INVALID_ARG && text.empty()));
      rc = map->Product(c, text);
      FUZZ_CHECK(rc == FM_SUCCESS || (rc == FM_INVALID_ARG && text.empty()));
      rc = map->NEType(c, text);
      FUZZ_CHECK(rc == FM_SUCCESS || (rc == FM_INVALID_ARG && text.empty()));
    }
    rc = map->Status(v, text);
    FUZZ_CHECK(rc == FM_SUCCESS || text.empty());
  }
  map->AlarmIdentifier(0x7ff);
  for (long hhmmss : {0L, 235959L, -1L, 99999999L}) {
    map->Time(hhmmss, text, 28800, 3600);
    FUZZ_CHECK(text.size() < 256);
    map->Date(hhmmss * 100 + 31, text);
    FUZZ_CHECK(text.size() < 256);
    map->GetHourString(hhmmss, text);
    FUZZ_CHECK(text.size() < 256);
    map->DateTimeEx(hhmmss * 86400, text, -3600, 0);
    FUZZ_CHECK(text.size() < 256);
  }
  return 0;
}
