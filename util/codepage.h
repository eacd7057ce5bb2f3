// The platform seam for code-page text: board text arrives in a DOS/Windows code page and is
// turned into UTF-16 units here. On Linux the project's own table does it
// (codepage_posix.cpp); on Windows the system's MultiByteToWideChar (codepage_win32.cpp).
#pragma once
#include <cstddef>
#include <cstdint>

// Converts n bytes of text in codePage to UTF-16 units in out (room for cap units).
// Code page 866 is mapped by the platform; any other page is read as Latin-1. Every input
// byte gives exactly one unit, so n units are always enough. Returns the units written.
size_t codePageToUtf16(const uint8_t* in, size_t n, uint16_t* out, size_t cap, int codePage);

// The project's own table of code page 866: the UTF-16 unit of one byte.
uint16_t cp866ToUtf16(uint8_t byte);
