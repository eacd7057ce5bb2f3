// Lists the serial ports this machine has, by the names portOpen takes ("ttyUSB0"),
// in the order the port choice shows them.
#pragma once

constexpr int kSerialPortListSize = 16;
constexpr int kSerialPortNameSize = 20;  // at most 19 characters and the NUL

struct SerialPortList {
  char names[kSerialPortListSize][kSerialPortNameSize];
  int count;
};

// Fills the list from the tty class folder of sysfs (tests pass a fake tree). Only ttys
// backed by a device with a driver are listed; names too long for an entry are skipped.
// Always succeeds: an unreadable folder gives an empty list.
void discoverSerialPorts(SerialPortList* list, const char* sysRoot = "/sys/class/tty");

// The port-list order: names with the same letters before a trailing number compare by
// that number (ttyUSB2 before ttyUSB10); any other pair byte by byte. Negative, 0 or positive.
int compareSerialPortNames(const char* a, const char* b);
