// AlarmSortOrder.cpp: ORDER BY entries and in-memory sort keys of the sort
// items of an alarm list. The item table of AlarmSortOrder.h is implemented
// twice below, once per end; keep the two switches in step.
#include "fm_common/filter/AlarmSortOrder.h"

#include <cstdio>
#include <cstring>

#include "fm_common/filter/FieldLeaves.h"
#include "fm_common/platform/FMDBCommand.h"
#include "fm_common/platform/FMDBMaintain.h"
#include "fm_common/platform/FMResult.h"
#include "fm_common/platform/KyroTrace.h"

namespace Kyrofm {

using Kyrofmdb::CFMBulkReader;

void splitExtendSortItemID(int id, int& type, int& group, int& index) {
  index = id % 100;
  group = (id % 10000) / 100;
  type = (id % 1000000) / 10000;
}

namespace {

// The columns of items 6, 7 and 8 on `table`; empty for none.
std::string statusColumns(int itemId, const std::string& table) {
  using filterdetail::tableEquals;
  FM_TRACE(TRACE_PROGRESS, "CreateQryOrderCond:: table name=%s", table.c_str());
  const bool cur = tableEquals(table, "tbl_cur_alm");
  const bool his = tableEquals(table, "tbl_his_alm");
  const bool mask = tableEquals(table, "tbl_mask_alm");
  const bool event = tableEquals(table, "tbl_event_log");
  switch (itemId) {
    case SORT_ITEM_CLEAR:
      if (cur || his) return "IsCleared,ClearOperator";
      if (mask) return "IsCleared";
      FM_TRACE(TRACE_WARNING, "CreateQryOrderCond:: table name=%s not supported!", table.c_str());
      return std::string();
    case SORT_ITEM_ACK:
      return his || mask ? std::string() : std::string("IsConfirmed,Operator");
    default:  // SORT_ITEM_STATUS
      if (cur) return "IsConfirmed,IsCleared ";
      if (mask) return "IsCleared";
      if (event) return "IsConfirmed";
      return std::string();
  }
}

// The ORDER BY text of a string column that sorts as the texts do in memory:
// NULL read as the empty text, byte-wise comparison. The text holds no comma:
// the bulk reader splits its entries at commas.
std::string textOrderColumn(const std::string& col) {
  std::string expr = "case when " + col + " is null then '' else " + col + " end";
  if (Kyrofmdb::CDBMaintain::instance()->getDBType() == Kyrofmdb::FM_DBTYPE_POSTGRESQL) expr += " collate \"C\"";
  return expr;
}

// The ORDER BY column(s) of one extended item; empty when its field has no
// property.
std::string extendColumns(const FieldSortItem_t& item) {
  int type = 0;
  int group = 0;
  int index = 0;
  splitExtendSortItemID(item.m_iSortItemId, type, group, index);
  const bool text = type == SORT_EXTEND_TYPE_STR;
  const XRFMAlarmFieldProp* prop = XRFMAlarmFieldPropManager::instance()->getProp(
      text ? XRFMAlarmFieldPropManager::KIND_STR_EXT : XRFMAlarmFieldPropManager::KIND_INT_EXT, group, index);
  if (prop == nullptr) {
    FM_TRACE(TRACE_WARNING, "CreateQryOrderCond, XRFMAlarmFieldProp = NULL, continue to sort");
    return std::string();
  }
  FM_TRACE(TRACE_PROGRESS, "CreateQryOrderCond extendSortItem:%d, ValueType:%d, grp:%d, idx:%d, order:%d, FieldName:%s",
           item.m_iSortItemId, type, group, index, item.m_iOrder, prop->getDbName().c_str());
  return text ? textOrderColumn(prop->getDbName()) : prop->getDbName();
}

}  // namespace

long CreateQryOrderCond(const std::vector<FieldSortItem_t>& items, const std::string& tableName,
                        CFMBulkReader& reader) {
  for (const auto& item : items) {
    std::string columns;
    if (item.m_iSortItemId >= SORT_ITEM_EXTEND_BASE) {
      columns = extendColumns(item);
    } else {
      switch (item.m_iSortItemId) {
        case SORT_ITEM_CSN: columns = "Csn"; break;
        case SORT_ITEM_NE_FDN:
        case SORT_ITEM_NE_FDN_2: columns = "NEFDNId"; break;
        case SORT_ITEM_LEVEL: columns = "AlmLevel"; break;
        case SORT_ITEM_TYPE: columns = "Type"; break;
        case SORT_ITEM_CLEAR:
        case SORT_ITEM_ACK:
        case SORT_ITEM_STATUS: columns = statusColumns(item.m_iSortItemId, tableName); break;
        case SORT_ITEM_NE_TYPE: columns = "NEType"; break;
        case SORT_ITEM_FDN: columns = "FDNId"; break;
        case SORT_ITEM_DEV_CSN: columns = "DevCsn"; break;
        case SORT_ITEM_ID: columns = "Id"; break;
        default: break;
      }
    }
    if (!columns.empty()) {
      reader.AddOrderBy(columns, item.m_iOrder == 1 ? CFMBulkReader::ORDER_ASC : CFMBulkReader::ORDER_DESC);
    }
  }
  return FM_SUCCESS;
}

// ---------------------------------------------------------------------------
// XRFMSortHelper

namespace {

bool intAsc(const SortFieldValue& a, const SortFieldValue& b) { return a.m_lValue < b.m_lValue; }
bool intDesc(const SortFieldValue& a, const SortFieldValue& b) { return b.m_lValue < a.m_lValue; }
// strcmp compares as unsigned char; the texts hold no NUL (they come from C
// strings or are formatted).
bool strAsc(const SortFieldValue& a, const SortFieldValue& b) {
  return std::strcmp(a.m_strValue.c_str(), b.m_strValue.c_str()) < 0;
}
bool strDesc(const SortFieldValue& a, const SortFieldValue& b) {
  return std::strcmp(a.m_strValue.c_str(), b.m_strValue.c_str()) > 0;
}

// "%d,%ld" of a status and an operator.
void statusText(char status, long op, std::string& out) {
  char buf[48];
  int n = std::snprintf(buf, sizeof(buf), "%d,%ld", static_cast<int>(status), op);
  out.assign(buf, n > 0 ? static_cast<size_t>(n) : 0);
}

// Extractor and kind (text or not) of one item.
SortFieldValueFunc extractorOf(int id, bool& text) {
  text = false;
  if (id >= SORT_ITEM_EXTEND_BASE) {
    int type = 0;
    int group = 0;
    int index = 0;
    splitExtendSortItemID(id, type, group, index);
    if (type == SORT_EXTEND_TYPE_STR) {
      text = true;
      return [group, index](const AlmRecord_t& r, SortFieldValue& v) { v.m_strValue = r.getStrExtParam(group, index); };
    }
    return [group, index](const AlmRecord_t& r, SortFieldValue& v) { v.m_lValue = r.getIntExtParam(group, index); };
  }
  switch (id) {
    case SORT_ITEM_NE_FDN:
    case SORT_ITEM_NE_FDN_2:
      text = true;
      return [](const AlmRecord_t& r, SortFieldValue& v) { v.m_strValue = r.getNEInfo().strNEFDN; };
    case SORT_ITEM_FDN:
      text = true;
      return [](const AlmRecord_t& r, SortFieldValue& v) { v.m_strValue = r.getMoDn(); };
    case SORT_ITEM_CLEAR:
      text = true;
      return [](const AlmRecord_t& r, SortFieldValue& v) {
        statusText(r.getClearStatus(), r.getClearOperator(), v.m_strValue);
      };
    case SORT_ITEM_ACK:
      text = true;
      return [](const AlmRecord_t& r, SortFieldValue& v) {
        statusText(r.getAckStatus(), r.getAckOperator(), v.m_strValue);
      };
    case SORT_ITEM_LEVEL: return [](const AlmRecord_t& r, SortFieldValue& v) { v.m_lValue = r.getSeverity(); };
    case SORT_ITEM_TYPE: return [](const AlmRecord_t& r, SortFieldValue& v) { v.m_lValue = r.getAlarmType(); };
    case SORT_ITEM_STATUS:
      return [](const AlmRecord_t& r, SortFieldValue& v) {
        v.m_lValue = AlmRecord_t::getStatus(r.getAckStatus(), r.getClearStatus());
      };
    case SORT_ITEM_NE_TYPE: return [](const AlmRecord_t& r, SortFieldValue& v) { v.m_lValue = r.getNEType(); };
    case SORT_ITEM_DEV_CSN: return [](const AlmRecord_t& r, SortFieldValue& v) { v.m_lValue = r.getDevCsn(); };
    case SORT_ITEM_ID: return [](const AlmRecord_t& r, SortFieldValue& v) { v.m_lValue = r.getAlarmId(); };
    default:  // SORT_ITEM_CSN and every id without a field of its own
      return [](const AlmRecord_t& r, SortFieldValue& v) { v.m_lValue = r.getLogId(); };
  }
}

}  // namespace

XRFMSortHelper::XRFMSortHelper(const std::vector<FieldSortItem_t>& items) : m_items(items) {
  m_valueFuncs.reserve(items.size());
  m_lessFuncs.reserve(items.size());
  for (const auto& item : items) {
    bool text = false;
    m_valueFuncs.push_back(extractorOf(item.m_iSortItemId, text));
    bool ascending = item.m_iOrder == 1;
    if (item.m_iSortItemId == SORT_ITEM_LEVEL) ascending = !ascending;
    m_lessFuncs.push_back(text ? (ascending ? strAsc : strDesc) : (ascending ? intAsc : intDesc));
  }
}

SortKey XRFMSortHelper::getSortKey(const AlmRecord_t& record) const {
  SortKey key;
  getSortKey(record, key);
  return key;
}

void XRFMSortHelper::getSortKey(const AlmRecord_t& record, SortKey& key) const {
  key.resize(m_valueFuncs.size());
  for (size_t i = 0; i < m_valueFuncs.size(); ++i) m_valueFuncs[i](record, key[i]);
}

bool XRFMSortHelper::less(const SortKey& a, const SortKey& b) const {
  for (size_t i = 0; i < m_lessFuncs.size(); ++i) {
    if (m_lessFuncs[i](a[i], b[i])) return true;
    if (m_lessFuncs[i](b[i], a[i])) return false;
  }
  return false;
}

}  // namespace Kyrofm
