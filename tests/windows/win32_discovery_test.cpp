// Serial port discovery from a registry key shaped like HARDWARE\DEVICEMAP\SERIALCOMM (a key
// of the test's own under HKEY_CURRENT_USER): the COM number order, names of other drivers,
// the first 16 value indices only, values that are not text, and a missing key.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "link/serial_discovery.h"

namespace {

class RegistryPorts : public ::testing::Test {
 protected:
  void SetUp() override {
    subKey_ = L"Software\\korvane-tests\\SERIALCOMM-" + std::to_wstring(GetCurrentProcessId());
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, subKey_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &key_, nullptr),
              ERROR_SUCCESS);
    source_ = "HKEY_CURRENT_USER\\Software\\korvane-tests\\SERIALCOMM-" +
              std::to_string(GetCurrentProcessId());
  }
  void TearDown() override {
    RegCloseKey(key_);
    RegDeleteKeyW(HKEY_CURRENT_USER, subKey_.c_str());
  }
  // Value names keep the order they are written in (the registry lists them by name).
  void add(const std::wstring& port) {
    const std::wstring name = L"\\Device\\Port" + std::to_wstring(100 + next_++);
    RegSetValueExW(key_, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(port.c_str()),
                   static_cast<DWORD>((port.size() + 1) * sizeof(wchar_t)));
  }
  std::vector<std::string> discover(const char* source = nullptr) {
    SerialPortList list;
    list.count = -1;
    discoverSerialPorts(&list, source ? source : source_.c_str());
    std::vector<std::string> out;
    for (int i = 0; i < list.count; ++i) out.emplace_back(list.names[i]);
    return out;
  }

  HKEY key_ = nullptr;
  std::wstring subKey_;
  std::string source_;
  int next_ = 0;
};

TEST_F(RegistryPorts, ComNumbersSortByValueAndOtherNamesByteByByte) {
  for (const wchar_t* p : {L"COM10", L"COM2", L"COM1", L"CNCA0", L"COM3"}) add(p);
  EXPECT_EQ(discover(), (std::vector<std::string>{"CNCA0", "COM1", "COM2", "COM3", "COM10"}));
}

TEST_F(RegistryPorts, OnlyTheFirstSixteenValueIndicesAreListed) {
  for (int n = 20; n >= 1; --n) add(L"COM" + std::to_wstring(n));  // COM20 first, COM1 last
  std::vector<std::string> expected;
  for (int n = 5; n <= 20; ++n) expected.push_back("COM" + std::to_string(n));
  EXPECT_EQ(discover(), expected);  // indices 0..15 hold COM20..COM5
}

TEST_F(RegistryPorts, ValuesThatAreNotPortNamesAreSkipped) {
  add(L"COM4");
  const DWORD number = 7;
  RegSetValueExW(key_, L"\\Device\\Port150", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number),
                 sizeof number);
  add(L"A_VIRTUAL_PORT_NAME_TOO_LONG");  // 28 characters: cut, it would name another port
  add(L"COM7");
  EXPECT_EQ(discover(), (std::vector<std::string>{"COM4", "COM7"}));
}

TEST_F(RegistryPorts, AMissingKeyOrAnUnknownRootGivesAnEmptyList) {
  EXPECT_TRUE(discover("HKEY_CURRENT_USER\\Software\\korvane-tests\\no-such-key").empty());
  EXPECT_TRUE(discover("HKEY_NOWHERE\\HARDWARE\\DEVICEMAP\\SERIALCOMM").empty());
  EXPECT_STREQ(kSerialPortSource, "HKEY_LOCAL_MACHINE\\HARDWARE\\DEVICEMAP\\SERIALCOMM");
}

}  // namespace
