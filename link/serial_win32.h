// The Win32 side of the serial transport, open to the tests of its line settings.
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>

// Puts baud (0 = 4800), data bits, parity letter and stop-bit code into dcb, with binary
// mode and no flow control of any kind. Stop code other than 1 or 2 and an unknown parity
// letter leave those settings unchanged. false for a data-bit count the line cannot carry
// (dcb is left as it was then). The rate is taken as given: the driver decides what it can do.
bool serialBuildDcb(DCB& dcb, uint32_t baud, uint8_t dataBits, char parity, uint8_t stopBits);

// The path CreateFileW opens for a port name: "COM3" -> "\\.\COM3" (a name already in that
// form is kept). Empty for a name that is not valid UTF-8.
std::wstring serialDevicePath(const char* name);
