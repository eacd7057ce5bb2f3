// Fuelling commands of the "Load" tab: load a volume or an amount, full tank, set the price,
// finish, suspend and continue, each a header plus an 8-byte BCD body answered by one byte.
#pragma once
#include <array>
#include <cstdint>

#include "protocol/side_monitor.h"
#include "util/operator.h"

// Codes (body byte 1) of the fuelling commands; kFuelSetPrice selects the price command.
constexpr int kFuelLoadVolume = 0x01;
constexpr int kFuelContinue = 0x0A;
constexpr int kFuelSuspend = 0x0E;
constexpr int kFuelFinish = 0x0F;
constexpr int kFuelLoadAmount = 0x11;
constexpr int kFuelPrepare = 0x13;
constexpr int kFuelSetPrice = 0x50;
constexpr int64_t kFulltankValue = 99999;    // a volume preset of 999.99
constexpr int64_t kMaxFuelValue = 99999999;  // eight BCD digits
constexpr int64_t kMaxPriceValue = 999999;   // 9999.99: three BCD pairs

constexpr uint8_t kFuelCommandBase = 0x10;
constexpr uint8_t kPriceCommandBase = 0x50;
constexpr uint32_t kPrepareReplyTimeoutMs = 200;
constexpr uint32_t kFuelReplyTimeoutMs = 500;
constexpr uint32_t kFuelReplyStepMs = 10;
constexpr int kFuelBodyBytes = 8;

using FuelBody = std::array<uint8_t, kFuelBodyBytes>;

// The command byte and the body of a fuelling command; false for a value the body cannot
// carry (negative, or more digits than the BCD fields hold).
uint8_t fuellingCommandByte(int code, uint8_t nozzle);
bool buildFuellingBody(int code, int64_t value, uint8_t nozzle, FuelBody* body);
FuelBody preparatoryBody(uint8_t nozzle);

// Sends one command to the monitored side and nozzle. Returns 1 for the answer 0x00, -1 for
// any other answer, -6 when none came, -3 for a value out of range (nothing sent). Unless
// quiet, shows "Ok", "Operation failed" or "Timeout!" through op.
int sendFuellingCommand(SideMonitor& mon, int code, int64_t value, bool quiet, Operator* op);

// "Test prices": prices 1.00 x i to side A's nozzles and 11.00 x i to side B's, quietly; then
// the monitor follows the side and nozzle the tab shows again. Returns the number of commands
// answered with 0x00.
int sendTestPrices(SideMonitor& mon, int nozzleCount, bool tabSideB, uint8_t tabNozzle);
