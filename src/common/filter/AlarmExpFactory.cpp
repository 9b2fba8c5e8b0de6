// AlarmExpFactory.cpp: from a client's filter to one expression tree.
//
// A build goes through three steps: the conditions are distributed (the user
// restriction moves into the FDN and NE leaves), each condition becomes a
// named leaf in the map of an AlarmExpFactoryImpl, and the leaves are joined,
// by AND in name order or by the criterion. The criterion is converted to
// postfix words by an operator-precedence pass (PNChanger) and evaluated with
// a stack of expressions. Both passes use explicit stacks only; every
// expression lives in a std::unique_ptr until the finished tree is handed
// out, so a refused input leaks nothing.
#include "fm_common/filter/AlarmExpFactory.h"

#include <cctype>
#include <exception>
#include <functional>
#include <utility>
#include <vector>

#include "fm_common/filter/FdnLeaves.h"
#include "fm_common/filter/FieldLeaves.h"
#include "fm_common/filter/ParamLeaves.h"
#include "fm_common/filter/TimeLeaves.h"
#include "fm_common/filter/UserLeaves.h"
#include "fm_common/platform/KyroTrace.h"

namespace Kyrofm {
namespace {

std::string upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

std::string lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// ---------------------------------------------------------------------------
// Condition types

// How a condition type makes its leaf: the constructor, the operator code of
// createSingle (0: refused there) and whether createCommonExp accepts it.
struct LeafKind {
  const char* type;
  std::function<BasicExp*(const std::string& name, char op, bool flag)> make;
  char singleOp;     // 0: refused by createSingle; -1: 2 with the build flag, else 1
  bool commonOk;     // accepted by createCommonExp
  bool timeWindow;   // takes the build flag (createSingle) / false (createCommonExp)
};

template <typename T>
std::function<BasicExp*(const std::string&, char, bool)> plain() {
  return [](const std::string& name, char op, bool) -> BasicExp* { return new T(name, op); };
}

template <typename T>
std::function<BasicExp*(const std::string&, char, bool)> windowed() {
  return [](const std::string& name, char op, bool flag) -> BasicExp* { return new T(name, op, flag); };
}

const std::vector<LeafKind>& leafKinds() {
  static const std::vector<LeafKind> kinds = {
      {"CATEGORY", plain<CategoryExp>(), 1, true, false},
      {"LOG", plain<LogTypeExp>(), 1, true, false},
      {"TIME", windowed<DateTimeExp>(), 1, true, true},
      {"TIMECOND", windowed<TimeCondExp>(), 1, true, true},
      {"CLEARTIME", windowed<ClearDateTimeExp>(), 1, true, true},
      {"ACKTIME", windowed<AckDateTimeExp>(), 1, false, true},
      {"CSN", plain<CsnExp>(), 1, true, false},
      {"INFO", plain<AlarmInfoExp>(), 1, true, false},
      {"NE", plain<NeObjectExp>(), 1, true, false},
      {"FDN", plain<FDNExp>(), 7, true, false},
      {"SHIELDFDN", plain<ShieldFDNExp>(), 7, true, false},
      {"LEVEL", plain<LevelExp>(), 1, true, false},
      {"TYPE", plain<AlarmTypeExp>(), 1, true, false},
      {"NETYPE", plain<AlmNETypeExp>(), 1, true, false},
      {"SUSER", plain<UserExp>(), 1, true, false},
      {"USER", plain<DynamicUserExp>(), 1, true, false},
      {"STATUS", plain<StatusExp>(), 1, true, false},
      {"LINKFDN", plain<LinkObjectExp>(), 1, true, false},
      {"LINKTYPE", plain<LinkTypeExp>(), 1, true, false},
      {"EXTENDINFO", plain<ExtendInfoExp>(), 1, true, false},
      {"PARAM", plain<ParamExp>(), 1, true, false},
      {"IDENTIFIERS", plain<IdentifyExp>(), 1, true, false},
      {"INTEXT", plain<IntExtParamExp>(), -1, true, false},
      {"STREXT", plain<StrExtParamExp>(), 1, true, false},
      {"ALARMID", plain<AlarmIDExp>(), 1, true, false},
      {"DURATION", plain<AlarmDurationExp>(), 1, true, false},
      {"PARAM8BITAND", plain<Param8BitandExp>(), 1, true, false},
      {"TIMEMODE", windowed<TimeModeExp>(), 0, true, true},
      {"DELAYDAY", plain<DelayDayExp>(), 0, true, false},
  };
  return kinds;
}

const LeafKind* findKind(const std::string& type) {
  for (const LeafKind& k : leafKinds()) {
    if (type == k.type) return &k;
  }
  return nullptr;
}

// ---------------------------------------------------------------------------
// Criterion words

enum class Op { NONE, BOTTOM, OPEN, OR, AND, NOT, CLOSE };

Op opOf(const std::string& word) {
  if (word == "(") return Op::OPEN;
  if (word == ")") return Op::CLOSE;
  if (word.size() < 2 || word.size() > 3) return Op::NONE;
  const std::string w = lower(word);
  if (w == "or") return Op::OR;
  if (w == "and") return Op::AND;
  if (w == "not") return Op::NOT;
  return Op::NONE;
}

int isp(Op op) {
  switch (op) {
    case Op::OPEN: return 1;
    case Op::OR: return 3;
    case Op::AND: return 5;
    case Op::NOT: return 7;
    case Op::CLOSE: return 8;
    default: return 0;
  }
}

int icp(Op op) {
  switch (op) {
    case Op::OPEN: return 8;
    case Op::OR: return 2;
    case Op::AND: return 4;
    case Op::NOT: return 6;
    case Op::CLOSE: return 1;
    default: return 0;
  }
}

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// True when `words` (postfix) form exactly one expression; names unchecked.
bool wellFormed(const std::list<std::string>& words) {
  long depth = 0;
  for (const std::string& w : words) {
    const Op op = opOf(w);
    if (op == Op::OPEN || op == Op::CLOSE) return false;
    if (op == Op::NOT) {
      if (depth < 1) return false;
    } else if (op == Op::AND || op == Op::OR) {
      if (depth < 2) return false;
      --depth;
    } else {
      ++depth;
    }
  }
  return depth == 1;
}

// Removes the whole-word sequences "USER AND" and "AND USER" (any case) from
// a criterion.
std::string dropUserTerms(const std::string& text) {
  auto isWordChar = [](char c) { return !isBlank(c) && c != '(' && c != ')'; };
  auto matchesAt = [&](const std::string& s, size_t pos, const char* pat) {
    const size_t len = std::char_traits<char>::length(pat);
    if (pos + len > s.size()) return false;
    for (size_t i = 0; i < len; ++i) {
      if (std::toupper(static_cast<unsigned char>(s[pos + i])) != pat[i]) return false;
    }
    if (pos > 0 && isWordChar(s[pos - 1])) return false;
    if (pos + len < s.size() && isWordChar(s[pos + len])) return false;
    return true;
  };
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    // Only whole words are removed: "USERS AND" or "AND USER1" name other
    // conditions and stay.
    if (matchesAt(text, i, "USER AND") || matchesAt(text, i, "AND USER")) {
      i += 8;
      continue;
    }
    out += text[i++];
  }
  return out;
}

}  // namespace

// ---------------------------------------------------------------------------
// PNChanger

bool PNChanger::toPostfix(const std::string& text, std::list<std::string>& words) {
  std::vector<std::pair<Op, std::string>> stack;  // operators with their words as written
  stack.emplace_back(Op::BOTTOM, "#");
  auto emitTop = [&]() {
    words.push_back(std::move(stack.back().second));
    stack.pop_back();
  };
  size_t i = 0;
  const size_t n = text.size();
  while (i < n) {
    if (isBlank(text[i])) {
      ++i;
      continue;
    }
    std::string word;
    if (text[i] == '(' || text[i] == ')') {
      word.assign(1, text[i++]);
    } else {
      const size_t start = i;
      while (i < n && !isBlank(text[i]) && text[i] != '(' && text[i] != ')') ++i;
      word = text.substr(start, i - start);
    }
    const Op op = opOf(word);
    if (op == Op::NONE) {
      words.push_back(std::move(word));
      continue;
    }
    if (op == Op::CLOSE) {
      while (stack.back().first != Op::OPEN && stack.back().first != Op::BOTTOM) emitTop();
      if (stack.back().first == Op::OPEN) {
        stack.pop_back();
      } else {
        words.push_back(std::move(word));  // no "(" to close: left for the evaluation to refuse
      }
      continue;
    }
    // A prefix NOT does not end the NOT before it: both still wait for their
    // operand ("NOT NOT A" is "A NOT NOT").
    while (isp(stack.back().first) >= icp(op) && !(op == Op::NOT && stack.back().first == Op::NOT)) emitTop();
    stack.emplace_back(op, std::move(word));
  }
  while (stack.size() > 1) emitTop();
  return true;
}

// ---------------------------------------------------------------------------
// ExpStringFilter

bool ExpStringFilter(const std::string& filter, std::string& name, std::string& type, std::string& content) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (;;) {
    const size_t bar = filter.find('|', start);
    const size_t end = bar == std::string::npos ? filter.size() : bar;
    size_t b = start;
    size_t e = end;
    while (b < e && isBlank(filter[b])) ++b;
    while (e > b && isBlank(filter[e - 1])) --e;
    if (e > b) parts.push_back(filter.substr(b, e - b));
    if (bar == std::string::npos) break;
    start = bar + 1;
  }
  switch (parts.size()) {
    case 1:
      name = type = upper(parts[0]);
      content.clear();
      return true;
    case 2:
      name = type = upper(parts[0]);
      content = parts[1];
      return true;
    case 3:
      name = upper(parts[0]);
      type = upper(parts[1]);
      content = parts[2];
      return true;
    default:
      FM_TRACE(TRACE_ERROR,
               "AlarmExpFactoryImpl:createSingleByStringFilter,input parameter is not valid, filter result size is: %d",
               static_cast<int>(parts.size()));
      return false;
  }
}

// ---------------------------------------------------------------------------
// AlarmExpFactory

AlarmExp* AlarmExpFactory::createCommonExp(const std::list<FieldCond_t>& conds, bool selectAll) {
  try {
    if (conds.empty()) return new ConstantExp(true);
    std::list<FieldCond_t> mainList;
    std::list<FieldCond_t> objects;
    const FieldCond_t* user = nullptr;
    const FieldCond_t* criterion = nullptr;
    for (const FieldCond_t& c : conds) {
      if (c.m_strFieldName == "USER") {
        user = &c;
      } else if (c.m_strFieldName == "CRITERION") {
        if (!criterion) criterion = &c;
      } else if (c.m_strFieldName == "FDN" || c.m_strFieldName == "NE") {
        objects.push_back(c);
      } else {
        mainList.push_back(c);
      }
    }
    bool userMoved = false;
    if (user && !user->m_lstValues.empty()) {
      const std::string tag = "USER," + user->m_lstValues.front();
      for (FieldCond_t& o : objects) o.m_lstValues.push_front(tag);
      userMoved = !objects.empty();
    }
    mainList.splice(mainList.end(), objects);
    if (user && !userMoved) mainList.push_back(*user);
    if (criterion) {
      mainList.push_back(*criterion);
      FieldCond_t& crit = mainList.back();
      if (userMoved && !crit.m_lstValues.empty()) crit.m_lstValues.front() = dropUserTerms(crit.m_lstValues.front());
    }
    AlarmExpFactoryImpl impl(selectAll);
    return impl.createCommonExp(mainList);
  } catch (const std::exception& e) {
    FM_TRACE(TRACE_ERROR, "AlarmExpFactory::createCommonExp, exception: %s", e.what());
    return nullptr;
  }
}

AlarmExp* AlarmExpFactory::createByStrinFilter(const std::list<std::string>& filters, long, bool buildFlag) {
  try {
    if (filters.empty()) return new ConstantExp(true);
    AlarmExpFactoryImpl impl(true);
    return impl.createByStringFilter(filters, buildFlag);
  } catch (const std::exception& e) {
    FM_TRACE(TRACE_ERROR, "AlarmExpFactory::createByStrinFilter, exception: %s", e.what());
    return nullptr;
  }
}

bool AlarmExpFactory::criterionWords(const std::string& criterion, std::list<std::string>& words) {
  try {
    PNChanger::toPostfix(upper(criterion), words);
    return wellFormed(words);
  } catch (const std::exception& e) {
    FM_TRACE(TRACE_ERROR, "AlarmExpFactory::criterionWords, exception: %s", e.what());
    return false;
  }
}

std::string AlarmExpFactory::decidingCondition(const AlarmExp& root, const AlmRecord_t& record, bool& result) {
  const AlarmExp* leaf = findDecidingLeaf(root, record, result);
  if (!leaf) return std::string();
  if (const auto* basic = dynamic_cast<const BasicExp*>(leaf)) return basic->getCondName();
  if (const auto* constant = dynamic_cast<const ConstantExp*>(leaf)) return constant->getValue() ? "TRUE" : "FALSE";
  return std::string();
}

// ---------------------------------------------------------------------------
// AlarmExpFactoryImpl

AlarmExpFactoryImpl::AlarmExpFactoryImpl(bool selectAll) : m_bSelectAll(selectAll) {}

AlarmExpFactoryImpl::~AlarmExpFactoryImpl() = default;

void AlarmExpFactoryImpl::clearAlarmExpMap() { _expMap.clear(); }

AlarmExp* AlarmExpFactoryImpl::createCommonExp(const std::list<FieldCond_t>& conds) {
  try {
    for (const FieldCond_t& cond : conds) {
      const std::string name = upper(cond.m_strCondName);
      const std::string& field = cond.m_strFieldName;
      std::string joined;
      for (const std::string& v : cond.m_lstValues) {
        if (joined.size() > 4096) {
          FM_TRACE(TRACE_PROGRESS, "createCommonExp, lstValue is too long, it's size is %d",
                   static_cast<int>(cond.m_lstValues.size()));
          break;
        }
        joined += v;
        joined += ',';
      }
      FM_TRACE(TRACE_PROGRESS, "createCommonExp, cond:[%s | %s | %d | %s]", name.c_str(), field.c_str(),
               static_cast<int>(cond.m_cOperator), joined.c_str());

      if (field == "CRITERION") {
        // A criterion without words would silently join the leaves by AND.
        if (cond.m_lstValues.empty() ||
            cond.m_lstValues.front().find_first_not_of(" \t\r\n") == std::string::npos) {
          FM_TRACE(TRACE_ERROR, "AlarmExpFactoryImpl:createCommonExp, empty criterion, CondName:%s", name.c_str());
          clearAlarmExpMap();
          return nullptr;
        }
        m_strCriterion = upper(cond.m_lstValues.front());
        FM_TRACE(TRACE_PROGRESS, "createCommonExp, criterion:%s", m_strCriterion.c_str());
        continue;
      }

      const LeafKind* kind = findKind(field);
      if (!kind || !kind->commonOk) {
        FM_TRACE(TRACE_ERROR, "AlarmExpFactoryImpl:createCommonExp, no such condition %s", field.c_str());
        clearAlarmExpMap();
        return nullptr;
      }
      std::unique_ptr<AlarmExp> exp;
      if (cond.m_lstValues.empty()) {
        exp = std::make_unique<ConstantExp>(true);
      } else {
        std::unique_ptr<BasicExp> leaf(kind->make(name, cond.m_cOperator, false));
        if (!leaf->setFilter(cond.m_lstValues, m_bSelectAll)) {
          FM_TRACE(TRACE_ERROR, "createCommonExp failed, CondName:%s, FieldName:%s", name.c_str(), field.c_str());
          clearAlarmExpMap();
          return nullptr;
        }
        exp = std::move(leaf);
      }
      if (!_expMap.emplace(name, std::move(exp)).second) {
        FM_TRACE(TRACE_ERROR, "createCommonExp insert failed, CondName:%s, FieldName:%s", name.c_str(),
                 field.c_str());
      }
    }
    return m_strCriterion.empty() ? createByNoCriterion() : createByCriterion();
  } catch (const std::exception& e) {
    // Out of memory while making a leaf: refuse the filter rather than drop
    // the condition, which would widen it.
    FM_TRACE(TRACE_ERROR, "AlarmExpFactoryImpl:createCommonExp, expr == 0 (%s)", e.what());
    clearAlarmExpMap();
    return nullptr;
  }
}

AlarmExp* AlarmExpFactoryImpl::createByStringFilter(const std::list<std::string>& filters, bool buildFlag) {
  clearAlarmExpMap();
  int i = 0;
  for (const std::string& f : filters) {
    if (!createSingleByStringFilter(f, buildFlag)) {
      FM_TRACE(TRACE_ERROR, "AlarmExpFactoryImpl:createByStringFilter,createSingleByStringFilter, failed:filter[%d]=%s",
               i, f.c_str());
      clearAlarmExpMap();
      return nullptr;
    }
    ++i;
  }
  return m_strCriterion.empty() ? createByNoCriterion() : createByCriterion();
}

bool AlarmExpFactoryImpl::createSingleByStringFilter(const std::string& filter, bool buildFlag) {
  std::string name;
  std::string type;
  std::string content;
  if (!ExpStringFilter(filter, name, type, content)) return false;
  return createSingle(name, type, content, buildFlag);
}

bool AlarmExpFactoryImpl::createSingle(const std::string& name, const std::string& type, const std::string& content,
                                       bool buildFlag) {
  try {
    FM_TRACE(TRACE_PROGRESS, "AlarmExpFactoryImpl::createSingle, the condition is: name=%s,type=%s,content=%s",
             name.c_str(), type.c_str(), content.c_str());
    if (type == "CRITERION") {
      if (content.find_first_not_of(" \t\r\n") == std::string::npos) {
        FM_TRACE(TRACE_ERROR, "AlarmExpFactoryImpl:createSingle, empty criterion, name:%s", name.c_str());
        return false;
      }
      m_strCriterion = upper(content);
      return true;
    }
    const LeafKind* kind = findKind(type);
    if (!kind || kind->singleOp == 0) {
      FM_TRACE(TRACE_ERROR, "AlarmExpFactoryImpl:createSingle, no such condition %s", type.c_str());
      return false;
    }
    const char op = kind->singleOp > 0 ? kind->singleOp : (buildFlag ? 2 : 1);
    std::unique_ptr<AlarmExp> exp;
    if (content.empty()) {
      exp = std::make_unique<ConstantExp>(true);
    } else {
      std::unique_ptr<BasicExp> leaf(kind->make(name, op, buildFlag));
      if (!leaf->setStringContent(content)) {
        FM_TRACE(TRACE_ERROR, "createSingle failed, name, type content: %s, %s, %s", name.c_str(), type.c_str(),
                 content.c_str());
        return false;
      }
      exp = std::move(leaf);
    }
    if (!_expMap.emplace(upper(name), std::move(exp)).second) {
      FM_TRACE(TRACE_ERROR, "AlarmExpFactoryImpl:createSingle, insert failed, name:%s", name.c_str());
    }
    return true;
  } catch (const std::exception& e) {
    FM_TRACE(TRACE_ERROR, "AlarmExpFactoryImpl:createSingle, expr == 0 (%s)", e.what());
    return false;
  }
}

AlarmExp* AlarmExpFactoryImpl::createByNoCriterion() {
  if (_expMap.empty()) {
    FM_TRACE(TRACE_ERROR, "AlarmExpFactoryImpl:createByNoCriterion,_expMap.size () == 0");
    return nullptr;
  }
  try {
    auto it = _expMap.begin();
    std::unique_ptr<AlarmExp> result = std::move(it->second);
    for (++it; it != _expMap.end(); ++it) {
      result = std::make_unique<AndAlarmExp>(std::move(result), std::move(it->second));
    }
    _expMap.clear();
    return result.release();
  } catch (const std::exception& e) {
    FM_TRACE(TRACE_ERROR, "AlarmExpFactoryImpl:createByNoCriterion, exception: %s", e.what());
    clearAlarmExpMap();
    return nullptr;
  }
}

AlarmExp* AlarmExpFactoryImpl::createByCriterion() {
  try {
    std::list<std::string> words;
    PNChanger::toPostfix(m_strCriterion, words);
    if (words.empty()) {
      FM_TRACE(TRACE_ERROR, "AlarmExpFactoryImpl:createByCriterion,result.size () == 0");
      clearAlarmExpMap();
      return nullptr;
    }
    std::vector<std::unique_ptr<AlarmExp>> stack;
    auto refuse = [&](const std::string& word) -> AlarmExp* {
      FM_TRACE(TRACE_ERROR, "createByCriterion, expStack error. %s", word.c_str());
      clearAlarmExpMap();
      return nullptr;  // `stack` deletes what it holds
    };
    for (const std::string& word : words) {
      const Op op = opOf(word);
      if (op == Op::NONE) {
        auto it = _expMap.find(word);
        if (it != _expMap.end()) {
          FM_TRACE(TRACE_PROGRESS, "AlarmExpFactoryImpl:createByCriterion: push exp %s", word.c_str());
          stack.push_back(std::move(it->second));
          _expMap.erase(it);
        } else if (word == "TRUE" || word == "CRITERION") {
          stack.push_back(std::make_unique<ConstantExp>(true));
        } else if (word == "FALSE") {
          stack.push_back(std::make_unique<ConstantExp>(false));
        } else {
          return refuse(word);  // unknown name, or a name used a second time
        }
      } else if (op == Op::NOT) {
        if (stack.empty()) return refuse(word);
        stack.back() = std::make_unique<NotAlarmExp>(std::move(stack.back()));
      } else if (op == Op::AND || op == Op::OR) {
        if (stack.size() < 2) return refuse(word);
        std::unique_ptr<AlarmExp> a = std::move(stack.back());
        stack.pop_back();
        std::unique_ptr<AlarmExp>& b = stack.back();
        if (op == Op::AND) {
          if (a->isMatchAll()) {
            // b stays
          } else if (b->isMatchAll()) {
            b = std::move(a);
          } else {
            b = std::make_unique<AndAlarmExp>(std::move(b), std::move(a));
          }
        } else {
          if (a->isMatchAll()) {
            b = std::move(a);
          } else if (b->isMatchAll()) {
            // b stays
          } else {
            b = std::make_unique<OrAlarmExp>(std::move(b), std::move(a));
          }
        }
      } else {
        return refuse(word);  // a parenthesis left unmatched
      }
    }
    if (stack.size() != 1) return refuse(m_strCriterion);  // surplus operands
    clearAlarmExpMap();
    return stack.back().release();
  } catch (const std::exception& e) {
    FM_TRACE(TRACE_ERROR, "AlarmExpFactoryImpl:createByCriterion, exception: %s", e.what());
    clearAlarmExpMap();
    return nullptr;
  }
}

}  // namespace Kyrofm
