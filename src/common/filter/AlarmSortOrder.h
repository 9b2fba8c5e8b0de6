// AlarmSortOrder.h: the sort order of alarm lists, in the database and in memory.
//
// A client sorts its alarm list by a vector of sort items (FieldSortItem_t):
// an item id naming a field and an order (1 ascending, anything else
// descending), the first item deciding first. The same vector serves both ends:
//  - CreateQryOrderCond adds one ORDER BY entry per item to a bulk read of an
//    alarm table;
//  - XRFMSortHelper turns an alarm record into a sort key (one value per item)
//    and gives one less-than function per item; the caller compares two keys
//    item by item (XRFMSortHelper::less does exactly that).
//
// Item ids below 10 000 000 name fixed fields:
//   id  in memory                                 compared as   ORDER BY
//    1  serial number (getLogId)                  integer       Csn
//    2  NE FDN text                               string        NEFDNId
//    4  severity                                  integer, reversed   AlmLevel
//    5  alarm type                                integer       Type
//    6  "<clear status>,<clear operator>"         string        per table
//    7  "<ack status>,<ack operator>"             string        per table
//    8  AlmRecord_t::getStatus(ack, clear)        integer       per table
//    9  NE type                                   integer       NEType
//   10  object FDN text (getMoDn)                 string        FDNId
//   12  NE FDN text                               string        NEFDNId
//   16  device serial number                      integer       DevCsn
//   17  record id (getAlarmId)                    integer       Id
//   other: the serial number in memory, no ORDER BY entry.
// Items 6, 7 and 8 order by table-dependent columns (see CreateQryOrderCond).
// Ids of 10 000 000 and above name an extended parameter: see
// splitExtendSortItemID.
//
// Where the two ends sort by different keys, and so may give different orders:
//  - items 2, 10 and 12 sort by the FDN text in memory and by the FDN id the
//    row carries in the database;
//  - item 4 sorts by higher severity first in memory for order 1, while the
//    database follows the plain order flag (order 1: AlmLevel ascending);
//  - items 6 and 7 compare a text in memory ("0,10" sorts before "0,9") and
//    two integer columns in the database;
//  - item 8 on tables other than tbl_cur_alm orders by fewer columns than the
//    combined status holds;
//  - items without an ORDER BY entry leave the database order open.
// Everywhere else the orders agree; ties (equal on every item) leave the
// order of the tied alarms open at both ends.
//
// String extended parameters: in memory an unset or empty text sorts before
// every other text and texts compare byte-wise as unsigned characters. The
// ORDER BY entry therefore reads a NULL column as the empty text and, on
// PostgreSQL, compares with the "C" collation (byte-wise whatever the
// database's default collation); SQLite compares byte-wise already.
//
// Threads: the free functions may run on any thread. An XRFMSortHelper is
// immutable after construction and may be used from several threads at once;
// it keeps a reference to the item vector, which must outlive it.
#ifndef FM_FILTER_ALARMSORTORDER_H
#define FM_FILTER_ALARMSORTORDER_H

#include <functional>
#include <string>
#include <vector>

#include "fm_common/platform/AlmRecord.h"

namespace Kyrofmdb {
class CFMBulkReader;
}

namespace Kyrofm {

// One sort item: the field (item id) and its order.
struct FieldSortItem_t {
  int m_iSortItemId = 0;
  int m_iOrder = 1;  // 1 ascending, any other value descending

  FieldSortItem_t() = default;
  FieldSortItem_t(int sortItemId, int order) : m_iSortItemId(sortItemId), m_iOrder(order) {}
  bool operator==(const FieldSortItem_t& o) const {
    return m_iSortItemId == o.m_iSortItemId && m_iOrder == o.m_iOrder;
  }
};

// Item ids of the fixed fields.
enum FieldSortItemId {
  SORT_ITEM_CSN = 1,
  SORT_ITEM_NE_FDN = 2,
  SORT_ITEM_LEVEL = 4,
  SORT_ITEM_TYPE = 5,
  SORT_ITEM_CLEAR = 6,
  SORT_ITEM_ACK = 7,
  SORT_ITEM_STATUS = 8,
  SORT_ITEM_NE_TYPE = 9,
  SORT_ITEM_FDN = 10,
  SORT_ITEM_NE_FDN_2 = 12,
  SORT_ITEM_DEV_CSN = 16,
  SORT_ITEM_ID = 17,
};

// Item ids from here on name extended parameters.
constexpr int SORT_ITEM_EXTEND_BASE = 10000000;
// Type digit of an extended item id: integer or string parameter.
constexpr int SORT_EXTEND_TYPE_INT = 0;
constexpr int SORT_EXTEND_TYPE_STR = 1;

// Splits an extended item id: index = id mod 100, group = (id mod 10 000) / 100,
// type = (id mod 1 000 000) / 10 000 (0 integer, 1 string parameter). Example:
// 10 010 305 is the string parameter of group 3, index 5.
void splitExtendSortItemID(int id, int& type, int& group, int& index);

// Adds to `reader`, in item order, one ORDER BY entry per item through
// AddOrderBy(columns, ORDER_ASC when the item's order is 1, else ORDER_DESC).
// tableName (compared without regard to case) selects the columns of items 6,
// 7 and 8:
//   item  tbl_cur_alm                tbl_his_alm              tbl_mask_alm  tbl_event_log         other
//    6    IsCleared,ClearOperator    IsCleared,ClearOperator  IsCleared     -                     -
//    7    IsConfirmed,Operator       -                        -             IsConfirmed,Operator  IsConfirmed,Operator
//    8    "IsConfirmed,IsCleared "   -                        IsCleared     IsConfirmed           -
// ("-": no entry; item 6 then logs that the table is not supported). An
// extended item orders by the database column of its field property (kind 7
// for a string, 6 for any other type digit); a field without property adds
// nothing and is logged. Items without a column add nothing. Returns 33000.
long CreateQryOrderCond(const std::vector<FieldSortItem_t>& items, const std::string& tableName,
                        Kyrofmdb::CFMBulkReader& reader);

// One value of a sort key: the integer of an integer item or the text of a
// string item (a copy owned by the key).
struct SortFieldValue {
  long m_lValue = 0;
  std::string m_strValue;
};

// The sort key of one alarm: one value per item, in item order.
using SortKey = std::vector<SortFieldValue>;
// Less-than of one item's values: true when a sorts before b.
using SortKeyLess = bool (*)(const SortFieldValue& a, const SortFieldValue& b);
// Fills the value of one item from a record.
using SortFieldValueFunc = std::function<void(const AlmRecord_t& record, SortFieldValue& value)>;

// Sort keys and less-than functions of an item vector, for sorting alarms in
// memory.
//
// Less-than functions: integer items compare signed, ascending for order 1 and
// descending otherwise; string items compare byte-wise as unsigned characters,
// likewise. Severity (item 4) is reversed: order 1 puts the higher severity
// first. An extended item compares as a string when its type digit is 1 and as
// an integer otherwise (its value: getStrExtParam / getIntExtParam of its group
// and index), matching the column CreateQryOrderCond picks for it.
class XRFMSortHelper {
 public:
  // Keeps a reference to `items` (which must outlive the helper) and prepares
  // the value extractor and less-than function of every item.
  explicit XRFMSortHelper(const std::vector<FieldSortItem_t>& items);

  XRFMSortHelper(const XRFMSortHelper&) = delete;
  XRFMSortHelper& operator=(const XRFMSortHelper&) = delete;

  // A new key: one value per item, in item order.
  SortKey getSortKey(const AlmRecord_t& record) const;
  // Fills `key` (resized to the item count) without allocating anew when the
  // key is reused.
  void getSortKey(const AlmRecord_t& record, SortKey& key) const;

  // Per item, in item order.
  const std::vector<SortFieldValueFunc>& getSortFieldValueFuncVec() const { return m_valueFuncs; }
  const std::vector<SortKeyLess>& getSortKeyLessVec() const { return m_lessFuncs; }

  // True when a sorts before b: the first item where one value is less than
  // the other decides; false when they are equal on every item. Both keys
  // must come from this helper.
  bool less(const SortKey& a, const SortKey& b) const;

  const std::vector<FieldSortItem_t>& getItems() const { return m_items; }

 private:
  const std::vector<FieldSortItem_t>& m_items;
  std::vector<SortFieldValueFunc> m_valueFuncs;
  std::vector<SortKeyLess> m_lessFuncs;
};

}  // namespace Kyrofm

#endif
