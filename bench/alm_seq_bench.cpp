// Alarm record lists to the northbound sequence AlmRecordSeq and back
// (CAlmRecordListToAlmRecordSeqNB + AlmRecordSeqNBToCAlmRecordList), per alarm,
// against a plain field-by-field copy of the same records into a C++ struct of
// the same fields (strings, parameters, both matrices in the metadata's shape)
// and back. 100 000 alarms per run, in chunks of 1 000 distinct records with
// every field and every matrix cell set; both sides run interleaved chunk by
// chunk, and their results are compared record by record before timing (all
// fields and cells, except the four row-0 columns the sequence recomputes in
// server time). Prints one GOAL line at exit.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <ctime>
#include <list>
#include <random>
#include <string>
#include <vector>

#include "BenchGoal.h"
#include "fm_common/fmcommon/AlmSeqConvert.h"
#include "fm_common/platform/FMResult.h"

namespace {

using Kyrofm::AlmRecord_t;

constexpr size_t kChunk = 1000;
constexpr size_t kAlarms = 100000;

// The same fields as the record, plainly.
struct PlainAlarm {
#define FM_B_L(N) long l##N;
#define FM_B_C(N) char c##N;
#define FM_B_S(N) std::string str##N;
  FM_ALMRECORD_LONG_FIELDS(FM_B_L) FM_ALMRECORD_CHAR_FIELDS(FM_B_C)
  FM_ALMRECORD_CSTR_FIELDS(FM_B_S) FM_ALMRECORD_STR_FIELDS(FM_B_S)
  std::string strNEFDN;
  long lNEType;
  long lParams[10];
  unsigned long ulParamFlag;
  std::vector<std::vector<long long>> intExt;
  std::vector<std::vector<std::string>> strExt;
};

void toPlain(const AlmRecord_t& r, PlainAlarm& p) {
#define FM_B_OUT(N) p.l##N = r.get##N();
#define FM_B_OUTC(N) p.c##N = r.get##N();
#define FM_B_OUTS(N) p.str##N = r.get##N();
  FM_ALMRECORD_LONG_FIELDS(FM_B_OUT) FM_ALMRECORD_CHAR_FIELDS(FM_B_OUTC)
  FM_ALMRECORD_CSTR_FIELDS(FM_B_OUTS) FM_ALMRECORD_STR_FIELDS(FM_B_OUTS)
  p.strNEFDN = r.getNEInfo().strNEFDN, p.lNEType = r.getNEType();
  for (int i = 1; i <= 10; ++i) p.lParams[i - 1] = r.getParam(i);
  p.ulParamFlag = r.getParamFlagWord();
  const auto &im = AlmRecord_t::intExtMetadata, &sm = AlmRecord_t::strExtMetadata;
  p.intExt.resize(static_cast<size_t>(im.getRowCount()));
  for (int g = 0; g < im.getRowCount(); ++g) {
    p.intExt[static_cast<size_t>(g)].resize(static_cast<size_t>(im.getColumnCount(g)));
    for (int c = 0; c < im.getColumnCount(g); ++c) p.intExt[static_cast<size_t>(g)][static_cast<size_t>(c)] = r.getIntExt().getValue(g, c, 0);
  }
  p.strExt.resize(static_cast<size_t>(sm.getRowCount()));
  for (int g = 0; g < sm.getRowCount(); ++g) {
    p.strExt[static_cast<size_t>(g)].resize(static_cast<size_t>(sm.getColumnCount(g)));
    for (int c = 0; c < sm.getColumnCount(g); ++c) {
      const char* v = r.getStrExt().getValue(g, c, nullptr);
      p.strExt[static_cast<size_t>(g)][static_cast<size_t>(c)] = v != nullptr ? v : "";
    }
  }
}

void fromPlain(const PlainAlarm& p, AlmRecord_t& r) {
#define FM_B_IN(N) r.set##N(p.l##N);
#define FM_B_INC(N) r.set##N(p.c##N);
#define FM_B_INS(N) r.set##N(p.str##N);
  FM_ALMRECORD_LONG_FIELDS(FM_B_IN) FM_ALMRECORD_CHAR_FIELDS(FM_B_INC)
  FM_ALMRECORD_CSTR_FIELDS(FM_B_INS) FM_ALMRECORD_STR_FIELDS(FM_B_INS)
  r.setNE({p.strNEFDN, p.lNEType});
  for (int i = 1; i <= 10; ++i) {
    if (i != 6) r.setParam(i, p.lParams[i - 1]);
  }
  r.setParamFlagWord(p.ulParamFlag);
  for (size_t g = 0; g < p.intExt.size(); ++g) {
    for (size_t c = 0; c < p.intExt[g].size(); ++c) r.getIntExt().setValue(int(g), int(c), long(p.intExt[g][c]));
  }
  for (size_t g = 0; g < p.strExt.size(); ++g) {
    for (size_t c = 0; c < p.strExt[g].size(); ++c) r.getStrExt().setValue(int(g), int(c), p.strExt[g][c]);
  }
}

std::list<AlmRecord_t> makeRecords(size_t n) {
  std::mt19937_64 g(7);
  static const char* words[] = {"ne", "board", "\xE4\xB8\xAD", "port", "=", ",", "7", "link"};
  auto text = [&] {
    std::string s;
    for (size_t k = 4 + g() % 6; k > 0; --k) s += words[g() % 8];
    return s;
  };
  std::list<AlmRecord_t> out;
  for (size_t i = 0; i < n; ++i) {
    AlmRecord_t r;
#define FM_B_RL(N) r.set##N(static_cast<long>(g() % 2000000000));
#define FM_B_RC(N) r.set##N(static_cast<char>(g() % 100));
#define FM_B_RS(N) r.set##N(text());
    FM_ALMRECORD_LONG_FIELDS(FM_B_RL) FM_ALMRECORD_CHAR_FIELDS(FM_B_RC)
    FM_ALMRECORD_CSTR_FIELDS(FM_B_RS) FM_ALMRECORD_STR_FIELDS(FM_B_RS)
    r.setNE({text(), 3});
    for (int k = 1; k <= 10; ++k) r.setParam(k, static_cast<long>(g() % 1000));
    const auto &im = AlmRecord_t::intExtMetadata, &sm = AlmRecord_t::strExtMetadata;
    for (int row = 0; row < im.getRowCount(); ++row) {
      for (int c = 0; c < im.getColumnCount(row); ++c) r.setIntExtParam(row, c, static_cast<long>(g() % 1700000000));
    }
    for (int row = 0; row < sm.getRowCount(); ++row) {
      for (int c = 0; c < sm.getColumnCount(row); ++c) r.setStrExtParam(row, c, text());
    }
    r.setIntExtParam(0, 5, 0);
    out.push_back(r);
  }
  return out;
}

bool sameCarried(const AlmRecord_t& a, const AlmRecord_t& b) {
  bool same = true;
#define FM_B_EQ(N) same = same && a.get##N() == b.get##N();
#define FM_B_EQS(N) same = same && std::string(a.get##N()) == b.get##N();
  FM_ALMRECORD_LONG_FIELDS(FM_B_EQ) FM_ALMRECORD_CHAR_FIELDS(FM_B_EQ)
  FM_ALMRECORD_CSTR_FIELDS(FM_B_EQS) FM_ALMRECORD_STR_FIELDS(FM_B_EQ)
  same = same && a.getNE() == b.getNE() && a.getParamFlagWord() == b.getParamFlagWord();
  for (int i = 1; i <= 10; ++i) same = same && a.getParam(i) == b.getParam(i);
  const auto &im = AlmRecord_t::intExtMetadata, &sm = AlmRecord_t::strExtMetadata;
  for (int r = 0; r < im.getRowCount(); ++r) {
    for (int c = 0; c < im.getColumnCount(r); ++c) {
      if (r != 0 || c < 21 || c > 24) same = same && a.getIntExtParam(r, c) == b.getIntExtParam(r, c);
    }
  }
  for (int r = 0; r < sm.getRowCount(); ++r) {
    for (int c = 0; c < sm.getColumnCount(r); ++c) {
      same = same && std::string(a.getStrExtParam(r, c)) == b.getStrExtParam(r, c);
    }
  }
  return same;
}

using fmbench::cpuNs;

void BM_AlmRecordSeqRoundTripVsPlainCopy(benchmark::State& state) {
  const std::list<AlmRecord_t> records = makeRecords(kChunk);
  {  // answers first: both round trips carry the same fields
    Kyrofm::AlmRecordSeq seq;
    std::list<AlmRecord_t> back;
    if (Kyrofm::CAlmRecordListToAlmRecordSeqNB(records, seq) != Kyrofm::FM_SUCCESS ||
        Kyrofm::AlmRecordSeqNBToCAlmRecordList(seq, back) != Kyrofm::FM_SUCCESS || back.size() != records.size()) {
      state.SkipWithError("sequence round trip failed");
      return;
    }
    auto b = back.begin();
    for (const AlmRecord_t& r : records) {
      PlainAlarm p;
      AlmRecord_t q;
      toPlain(r, p), fromPlain(p, q);
      if (!sameCarried(r, q) || !sameCarried(r, *b++)) {
        state.SkipWithError("round trips disagree");
        return;
      }
    }
  }
  double seqNs = 0, plainNs = 0, alarms = 0;
  for (auto _ : state) {
    for (size_t done = 0; done < kAlarms; done += kChunk) {
      double t0 = cpuNs();
      {
        Kyrofm::AlmRecordSeq seq;
        std::list<AlmRecord_t> back;
        Kyrofm::CAlmRecordListToAlmRecordSeqNB(records, seq);
        Kyrofm::AlmRecordSeqNBToCAlmRecordList(seq, back);
        benchmark::DoNotOptimize(back);
      }
      double t1 = cpuNs();
      {
        std::vector<PlainAlarm> plain(records.size());
        std::list<AlmRecord_t> back;
        size_t i = 0;
        for (const AlmRecord_t& r : records) toPlain(r, plain[i++]);
        for (const PlainAlarm& p : plain) back.emplace_back(), fromPlain(p, back.back());
        benchmark::DoNotOptimize(back);
      }
      double t2 = cpuNs();
      seqNs += t1 - t0, plainNs += t2 - t1, alarms += static_cast<double>(kChunk);
    }
  }
  state.counters["seq_ns_per_alarm"] = seqNs / alarms;
  state.counters["plain_ns_per_alarm"] = plainNs / alarms;
  state.counters["ratio"] = seqNs / plainNs;
  fmbench::goal("AlmRecordSeq round trip per alarm against a plain struct copy", "-",
                fmbench::fixed(seqNs / plainNs, 1, "x") + " (" + fmbench::fixed(seqNs / alarms, 0) + " against " +
                    fmbench::fixed(plainNs / alarms, 0) + " ns)",
                "info");
}

BENCHMARK(BM_AlmRecordSeqRoundTripVsPlainCopy)->Iterations(3)->Unit(benchmark::kMillisecond);

}  // namespace
