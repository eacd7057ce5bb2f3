// UTRKDevice: the handle through which the tool talks to one controller board on the
// service bus. Every request is polled: call it again and again until it returns non-zero.
#pragma once
#include <cstddef>
#include <cstdint>

#include "protocol/memory_map.h"

// Result codes of every request.
constexpr int kResultDone = 1;
constexpr int kResultInProgress = 0;
constexpr int kResultStatus = -1;     // the board answered another status byte
constexpr int kResultRefused = -3;    // status 0xFF, or a bad argument caught before sending
constexpr int kResultChecksum = -4;   // checksum or CRC of the reply does not match
constexpr int kResultTimeout = -6;    // no (complete) reply in time
constexpr int kResultRejected = -11;  // status 0xFE, or an unsupported baud rate

constexpr uint8_t kFrameStart = 0x60;
constexpr uint8_t kBroadcastAddress = 240;
constexpr int kFrameBufferSize = 300;
constexpr int kExpectText = 255;
constexpr uint32_t kReplyBaseTimeoutMs = 300;  // plus kReplyPerByteMs per byte sent and expected
constexpr uint32_t kReplyPerByteMs = 3;
constexpr uint32_t kLongWritePauseMs = 50;  // between the first 12 bytes and the rest
constexpr uint32_t kWriteClockDelayMs = 500;

// Check modes of readBlock.
constexpr uint8_t kCheckNone = 0;
constexpr uint8_t kCheckSum = 1;
constexpr uint8_t kCheckCrc = 2;

// The frame checksum: s = 0xFF; for each byte s = rotl8(s ^ b).
uint8_t frameChecksum(const uint8_t* data, size_t n);
// CRC-32 of the board's CRC unit (STM32 style), over little-endian words, zero-padded.
uint32_t crc32Stm(const uint8_t* data, size_t n);
// Packs/unpacks BCD (two decimal digits a byte).
uint8_t toBcd(unsigned value);
unsigned fromBcd(uint8_t bcd);

struct ClockValue {
  uint8_t hour, minute, second;  // time of day (BCD on the wire)
  uint8_t weekday;               // binary on the wire
  uint8_t day, month;            // BCD on the wire
  int year;                      // 2000 + last byte (BCD on the wire)
};

class UTRKDevice {
 public:
  explicit UTRKDevice(uint16_t port);
  virtual ~UTRKDevice() = default;

  virtual int setAddress(uint8_t newAddress);
  virtual int setBaudRate(uint32_t baud);
  // out receives bus address, kind character and extra byte. address 0 asks the default (240).
  virtual int identify(uint8_t out[3], uint8_t address);
  virtual int readClock(ClockValue* out);
  virtual int writeClock(const ClockValue& in);
  virtual int writeClockCorrection(int value);
  virtual bool isBusy() const;

  // text must hold 129 bytes; it receives up to 128 characters and a NUL.
  int readTextId(char* text);
  int readBlock(uint32_t address, uint8_t bank, uint8_t count, uint8_t* destination,
                uint8_t checkMode, uint8_t param);
  int writeBlock(uint32_t address, uint8_t bank, const uint8_t* data, uint8_t count);
  int transact(uint8_t* request, int length, int expect);
  // transact on the frame buffer for the request in flight: once the exchange has ended
  // (any result but kResultInProgress) the request is over and the handle is free again.
  int exchange(int length, int expect);

  uint32_t identExtra = 0;
  int32_t checkLength = 0;
  uint8_t frame[kFrameBufferSize] = {};
  int32_t received = 0;
  uint32_t deadline = 0;
  uint8_t defaultAddress = kBroadcastAddress;
  uint8_t address = 0;
  uint16_t port = 0;
  uint8_t requestState = 0;
  uint8_t engineState = 0;
  int16_t timerSlot = -1;
  // Bytes of the fixed-length reply the exchange in flight awaits (the waits between polls
  // sleep until that many are in).
  int32_t replyLength = 0;
};

// Drives one request to completion: calls request() until it returns non-zero, waiting for
// input on the device's port between calls. Returns the result code.
template <class Request>
int pollRequest(UTRKDevice& dev, Request&& request);

// Implementation detail of pollRequest: while a reply is awaited, sleeps until more of it
// arrives or the exchange's deadline passes; otherwise waits about 1 ms for input.
void pollWait(const UTRKDevice& dev);

template <class Request>
int pollRequest(UTRKDevice& dev, Request&& request) {
  for (;;) {
    int r = request();
    if (r != 0) return r;
    pollWait(dev);
  }
}
