// Where the board keeps what the tool reads and writes: the two banks of block requests and,
// in each, the address (and length where it is fixed) of every record and register the tool
// uses, named by what it holds. Every layer takes its addresses from here.
#pragma once
#include <cstddef>
#include <cstdint>

// Memory banks of block requests.
constexpr uint8_t kBankData = 0;     // records: settings, channels, meters, sides
constexpr uint8_t kBankService = 2;  // single-purpose registers

// ---- data space (bank 0) ----
// Records of a row sit at the row number shifted into bits 8 to 15.
constexpr uint32_t kRecordRowStride = 0x100;
constexpr uint32_t kMeterPhaseTableAddress = 0x0000;  // W, one byte per channel
constexpr uint32_t kMeterTypeTableAddress = 0x0010;   // W, one u16 per channel
constexpr uint32_t kMeterRecordBase = 0x1000;         // R/W with CRC, + row stride x channel
constexpr size_t kMeterRecordSize = 15;
constexpr uint32_t kChannelRecordBase = 0x2000;  // R/W with CRC, + row stride x channel
constexpr size_t kChannelRecordSize = 72;
constexpr uint32_t kMainSettingsAddress = 0x3101;  // R/W with CRC
constexpr size_t kMainSettingsSize = 68;
constexpr uint32_t kSideDataBase = 0x4000;  // R with CRC, + row stride x side
constexpr size_t kSideDataSize = 14;
constexpr uint32_t kExtraSettingsAddress = 0x5000;  // R/W with CRC
constexpr size_t kExtraSettingsSize = 60;
constexpr uint32_t kRestartAddress = 0x88FFFF;  // W 1: kMagicByte restarts the controller

// ---- service space (bank 2) ----
constexpr uint32_t kRegPasswordEntry = 0x02;   // W 2: the admin password, low byte first
constexpr uint32_t kRegPasswordStatus = 0x02;  // R 2: which passwords are set and locked
constexpr size_t kPasswordStatusSize = 2;
constexpr uint32_t kRegDiagnosticValue = 0x03;         // R 1
constexpr uint32_t kRegServiceCounters = 0x04;         // R 4 with CRC
constexpr uint32_t kRegNewAdminPassword = 0x04;        // W 2 (0..9999)
constexpr uint32_t kRegNewCalibrationPassword = 0x05;  // W 2 (0..9999)
constexpr uint32_t kRegSerialNumber = 0x07;            // W 14
constexpr uint32_t kRegControllerClear = 0x08;         // W 1: kMagicByte clears all totals
constexpr uint32_t kRegWrongClearCount = 0x09;         // W 1: the side whose count clears
constexpr uint32_t kRegDiagnosticBlock = 0x22;         // R 6: registers 0x22..0x27
constexpr size_t kDiagnosticBlockSize = 6;
constexpr uint32_t kRegImitator = 0x24;     // R/W 1: the mode byte, kImitatorBit is imitation
constexpr uint32_t kRegDisplayMode = 0x25;  // W 1
constexpr uint32_t kRegMassValues = 0x29;   // R 24 with CRC: twelve u16 live mass-meter values
constexpr uint8_t kMassValuesBytes = 24;
// R 48 each: twelve u32 counters, the columns A, B and AB of the diagnostics listing.
constexpr uint32_t kRegCountersColumnA = 0x2B;
constexpr uint32_t kRegCountersColumnB = 0x2C;
constexpr uint32_t kRegCountersColumnAB = 0x2D;
constexpr uint32_t kRegIoBits = 0x2E;  // R 2: input and output bits, six per byte
constexpr uint8_t kIoBitsBytes = 2;
constexpr uint32_t kRegRawPressure = 0x30;  // R 4 with CRC: two u16 raw values
// R 1: one diagnostic byte; R 144: twelve 12-character diagnostic texts of the meters.
constexpr uint32_t kRegSipDiagnostics = 0x34;
constexpr uint8_t kSipDiagnosticsBytes = 144;
// R 5: five diagnostic bytes; R 12 / W 12: the meter address exchange.
constexpr uint32_t kRegSipAddress = 0x35;
constexpr uint8_t kSipAddressBytes = 12;

constexpr uint8_t kMagicByte = 0x55;  // restart / clear confirmation byte
constexpr uint8_t kImitatorBit = 0x40;
