// Lists the serial ports this machine has, by the names portOpen takes ("ttyUSB0" on Linux,
// "COM3" on Windows), in the order the port choice shows them.
#pragma once
#include <string>
#include <vector>

constexpr int kSerialPortListSize = 16;
constexpr int kSerialPortNameSize = 20;  // at most 19 characters and the NUL

struct SerialPortList {
  char names[kSerialPortListSize][kSerialPortNameSize];
  int count;
};

// Where the system keeps its list of serial ports: the tty class folder of sysfs on Linux,
// the registry key "HKEY_LOCAL_MACHINE\HARDWARE\DEVICEMAP\SERIALCOMM" on Windows.
extern const char kSerialPortSource[];

// Fills the list from source (tests pass a fake folder or another registry key of the same
// shape). Names too long for an entry are left out, since a cut name would open some other
// device. Always succeeds: an unreadable source gives an empty list.
void discoverSerialPorts(SerialPortList* list, const char* source = kSerialPortSource);

// The port-list order: names with the same letters before a trailing number compare by
// that number (ttyUSB2 before ttyUSB10, COM2 before COM10); any other pair byte by byte.
// Negative, 0 or positive.
int compareSerialPortNames(const char* a, const char* b);

// Sorts names into the port-list order and puts the first 16 into the list.
void fillSerialPortList(SerialPortList* list, std::vector<std::string> names);
