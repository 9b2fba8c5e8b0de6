// alarms.cpp: the alarms fmctl makes, numbers and prints.
//
// Generated alarms come from std::mt19937_64, whose sequence the C++ standard
// fixes, reduced with plain modulo (the standard distributions may differ
// between libraries): the same seed gives the same alarms everywhere. They
// spread over a small network (8 NEs, shelves, boards, links) and over the
// values the filter leaves select on, so that a filter has something to find
// and something to leave out.
#include <array>
#include <cstdio>
#include <map>
#include <random>
#include <set>

#include "fm_common/fmcommon/AlarmTextDump.h"
#include "fm_common/fmcommon/FdnManager.h"
#include "fm_common/platform/FMResult.h"
#include "fmctl.h"

namespace fmctl {

using Kyrofm::AlmRecord_t;

std::vector<AlmRecord_t> generateAlarms(long n, unsigned long seed, long firstCsn) {
  std::mt19937_64 rng(seed);
  auto pick = [&rng](long k) { return static_cast<long>(rng() % static_cast<unsigned long>(k)); };
  const long base = 1767225600;  // 2026-01-01 00:00:00 UTC
  const long noDst = 21600;      // packed DST pair of a time without daylight saving
  const char* const texts[] = {"link down", "power supply|fan fault", "|board missing", "temperature high",
                               "loss of signal, port 3", ""};
  std::vector<AlmRecord_t> out;
  out.reserve(static_cast<size_t>(n > 0 ? n : 0));
  for (long i = 0; i < n; ++i) {
    AlmRecord_t r;
    const long ne = 1 + pick(8), shelf = 1 + pick(2), board = 1 + pick(4);
    r.setLogId(firstCsn + i);
    r.setListId(i);
    r.setGroupId(1 + pick(5));
    r.setAlarmId(1000 + pick(12));
    r.setReasonId(pick(4));
    r.setSeverity(static_cast<char>(1 + pick(4)));
    r.setOriginalSeverity(r.getSeverity());
    r.setAlarmEventFlag(pick(5) == 0 ? 3 : 1 + pick(2));
    r.setAlarmType(1 + pick(5));
    r.setEventSubType(static_cast<char>(pick(3)));
    r.setProcessMode(static_cast<char>(pick(2)));
    r.setClearMatchStrategy(static_cast<char>(pick(2)));
    r.setSpecialAlmStatus(pick(3));
    r.setBusinessAffected(pick(2));
    r.setOccurCount(1 + pick(5));
    r.setDevCsn(10000 + pick(90000));
    r.setAgentCsn(pick(1000));
    r.setNEType(1 + pick(3));
    r.setMoDn("NE=" + std::to_string(ne) + ",Shelf=" + std::to_string(shelf) + ",Board=" + std::to_string(board));
    r.setNE(Kyrofm::NEInfo_t{"NE=" + std::to_string(ne), r.getNEType()});
    if (pick(3) == 0) {
      r.setLinkDn("Link=" + std::to_string(1 + pick(4)));
      r.setLinkType(1 + pick(2));
    }
    r.setLocation("Rack " + std::to_string(ne) + ", Shelf " + std::to_string(shelf) + ", Slot " +
                  std::to_string(board));
    r.setAddtionalText(texts[pick(6)]);
    r.setShortComment(pick(4) == 0 ? "checked" : "");
    r.setAgentId("agent-" + std::to_string(ne));
    r.setRootId("root-" + std::to_string(ne));
    r.setDevRootID("dev-" + std::to_string(ne) + "-" + std::to_string(shelf));
    r.setHostIP("10.0." + std::to_string(ne) + ".1");
    r.setMOType("Board");
    r.setExtendInfo("vendor=" + std::string(pick(2) ? "acme" : "globex") + ";port=" + std::to_string(pick(8)));
    for (int p = 1; p <= AlmRecord_t::PARAM_COUNT; ++p) {
      if (p != 6) r.setParam(p, pick(4));
    }
    r.setIntExtParam(1, pick(4), 1 + pick(9));
    if (pick(2)) r.setStrExtParam(0, 1, "site-" + std::to_string(ne % 3));

    const long occur = base + pick(30L * 86400);
    r.setOccurUtcTime(occur);
    r.setOccurNeTime(occur + 3600);
    r.setOccurDst(noDst);
    r.setFirstOccurUtcTime(occur);
    r.setFirstOccurNeTime(occur + 3600);
    r.setFirstOccurDst(noDst);
    r.setArrivedUtcTime(occur + pick(5));
    if (pick(2)) {
      const long cleared = occur + 60 + pick(86400);
      r.setClearStatus(1);
      r.setClearUtcTime(cleared);
      r.setClearNeTime(cleared + 3600);
      r.setClearDst(noDst);
      r.setClearCategory(1);
      r.setClearOperator(pick(3));
    }
    if (pick(2)) {
      r.setAckStatus(1);
      r.setAckUtcTime(occur + 30 + pick(3600));
      r.setAckDst(noDst);
      r.setAckOperator(1 + pick(3));
    }
    out.push_back(std::move(r));
  }
  return out;
}

long assignFdnIds(std::vector<AlmRecord_t>& records, long& changed, std::string& failed) {
  changed = 0;
  auto fdnsOf = [](const AlmRecord_t& r) {
    return std::array<std::pair<int, std::string>, 3>{
        {{16, r.getMoDn()}, {15, r.getNE().strNEFDN}, {18, r.getLinkDn()}}};
  };
  std::set<std::string> names;
  for (const auto& r : records) {
    for (const auto& f : fdnsOf(r)) {
      if (!f.second.empty()) names.insert(f.second);
    }
  }
  std::map<std::string, long> ids;  // every name at once: one batch for the new ones
  const long rc = Kyrofm::CFdnManager::instance()->GetIntFdnMap(names, ids);
  for (auto& r : records) {
    bool differs = false;
    for (const auto& [index, fdn] : fdnsOf(r)) {
      long id = 0;
      if (!fdn.empty()) {
        auto it = ids.find(fdn);
        if (it == ids.end() || it->second < 0) {
          failed = fdn;
          return rc != Kyrofm::FM_SUCCESS ? rc : Kyrofm::FM_FAILURE;
        }
        id = it->second;
      }
      if (r.getIntExtParam(0, index) != id) {
        differs = differs || index != 18;  // the dump carries (0,16) and (0,15) only
        r.setIntExtParam(0, index, id);
      }
    }
    changed += differs ? 1 : 0;
  }
  return Kyrofm::FM_SUCCESS;
}

void printAlarmTable(const std::vector<AlmRecord_t>& alarms) {
  std::printf("  %8s %6s %5s %3s %3s %3s %3s %11s  %s\n", "Csn", "Id", "Group", "Lvl", "Cat", "Clr", "Ack",
              "OccurUtc", "MoDn");
  for (const auto& a : alarms) {
    std::printf("  %8ld %6ld %5ld %3ld %3ld %3d %3d %11ld  %s\n", a.getLogId(), a.getAlarmId(), a.getGroupId(),
                a.getLevel(), a.getCategory(), a.getClearStatus(), a.getAckStatus(), a.getOccurUtcTime(),
                a.getMoDn().c_str());
  }
}

std::string jsonString(const std::string& text) {
  std::string s = "\"";
  for (unsigned char c : text) {
    switch (c) {
      case '"': s += "\\\""; break;
      case '\\': s += "\\\\"; break;
      case '\n': s += "\\n"; break;
      case '\r': s += "\\r"; break;
      case '\t': s += "\\t"; break;
      default:
        if (c < 0x20) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", c);
          s += buf;
        } else {
          s += static_cast<char>(c);
        }
    }
  }
  return s + "\"";
}

std::string alarmJson(const AlmRecord_t& alarm) {
  std::string s = "{";
  for (const auto& c : Kyrofm::alarmDumpColumns()) {
    if (s.size() > 1) s += ",";
    s += jsonString(c.name) + ":";
    s += c.kind == Kyrofm::AlarmDumpColumn::TEXT ? jsonString(c.getText(alarm)) : std::to_string(c.getNumber(alarm));
  }
  return s + "}";
}

}  // namespace fmctl
