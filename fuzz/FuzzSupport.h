// FuzzSupport.h: what every fuzz target of fm_common shares.
//
// A target defines LLVMFuzzerTestOneInput and checks invariants with
// FUZZ_CHECK, which prints the failed condition and aborts, so that libFuzzer
// saves the input and the replay tests fail on it. fuzzEnv() prepares, once
// per process, a private KYRO_ROOT (on /dev/shm when it exists, so the
// fsync of the file writers stays cheap) and a trace sink that formats every
// message at every level and drops it.
#ifndef FM_FUZZ_FUZZSUPPORT_H
#define FM_FUZZ_FUZZSUPPORT_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "fm_common/platform/KyroTrace.h"

#define FUZZ_CHECK(cond)                                                         \
  do {                                                                           \
    if (!(cond)) {                                                               \
      std::fprintf(stderr, "%s:%d: invariant failed: %s\n", __FILE__, __LINE__, #cond); \
      std::abort();                                                              \
    }                                                                            \
  } while (0)

namespace fmfuzz {

namespace fs = std::filesystem;

class NullSink : public Kyrofm::KyroTraceSink {
 public:
  void write(const Kyrofm::KyroTraceMessage&) override {}
};

// The private KYRO_ROOT of this process (made on first call).
inline const std::string& fuzzEnv() {
  static const std::string root = [] {
    const char* base = std::getenv("FM_FUZZ_TMP");
    std::string dir = std::string(base ? base : fs::is_directory("/dev/shm") ? "/dev/shm" : "/tmp") +
                      "/fm_fuzz.XXXXXX";
    std::vector<char> buf(dir.begin(), dir.end());
    buf.push_back('\0');
    if (!mkdtemp(buf.data())) std::abort();
    std::string made(buf.data());
    setenv("KYRO_ROOT", made.c_str(), 1);
    fs::create_directories(made + "/etc/FMNotify");
    Kyrofm::KyroTrace::setSink(std::make_shared<NullSink>());
    Kyrofm::KyroTrace::setMinLevel(0);
    // Removes the folder at exit (fuzzing ends by exit or by a signal that
    // libFuzzer turns into exit after saving the input).
    static struct Cleanup {
      std::string dir;
      ~Cleanup() {
        std::error_code ec;
        fs::remove_all(dir, ec);
      }
    } cleanup{made};
    return made;
  }();
  return root;
}

inline void writeFile(const std::string& path, const uint8_t* data, size_t size) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
}

// Splits the input at `sep` (every piece kept, empty ones too).
inline std::vector<std::string> pieces(const uint8_t* data, size_t size, char sep) {
  std::vector<std::string> out(1);
  for (size_t i = 0; i < size; ++i) {
    if (static_cast<char>(data[i]) == sep) {
      out.emplace_back();
    } else {
      out.back() += static_cast<char>(data[i]);
    }
  }
  return out;
}

}  // namespace fmfuzz

#endif
