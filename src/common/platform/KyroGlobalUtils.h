// KyroGlobalUtils.h: the platform's environment reader and character-set
// service.
//
// The service keeps its data in UTF-8 and converts texts for hosts and
// northbound peers that use another code set. KyroCodeSetConvert converts
// through iconv and never returns a partly converted text: on any failure the
// output is the input unchanged and the result says why.
//
// Thread safety: all functions may be called from any thread (the environment
// should not be changed while other threads read it).
#ifndef FM_PLATFORM_KYROGLOBALUTILS_H
#define FM_PLATFORM_KYROGLOBALUTILS_H

#include <string>

namespace Kyrofm {

// Results of KyroCodeSetConvert.
enum KyroConvResult {
  KYRO_CONV_SUCCESS = 0,
  KYRO_CONV_UNKNOWN_CODESET = 1,      // iconv knows no such conversion
  KYRO_CONV_INVALID_SEQUENCE = 2,     // invalid input or a character the target cannot hold
  KYRO_CONV_INCOMPLETE_SEQUENCE = 3,  // the input ends inside a multi-byte character
  KYRO_CONV_ERROR = 4,                // any other failure
};

class KyroGlobalUtils {
 public:
  // The value of the environment variable `name`, empty when unset.
  static std::string KyroGetEnv(const std::string& name);

  // The code set of the host's file contents: the override set by
  // setLocalCharset, else the environment variable KYRO_LOCAL_CHARSET, else the
  // code set named by LC_ALL, LC_CTYPE or LANG (the part after '.', e.g.
  // "zh_CN.GBK" gives "GBK"; "utf8" is written "UTF-8"), else "UTF-8".
  static std::string KyroGetLocalCharset();
  // Overrides the local code set; an empty name restores the environment.
  static void setLocalCharset(const std::string& charset);

  // Converts `in` from code set `from` to code set `to` into `out` (`in` and
  // `out` may be the same object). Returns KYRO_CONV_SUCCESS, or one of the
  // codes above with `out` = `in` and a level-5 log line that names the code
  // sets and the byte offset of the fault.
  static int KyroCodeSetConvert(const std::string& from, const std::string& to, const std::string& in,
                                std::string& out);

 private:
  static int convert(const std::string& from, const std::string& to, const std::string& in, std::string& out);
};

}  // namespace Kyrofm

#endif
