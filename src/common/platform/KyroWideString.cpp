// KyroWideString.cpp: UTF-8 <-> wide string conversion without a locale.
#include "fm_common/platform/KyroWideString.h"

#include <cstring>
#include <cwchar>

namespace Kyrofm {
namespace {

void appendCodePoint(std::wstring& out, char32_t cp) {
  if (sizeof(wchar_t) >= 4 || cp < 0x10000) {
    out.push_back(static_cast<wchar_t>(cp));
  } else {
    cp -= 0x10000;
    out.push_back(static_cast<wchar_t>(0xD800 + (cp >> 10)));
    out.push_back(static_cast<wchar_t>(0xDC00 + (cp & 0x3FF)));
  }
}

void appendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

// Decodes one UTF-8 sequence at text[i]; 0 when it is not well formed.
size_t decodeUtf8(const unsigned char* s, size_t n, size_t i, char32_t& cp) {
  const unsigned char c = s[i];
  size_t len = 0;
  char32_t min = 0;
  if (c >= 0xC2 && c <= 0xDF) {
    len = 2, cp = c & 0x1F, min = 0x80;
  } else if (c >= 0xE0 && c <= 0xEF) {
    len = 3, cp = c & 0x0F, min = 0x800;
  } else if (c >= 0xF0 && c <= 0xF4) {
    len = 4, cp = c & 0x07, min = 0x10000;
  } else {
    return 0;
  }
  if (i + len > n) return 0;
  for (size_t k = 1; k < len; ++k) {
    if ((s[i + k] & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (s[i + k] & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return len;
}

}  // namespace

std::wstring KyroA2W(const std::string& text) {
  std::wstring out;
  out.reserve(text.size());
  const auto* s = reinterpret_cast<const unsigned char*>(text.data());
  for (size_t i = 0; i < text.size();) {
    char32_t cp = s[i];
    size_t len = cp < 0x80 ? 1 : decodeUtf8(s, text.size(), i, cp);
    if (len == 0) {
      cp = s[i];
      len = 1;
    }
    appendCodePoint(out, cp);
    i += len;
  }
  return out;
}

std::wstring KyroA2W(const char* text) { return text == nullptr ? std::wstring() : KyroA2W(std::string(text)); }

std::string KyroW2A(const std::wstring& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    auto cp = static_cast<char32_t>(text[i]);
    if (sizeof(wchar_t) < 4 && cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size()) {
      const auto lo = static_cast<char32_t>(text[i + 1]);
      if (lo >= 0xDC00 && lo <= 0xDFFF) {
        cp = 0x10000 + ((cp - 0xD800) << 10) + (lo - 0xDC00);
        ++i;
      }
    }
    if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = U'?';
    appendUtf8(out, cp);
  }
  return out;
}

std::string KyroW2A(const wchar_t* text) { return text == nullptr ? std::string() : KyroW2A(std::wstring(text)); }

}  // namespace Kyrofm
