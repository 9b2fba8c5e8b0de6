// KyroWideString.h: conversions between the service's narrow texts and the
// wide strings that clients and audit records use.
//
// Narrow texts are UTF-8; wide strings hold one code point per wchar_t (UTF-32
// on the hosts the library runs on, UTF-16 with surrogate pairs where wchar_t
// has 16 bits). Bytes that are not valid UTF-8 are taken one by one as
// Latin-1 characters, so that no text is lost; a wide character that is not a
// code point (a lone surrogate, a value above U+10FFFF) becomes '?'.
//
// Thread safety: pure functions.
#ifndef FM_PLATFORM_KYROWIDESTRING_H
#define FM_PLATFORM_KYROWIDESTRING_H

#include <string>

namespace Kyrofm {

std::wstring KyroA2W(const std::string& text);
std::wstring KyroA2W(const char* text);  // null gives ""
std::string KyroW2A(const std::wstring& text);
std::string KyroW2A(const wchar_t* text);  // null gives ""

}  // namespace Kyrofm

#endif
