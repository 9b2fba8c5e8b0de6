// FMResult.cpp: the texts of the result codes that the library's operations
// return, one table for the whole library so that logs and tools name a code
// the same way everywhere.
#include "fm_common/platform/FMResult.h"

#include <algorithm>
#include <iterator>

namespace Kyrofm {
namespace {

struct CodeText {
  long code;
  const char* text;
};

// Sorted by code (looked up by binary search).
constexpr CodeText kTexts[] = {
    {1005, "no such settings path"},
    {33000, "success"},
    {33001, "partial success: some entries failed"},
    {33002, "general failure"},
    {33011, "out of memory"},
    {33021, "invalid argument"},
    {33026, "another process holds the single-instance lock"},
    {33029, "the settings service refused the write"},
    {33031, "refused by the topology service"},
    {33032, "explanation entry could not be inserted"},
    {33033, "explanation entry could not be updated"},
    {33034, "explanation entry could not be deleted"},
    {33035, "result limit reached"},
    {33038, "no database connection"},
    {33040, "explanation reason already exists"},
    {33041, "explanation key or reason not found"},
    {33044, "explanation entry has no reason"},
    {33047, "explanation buffer is empty"},
    {33072, "invalid alarm type"},
    {33073, "invalid status arguments"},
    {33074, "invalid alarm level"},
    {33077, "explanation text too long"},
    {33097, "refused by the security or topology service"},
    {33098, "refused by the security or topology service"},
    {33099, "refused by the security or topology service"},
    {33100, "refused by the security or topology service"},
    {33101, "no right on the managed object"},
    {33104, "invalid operation type"},
    {33201, "alarm explanation is marked deleted"},
    {33405, "empty time range: start equals end"},
    {33406, "unknown display keyword"},
    {33552, "busy: a northbound filter operation is running"},
    {33720, "operation has no result"},
    {33868, "id maps are not active yet"},
    {33872, "alarm window limit exceeded"},
    {33900, "no such remote operation"},
    {33901, "refused by the topology service"},
    {33906, "database busy"},
    {33990, "busy: an alarm knowledge base change is running"},
    {33991, "busy: an alarm level redefinition is running"},
    {33992, "busy: an alarm filter operation is running"},
    {33997, "busy: an alarm synchronisation is running"},
};

constexpr bool strictlyAscending() {
  for (size_t i = 1; i < std::size(kTexts); ++i) {
    if (kTexts[i - 1].code >= kTexts[i].code) return false;
  }
  return true;
}
static_assert(strictlyAscending(), "kTexts must stay sorted for the binary search");

}  // namespace

std::string FMResultText(long code) {
  const auto* it = std::lower_bound(std::begin(kTexts), std::end(kTexts), code,
                                    [](const CodeText& entry, long c) { return entry.code < c; });
  if (it == std::end(kTexts) || it->code != code) return "unknown result code " + std::to_string(code);
  return std::string(it->text) + " (" + std::to_string(code) + ")";
}

}  // namespace Kyrofm
