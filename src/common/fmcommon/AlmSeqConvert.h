// AlmSeqConvert.h: conversions between the CORBA alarm structures that cross
// process boundaries (idl/KyroAlarmSeq.idl) and the alarm records of the
// service (AlmRecord_t).
//
// Three families:
//  - extended parameters: the record's matrices XRFMIntSeqSeq/XRFMStrSeqSeq to
//    and from the sequences IntSeqSeq, StrSeqSeq and WStrSeqSeq, shaped by
//    AlmRecord_t::intExtMetadata/strExtMetadata on the way out;
//  - mediation alarms (NEALARMRECORDEx) into records, with validation, time
//    zones and daylight saving (MedAlmToFMAlm), and whole synchronisation lists
//    into maps or lists of records (neAlmSeqToList, linkAlmSeqToList);
//  - record lists into the client sequence ITAlmRecordSeq (wide strings) and
//    the northbound sequence AlmRecordSeq (narrow strings), and back.
//
// Character sets. Narrow texts are in the service's character set: UTF-8 in
// the global edition or when the service is forced to UTF-8, else the host's
// local code set (the decisions of CKyroSettingOP). Wide texts are wchar_t
// (UTF-32 on this host). A narrow text that is not valid in the service's
// character set still converts: each byte that does not decode becomes the
// wide character U+DC00 + byte, which converts back to the same byte, so no
// text is lost either way. A wide character that no narrow text can hold (a
// surrogate outside U+DC80..U+DCFF, or above U+10FFFF) becomes '?'.
//
// Integers travel as `long long`, so every value of a record's `long` field
// arrives unchanged. Sums of times are computed modulo 2^64 (a sum beyond the
// range wraps instead of being undefined).
//
// Threads: every function may be called from any thread on data the caller
// owns. CAlmIdAdpter and CAlmRecordPool are safe to use from any thread.
#ifndef FM_FMCOMMON_ALMSEQCONVERT_H
#define FM_FMCOMMON_ALMSEQCONVERT_H

#include <cstddef>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "fm_common/fmcommon/FMValueTypes.h"
#include "fm_common/idl/KyroAlarmSeq.hh"
#include "fm_common/platform/AlmRecord.h"

namespace Kyrofm {

using IntSeqSeq = KyroAlarm::IntSeqSeq;
using StrSeqSeq = KyroAlarm::StrSeqSeq;
using WStrSeqSeq = KyroAlarm::WStrSeqSeq;
using NEALARMRECORDEx = KyroAlarm::NEALARMRECORDEx;
using NEALARMRECORDLISTEx = KyroAlarm::NEALARMRECORDLISTEx;
using ITAlmRecordSeq = KyroAlarm::ITAlmRecordSeq;
using AlmRecordSeq = KyroAlarm::AlmRecordSeq;

// Columns of the integer extended parameters that the conversions read or
// write. Row 0: the alarm's times and object identifiers; row 1: the NE time
// information of a mediation alarm.
namespace almext {
constexpr int ROW_ALARM = 0;
constexpr int ROW_NE_TIME = 1;
constexpr int COL_CLEAR_UTC = 4;       // row 0: clear UTC time (a)
constexpr int COL_CLEAR_DST = 5;       // row 0: packed DST pair of the clearance
constexpr int COL_ACK_UTC = 6;         // row 0: acknowledge UTC time (b)
constexpr int COL_ACK_DST = 7;         // row 0: acknowledge DST offset
constexpr int COL_NE_ID = 15;          // row 0: identifier of the NE FDN
constexpr int COL_MO_ID = 16;          // row 0: identifier of the object FDN
constexpr int COL_EVENT_MARK = 17;     // row 0: 2 for an event (category 3)
constexpr int COL_LINK_ID = 18;        // row 0: identifier of the link FDN
constexpr int COL_OCCUR_SVR_A = 21;    // row 0: occurrence in server time
constexpr int COL_OCCUR_SVR_B = 22;    // row 0: the same
constexpr int COL_CLEAR_SVR = 23;      // row 0: clearance in server time
constexpr int COL_ACK_SVR = 24;        // row 0: acknowledgement in server time
constexpr int COL_OCCUR_UTC = 1;       // row 1: occurrence UTC time (t)
}  // namespace almext

// Reused alarm records for synchronisation lists. acquire() hands out a
// default record owned by the returned pointer; destroying the pointer gives
// the record back (at most maxIdle() records are kept, the rest are freed).
class CAlmRecordPool {
 public:
  struct Return {
    void operator()(AlmRecord_t* record) const;
  };
  using Ptr = std::unique_ptr<AlmRecord_t, Return>;

  // The process-wide pool; lives until the process ends.
  static CAlmRecordPool* instance();
  Ptr acquire();
  size_t idleCount() const;
  static constexpr size_t maxIdle() { return 4096; }

 private:
  CAlmRecordPool() = default;
  void giveBack(AlmRecord_t* record);
  mutable std::mutex m_mutex;
  std::vector<std::unique_ptr<AlmRecord_t>> m_idle;
};
using PooledAlmRecord = CAlmRecordPool::Ptr;

// ---- narrow and wide texts
// `in` (service character set) as a wide text. 33000, or 33002 when some
// byte did not decode (it is carried as U+DC00 + byte, logged at level 4).
long FMNarrowToWide(const std::string& in, std::wstring& out);
// `in` as a narrow text of the service character set. 33000, or 33002 when
// some character could not be written (it becomes '?', logged at level 4).
long FMWideToNarrow(const wchar_t* in, std::string& out);

// ---- extended parameters
// Every element of the sequence, whatever its shape: setValue(r, c, value).
void IntExtPara_S2X(const IntSeqSeq& in, XRFMIntSeqSeq& out);
// The metadata's shape, element (r, c) = getValue(r, c, 0); then row 0
// columns 21..24 are recomputed in server time (server standard offset Z,
// t = value(1, 1)): 21 and 22 = t + Z + GetSvrCurrentDstOffset(t); 23 = 0 for
// a zero clear time, else clear time + Z + the server half of the packed DST
// pair (0, 5); 24 = 0 for a zero acknowledge time, else ack time + Z +
// value(0, 7). Columns beyond the metadata's shape are not written.
void IntExtPara_C2I_ForProduct(const XRFMIntSeqSeq& in, IntSeqSeq& out);
// The metadata's shape from the record's integer matrix; then in row 0 a zero
// NE, object or link identifier (columns 15, 16, 18) is looked up in the FDN
// manager (CFdnManager::getFdnIdEx of getNE().strNEFDN, getMoDn(),
// getLinkDn()) and negative identifiers become 0; column 17 becomes 2 for an
// alarm of category 3.
void IntExtPara_C2I_ForDS(const AlmRecord_t& record, IntSeqSeq& out);
// Rows and columns within both the sequence and the metadata: setValue.
void StrExtPara_S2X(const StrSeqSeq& in, XRFMStrSeqSeq& out);
// The metadata's shape; an unset element is the empty string.
void StrExtPara_X2S(const XRFMStrSeqSeq& in, StrSeqSeq& out);
// As StrExtPara_S2X, each wide text converted to the service character set.
void WStrExtPara_S2X(const WStrSeqSeq& in, XRFMStrSeqSeq& out);
// As StrExtPara_X2S, each text converted to a wide text.
void WStrExtPara_X2S(const XRFMStrSeqSeq& in, WStrSeqSeq& out);

// ---- mediation alarms
// Synchronisation type of a synchronisation that takes only active alarms.
constexpr int SYN_TYPE_ACTIVE = 2;

// Converts one mediation alarm into `out` (reset first). 33000, or 33002 at
// the first failed check (type, level, status, a cleared alarm in an active
// synchronisation, link FDN, special status), each logged at level 5 with its
// own message; the fields set until then stay in `out`. Never throws.
long MedAlmToFMAlm(const NEALARMRECORDEx& in, int synType, AlmRecord_t& out);

// Converts a synchronisation list of the NE `neFdn` into `out`, keyed by
// device CSN: rejected alarms and alarms of another NE are skipped (logged);
// device CSN 0 is always taken, any other only when not yet a key of `out`
// (the first wins). 33000, or 33002 when an exception stopped it.
long neAlmSeqToList(const NEALARMRECORDLISTEx& in, const std::string& neFdn, int synType,
                    std::multimap<long, AlmRecord_t>& out);
// The same into a list of pooled records (appended in input order), with the
// same skipping and duplicate rules (device CSNs already in `out` count).
long neAlmSeqToList(const NEALARMRECORDLISTEx& in, const std::string& neFdn, int synType,
                    std::list<PooledAlmRecord>& out);
// Converts a synchronisation list of the link `linkFdn`: rejected alarms and
// alarms of another link are skipped; the others are grouped by NE FDN into
// the first SynAlm_t of `out` with that FDN (a new one is appended when there
// is none), under their device CSN (duplicates kept). 33000, or 33002 when an
// exception stopped it.
long linkAlmSeqToList(const NEALARMRECORDLISTEx& in, const std::string& linkFdn, int synType,
                      std::list<SynAlm_t>& out);

// ---- record lists and sequences
// One element per record, in list order: every field of the record, the
// integer matrix through IntExtPara_C2I_ForProduct and the string matrix
// through WStrExtPara_X2S (client form) or StrExtPara_X2S (northbound form).
// 33000; 33001 when some record had a text that did not convert cleanly (the
// record is still in the sequence, logged); 33011 when memory ran out, 33002
// on any other exception (the sequence is then left empty).
long CAlmRecordListToITAlmRecordSeq(const std::list<AlmRecord_t>& in, ITAlmRecordSeq& out);
long CAlmRecordListToAlmRecordSeqNB(const std::list<AlmRecord_t>& in, AlmRecordSeq& out);
// The way back: one record per element, appended to `out`; the matrices
// through IntExtPara_S2X and WStrExtPara_S2X / StrExtPara_S2X. Same results.
long ITAlmRecordSeqToCAlmRecordList(const ITAlmRecordSeq& in, std::list<AlmRecord_t>& out);
long AlmRecordSeqNBToCAlmRecordList(const AlmRecordSeq& in, std::list<AlmRecord_t>& out);

}  // namespace Kyrofm

#endif
