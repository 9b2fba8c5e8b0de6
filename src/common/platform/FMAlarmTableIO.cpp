// FMAlarmTableIO.cpp: the column map of the alarm tables and the batch writer
// and reader of alarm records.
#include "fm_common/platform/FMAlarmTableIO.h"

#include "fm_common/platform/FMDBCommand.h"
#include "fm_common/platform/FMDBMaintain.h"
#include "fm_common/platform/FMResult.h"
#include "fm_common/platform/KyroTrace.h"

namespace Kyrofmdb {
namespace {

using Kyrofm::AlmRecord_t;

// Text columns hold NULL for an empty text: the filters' SQL writes the
// empty value as "is null".
void setText(SAParam& p, const std::string& v) {
  if (v.empty()) {
    p.setAsNull();
  } else {
    p.setAsString() = v;
  }
}

// Column of a long field: getter and setter of the record.
FMAlarmColumn longColumn(const char* name, long (AlmRecord_t::*get)() const, void (AlmRecord_t::*set)(long)) {
  return FMAlarmColumn{name, FMAlarmColumn::LONG,
                       [get](const AlmRecord_t& r, SAParam& p) { p.setAsLong() = (r.*get)(); },
                       [set](const SAField& f, AlmRecord_t& r) { (r.*set)(f.asLong()); }};
}

FMAlarmColumn charColumn(const char* name, char (AlmRecord_t::*get)() const, void (AlmRecord_t::*set)(char)) {
  return FMAlarmColumn{name, FMAlarmColumn::SHORT,
                       [get](const AlmRecord_t& r, SAParam& p) { p.setAsShort() = (r.*get)(); },
                       [set](const SAField& f, AlmRecord_t& r) { (r.*set)(static_cast<char>(f.asLong())); }};
}

FMAlarmColumn cstrColumn(const char* name, const char* (AlmRecord_t::*get)() const,
                         void (AlmRecord_t::*set)(const std::string&)) {
  return FMAlarmColumn{name, FMAlarmColumn::TEXT,
                       [get](const AlmRecord_t& r, SAParam& p) { setText(p, (r.*get)()); },
                       [set](const SAField& f, AlmRecord_t& r) { (r.*set)(f.asString()); }};
}

FMAlarmColumn strColumn(const char* name, std::string (AlmRecord_t::*get)() const,
                        void (AlmRecord_t::*set)(const std::string&)) {
  return FMAlarmColumn{name, FMAlarmColumn::TEXT,
                       [get](const AlmRecord_t& r, SAParam& p) { setText(p, (r.*get)()); },
                       [set](const SAField& f, AlmRecord_t& r) { (r.*set)(f.asString()); }};
}

FMAlarmColumn intExtColumn(const std::string& name, int group, int index) {
  return FMAlarmColumn{name, FMAlarmColumn::LONG,
                       [group, index](const AlmRecord_t& r, SAParam& p) {
                         p.setAsLong() = r.getIntExtParam(group, index);
                       },
                       [group, index](const SAField& f, AlmRecord_t& r) {
                         long v = f.asLong();
                         if (v != 0) r.setIntExtParam(group, index, v);
                       }};
}

FMAlarmColumn strExtColumn(const std::string& name, int group, int index) {
  return FMAlarmColumn{name, FMAlarmColumn::TEXT,
                       [group, index](const AlmRecord_t& r, SAParam& p) {
                         setText(p, r.getStrExtParam(group, index));
                       },
                       [group, index](const SAField& f, AlmRecord_t& r) {
                         std::string v = f.asString();
                         if (!v.empty()) r.setStrExtParam(group, index, v);
                       }};
}

FMAlarmColumn paramColumn(int i) {
  return FMAlarmColumn{"para" + std::to_string(i), FMAlarmColumn::LONG,
                       [i](const AlmRecord_t& r, SAParam& p) { p.setAsLong() = r.getParam(i); },
                       [i](const SAField& f, AlmRecord_t& r) { r.setParam(i, f.asLong()); }};
}

std::vector<FMAlarmColumn> makeColumns() {
  std::vector<FMAlarmColumn> c;
  // Identity and classification.
  c.push_back(longColumn("Csn", &AlmRecord_t::getLogId, &AlmRecord_t::setLogId));
  c.push_back(longColumn("Id", &AlmRecord_t::getAlarmId, &AlmRecord_t::setAlarmId));
  for (int i = 1; i <= AlmRecord_t::PARAM_COUNT; ++i) c.push_back(paramColumn(i));  // para6: group id
  c.push_back(charColumn("AlmLevel", &AlmRecord_t::getSeverity, &AlmRecord_t::setSeverity));
  c.push_back(longColumn("Cat", &AlmRecord_t::getAlarmEventFlag, &AlmRecord_t::setAlarmEventFlag));
  c.push_back(longColumn("Type", &AlmRecord_t::getAlarmType, &AlmRecord_t::setAlarmType));
  c.push_back(longColumn("NEType", &AlmRecord_t::getNEType, &AlmRecord_t::setNEType));
  c.push_back(longColumn("LinkType", &AlmRecord_t::getLinkType, &AlmRecord_t::setLinkType));
  c.push_back(charColumn("IsConfirmed", &AlmRecord_t::getAckStatus, &AlmRecord_t::setAckStatus));
  c.push_back(charColumn("IsCleared", &AlmRecord_t::getClearStatus, &AlmRecord_t::setClearStatus));
  c.push_back(longColumn("Operator", &AlmRecord_t::getAckOperator, &AlmRecord_t::setAckOperator));
  c.push_back(longColumn("ClearOperator", &AlmRecord_t::getClearOperator, &AlmRecord_t::setClearOperator));
  c.push_back(longColumn("DevCsn", &AlmRecord_t::getDevCsn, &AlmRecord_t::setDevCsn));
  c.push_back(longColumn("AgentCsn", &AlmRecord_t::getAgentCsn, &AlmRecord_t::setAgentCsn));
  c.push_back(longColumn("ReasonId", &AlmRecord_t::getReasonId, &AlmRecord_t::setReasonId));
  // Objects: ids as the record carries them, and the texts.
  c.push_back(FMAlarmColumn{"FDNId", FMAlarmColumn::LONG,
                            [](const AlmRecord_t& r, SAParam& p) { p.setAsLong() = r.getIntExtParam(0, 16); },
                            [](const SAField& f, AlmRecord_t& r) {
                              if (f.asLong() != 0) r.setIntExtParam(0, 16, f.asLong());
                            }});
  c.push_back(FMAlarmColumn{"NEFDNId", FMAlarmColumn::LONG,
                            [](const AlmRecord_t& r, SAParam& p) { p.setAsLong() = r.getIntExtParam(0, 15); },
                            [](const SAField& f, AlmRecord_t& r) {
                              if (f.asLong() != 0) r.setIntExtParam(0, 15, f.asLong());
                            }});
  c.push_back(FMAlarmColumn{"LinkFDNId", FMAlarmColumn::LONG,
                            [](const AlmRecord_t& r, SAParam& p) { p.setAsLong() = r.getIntExtParam(0, 18); },
                            [](const SAField& f, AlmRecord_t& r) {
                              if (f.asLong() != 0) r.setIntExtParam(0, 18, f.asLong());
                            }});
  c.push_back(strColumn("MoDn", &AlmRecord_t::getMoDn, &AlmRecord_t::setMoDn));
  c.push_back(FMAlarmColumn{"NEFDN", FMAlarmColumn::TEXT,
                            [](const AlmRecord_t& r, SAParam& p) { setText(p, r.getNEInfo().strNEFDN); },
                            [](const SAField& f, AlmRecord_t& r) {
                              Kyrofm::NEInfo_t ne = r.getNE();
                              ne.strNEFDN = f.asString();
                              r.setNE(ne);
                            }});
  c.push_back(strColumn("LinkDn", &AlmRecord_t::getLinkDn, &AlmRecord_t::setLinkDn));
  c.push_back(strColumn("Location", &AlmRecord_t::getLocation, &AlmRecord_t::setLocation));
  c.push_back(cstrColumn("ExtendInfo", &AlmRecord_t::getExtendInfo, &AlmRecord_t::setExtendInfo));
  // Times.
  c.push_back(longColumn("OccurUtc", &AlmRecord_t::getOccurUtcTime, &AlmRecord_t::setOccurUtcTime));
  c.push_back(longColumn("OccurTime", &AlmRecord_t::getOccurNeTime, &AlmRecord_t::setOccurNeTime));
  c.push_back(longColumn("OccurDst", &AlmRecord_t::getOccurDst, &AlmRecord_t::setOccurDst));
  c.push_back(longColumn("ArrivedUtcTime", &AlmRecord_t::getArrivedUtcTime, &AlmRecord_t::setArrivedUtcTime));
  c.push_back(longColumn("ClearUtc", &AlmRecord_t::getClearUtcTime, &AlmRecord_t::setClearUtcTime));
  c.push_back(longColumn("ClearTime", &AlmRecord_t::getClearNeTime, &AlmRecord_t::setClearNeTime));
  c.push_back(longColumn("ClearDst", &AlmRecord_t::getClearDst, &AlmRecord_t::setClearDst));
  c.push_back(longColumn("AckUtc", &AlmRecord_t::getAckUtcTime, &AlmRecord_t::setAckUtcTime));
  c.push_back(longColumn("AckDst", &AlmRecord_t::getAckDst, &AlmRecord_t::setAckDst));
  c.push_back(longColumn("FirstOccurUtc", &AlmRecord_t::getFirstOccurUtcTime, &AlmRecord_t::setFirstOccurUtcTime));
  c.push_back(longColumn("FirstOccurTime", &AlmRecord_t::getFirstOccurNeTime, &AlmRecord_t::setFirstOccurNeTime));
  c.push_back(longColumn("FirstOccurDst", &AlmRecord_t::getFirstOccurDst, &AlmRecord_t::setFirstOccurDst));
  // The other fields under their own names.
  c.push_back(longColumn("SpecialAlmStatus", &AlmRecord_t::getSpecialAlmStatus, &AlmRecord_t::setSpecialAlmStatus));
  c.push_back(longColumn("MbscLable", &AlmRecord_t::getMbscLable, &AlmRecord_t::setMbscLable));
  c.push_back(longColumn("ClearType", &AlmRecord_t::getClearType, &AlmRecord_t::setClearType));
  c.push_back(longColumn("ClearCategory", &AlmRecord_t::getClearCategory, &AlmRecord_t::setClearCategory));
  c.push_back(longColumn("BusinessAffected", &AlmRecord_t::getBusinessAffected, &AlmRecord_t::setBusinessAffected));
  c.push_back(longColumn("ListId", &AlmRecord_t::getListId, &AlmRecord_t::setListId));
  c.push_back(longColumn("OccurCount", &AlmRecord_t::getOccurCount, &AlmRecord_t::setOccurCount));
  c.push_back(longColumn("RelatedLogId", &AlmRecord_t::getRelatedLogId, &AlmRecord_t::setRelatedLogId));
  c.push_back(longColumn("AlmOperateTimes", &AlmRecord_t::getAlmOperateTimes, &AlmRecord_t::setAlmOperateTimes));
  c.push_back(longColumn("BackupedOnSource", &AlmRecord_t::getBackupedOnSource, &AlmRecord_t::setBackupedOnSource));
  c.push_back(longColumn("Flag", &AlmRecord_t::getFlag, &AlmRecord_t::setFlag));
  c.push_back(longColumn("FlashAlarmLogId", &AlmRecord_t::getFlashAlarmLogId, &AlmRecord_t::setFlashAlarmLogId));
  c.push_back(longColumn("FormNumber", &AlmRecord_t::getFormNumber, &AlmRecord_t::setFormNumber));
  c.push_back(longColumn("LastOccurLogId", &AlmRecord_t::getLastOccurLogId, &AlmRecord_t::setLastOccurLogId));
  c.push_back(longColumn("OriginalSeverity", &AlmRecord_t::getOriginalSeverity, &AlmRecord_t::setOriginalSeverity));
  c.push_back(longColumn("PreLogId", &AlmRecord_t::getPreLogId, &AlmRecord_t::setPreLogId));
  c.push_back(longColumn("StatsticStamp", &AlmRecord_t::getStatsticStamp, &AlmRecord_t::setStatsticStamp));
  c.push_back(charColumn("ProcessMode", &AlmRecord_t::getProcessMode, &AlmRecord_t::setProcessMode));
  c.push_back(charColumn("ClearMatchStrategy", &AlmRecord_t::getClearMatchStrategy,
                         &AlmRecord_t::setClearMatchStrategy));
  c.push_back(charColumn("EventSubType", &AlmRecord_t::getEventSubType, &AlmRecord_t::setEventSubType));
  c.push_back(charColumn("FunctionType", &AlmRecord_t::getFunctionType, &AlmRecord_t::setFunctionType));
  c.push_back(FMAlarmColumn{"ParamFlag", FMAlarmColumn::LONG,
                            [](const AlmRecord_t& r, SAParam& p) {
                              p.setAsLong() = static_cast<long>(r.getParamFlagWord());
                            },
                            [](const SAField& f, AlmRecord_t& r) {
                              r.setParamFlagWord(static_cast<unsigned long>(f.asLong()));
                            }});
  c.push_back(cstrColumn("RootId", &AlmRecord_t::getRootId, &AlmRecord_t::setRootId));
  c.push_back(cstrColumn("DevRootID", &AlmRecord_t::getDevRootID, &AlmRecord_t::setDevRootID));
  c.push_back(cstrColumn("AgentId", &AlmRecord_t::getAgentId, &AlmRecord_t::setAgentId));
  c.push_back(cstrColumn("HostIP", &AlmRecord_t::getHostIP, &AlmRecord_t::setHostIP));
  c.push_back(cstrColumn("MOType", &AlmRecord_t::getMOType, &AlmRecord_t::setMOType));
  c.push_back(cstrColumn("AddtionalText", &AlmRecord_t::getAddtionalText, &AlmRecord_t::setAddtionalText));
  c.push_back(cstrColumn("ShortComment", &AlmRecord_t::getShortComment, &AlmRecord_t::setShortComment));
  // Extended parameters, one column each, named by the field properties.
  auto* props = Kyrofm::XRFMAlarmFieldPropManager::instance();
  for (const auto* p : props->getProps(Kyrofm::XRFMAlarmFieldPropManager::KIND_INT_EXT)) {
    c.push_back(intExtColumn(p->getDbName(), static_cast<int>(p->getGroup()), static_cast<int>(p->getIndex())));
  }
  for (const auto* p : props->getProps(Kyrofm::XRFMAlarmFieldPropManager::KIND_STR_EXT)) {
    c.push_back(strExtColumn(p->getDbName(), static_cast<int>(p->getGroup()), static_cast<int>(p->getIndex())));
  }
  return c;
}

constexpr size_t kBatchRows = 1000;

}  // namespace

const std::vector<FMAlarmColumn>& FMAlarmTableIO::columns() {
  static const std::vector<FMAlarmColumn> cols = makeColumns();
  return cols;
}

long FMAlarmTableIO::writeRecords(const std::string& table, const std::vector<AlmRecord_t>& records) {
  if (records.empty()) return Kyrofm::FM_SUCCESS;
  const auto& cols = columns();
  return CFMDBGuard::run(__FILE__, __LINE__, "FMAlarmTableIO::writeRecords", Kyrofm::FM_FAILURE,
                         [&](SAConnection& conn) -> long {
                           SACommand cmd(&conn);
                           for (size_t start = 0; start < records.size(); start += kBatchRows) {
                             size_t n = std::min(kBatchRows, records.size() - start);
                             cmd.SetExecBatch(true);
                             cmd.SetTable(table);
                             cmd.SetBatchMaxRowCount(static_cast<int>(n));
                             for (size_t i = start; i < start + n; ++i) {
                               for (const auto& col : cols) col.write(records[i], cmd.Param(col.name));
                               cmd.EndRow();
                             }
                             cmd.Execute(static_cast<int>(n));
                             if (cmd.RowsAffected() <= 0) {
                               FM_TRACE(Kyrofm::TRACE_ERROR, "FMAlarmTableIO::writeRecords: insert into %s fail",
                                        table.c_str());
                               conn.markFailed();
                               return Kyrofm::FM_FAILURE;
                             }
                           }
                           cmd.SetExecBatch(false);
                           return Kyrofm::FM_SUCCESS;
                         });
}

long FMAlarmTableIO::readRecords(const std::string& table, const std::string& condition,
                                 std::vector<AlmRecord_t>& records, const std::string& orderBy) {
  records.clear();
  const auto& cols = columns();
  std::string sql = "select ";
  for (size_t i = 0; i < cols.size(); ++i) sql += (i ? ", " : "") + cols[i].name;
  sql += " from " + table;
  if (!condition.empty()) sql += " where " + condition;
  sql += " order by " + (orderBy.empty() ? std::string("Csn") : orderBy);
  std::vector<AlmRecord_t> out;
  long rc = CFMDBGuard::run(__FILE__, __LINE__, "FMAlarmTableIO::readRecords", Kyrofm::FM_FAILURE,
                            [&](SAConnection& conn) -> long {
                              SACommand cmd(&conn, sql);
                              cmd.setOption("PreFetchRows", "1000");
                              cmd.Execute();
                              while (cmd.FetchNext()) {
                                AlmRecord_t r;
                                for (size_t i = 0; i < cols.size(); ++i) {
                                  cols[i].read(cmd.Field(static_cast<int>(i) + 1), r);
                                }
                                out.push_back(std::move(r));
                              }
                              return Kyrofm::FM_SUCCESS;
                            });
  if (rc == Kyrofm::FM_SUCCESS) records.swap(out);
  return rc;
}

long FMAlarmTableIO::selectCsns(const std::string& table, const std::string& condition, std::vector<long>& csns) {
  csns.clear();
  std::string sql = "select Csn from " + table;
  if (!condition.empty()) sql += " where " + condition;
  sql += " order by Csn";
  std::vector<long> out;
  long rc = CFMDBGuard::run(__FILE__, __LINE__, "FMAlarmTableIO::selectCsns", Kyrofm::FM_FAILURE,
                            [&](SAConnection& conn) -> long {
                              SACommand cmd(&conn, sql);
                              cmd.setOption("PreFetchRows", "1000");
                              cmd.Execute();
                              while (cmd.FetchNext()) out.push_back(cmd.Field(1).asLong());
                              return Kyrofm::FM_SUCCESS;
                            });
  if (rc == Kyrofm::FM_SUCCESS) csns.swap(out);
  return rc;
}

}  // namespace Kyrofmdb
