// CAlmIdAdpter.cpp: the in-process registry of the product's alarm type table.
#include "fm_common/platform/CAlmIdAdpter.h"

#include <mutex>

namespace Kyrofm {
namespace {

std::mutex& tableMutex() {
  static std::mutex m;
  return m;
}

std::map<char, char>& typeTable() {
  static std::map<char, char> t;
  return t;
}

}  // namespace

bool CAlmIdAdpter::IsNeedConvertAlmType() {
  std::lock_guard<std::mutex> guard(tableMutex());
  return !typeTable().empty();
}

char CAlmIdAdpter::ConvertAlmType(char type) {
  std::lock_guard<std::mutex> guard(tableMutex());
  auto it = typeTable().find(type);
  return it == typeTable().end() ? type : it->second;
}

void CAlmIdAdpter::SetAlmTypeMap(const std::map<char, char>& table) {
  std::lock_guard<std::mutex> guard(tableMutex());
  typeTable() = table;
}

void CAlmIdAdpter::Clear() { SetAlmTypeMap({}); }

}  // namespace Kyrofm
