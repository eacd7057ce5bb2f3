// Serial port discovery over a fake sysfs tty folder: which entries count as ports, the
// number-aware order, and the limits of the list.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

#include "link/serial_discovery.h"
#include "support/test_support.h"

namespace {

class FakeSysfs {
 public:
  FakeSysfs() : root_(testsupport::makeTempDir()) { mkdir((root_ + "/devices").c_str(), 0755); }
  const std::string& root() const { return root_; }

  // A tty backed by a device: device/driver is a symlink as in sysfs.
  void addPort(const std::string& name, int uartType = -1) {
    const std::string dir = root_ + "/" + name;
    mkdir(dir.c_str(), 0755);
    mkdir((dir + "/device").c_str(), 0755);
    EXPECT_EQ(symlink((root_ + "/devices").c_str(), (dir + "/device/driver").c_str()), 0);
    if (uartType >= 0) std::ofstream(dir + "/type") << uartType << "\n";
  }
  // A virtual terminal: no device behind it.
  void addVirtual(const std::string& name) { mkdir((root_ + "/" + name).c_str(), 0755); }

 private:
  std::string root_;
};

std::vector<std::string> names(const SerialPortList& l) {
  std::vector<std::string> out;
  for (int i = 0; i < l.count; ++i) out.emplace_back(l.names[i]);
  return out;
}

TEST(SerialDiscovery, ListsDeviceBackedTtysInNumberAwareOrder) {
  FakeSysfs fs;
  for (const char* n : {"ttyUSB10", "ttyUSB2", "ttyACM0", "ttyUSB1", "rfcomm0", "ttyS4"})
    fs.addPort(n);
  fs.addPort("ttyS0", 4);  // a fitted 16550A
  fs.addPort("ttyS1", 0);  // the 8250 driver's placeholder without a UART
  for (const char* n : {"tty0", "tty12", "console", "ptmx"}) fs.addVirtual(n);
  SerialPortList list;
  list.count = -1;
  discoverSerialPorts(&list, fs.root().c_str());
  EXPECT_EQ(names(list), (std::vector<std::string>{"rfcomm0", "ttyACM0", "ttyS0", "ttyS4",
                                                   "ttyUSB1", "ttyUSB2", "ttyUSB10"}));
}

TEST(SerialDiscovery, OrderComparesNumbersOnlyBehindTheSameLetters) {
  EXPECT_LT(compareSerialPortNames("ttyUSB2", "ttyUSB10"), 0);
  EXPECT_GT(compareSerialPortNames("ttyUSB10", "ttyUSB9"), 0);
  EXPECT_LT(compareSerialPortNames("COM2", "COM10"), 0);
  // Different letters: byte order, so ttyS10 sorts before ttyUSB1 and ttyACM9 before ttyS1.
  EXPECT_LT(compareSerialPortNames("ttyS10", "ttyUSB1"), 0);
  EXPECT_LT(compareSerialPortNames("ttyACM9", "ttyS1"), 0);
  // A name without a trailing number compares by bytes with a numbered one.
  EXPECT_LT(compareSerialPortNames("ttyUSB", "ttyUSB0"), 0);
  EXPECT_GT(compareSerialPortNames("ttyUSBx", "ttyUSB5"), 0);
  // Leading zeros and numbers too long for any integer type still order by value.
  EXPECT_LT(compareSerialPortNames("ttyS007", "ttyS10"), 0);
  EXPECT_LT(compareSerialPortNames("ttyS99999999999999999999", "ttyS100000000000000000000"), 0);
  EXPECT_NE(compareSerialPortNames("ttyS01", "ttyS1"), 0);  // equal value, still a strict order
  EXPECT_EQ(compareSerialPortNames("ttyS1", "ttyS1"), 0);
}

TEST(SerialDiscovery, KeepsTheFirstSixteenInOrderAndSkipsNamesTooLongForTheList) {
  FakeSysfs fs;
  for (int i = 19; i >= 0; --i) fs.addPort("ttyUSB" + std::to_string(i));
  fs.addPort("ttyVeryLongAdapterName0");  // 23 characters: cannot be held, so not offered
  SerialPortList list;
  discoverSerialPorts(&list, fs.root().c_str());
  ASSERT_EQ(list.count, kSerialPortListSize);
  for (int i = 0; i < kSerialPortListSize; ++i)
    EXPECT_EQ(std::string(list.names[i]), "ttyUSB" + std::to_string(i));
}

TEST(SerialDiscovery, MissingFolderGivesAnEmptyList) {
  SerialPortList list;
  list.count = 5;
  discoverSerialPorts(&list, "/nonexistent/sys/class/tty");
  EXPECT_EQ(list.count, 0);
  FakeSysfs empty;
  discoverSerialPorts(&list, empty.root().c_str());
  EXPECT_EQ(list.count, 0);
}

}  // namespace
