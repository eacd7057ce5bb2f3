// UTF-16 text from the Windows API turned into the UTF-8 the tool keeps inside (Windows only;
// defined in files_win32.cpp beside the opposite direction, which only the file seam needs).
#pragma once
#include <cstddef>
#include <string>

// The UTF-8 form of `units` UTF-16 units; "" for none or for text Windows cannot convert.
std::string utf8FromUtf16(const wchar_t* text, size_t units);
