// Fuzz target: the time and date texts of the time utilities (TimeFormat-
// StringToLong, checkAutoTaskTimeValid, the integer readers behind them,
// calculateDynamicTime, DateTimeFormat, converTime, checkTimeRangeVilad).
// Every line of the input is given to each parser; the integer and "H:M"
// readers are compared with a reference reader written from their contracts.
#include <climits>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <list>

#include "FuzzSupport.h"
#include "fm_common/platform/KyroOS.h"
#include "fm_common/platform/KyroSetting.h"
#include "fm_common/time/XRFMTimeCond.h"
#include "fm_common/time/XRFMTimeUtil.h"

using namespace Kyrofm;

namespace {

// A whole decimal integer within long, blanks (space, tab) around it, an
// optional sign; nothing else (a NUL byte included).
bool refLong(const std::string& s, long& v) {
  size_t b = s.find_first_not_of(" \t"), e = s.find_last_not_of(" \t");
  if (b == std::string::npos) return false;
  std::string t = s.substr(b, e - b + 1);
  size_t i = (t[0] == '+' || t[0] == '-') ? 1 : 0;
  if (i == t.size()) return false;
  __int128 acc = 0;
  for (size_t k = i; k < t.size(); ++k) {
    if (t[k] < '0' || t[k] > '9') return false;
    acc = acc * 10 + (t[k] - '0');
    if (acc > (static_cast<__int128>(1) << 64)) return false;
  }
  if (t[0] == '-') acc = -acc;
  if (acc < LONG_MIN || acc > LONG_MAX) return false;
  v = static_cast<long>(acc);
  return true;
}

std::vector<std::string> splitColon(const std::string& s) {
  std::vector<std::string> parts(1);
  for (char c : s) {
    if (c == ':') {
      parts.emplace_back();
    } else {
      parts.back().push_back(c);
    }
  }
  return parts;
}

// "h:m" or "h:m:s" as (h*100+m)*100+s, computed exactly; parts are whole
// integers (refLong), the result must lie within 0..99999999.
bool refTimeText(const std::string& s, long& out) {
  auto parts = splitColon(s);
  if (parts.size() != 2 && parts.size() != 3) return false;
  long v[3] = {0, 0, 0};
  for (size_t i = 0; i < parts.size(); ++i) {
    if (!refLong(parts[i], v[i])) return false;
  }
  __int128 r = (static_cast<__int128>(v[0]) * 100 + v[1]) * 100 + v[2];
  if (r < 0 || r > 99999999) return false;
  out = static_cast<long>(r);
  return true;
}

bool refAutoTaskTime(const std::string& s) {
  auto parts = splitColon(s);
  long h = 0, m = 0;
  return parts.size() == 2 && refLong(parts[0], h) && h >= 0 && h <= 23 && refLong(parts[1], m) && m >= 0 &&
         m <= 59;
}

// (Accepting) a format of at most three %d/%i conversions (flags "-+ #0", a width) and "%%".
bool refIntFormat(const std::string& f) {
  int conversions = 0;
  for (size_t i = 0; i < f.size(); ++i) {
    if (f[i] == '\0') break;  // printf stops there
    if (f[i] != '%') continue;
    if (++i < f.size() && f[i] == '%') continue;
    while (i < f.size() && std::strchr("-+ #0", f[i]) && f[i]) ++i;
    while (i < f.size() && f[i] >= '0' && f[i] <= '9') ++i;
    if (i >= f.size() || (f[i] != 'd' && f[i] != 'i') || ++conversions > 3) return false;
  }
  return true;
}

long long num(const std::string& s) { return s.empty() ? -1 : std::atoll(s.c_str()); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fmfuzz::fuzzEnv();
  auto lines = fmfuzz::pieces(data, size, '\n');
  // An instant 1970..2100 and three integers taken from the input's bytes.
  unsigned long long h = 1469598103934665603ULL;
  for (size_t i = 0; i < size; ++i) h = (h ^ data[i]) * 1099511628211ULL;
  const long now = static_cast<long>(h % 4102444800ULL);
  const int a = static_cast<int>(h >> 7), b = static_cast<int>(h >> 23) % 10000, c = static_cast<int>(h >> 41) % 100;

  for (const auto& s : lines) {
    long got = -7, want = -7, lib = -7, setting = -7;
    bool ok = TimeFormatStringToLong(got, s) == FM_SUCCESS;
    FUZZ_CHECK(ok == refTimeText(s, want));
    FUZZ_CHECK(!ok || got == want);
    FUZZ_CHECK(checkAutoTaskTimeValid(s) == refAutoTaskTime(s));
    bool refOk = refLong(s, want);
    FUZZ_CHECK(KyroUtils::parseLong(s, lib) == refOk && (!refOk || lib == want));
    FUZZ_CHECK(Setting::parseLong(s, setting) == refOk && (!refOk || setting == want));

    std::string sd = "x", st = "x", ed = "x", et = "x";
    if (calculateDynamicTime(s, now, sd, st, ed, et) == 0) {
      time_t t = now;
      struct tm local;
      FUZZ_CHECK(localtime_r(&t, &local) != nullptr);
      char buf[32];
      std::snprintf(buf, sizeof buf, "%04d%02d%02d", local.tm_year + 1900, local.tm_mon + 1, local.tm_mday);
      FUZZ_CHECK(ed == buf);
      FUZZ_CHECK(num(et) == local.tm_hour * 10000L + local.tm_min * 100L + local.tm_sec);
      FUZZ_CHECK(sd.size() == 8 && num(sd) > 0);
      FUZZ_CHECK(num(sd) < num(ed) || (num(sd) == num(ed) && num(st) <= num(et)));
    }

    std::string out = "x";
    long rc = DateTimeFormat(a, b, c, s, out);
    FUZZ_CHECK(rc == FM_SUCCESS || rc == FM_INVALID_ARG);
    if (rc == FM_SUCCESS) {
      FUZZ_CHECK(refIntFormat(s));
      FUZZ_CHECK(out.size() <= 127);
    } else {
      FUZZ_CHECK(out.empty());
    }

    out.clear();
    if (converTime(out, s) == 0) {
      size_t blank = s.rfind(' ');
      FUZZ_CHECK(blank != std::string::npos);
      FUZZ_CHECK(out.compare(0, blank + 1, s.substr(0, blank) + "T") == 0);
      FUZZ_CHECK(out.compare(blank + 1, s.size() - blank - 1, s.substr(blank + 1)) == 0);
    }
  }
  for (long offset : {static_cast<long>(a), static_cast<long>(a % 100000)}) {
    std::string zone = FormatTimeZone(offset);
    long x = offset < 0 ? -offset : offset;
    char want[32];
    std::snprintf(want, sizeof want, " GMT%c%02ld:%02ld", offset < 0 ? '-' : '+', x / 3600, x % 3600 / 60);
    FUZZ_CHECK(zone == (x <= 86399 ? std::string(want) : std::string()));
  }
  std::list<std::string> range(lines.begin(), lines.end());
  long rc = XRFMTimeUtil::checkTimeRangeVilad(range);
  FUZZ_CHECK(rc == FM_SUCCESS || rc == FM_INVALID_ARG || rc == FM_TIME_RANGE_EMPTY);
  FUZZ_CHECK(rc != FM_SUCCESS || range.size() == 5);
  return 0;
}
