// KyroTZone.cpp: the time-zone service over cctz and the system zone database.
//
// cctz keeps every zone it has loaded in a process-wide cache and hands out
// cheap immutable handles, so a KyroTZone is a name, a handle and the result of
// the load.
//
// The compiled zone data tells for each period between two transitions its
// UTC offset and whether it is daylight saving, but not the standard offset
// under it. The amount of a DST period is therefore inferred from the
// standard periods around it (see Impl::rawSave), and periods of negative DST
// are turned into the positive form operators know (see Impl::classify).
#include "fm_common/platform/KyroTZone.h"

#include <cctz/civil_time.h>
#include <cctz/time_zone.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <ctime>

#include "fm_common/platform/KyroTrace.h"

namespace Kyrofm {

namespace {

using Seconds = cctz::time_point<cctz::seconds>;

// Years 1..9999: what a KyroTime and a YYYYMMDD date can hold.
constexpr long MIN_SECONDS = -62135596800L;  // 0001-01-01 00:00:00 UTC
constexpr long MAX_SECONDS = 253402300799L;  // 9999-12-31 23:59:59 UTC

Seconds toPoint(long s) { return Seconds(cctz::seconds(s)); }
long fromPoint(const Seconds& tp) { return static_cast<long>(tp.time_since_epoch().count()); }

// A zone name is a path below the database directory: no empty name, no
// absolute path, no "..", no control characters.
bool isWellFormedName(const std::string& name) {
  if (name.empty() || name.size() > 255 || name[0] == '/') return false;
  if (name.find("..") != std::string::npos) return false;
  for (unsigned char c : name) {
    if (c < 0x20 || c == 0x7f) return false;
  }
  return true;
}

// Largest DST amount taken as plausible: larger differences between two
// neighbouring periods are changes of the standard offset (Samoa's date-line
// jump is 24 hours), not daylight saving. Real amounts are 20 min .. 2 h.
constexpr long MAX_DST_AMOUNT = 10800;

// Periods walked in either direction to find a standard period: enough for
// the longest chains of DST periods on record (war-time double summer time).
constexpr int MAX_WALK = 16;

// Whether amount `a` is a better guess than `b` (both plausible): a positive
// amount beats a negative one, else the smaller magnitude wins (a standard
// offset that changed where DST started or ended makes the other candidate
// the old-rules difference, which is the larger one).
bool betterAmount(long a, long b) {
  if ((a > 0) != (b > 0)) return a > 0;
  return (a < 0 ? -a : a) < (b < 0 ? -b : b);
}

bool plausibleAmount(long d) { return d != 0 && d >= -MAX_DST_AMOUNT && d <= MAX_DST_AMOUNT; }

}  // namespace

struct KyroTZone::Impl {
  cctz::time_zone tz;

  // How an instant is shown to operators.
  struct Reading {
    long offset = 0;     // UTC offset at the instant
    bool dst = false;    // daylight saving in force
    long standard = 0;   // standard offset under it
    long amount = 0;     // offset - standard; 0 when !dst
  };

  cctz::time_zone::absolute_lookup at(long t) const { return tz.lookup(toPoint(t)); }

  // First instant of the period holding t (a transition at or before t).
  bool periodStart(long t, long& start) const {
    cctz::time_zone::civil_transition tr;
    if (!tz.prev_transition(toPoint(t + 1), &tr)) return false;
    start = fromPoint(tz.lookup(tr.to).trans);
    return true;
  }

  // First instant after the period holding t (a transition after t).
  bool periodEnd(long t, long& end) const {
    cctz::time_zone::civil_transition tr;
    if (!tz.next_transition(toPoint(t), &tr)) return false;
    end = fromPoint(tz.lookup(tr.to).trans);
    return true;
  }

  // DST amount of the zone data's DST period holding t, negative for negative
  // DST; 0 when no neighbouring standard period gives a plausible one. The
  // candidates are the differences to the nearest standard period before and
  // the nearest one after the period: each is right unless the standard
  // offset changed at that side (Scoresbysund 2024, Samoa 2011, Istanbul
  // 2016), so a plausible one is taken, the better of two (betterAmount).
  long rawSave(long t) const {
    const long offset = at(t).offset;
    long before = 0, after = 0, p = t, edge = 0;
    for (int i = 0; i < MAX_WALK && periodStart(p, edge); ++i) {
      auto prev = at(edge - 1);
      if (!prev.is_dst) {
        before = offset - prev.offset;
        break;
      }
      p = edge - 1;
    }
    p = t;
    for (int i = 0; i < MAX_WALK && periodEnd(p, edge); ++i) {
      auto next = at(edge);
      if (!next.is_dst) {
        after = offset - next.offset;
        break;
      }
      p = edge;
    }
    bool b = plausibleAmount(before), a = plausibleAmount(after);
    if (b && a) return betterAmount(after, before) ? after : before;
    if (b) return before;
    if (a) return after;
    return 0;
  }

  // The operator's reading of instant t. A DST period of the zone data has
  // its inferred amount (one hour when none can be told). Negative DST (the
  // zone data of Ireland, Namibia 1994-2017 and Morocco since 2019 flag the
  // winter or Ramadan time as DST with a negative amount) is shown the way
  // those countries' clocks are usually described: the lower offset is the
  // standard time and the higher one, between two negative-DST periods, is
  // DST by the same amount. Irish winter is GMT+00:00 standard, Irish summer
  // GMT+01:00 with one hour of DST.
  Reading classify(long t) const {
    auto al = at(t);
    Reading r;
    r.offset = al.offset;
    r.standard = al.offset;
    if (al.is_dst) {
      long save = rawSave(t);
      if (save == 0) save = 3600;
      if (save > 0) {
        r.dst = true;
        r.amount = save;
        r.standard = al.offset - save;
      }
      return r;
    }
    long start = 0, end = 0;
    if (!periodStart(t, start) || !periodEnd(t, end)) return r;
    auto prev = at(start - 1), next = at(end);
    if (!prev.is_dst || !next.is_dst) return r;
    long prevSave = rawSave(start - 1), nextSave = rawSave(end);
    if (prevSave < 0 && nextSave < 0 && prev.offset - prevSave == al.offset) {
      r.dst = true;
      r.amount = -prevSave;
      r.standard = al.offset - r.amount;
    }
    return r;
  }
};

std::atomic<KyroTZone*> KyroTZone::m_pInstance{nullptr};
std::mutex KyroTZone::m_mtxInstance;

KyroTZone::KyroTZone(const std::string& zoneName)
    : m_pImpl(std::make_unique<Impl>()), m_strZoneName(zoneName), m_lInitResult(KYROTZ_OK) {
  if (!isWellFormedName(zoneName) || !cctz::load_time_zone(zoneName, &m_pImpl->tz)) {
    m_lInitResult = KYROTZ_ERR_UNKNOWN_ZONE;
    m_pImpl->tz = cctz::utc_time_zone();
    FM_TRACE(TRACE_ERROR, "KyroTZone::KyroTZone, unknown time zone:[%s], ret:%ld",
             zoneName.c_str(), m_lInitResult);
  }
}

KyroTZone::~KyroTZone() = default;

std::unique_ptr<KyroTZone> KyroTZone::create(const std::string& zoneName, long* result) {
  auto zone = std::make_unique<KyroTZone>(zoneName);
  if (result) *result = zone->getInitResult();
  if (!zone->isValid()) zone.reset();
  return zone;
}

long KyroTZone::getLocalTime(long utcSeconds, KyroTime& out) const {
  out = KyroTime();
  if (!isValid()) return m_lInitResult;
  if (utcSeconds < MIN_SECONDS || utcSeconds > MAX_SECONDS) {
    FM_TRACE(TRACE_ERROR, "KyroTZone::getLocalTime, time %ld out of range, zone:[%s]", utcSeconds,
             m_strZoneName.c_str());
    return KYROTZ_ERR_OUT_OF_RANGE;
  }
  auto al = m_pImpl->tz.lookup(toPoint(utcSeconds));
  out.year = static_cast<int>(al.cs.year());
  out.month = al.cs.month();
  out.day = al.cs.day();
  out.hour = al.cs.hour();
  out.minute = al.cs.minute();
  out.second = al.cs.second();
  out.isdst = m_pImpl->classify(utcSeconds).dst ? 1 : 0;
  return KYROTZ_OK;
}

long KyroTZone::getUTCTime(const KyroTime& local, long& utcSeconds) const {
  utcSeconds = 0;
  if (!isValid()) return m_lInitResult;
  cctz::civil_second cs(local.year, local.month, local.day, local.hour, local.minute, local.second);
  if (cs.year() < 1 || cs.year() > 9999) return KYROTZ_ERR_OUT_OF_RANGE;
  auto cl = m_pImpl->tz.lookup(cs);
  // A skipped time is read with the offset before the shift (pre); a repeated
  // time gives its first occurrence, which is also pre.
  utcSeconds = fromPoint(cl.pre);
  return KYROTZ_OK;
}

long KyroTZone::getMOTimeInfo(MOTimeInfo_t& info) const {
  return getMOTimeInfo(info, static_cast<long>(std::time(nullptr)));
}

long KyroTZone::getMOTimeInfo(MOTimeInfo_t& info, long refUtc) const {
  info = MOTimeInfo_t();
  info.strZoneName = m_strZoneName;
  if (!isValid()) return m_lInitResult;
  if (refUtc < MIN_SECONDS || refUtc > MAX_SECONDS) return KYROTZ_ERR_OUT_OF_RANGE;
  const Impl& z = *m_pImpl;
  Impl::Reading now = z.classify(refUtc);
  info.lTimeZone = now.standard;
  info.lDstOffset = now.amount;

  // DST periods of the UTC calendar year of refUtc.
  auto year = cctz::civil_year(cctz::convert(toPoint(refUtc), cctz::utc_time_zone()));
  long yearStart = fromPoint(cctz::convert(cctz::civil_second(year), cctz::utc_time_zone()));
  long yearEnd = fromPoint(cctz::convert(cctz::civil_second(year + 1), cctz::utc_time_zone()));
  bool wasDst = z.classify(yearStart - 1).dst;
  if (wasDst) info.bHasDst = true;
  cctz::time_zone::civil_transition tr;
  Seconds tp = toPoint(yearStart - 1);
  for (int i = 0; i < 16 && z.tz.next_transition(tp, &tr); ++i) {
    long at = fromPoint(z.tz.lookup(tr.to).trans);
    if (at >= yearEnd || at <= fromPoint(tp)) break;
    Impl::Reading r = z.classify(at);
    if (r.dst && !wasDst) {
      info.bHasDst = true;
      if (info.lDstStart == 0) info.lDstStart = at;
      if (info.lDstOffset == 0) info.lDstOffset = r.amount;
    } else if (!r.dst && wasDst) {
      if (info.lDstEnd == 0) info.lDstEnd = at;
    }
    wasDst = r.dst;
    tp = toPoint(at);
  }
  if (info.bHasDst && info.lDstOffset == 0) {
    // DST throughout the year: its amount is that of the period at the start.
    info.lDstOffset = z.classify(yearStart).amount;
  }
  return KYROTZ_OK;
}

long KyroTZone::toLongTime(const KyroTime& t) {
  cctz::civil_second cs(t.year, t.month, t.day, t.hour, t.minute, t.second);
  return fromPoint(cctz::convert(cs, cctz::utc_time_zone()));
}

KyroTZone* KyroTZone::instance() {
  KyroTZone* p = m_pInstance.load(std::memory_order_acquire);
  if (p) return p;
  std::lock_guard<std::mutex> lock(m_mtxInstance);
  p = m_pInstance.load(std::memory_order_relaxed);
  if (p) return p;
  std::string name;
  if (const char* env = std::getenv("TZ")) {
    name = env;
    if (!name.empty() && name[0] == ':') name.erase(0, 1);
  }
  std::unique_ptr<KyroTZone> zone;
  if (!name.empty() && name[0] != '/') zone = create(name);
  if (!zone) zone = create("localtime");
  if (!zone) zone = create("UTC");
  p = zone.release();
  m_pInstance.store(p, std::memory_order_release);
  return p;
}

void KyroTZone::destroy() {
  std::lock_guard<std::mutex> lock(m_mtxInstance);
  delete m_pInstance.exchange(nullptr, std::memory_order_acq_rel);
}

std::string KyroTZone::zoneDirectory() {
  const char* dir = std::getenv("TZDIR");
  return (dir && *dir) ? std::string(dir) : std::string("/usr/share/zoneinfo");
}

long KyroTZone::init() {
  std::string dir = zoneDirectory();
  if (::access(dir.c_str(), R_OK | X_OK) != 0) {
    FM_TRACE(TRACE_ERROR, "KyroTZone::init, zone database %s not readable", dir.c_str());
    return KYROTZ_ERR_NO_DATABASE;
  }
  return KYROTZ_OK;
}

}  // namespace Kyrofm
