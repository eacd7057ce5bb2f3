// The termios side of the serial transport, open to the tests of its line settings.
// (struct termios2 comes from <asm/termbits.h>; glibc's <termios.h> must stay out beside it.)
#pragma once
#include <cstdint>

struct termios2;
// Puts baud (0 = 4800), data bits, parity letter and stop-bit code into tio: a rate with a
// code of its own by that code, any other as BOTHER with the number. Stop code other than
// 1 or 2 and an unknown parity letter leave those settings unchanged. false with errno
// EINVAL for a size termios cannot express or a rate beyond any line (nothing is
// half-changed then).
bool serialBuildLine(termios2& tio, uint32_t baud, uint8_t dataBits, char parity, uint8_t stopBits);
// The rates tio stands for, as the kernel reads them (0 for B0 or an unknown code).
uint32_t serialOutputRate(const termios2& tio);
uint32_t serialInputRate(const termios2& tio);
