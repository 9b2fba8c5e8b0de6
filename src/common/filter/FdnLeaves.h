// FdnLeaves.h: the filter leaves that select alarms by managed object (FDN).
//
//   condition type  class          record field          SQL column
//   "LINKFDN"       LinkObjectExp  link FDN (getLinkDn)  LinkFDNId (1, 2, 8), else LinkDn
//   "FDN"           FDNExp         object FDN (getMoDn)  FDNId, or a "t_fdn_" table of ids
//   "NE"            NeObjectExp    NE FDN                NEFDNId, or a "t_Nefdn_" table of ids
//   "SHIELDFDN"     ShieldFDNExp   object FDN            none (memory only)
//
// Values are FDN texts, converted to object identifiers by the product
// customisation module (fdn2Oid). The SQL side turns them into tbl_fdn_mgr ids
// through the FDN manager (CFdnManager), so the alarm tables' FDNId / NEFDNId /
// LinkFDNId columns must carry the manager's ids of the record's FDNs.
//
// FDNExp operators: 1 the object FDN is one of the values, 2 it is none of them;
// every other operator selects the values' whole subtrees (the object FDN is a
// value or lies below one; 9 negates). NeObjectExp: 2 the NE FDN is none of the
// values, every other operator: it is one of them. Both accept every record
// when the select-all flag is set and none when they hold no value. In SQL a
// set of 50 ids or more is written to a temporary table that the leaf creates
// once (named from a temporary-table identifier of FMIdMgr), refills only when
// its ids change, and drops in its destructor; a copy starts without a table
// and without a matcher and makes its own.
//
// SQL generation never fails loudly: a failed id look-up, identifier
// allocation or table fill gives " ( 0 > 1 ) " (selects nothing), logged.
//
// Threads: a leaf is used by one thread at a time; evaluate and sqlWhereCond
// of FDNExp and NeObjectExp update cached state (the matcher, the temporary
// table), so even they must not run concurrently on the same leaf.
#ifndef FM_FILTER_FDNLEAVES_H
#define FM_FILTER_FDNLEAVES_H

#include <list>
#include <memory>
#include <set>
#include <string>

#include "fm_common/filter/AlarmExp.h"
#include "fm_common/filter/LeafMatch.h"
#include "fm_common/fmcommon/XRFMFdnMatch.h"

namespace Kyrofm {

// A temporary one-column table of FDN ids owned by one leaf. The table is made
// on first use and dropped by the destructor. A drop that fails (database
// away) is remembered process-wide and retried when any leaf next fills a
// table, so no table outlives its owner for longer than the outage. Not
// copyable: a copied leaf gets a new, empty holder.
class FdnIdTempTable {
 public:
  static constexpr size_t THRESHOLD = 50;  // id lists of this size go to a table

  explicit FdnIdTempTable(std::string prefix) : m_strPrefix(std::move(prefix)) {}
  ~FdnIdTempTable();
  FdnIdTempTable(const FdnIdTempTable&) = delete;
  FdnIdTempTable& operator=(const FdnIdTempTable&) = delete;

  // Makes sure the table exists and holds exactly ids, and returns its name;
  // empty on failure (logged with the messages of `leaf`).
  std::string fill(const char* leaf, const std::set<long>& ids);
  const std::string& name() const { return m_strTempTable; }

  // Drops the tables whose drop failed earlier; the number still pending.
  static size_t retryPendingDrops();

 private:
  std::string m_strPrefix;
  std::string m_strTempTable;  // empty until allocated
  std::set<long> m_filled;     // the ids the table holds
  bool m_bFilled = false;
};

// Link FDN. Operators 1, 2 and 8 compare the link FDN's id with the values'
// ids (LinkFDNId); the others compare texts (the LinkDn column, as evaluateStr
// does in memory; codes 11 and 12 are suffix/prefix matches in SQL only).
class LinkObjectExp : public BasicExp {
 public:
  LinkObjectExp(const std::string& condName, char op) : BasicExp(condName, op) {}
  LinkObjectExp(const LinkObjectExp&) = default;
  LinkObjectExp& operator=(const LinkObjectExp&) = delete;

  // Every value converted by fdn2Oid. Always true.
  bool setFilter(const std::list<std::string>& values, bool selectAll) override;
  // The content split at ",", each part converted. Always true.
  bool setStringContent(const std::string& content) override;
  bool evaluate(const AlmRecord_t& record) const override;
  std::string sqlWhereCond(const std::string& table) const override;
  long getSqlWhereCondLimitCount() const override { return 1; }
  AlarmExp* copy() const override;

  const std::set<std::string>& getValues() const { return m_fdns; }

 private:
  LeafFieldTest fieldTest() const override { return {LeafFieldTest::LINK_DN, &m_match}; }
  std::set<std::string> m_fdns;
  StrValueMatch m_match;  // the operator table over m_fdns
};

// Object FDN, by equality or by subtree (see the table above). Priority 1.
class FDNExp : public BasicExp {
 public:
  FDNExp(const std::string& condName, char op);
  // Copies the values and flags; no temporary table, no matcher.
  FDNExp(const FDNExp& other);
  FDNExp& operator=(const FDNExp&) = delete;
  ~FDNExp() override;

  // Stores selectAll and the values, each converted by fdn2Oid and checked by
  // CAlmValidCheck::isFDNValid (else false, nothing changed). A first value
  // "USER,<name>" restricts the others to the objects that user manages
  // (false for an unknown user). An empty list is accepted (no value).
  bool setFilter(const std::list<std::string>& values, bool selectAll) override;
  // The whole content is one FDN (select-all off); false when no value results.
  bool setStringContent(const std::string& content) override;
  bool evaluate(const AlmRecord_t& record) const override;
  std::string sqlWhereCond(const std::string& table) const override;
  long getSqlWhereCondLimitCount() const override { return 0; }
  AlarmExp* copy() const override;

  const std::set<std::string>& getValues() const { return m_fdns; }
  // The temporary table's name; empty while none was made.
  const std::string& getTempTable() const { return m_table.name(); }

 private:
  bool subtreeHit(std::string_view fdn) const;

  std::set<std::string> m_fdns;
  StrValueMatch m_in;  // membership in m_fdns
  char m_cSplitter;
  mutable FdnIdTempTable m_table{"t_fdn_"};
  mutable std::unique_ptr<XRFMFdnMatch> m_pMatcher;  // built at the first evaluation needing it
};

// NE FDN, by equality (operator 2: not among the values).
class NeObjectExp : public BasicExp {
 public:
  NeObjectExp(const std::string& condName, char op) : BasicExp(condName, op) {}
  // Copies the values and flags; no temporary table.
  NeObjectExp(const NeObjectExp& other);
  NeObjectExp& operator=(const NeObjectExp&) = delete;
  ~NeObjectExp() override = default;

  // As FDNExp.
  bool setFilter(const std::list<std::string>& values, bool selectAll) override;
  bool setStringContent(const std::string& content) override;
  bool evaluate(const AlmRecord_t& record) const override;
  std::string sqlWhereCond(const std::string& table) const override;
  long getSqlWhereCondLimitCount() const override { return 0; }
  AlarmExp* copy() const override;

  const std::set<std::string>& getValues() const { return m_fdns; }
  const std::string& getTempTable() const { return m_table.name(); }

 private:
  std::set<std::string> m_fdns;
  mutable FdnIdTempTable m_table{"t_Nefdn_"};
};

// Shielded objects: accepts a record whose object FDN is one of the values or
// lies below one. It writes no SQL condition (the empty text): shielding is
// decided in memory. Priority 0.
class ShieldFDNExp : public BasicExp {
 public:
  ShieldFDNExp(const std::string& condName, char op);
  ShieldFDNExp(const ShieldFDNExp&) = default;
  ShieldFDNExp& operator=(const ShieldFDNExp&) = delete;

  // Copies the list (empty accepted). Always true.
  bool setFilter(const std::list<std::string>& values, bool selectAll) override;
  // Stores nothing. Always true.
  bool setStringContent(const std::string& content) override;
  bool evaluate(const AlmRecord_t& record) const override;
  std::string sqlWhereCond(const std::string& table) const override;
  long getSqlWhereCondLimitCount() const override { return 0; }
  AlarmExp* copy() const override;

  const std::list<std::string>& getValues() const { return m_fdns; }

 private:
  std::list<std::string> m_fdns;
};

}  // namespace Kyrofm

#endif
