// AlmRecord.h: the alarm record of the alarm client library, as fm_common uses it.
//
// AlmRecord_t is a plain value class: records are copied freely into lists and
// maps. Every field has a getter and a setter named after it. Besides the named
// fields a record carries
//  - ten numbered parameters, getParam(1..10); parameter 6 is the alarm's group
//    id (the alarm tables store the group id in column para6), parameter 8 is the
//    identifier bit field "para8";
//  - the parameter flag word, whose bits 6, 7 and 8 hold the alarm's
//    correlation role;
//  - two extended-parameter matrices (integers and strings) addressed by
//    (group, index), shaped by the static metadata intExtMetadata/strExtMetadata.
//
// Field properties of the extended parameters (their database columns) come from
// XRFMAlarmFieldPropManager; object identifier to FDN translation from
// ProductCustomizeModuleManager.
//
// Thread safety: a record is not synchronised; the singletons are safe to call
// from any thread.
#ifndef FM_PLATFORM_ALMRECORD_H
#define FM_PLATFORM_ALMRECORD_H

#include <cstddef>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

namespace Kyrofm {

// The NE an alarm belongs to.
struct NEInfo_t {
  std::string strNEFDN;  // FDN of the NE
  long lNEType = 0;      // NE type
  bool operator==(const NEInfo_t& o) const { return strNEFDN == o.strNEFDN && lNEType == o.lNEType; }
};

// Shape of an extended-parameter matrix: number of rows and columns per row.
class XRFMExtMetadata {
 public:
  explicit XRFMExtMetadata(std::vector<int> columns) : m_columns(std::move(columns)) {}
  int getRowCount() const { return static_cast<int>(m_columns.size()); }
  int getColumnCount(int row) const {
    return (row >= 0 && row < getRowCount()) ? m_columns[static_cast<size_t>(row)] : 0;
  }
  bool contains(int row, int column) const { return column >= 0 && column < getColumnCount(row); }

 private:
  std::vector<int> m_columns;
};

// Sparse matrix of integer extended parameters.
class XRFMIntSeqSeq {
 public:
  long getValue(int row, int column, long def) const;
  void setValue(int row, int column, long value);
  bool empty() const { return m_values.empty(); }
  bool operator==(const XRFMIntSeqSeq& o) const { return m_values == o.m_values; }

 private:
  std::map<std::pair<int, int>, long> m_values;
};

// Sparse matrix of string extended parameters.
class XRFMStrSeqSeq {
 public:
  // The stored text, or def when nothing was set at (row, column).
  const char* getValue(int row, int column, const char* def) const;
  // The stored text as a view into the matrix (valid until the cell is set
  // again or the matrix dies); empty when nothing was set.
  std::string_view getView(int row, int column) const;
  void setValue(int row, int column, const std::string& value);
  bool empty() const { return m_values.empty(); }
  bool operator==(const XRFMStrSeqSeq& o) const { return m_values == o.m_values; }

 private:
  std::map<std::pair<int, int>, std::string> m_values;
};

// A text field of the record that filters read often: a text of up to
// INLINE bytes is kept inside the object (no allocation, and reading it
// touches no memory beside the record), a longer one in a heap block of its
// own. Always NUL-terminated. Not synchronised.
class AlmRecordText {
 public:
  static constexpr size_t INLINE = 39;

  AlmRecordText() noexcept : m_p(m_buf) { m_buf[0] = '\0'; }
  AlmRecordText(const AlmRecordText& o) : AlmRecordText() { assign(o.view()); }
  AlmRecordText(AlmRecordText&& o) noexcept : AlmRecordText() { take(o); }
  AlmRecordText& operator=(const AlmRecordText& o) {
    if (this != &o) assign(o.view());
    return *this;
  }
  AlmRecordText& operator=(AlmRecordText&& o) noexcept {
    if (this != &o) take(o);
    return *this;
  }
  ~AlmRecordText() { release(); }

  // Replaces the text by a copy of v. Throws std::bad_alloc (the text is
  // then unchanged).
  void assign(std::string_view v);
  const char* c_str() const { return m_p; }
  std::string_view view() const { return std::string_view(m_p, m_size); }

 private:
  void release() noexcept;
  void take(AlmRecordText& o) noexcept;  // o's text, o left empty

  char* m_p;            // m_buf or the heap block
  size_t m_size = 0;
  char m_buf[INLINE + 1];
};

// Named fields of the record: X(type, Name). Each gives getName() and setName().
#define FM_ALMRECORD_LONG_FIELDS(X)                                                   \
  X(OccurUtcTime) X(OccurNeTime) X(OccurDst) X(ArrivedUtcTime) X(ClearUtcTime)        \
  X(ClearNeTime) X(ClearDst) X(AckUtcTime) X(AckDst) X(FirstOccurUtcTime)             \
  X(FirstOccurNeTime) X(FirstOccurDst) X(GroupId) X(AlarmId) X(ReasonId)              \
  X(SpecialAlmStatus) X(AlarmEventFlag) X(MbscLable) X(ClearType) X(ClearCategory)    \
  X(BusinessAffected) X(ListId) X(OccurCount) X(RelatedLogId) X(LogId) X(LinkType)    \
  X(AckOperator) X(ClearOperator) X(AgentCsn) X(AlmOperateTimes) X(BackupedOnSource)  \
  X(Flag) X(FlashAlarmLogId) X(FormNumber) X(LastOccurLogId) X(OriginalSeverity)      \
  X(PreLogId) X(StatsticStamp) X(AlarmType) X(DevCsn)

#define FM_ALMRECORD_CHAR_FIELDS(X)                                                   \
  X(AckStatus) X(Severity) X(ProcessMode) X(ClearMatchStrategy) X(EventSubType)       \
  X(ClearStatus) X(FunctionType)

// Text fields returned as const char* (never null). Every text field also has
// get<Name>View(), a std::string_view of the stored text that builds nothing;
// the view is valid until the field is set again or the record dies. Filters
// read the texts through the views.
#define FM_ALMRECORD_CSTR_FIELDS(X)                                                   \
  X(RootId) X(DevRootID) X(AgentId) X(HostIP) X(MOType) X(AddtionalText)              \
  X(ShortComment) X(ExtendInfo)

// Text fields returned as std::string by value.
#define FM_ALMRECORD_STR_FIELDS(X) X(MoDn) X(LinkDn) X(Location)

class AlmRecord_t {
 public:
  static constexpr int PARAM_COUNT = 10;

  AlmRecord_t() = default;
  AlmRecord_t(const AlmRecord_t&) = default;
  AlmRecord_t& operator=(const AlmRecord_t&) = default;
  AlmRecord_t(AlmRecord_t&&) noexcept = default;
  AlmRecord_t& operator=(AlmRecord_t&&) noexcept = default;
  ~AlmRecord_t() = default;

#define FM_DECLARE_LONG(Name) \
  long get##Name() const { return m_l##Name; } \
  void set##Name(long v) { m_l##Name = v; }
  FM_ALMRECORD_LONG_FIELDS(FM_DECLARE_LONG)
#undef FM_DECLARE_LONG

#define FM_DECLARE_CHAR(Name) \
  char get##Name() const { return m_c##Name; } \
  void set##Name(char v) { m_c##Name = v; }
  FM_ALMRECORD_CHAR_FIELDS(FM_DECLARE_CHAR)
#undef FM_DECLARE_CHAR

#define FM_DECLARE_CSTR(Name) \
  const char* get##Name() const { return m_str##Name.c_str(); } \
  std::string_view get##Name##View() const { return viewOf(m_str##Name); } \
  void set##Name(const std::string& v) { assignTo(m_str##Name, v); }
  FM_ALMRECORD_CSTR_FIELDS(FM_DECLARE_CSTR)
#undef FM_DECLARE_CSTR

#define FM_DECLARE_STR(Name) \
  std::string get##Name() const { return std::string(viewOf(m_str##Name)); } \
  std::string_view get##Name##View() const { return viewOf(m_str##Name); } \
  void set##Name(const std::string& v) { assignTo(m_str##Name, v); }
  FM_ALMRECORD_STR_FIELDS(FM_DECLARE_STR)
#undef FM_DECLARE_STR

  // Category of the alarm (1 alarm, 3 event, ...): the alarm/event flag.
  long getCategory() const { return m_lAlarmEventFlag; }
  void setCategory(long v) { m_lAlarmEventFlag = v; }
  // Level of the alarm: the severity.
  long getLevel() const { return m_cSeverity; }

  const NEInfo_t& getNEInfo() const { return m_NE; }
  NEInfo_t getNE() const { return m_NE; }
  void setNE(const NEInfo_t& ne) { m_NE = ne; }
  long getNEType() const { return m_NE.lNEType; }
  void setNEType(long v) { m_NE.lNEType = v; }

  // Numbered parameters, 1-based; 0 for a number outside 1..10. Parameter 6
  // is the group id.
  long getParam(int i) const;
  void setParam(int i, long v);

  // The parameter flag word (bits 6-8: correlation role).
  unsigned long getParamFlagWord() const { return m_ulParamFlag; }
  void setParamFlagWord(unsigned long v) { m_ulParamFlag = v & 0xFFFFFFFFul; }

  // Extended parameters; 0 and "" when not set.
  long getIntExtParam(int group, int index) const { return m_IntExt.getValue(group, index, 0); }
  void setIntExtParam(int group, int index, long value) { m_IntExt.setValue(group, index, value); }
  const char* getStrExtParam(int group, int index) const { return m_StrExt.getValue(group, index, ""); }
  std::string_view getStrExtParamView(int group, int index) const { return m_StrExt.getView(group, index); }
  void setStrExtParam(int group, int index, const std::string& text) { m_StrExt.setValue(group, index, text); }
  const XRFMIntSeqSeq& getIntExt() const { return m_IntExt; }
  XRFMIntSeqSeq& getIntExt() { return m_IntExt; }
  const XRFMStrSeqSeq& getStrExt() const { return m_StrExt; }
  XRFMStrSeqSeq& getStrExt() { return m_StrExt; }

  // One combined status from the acknowledge and clear status (0/1 each):
  // 1 not acknowledged & not cleared, 2 not acknowledged & cleared,
  // 3 acknowledged & not cleared, 4 acknowledged & cleared; 0 for other values.
  static long getStatus(long ackStatus, long clearStatus);

  static const XRFMExtMetadata intExtMetadata;
  static const XRFMExtMetadata strExtMetadata;

 private:
  static std::string_view viewOf(const std::string& s) { return s; }
  static std::string_view viewOf(const AlmRecordText& s) { return s.view(); }
  static void assignTo(std::string& s, const std::string& v) { s = v; }
  static void assignTo(AlmRecordText& s, const std::string& v) { s.assign(v); }

  // Layout: the fields that filters read come first and together (the one-
  // byte fields, the level among them, the most filtered numbers, and the
  // three filtered texts kept inline), so that evaluating a filter over a
  // record touches a few adjacent cache lines; the rest follows. Every field
  // of the lists above is declared here once.
  char m_cAckStatus = 0; char m_cSeverity = 0; char m_cProcessMode = 0; char m_cClearMatchStrategy = 0;
  char m_cEventSubType = 0; char m_cClearStatus = 0; char m_cFunctionType = 0;
  long m_lLogId = 0; long m_lAlarmEventFlag = 0; long m_lAlarmType = 0; long m_lLinkType = 0;
  long m_lAlarmId = 0; long m_lGroupId = 0;
  AlmRecordText m_strExtendInfo;
  AlmRecordText m_strLinkDn;
  AlmRecordText m_strMoDn;  // the last of the front part
  long m_lOccurUtcTime = 0; long m_lOccurNeTime = 0; long m_lOccurDst = 0; long m_lArrivedUtcTime = 0;
  long m_lClearUtcTime = 0; long m_lClearNeTime = 0; long m_lClearDst = 0; long m_lAckUtcTime = 0;
  long m_lAckDst = 0; long m_lFirstOccurUtcTime = 0; long m_lFirstOccurNeTime = 0; long m_lFirstOccurDst = 0;
  long m_lReasonId = 0; long m_lSpecialAlmStatus = 0; long m_lMbscLable = 0; long m_lClearType = 0;
  long m_lClearCategory = 0; long m_lBusinessAffected = 0; long m_lListId = 0; long m_lOccurCount = 0;
  long m_lRelatedLogId = 0; long m_lAckOperator = 0; long m_lClearOperator = 0; long m_lAgentCsn = 0;
  long m_lAlmOperateTimes = 0; long m_lBackupedOnSource = 0; long m_lFlag = 0; long m_lFlashAlarmLogId = 0;
  long m_lFormNumber = 0; long m_lLastOccurLogId = 0; long m_lOriginalSeverity = 0; long m_lPreLogId = 0;
  long m_lStatsticStamp = 0; long m_lDevCsn = 0;
  std::string m_strRootId; std::string m_strDevRootID; std::string m_strAgentId; std::string m_strHostIP;
  std::string m_strMOType; std::string m_strAddtionalText; std::string m_strShortComment;
  std::string m_strLocation;
  NEInfo_t m_NE;
  long m_lParams[PARAM_COUNT] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  unsigned long m_ulParamFlag = 0;
  XRFMIntSeqSeq m_IntExt;
  XRFMStrSeqSeq m_StrExt;
};

// Property of one extended field: its database column.
class XRFMAlarmFieldProp {
 public:
  XRFMAlarmFieldProp(long kind, long group, long index, std::string dbName)
      : m_lKind(kind), m_lGroup(group), m_lIndex(index), m_strDbName(std::move(dbName)) {}
  const std::string& getDbName() const { return m_strDbName; }
  long getKind() const { return m_lKind; }
  long getGroup() const { return m_lGroup; }
  long getIndex() const { return m_lIndex; }

 private:
  long m_lKind;
  long m_lGroup;
  long m_lIndex;
  std::string m_strDbName;
};

// Properties of the alarm fields. Kind 6 are the integer extended parameters,
// kind 7 the string ones; every (group, index) of the record's metadata is
// defined, with the column "IntExt<group>_<index>" or "StrExt<group>_<index>".
class XRFMAlarmFieldPropManager {
 public:
  static constexpr long KIND_INT_EXT = 6;
  static constexpr long KIND_STR_EXT = 7;

  static XRFMAlarmFieldPropManager* instance();

  // The property, or null when the field is not defined.
  const XRFMAlarmFieldProp* getProp(long kind, long group, long index) const;
  // All defined properties of one kind, in (group, index) order.
  std::vector<const XRFMAlarmFieldProp*> getProps(long kind) const;
  // Length limit of the location information text.
  long getAlmLocInfoLimit() const { return m_lLocInfoLimit; }
  void setAlmLocInfoLimit(long limit) { m_lLocInfoLimit = limit; }

 private:
  XRFMAlarmFieldPropManager();
  std::map<std::tuple<long, long, long>, std::unique_ptr<XRFMAlarmFieldProp>> m_props;
  long m_lLocInfoLimit = 1024;
};

// Product customisation of the alarm client library: object identifiers to
// FDNs and back. Without registered mappings both directions are the identity;
// a host process or a test registers the product's own mappings.
class ProductCustomizeModuleManager {
 public:
  static ProductCustomizeModuleManager* instance();

  // 33000 and the FDN of oid; an unknown oid maps to itself.
  long oid2Fdn(const std::string& oid, std::string& fdn) const;
  // The object identifier of fdn; an unknown FDN maps to itself.
  std::string fdn2Oid(const std::string& fdn) const;

  void addMapping(const std::string& oid, const std::string& fdn);
  void clearMappings();

 private:
  mutable std::mutex m_mutex;
  std::map<std::string, std::string> m_oidToFdn;
  std::map<std::string, std::string> m_fdnToOid;
};

}  // namespace Kyrofm

#endif
