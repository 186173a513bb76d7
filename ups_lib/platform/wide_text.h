// UTF-8 text as the wide strings the Win32 API takes.
#pragma once
#ifdef _WIN32

#include <windows.h>

#include <string>
#include <string_view>

namespace ups::platform {

inline std::wstring Wide(std::string_view text) {
    if (text.empty()) return {};
    const int size = static_cast<int>(text.size());
    const int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), size, nullptr, 0);
    std::wstring out(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), size, out.data(), n);
    return out;
}

}  // namespace ups::platform

#endif  // _WIN32
