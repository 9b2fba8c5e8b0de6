// FMTools.h: text, list and flag utilities shared by the library and its host
// processes.
//
// Text replacement, escaping of XML special characters and of the list
// separators & | , ; in texts exchanged with other processes, joining lists and
// sets of numbers into text and splitting text back, binary digit strings, flag
// bits and the correlation role of an alarm record, the split of an alarm
// status code, and the mapping of the security and topology services' result
// codes to the library's codes.
//
// None of the functions keeps state; all work on the caller's objects and may
// be called from any thread on objects that the calling thread owns.
#ifndef FM_FMCOMMON_FMTOOLS_H
#define FM_FMCOMMON_FMTOOLS_H

#include <list>
#include <memory>
#include <set>
#include <string>

#include "fm_common/platform/AlmRecord.h"

namespace Kyrofm {

// Replaces every occurrence of `from` in `text` by `to`, left to right; text
// that a replacement inserted is never searched again. An empty `from` leaves
// the text unchanged.
void replaceString(std::string& text, const std::string& from, const std::string& to);
// Replaces the first occurrence of `from`, if any.
void replaceStrFirst(std::string& text, const std::string& from, const std::string& to);

// Escapes & > ' " < as XML entities and turns every line feed into a line feed
// followed by the marker 0x7F. unTransXmlChar undoes it: the round trip gives
// back every text that holds no 0x7F; a marker without its line feed becomes
// a line feed.
void transXmlChar(std::string& text);
void unTransXmlChar(std::string& text);

// The XML declaration of the edition (UTF-8 for the global edition, else
// ISO-8859-1), followed by one blank and a line feed.
void getXmlHeadLine(std::string& out);

// Escapes the list separators: "&" -> "&amp-", "|" -> "&vtl-", "," -> "&cma-",
// ";" -> "&semi-". DecodeString(EncodeString(s)) == s for every byte string s.
std::string EncodeString(const std::string& text);
std::string DecodeString(const std::string& text);
// Decodes every element of the list in place.
void DecodeStringList(std::list<std::string>& texts);

// Joins the elements, each followed by `separator` (encoded first when
// `encode`), and drops one trailing separator. An empty list gives "".
void List2String(const std::list<std::string>& values, std::string& out, char separator, bool encode);
// Joins the numbers with ","; an empty list leaves `out` unchanged.
void List2String(const std::list<long>& values, std::string& out);
// Joins the numbers in ascending order with ","; an empty set leaves `out`
// unchanged.
void Set2String(const std::set<long>& values, std::string& out);

// Split `text` at every occurrence of the (possibly multi-character)
// separator, skipping empty pieces. The output is cleared first. An empty
// separator is logged and gives the whole text as the only element. The
// numeric forms read each piece as a decimal long (leading blanks and a sign
// allowed, reading stops at the first other character, nothing read gives 0).
void String2List(const std::string& text, std::list<std::string>& out, std::string separator);
void String2LongList(const std::string& text, const std::string& separator, std::list<long>& out);
void String2LongSet(const std::string& text, const std::string& separator, std::set<long>& out);

// Reads a binary digit string whose first character is the least significant
// bit ('1' sets the bit, any other character leaves it clear). More than 32
// characters give 0.
unsigned long Cnvt2to10(std::string digits);

// Sets (on != 0) or clears bit `bit` modulo 32 of the flag word.
void setParamFlag(unsigned long& word, char bit, char on);
// 1 when bit `bit` modulo 32 of the word is set, else 0.
char getParamFlag(unsigned long word, char bit);

// Bits of the record's parameter flag word that carry its correlation role.
constexpr char CORRELATIVE_BIT_SECOND = 6;  // role 1: correlated to another alarm
constexpr char CORRELATIVE_BIT_BOTH = 7;    // role 3: both roles
constexpr char CORRELATIVE_BIT_FIRST = 8;   // role 2: other alarms correlate to it

// The correlation role of the record: 1 (bit 6), else 3 (bit 7), else 2
// (bit 8), else 0.
unsigned int getCorrelativeFlag(const AlmRecord_t& record);
// Links two records: `first` takes the first role and `second` the second
// one; a record that holds both roles gets role 3. Either pointer may be null.
void setCorrelativeFlag(std::shared_ptr<AlmRecord_t> first, std::shared_ptr<AlmRecord_t> second);

// Splits an alarm status code (1 NANR, 2 NAYR, 3 YANR, 4 YAYR) into its
// acknowledged and cleared flags; any other code leaves both unchanged.
void getAlmStatus(long status, char& acknowledged, char& cleared);

// Result codes of the security service / topology service as library codes.
long transSmTokenCode(int code);
long transTopoErrorCode(long code);

}  // namespace Kyrofm

#endif
