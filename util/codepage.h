// The platform seam for code-page text: board text arrives in a Windows code page and is
// turned into UTF-16 units here. This build carries its own tables; a Windows build would
// put MultiByteToWideChar behind the same function instead.
#pragma once
#include <cstddef>
#include <cstdint>

// Converts n bytes of text in codePage to UTF-16 units in out (room for cap units).
// Code page 866 is mapped by table; any other page is read as Latin-1. Every input byte
// gives exactly one unit, so n units are always enough. Returns the units written.
size_t codePageToUtf16(const uint8_t* in, size_t n, uint16_t* out, size_t cap, int codePage);
