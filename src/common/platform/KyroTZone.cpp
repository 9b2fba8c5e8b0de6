// KyroTZone.cpp: the time-zone service over cctz and the system zone database.
//
// cctz keeps every zone it has loaded in a process-wide cache and hands out
// cheap immutable handles, so a KyroTZone is a name, a handle and the result of
// the load. The DST rule of getMOTimeInfo is read from the zone's transitions:
// the standard offset is the offset of the nearest period that is not DST, the
// DST amount the difference of a DST period's offset to it.
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

// Instant of a transition found by next_transition/prev_transition.
long transitionInstant(const cctz::time_zone& tz, const cctz::time_zone::civil_transition& tr) {
  return fromPoint(tz.lookup(tr.to).trans);
}

}  // namespace

struct KyroTZone::Impl {
  cctz::time_zone tz;

  // Standard offset at t: the offset at t when it is not DST, else that of the
  // nearest earlier period that is not DST, else of the nearest later one.
  long standardOffset(long t) const {
    auto al = tz.lookup(toPoint(t));
    if (!al.is_dst) return al.offset;
    cctz::time_zone::civil_transition tr;
    Seconds tp = toPoint(t);
    for (int i = 0; i < 8 && tz.prev_transition(tp, &tr); ++i) {
      long at = transitionInstant(tz, tr);
      auto before = tz.lookup(toPoint(at - 1));
      if (!before.is_dst) return before.offset;
      tp = toPoint(at);
    }
    tp = toPoint(t);
    for (int i = 0; i < 8 && tz.next_transition(tp, &tr); ++i) {
      long at = transitionInstant(tz, tr);
      auto after = tz.lookup(toPoint(at));
      if (!after.is_dst) return after.offset;
      tp = toPoint(at);
    }
    return al.offset - 3600;  // DST all the time: assume the usual hour
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
  out.isdst = al.is_dst ? 1 : 0;
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
  const cctz::time_zone& tz = m_pImpl->tz;
  info.lTimeZone = m_pImpl->standardOffset(refUtc);
  auto al = tz.lookup(toPoint(refUtc));
  if (al.is_dst) info.lDstOffset = al.offset - info.lTimeZone;

  // DST periods of the UTC calendar year of refUtc.
  auto year = cctz::civil_year(cctz::convert(toPoint(refUtc), cctz::utc_time_zone()));
  long yearStart = fromPoint(cctz::convert(cctz::civil_second(year), cctz::utc_time_zone()));
  long yearEnd = fromPoint(cctz::convert(cctz::civil_second(year + 1), cctz::utc_time_zone()));
  bool wasDst = tz.lookup(toPoint(yearStart - 1)).is_dst;
  if (wasDst) info.bHasDst = true;
  cctz::time_zone::civil_transition tr;
  Seconds tp = toPoint(yearStart - 1);
  for (int i = 0; i < 16 && tz.next_transition(tp, &tr); ++i) {
    long at = transitionInstant(tz, tr);
    if (at >= yearEnd || at <= fromPoint(tp)) break;
    auto now = tz.lookup(toPoint(at));
    if (now.is_dst && !wasDst) {
      info.bHasDst = true;
      if (info.lDstStart == 0) info.lDstStart = at;
      if (info.lDstOffset == 0) info.lDstOffset = now.offset - m_pImpl->standardOffset(at);
    } else if (!now.is_dst && wasDst) {
      if (info.lDstEnd == 0) info.lDstEnd = at;
    }
    wasDst = now.is_dst;
    tp = toPoint(at);
  }
  if (info.bHasDst && info.lDstOffset == 0) {
    // DST throughout the year: its amount is that of the period at the start.
    auto first = tz.lookup(toPoint(yearStart));
    info.lDstOffset = first.offset - m_pImpl->standardOffset(yearStart);
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
