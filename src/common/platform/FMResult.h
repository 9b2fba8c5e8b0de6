// FMResult.h: the result codes shared by every part of fm_common.
//
// Every operation that can fail returns a long (or int) result code; codes are
// compared by value and their display texts live in an error file outside the
// library. Codes that belong to a single class family are declared beside it.
#ifndef FM_PLATFORM_FMRESULT_H
#define FM_PLATFORM_FMRESULT_H

#include <string>

namespace Kyrofm {

constexpr long FM_SUCCESS = 33000;          // the operation succeeded
constexpr long FM_PARTIAL_SUCCESS = 33001;  // some entries of a batch failed
constexpr long FM_FAILURE = 33002;          // general failure
constexpr long FM_NO_MEMORY = 33011;        // out of memory
constexpr long FM_INVALID_ARG = 33021;      // invalid argument
constexpr long FM_PROCESS_LOCKED = 33026;   // another process holds the single-instance lock
constexpr long FM_SETTING_REFUSED = 33029;  // the settings service refused a write
constexpr long FM_DB_CONNECT_FAIL = 33038;  // no database connection
constexpr long FM_NO_RIGHT = 33101;         // the user has no right on the object

// Answer of the settings service for a path that does not exist.
constexpr int SETTING_NO_SUCH_PATH = 1005;

// A short English text for a result code, for log lines and tools (not for
// users: their texts come from the error file). Known codes give
// "<meaning> (<code>)", e.g. "no database connection (33038)"; any other code
// gives "unknown result code <code>". Thread-safe, never fails.
std::string FMResultText(long code);

}  // namespace Kyrofm

#endif
