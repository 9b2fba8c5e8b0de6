// KyroGlobalUtils.cpp: environment reader, local code set and iconv conversion.
#include "fm_common/platform/KyroGlobalUtils.h"

#include <iconv.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "fm_common/platform/KyroTrace.h"

namespace Kyrofm {
namespace {

std::mutex g_charsetMutex;
std::string g_charsetOverride;

std::string upper(std::string s) {
  for (auto& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

// "UTF-8" for the spellings of UTF-8, the name in upper case otherwise.
std::string canonicalCharset(const std::string& name) {
  std::string u = upper(name);
  if (u == "UTF8" || u == "UTF-8") return "UTF-8";
  return u;
}

// The code set of a locale name such as "zh_CN.GBK@modifier", empty if none.
std::string charsetOfLocale(const std::string& locale) {
  std::string::size_type dot = locale.find('.');
  if (dot == std::string::npos) return std::string();
  std::string cs = locale.substr(dot + 1);
  std::string::size_type at = cs.find('@');
  if (at != std::string::npos) cs.erase(at);
  return cs;
}

// Owns one iconv descriptor.
class IconvHandle {
 public:
  IconvHandle(const std::string& from, const std::string& to)
      : m_cd(::iconv_open(to.c_str(), from.c_str())) {}
  ~IconvHandle() {
    if (ok()) ::iconv_close(m_cd);
  }
  IconvHandle(const IconvHandle&) = delete;
  IconvHandle& operator=(const IconvHandle&) = delete;
  bool ok() const { return m_cd != reinterpret_cast<iconv_t>(-1); }
  iconv_t get() const { return m_cd; }

 private:
  iconv_t m_cd;
};

}  // namespace

std::string KyroGlobalUtils::KyroGetEnv(const std::string& name) {
  const char* v = std::getenv(name.c_str());
  return v ? std::string(v) : std::string();
}

void KyroGlobalUtils::setLocalCharset(const std::string& charset) {
  std::lock_guard<std::mutex> guard(g_charsetMutex);
  g_charsetOverride = charset;
}

std::string KyroGlobalUtils::KyroGetLocalCharset() {
  {
    std::lock_guard<std::mutex> guard(g_charsetMutex);
    if (!g_charsetOverride.empty()) return canonicalCharset(g_charsetOverride);
  }
  std::string env = KyroGetEnv("KYRO_LOCAL_CHARSET");
  if (!env.empty()) return canonicalCharset(env);
  for (const char* var : {"LC_ALL", "LC_CTYPE", "LANG"}) {
    std::string locale = KyroGetEnv(var);
    if (locale.empty()) continue;
    std::string cs = charsetOfLocale(locale);
    if (!cs.empty()) return canonicalCharset(cs);
    break;  // the first variable that is set decides, as for the C library
  }
  return "UTF-8";
}

int KyroGlobalUtils::KyroCodeSetConvert(const std::string& from, const std::string& to,
                                        const std::string& in, std::string& out) {
  try {
    return convert(from, to, in, out);
  } catch (const std::exception& e) {
    FM_TRACE(TRACE_ERROR, "KyroGlobalUtils::KyroCodeSetConvert, from %s to %s: %s; text left unconverted",
             from.c_str(), to.c_str(), e.what());
    try {
      if (&out != &in) out = in;
    } catch (const std::exception&) {
      // `out` keeps what it held: the conversion never assigns a partial result.
    }
    return KYRO_CONV_ERROR;
  }
}

int KyroGlobalUtils::convert(const std::string& from, const std::string& to, const std::string& in,
                             std::string& out) {
  IconvHandle cd(from, to);
  if (!cd.ok()) {
    FM_TRACE(TRACE_ERROR, "KyroGlobalUtils::KyroCodeSetConvert, no conversion from %s to %s: %s",
             from.c_str(), to.c_str(), std::strerror(errno));
    if (&out != &in) out = in;
    return KYRO_CONV_UNKNOWN_CODESET;
  }
  std::string result;
  // Most conversions between the service's code sets change the length by at
  // most a factor of two; the buffer grows when they do not.
  result.resize(in.size() * 2 + 16);
  char* inPtr = const_cast<char*>(in.data());
  size_t inLeft = in.size();
  size_t used = 0;
  int rc = KYRO_CONV_SUCCESS;
  bool flushing = false;
  for (;;) {
    char* outPtr = &result[used];
    size_t outLeft = result.size() - used;
    size_t n = flushing ? ::iconv(cd.get(), nullptr, nullptr, &outPtr, &outLeft)
                        : ::iconv(cd.get(), &inPtr, &inLeft, &outPtr, &outLeft);
    used = result.size() - outLeft;
    if (n != static_cast<size_t>(-1)) {
      if (flushing) break;
      flushing = true;  // write the shift sequence that returns a stateful code set to its initial state
      continue;
    }
    if (errno == E2BIG) {
      result.resize(result.size() * 2 + 16);
      continue;
    }
    rc = errno == EILSEQ ? KYRO_CONV_INVALID_SEQUENCE
                         : errno == EINVAL ? KYRO_CONV_INCOMPLETE_SEQUENCE : KYRO_CONV_ERROR;
    break;
  }
  if (rc != KYRO_CONV_SUCCESS) {
    size_t offset = in.size() - inLeft;
    FM_TRACE(TRACE_ERROR,
             "KyroGlobalUtils::KyroCodeSetConvert, %s from %s to %s at byte %zu of %zu; text left unconverted",
             rc == KYRO_CONV_INVALID_SEQUENCE     ? "invalid or unconvertible byte sequence"
             : rc == KYRO_CONV_INCOMPLETE_SEQUENCE ? "incomplete byte sequence"
                                                   : "conversion error",
             from.c_str(), to.c_str(), offset, in.size());
    if (&out != &in) out = in;
    return rc;
  }
  result.resize(used);
  out.swap(result);
  return KYRO_CONV_SUCCESS;
}

}  // namespace Kyrofm
