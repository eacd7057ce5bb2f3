// The controller device handle: the polled transaction engine that sends one request frame
// and collects its reply against the tick, and every request the tool makes of a board
// (identification, text identifier, block reads and writes, address, baud rate, clock).
#include "protocol/utrk_device.h"

#include <cstring>

#include "link/port.h"
#include "link/tick.h"

namespace {

constexpr int kHeaderLength = 4;
constexpr int kParamFrameLength = 12;  // header + 7 parameter bytes + their checksum
constexpr int kMaxFixedExpect = 253;   // 255 would mean a text reply
constexpr int kTextMaxChars = 128;
constexpr uint8_t kCmdTextId = 0x00;
constexpr uint8_t kTextIdSelector = 0x31;
constexpr uint8_t kCmdSetAddress = 0x20;
constexpr uint8_t kCmdIdentify = 0x21;
constexpr uint8_t kCmdSetBaud = 0x30;
constexpr uint8_t kCmdBlockWrite = 0x40;
constexpr uint8_t kCmdBlockRead = 0x48;
constexpr uint8_t kCmdReadClock = 0x60;
constexpr uint8_t kCmdWriteClock = 0x61;
constexpr uint8_t kCmdClockCorrection = 0x62;
constexpr uint8_t kMaxBank = 0x07;  // the bank lives in the low bits of the command
constexpr uint32_t kMaxBlockAddress = 0xFFFFFF;
constexpr uint8_t kFirstInvalidAddress = 240;
// Wait between polls of a request that awaits no reply (a delay of its own).
constexpr uint32_t kPollStepMs = 1;

// requestState values besides 0 (idle).
constexpr uint8_t kRequestExchanging = 1;
constexpr uint8_t kRequestClockDelay = 2;  // writeClock waits before it sends

// engineState values.
constexpr uint8_t kEngineIdle = 0;
constexpr uint8_t kEngineFixed = 1;
constexpr uint8_t kEngineText = 2;

int decodeStatus(uint8_t status) {
  switch (status) {
    case 0x00:
      return kResultDone;
    case 0xFF:
      return kResultRefused;
    case 0xFE:
      return kResultRejected;
    default:
      return kResultStatus;
  }
}

int checkLengthOf(uint8_t checkMode) {
  switch (checkMode & 0x03) {
    case kCheckSum:
      return 1;
    case kCheckCrc:
      return 4;
    default:
      return 0;
  }
}

bool isLongBlockWrite(const uint8_t* request, int length) {
  return length > kParamFrameLength && (request[2] & 0x48) == 0x40;
}

}  // namespace

void pollWait(const UTRKDevice& dev) {
  // Under the fake clock a wait that sees nothing moves fake time by its whole length; step
  // by 1 ms there, so a real peer still has the exchange's budget to answer.
  const int32_t left = static_cast<int32_t>(dev.deadline - nowMs());
  if (dev.engineState == kEngineIdle || tickFakeClockActive() || left <= 0) {
    portWaitInput(dev.port, kPollStepMs);
  } else if (dev.engineState == kEngineFixed) {
    // Sleeps until the whole reply is in or the exchange's time is up, however slowly it comes.
    portWaitReply(dev.port, static_cast<size_t>(dev.replyLength), static_cast<uint32_t>(left));
  } else {
    // A text reply ends at a byte of its own: each new byte may be the last.
    portWaitInput(dev.port, static_cast<uint32_t>(left));
  }
}

UTRKDevice::UTRKDevice(uint16_t portNumber) : port(portNumber) {}

// Header [0x60, address, command, checksum] at the start of the frame buffer.
static void putHeader(uint8_t* frame, uint8_t address, uint8_t command) {
  frame[0] = kFrameStart;
  frame[1] = address;
  frame[2] = command;
  frame[3] = frameChecksum(frame, 3);
}

// The checked parameter group: bytes 4..10 and their checksum in byte 11.
static void putParams(uint8_t* frame, const uint8_t p[7]) {
  std::memcpy(frame + kHeaderLength, p, 7);
  frame[11] = frameChecksum(frame + kHeaderLength, 7);
}

int UTRKDevice::transact(uint8_t* request, int length, int expect) {
  switch (engineState) {
    case kEngineIdle: {
      // A request that could not be sent whole, or a reply that could not fit, is a caller
      // bug; refuse it before anything reaches the bus.
      if (!request || length < kHeaderLength || length > kFrameBufferSize || expect < 1 ||
          (expect > kMaxFixedExpect && expect != kExpectText))
        return kResultRefused;
      // Also discards a late reply of an earlier exchange that is still sitting in the
      // socket or the driver, so it cannot be taken for this reply.
      portDiscardInput(port);
      if (isLongBlockWrite(request, length)) {
        // The board needs time to check the parameter group before the data arrive.
        portWrite(port, request, kParamFrameLength);
        tickSleepMs(kLongWritePauseMs);
        portWrite(port, request + kParamFrameLength,
                  static_cast<size_t>(length - kParamFrameLength));
      } else {
        portWrite(port, request, static_cast<size_t>(length));
      }
      deadline =
          nowMs() + kReplyBaseTimeoutMs + kReplyPerByteMs * static_cast<uint32_t>(length + expect);
      engineState = expect == kExpectText ? kEngineText : kEngineFixed;
      received = 0;
      replyLength = expect == kExpectText ? 0 : expect;
      return kResultInProgress;
    }
    case kEngineFixed: {
      // expect was checked when the exchange started; clamp anyway so a caller that broke
      // the polling contract cannot make the read overrun the frame buffer.
      if (expect < 1 || expect > kMaxFixedExpect) expect = kMaxFixedExpect;
      // portRead pumps only while the ring lacks bytes and takes nothing from a partial reply.
      if (portRead(port, frame, static_cast<size_t>(expect))) {
        engineState = kEngineIdle;
        return kResultDone;
      }
      if (deadlineReached(deadline)) {
        engineState = kEngineIdle;
        return kResultTimeout;
      }
      return kResultInProgress;
    }
    case kEngineText: {
      uint8_t b = 0;
      while (portRead(port, &b, 1)) {
        if (b == 0x00 || b == 0x7F || received >= kTextMaxChars) {
          frame[received] = 0;
          engineState = kEngineIdle;
          return kResultDone;
        }
        frame[received++] = b;
      }
      if (deadlineReached(deadline)) {
        frame[received] = 0;
        engineState = kEngineIdle;
        return received > 0 ? kResultDone : kResultTimeout;
      }
      return kResultInProgress;
    }
    default:
      engineState = kEngineIdle;
      return kResultRefused;
  }
}

int UTRKDevice::identify(uint8_t out[3], uint8_t addr) {
  const uint8_t target = addr ? addr : defaultAddress;
  if (requestState == 0) {
    putHeader(frame, target, kCmdIdentify);
    requestState = kRequestExchanging;
  }
  const int r = exchange(kHeaderLength, 4);
  if (r != kResultDone) return r;
  if (frameChecksum(frame, 3) != frame[3]) return kResultChecksum;
  // Only a question to every board may be answered from another address; anything else is
  // a reply meant for someone else (or a collision) and must not move the handle.
  if (target != kBroadcastAddress && frame[0] != target) return kResultChecksum;
  address = frame[0];
  identExtra = frame[2];
  if (out) {
    out[0] = frame[0];
    out[1] = frame[1];
    out[2] = frame[2];
  }
  return kResultDone;
}

int UTRKDevice::readTextId(char* text) {
  if (requestState == 0) {
    putHeader(frame, address, kCmdTextId);
    frame[4] = kTextIdSelector;
    requestState = kRequestExchanging;
  }
  const int r = exchange(kHeaderLength + 1, kExpectText);
  if (r == kResultDone && text) {
    size_t n = strnlen(reinterpret_cast<const char*>(frame), kTextMaxChars);
    std::memcpy(text, frame, n);
    text[n] = '\0';
  }
  return r;
}

int UTRKDevice::readBlock(uint32_t blockAddress, uint8_t bank, uint8_t count, uint8_t* destination,
                          uint8_t checkMode, uint8_t param) {
  if (requestState == 0) {
    const int check = checkLengthOf(checkMode);
    if (bank > kMaxBank || blockAddress > kMaxBlockAddress || count + check + 1 > kMaxFixedExpect)
      return kResultRefused;
    checkLength = check;
    putHeader(frame, address, static_cast<uint8_t>(kCmdBlockRead | bank));
    const uint8_t p[7] = {checkMode,
                          param,
                          static_cast<uint8_t>(blockAddress >> 8),
                          static_cast<uint8_t>(blockAddress >> 16),
                          static_cast<uint8_t>(blockAddress),
                          0x00,
                          count};
    putParams(frame, p);
    requestState = kRequestExchanging;
  }
  const int r = exchange(kParamFrameLength, count + checkLength + 1);
  if (r != kResultDone) return r;
  // The byte after the check carries nothing the tool relies on. The data reach the caller
  // only once the check matched: a record that failed its check must not overwrite the
  // caller's good copy (a settings form would otherwise show and later write corrupt bytes).
  if (checkLength == 1) {
    if (frameChecksum(frame, count) != frame[count]) return kResultChecksum;
  } else if (checkLength == 4) {
    uint32_t got = static_cast<uint32_t>(frame[count]) |
                   (static_cast<uint32_t>(frame[count + 1]) << 8) |
                   (static_cast<uint32_t>(frame[count + 2]) << 16) |
                   (static_cast<uint32_t>(frame[count + 3]) << 24);
    if (crc32Stm(frame, count) != got) return kResultChecksum;
  }
  if (destination && count) std::memcpy(destination, frame, count);
  return kResultDone;
}

int UTRKDevice::writeBlock(uint32_t blockAddress, uint8_t bank, const uint8_t* data,
                           uint8_t count) {
  const int length = count >= 2 ? kParamFrameLength + count : kParamFrameLength;
  const int expect = count == 1 ? 2 : 1;
  if (requestState == 0) {
    if (bank > kMaxBank || blockAddress > kMaxBlockAddress || (count > 0 && !data))
      return kResultRefused;
    putHeader(frame, address, static_cast<uint8_t>(kCmdBlockWrite | bank));
    const uint8_t p[7] = {0x00,
                          0x00,
                          static_cast<uint8_t>(blockAddress >> 8),
                          static_cast<uint8_t>(blockAddress >> 16),
                          static_cast<uint8_t>(blockAddress),
                          count > 0 ? data[0] : uint8_t{0},
                          count};
    putParams(frame, p);
    if (count >= 2) {
      std::memcpy(frame + kParamFrameLength, data + 1, count - 1u);
      frame[kParamFrameLength + count - 1] = frameChecksum(frame + kParamFrameLength, count - 1u);
    }
    requestState = kRequestExchanging;
  }
  const int r = exchange(length, expect);
  if (r != kResultDone) return r;
  // Short writes are acknowledged by the arrival of their reply; longer ones carry a status.
  // That status is decoded like every other one: a board answering 0xFE (rejected value) or
  // any other non-zero byte did not store the block, and calling that success would let a
  // failed settings write pass as saved.
  if (count < 2) return kResultDone;
  return decodeStatus(frame[0]);
}

int UTRKDevice::setAddress(uint8_t newAddress) {
  if (requestState == 0) {
    if (newAddress >= kFirstInvalidAddress) return kResultRefused;
    putHeader(frame, address, kCmdSetAddress);
    frame[4] = newAddress;
    frame[5] = frameChecksum(frame + 4, 1);
    requestState = kRequestExchanging;
  }
  int r = exchange(6, 1);
  if (r != kResultDone) return r;
  r = decodeStatus(frame[0]);
  if (r == kResultDone) address = newAddress;
  return r;
}

int UTRKDevice::setBaudRate(uint32_t baud) {
  if (requestState == 0) {
    uint8_t code;
    switch (baud) {
      case 38400:
        code = 0;
        break;
      case 19200:
        code = 1;
        break;
      case 9600:
        code = 2;
        break;
      case 4800:
        code = 3;
        break;
      case 1200:
        code = 4;
        break;
      default:
        return kResultRejected;
    }
    putHeader(frame, address, kCmdSetBaud);
    frame[4] = code;
    frame[5] = frameChecksum(frame + 4, 1);
    requestState = kRequestExchanging;
  }
  const int r = exchange(6, 1);
  if (r != kResultDone) return r;
  return decodeStatus(frame[0]);
}

int UTRKDevice::readClock(ClockValue* out) {
  if (requestState == 0) {
    putHeader(frame, address, kCmdReadClock);
    requestState = kRequestExchanging;
  }
  const int r = exchange(kHeaderLength, 8);
  if (r != kResultDone) return r;
  if (frameChecksum(frame, 7) != frame[7]) return kResultChecksum;
  if (out) {
    out->hour = static_cast<uint8_t>(fromBcd(frame[0]));
    out->minute = static_cast<uint8_t>(fromBcd(frame[1]));
    out->second = static_cast<uint8_t>(fromBcd(frame[2]));
    out->weekday = frame[3];
    out->day = static_cast<uint8_t>(fromBcd(frame[4]));
    out->month = static_cast<uint8_t>(fromBcd(frame[5]));
    // The year byte is BCD like the date around it (0x25 is 2025, not 2037).
    out->year = 2000 + static_cast<int>(fromBcd(frame[6]));
  }
  return kResultDone;
}

int UTRKDevice::writeClock(const ClockValue& in) {
  if (requestState == 0) {
    // A field with no two-digit BCD form would reach the board as a different date.
    if (in.hour > 99 || in.minute > 99 || in.second > 99 || in.day > 99 || in.month > 99 ||
        in.year < 2000 || in.year > 2099)
      return kResultRefused;
    timerSlot = static_cast<int16_t>(timerStart(kWriteClockDelayMs));
    requestState = kRequestClockDelay;
    return kResultInProgress;
  }
  if (requestState == kRequestClockDelay) {
    if (!timerExpired(timerSlot)) return kResultInProgress;
    timerSlot = -1;
    putHeader(frame, address, kCmdWriteClock);
    const uint8_t p[7] = {toBcd(in.hour),
                          toBcd(in.minute),
                          toBcd(in.second),
                          in.weekday,
                          toBcd(in.day),
                          toBcd(in.month),
                          toBcd(static_cast<unsigned>(in.year - 2000))};
    putParams(frame, p);
    requestState = kRequestExchanging;
  }
  const int r = exchange(kParamFrameLength, 1);
  if (r != kResultDone) return r;
  return decodeStatus(frame[0]);
}

int UTRKDevice::writeClockCorrection(int value) {
  if (requestState == 0) {
    if (value < -99 || value > 99) return kResultRefused;
    putHeader(frame, address, kCmdClockCorrection);
    const uint8_t p[7] = {static_cast<uint8_t>(value < 0 ? 0xFF : 0x00),
                          toBcd(static_cast<unsigned>(value < 0 ? -value : value)),
                          0,
                          0,
                          0,
                          0,
                          0};
    putParams(frame, p);
    requestState = kRequestExchanging;
  }
  const int r = exchange(kParamFrameLength, 1);
  if (r != kResultDone) return r;
  return decodeStatus(frame[0]);
}

int UTRKDevice::exchange(int length, int expect) {
  const int r = transact(frame, length, expect);
  if (r != kResultInProgress) requestState = 0;
  return r;
}

bool UTRKDevice::isBusy() const { return requestState != 0; }
