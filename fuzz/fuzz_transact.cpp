// Fuzz harness: the transaction engine and every request of UTRKDevice fed arbitrary reply
// bytes in arbitrary pieces over a real TCP client port. Whatever arrives, a request must end
// with a defined result code, never write past the caller's buffer, and leave the handle idle.
#include <cstring>
#include <vector>

#include "fuzz/fuzz_support.h"

using namespace fuzzsupport;

namespace {

enum Which : uint8_t {
  kIdentify,
  kTextId,
  kReadBlock,
  kWriteBlock,
  kSetAddress,
  kSetBaud,
  kReadClock,
  kWriteClock,
  kClockCorrection,
  kRawFixed,
  kRawText,
  kWhichCount
};

constexpr uint32_t kBaudRates[] = {38400, 19200, 9600, 4800, 1200, 57600, 0};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  LoopbackPeer& peer = LoopbackPeer::get();
  peer.reset();
  Reader in(data, size);
  UTRKDevice dev(peer.port());
  dev.address = in.byte();
  const uint8_t which = in.byte() % kWhichCount;
  int r = 0;
  switch (which) {
    case kIdentify: {
      uint8_t out[3] = {0, 0, 0};
      const uint8_t target = in.byte();
      r = driveRequest(in, [&] { return dev.identify(out, target); });
      if (r == kResultDone && target != 0 && target != kBroadcastAddress && out[0] != target)
        fail("identify accepted a reply from another address");
      break;
    }
    case kTextId: {
      // Exactly the 129 bytes the caller must provide, on the heap so an overrun is caught.
      std::vector<char> text(129, 'x');
      r = driveRequest(in, [&] { return dev.readTextId(text.data()); });
      if (r == kResultDone && std::memchr(text.data(), 0, text.size()) == nullptr)
        fail("text identifier not terminated");
      break;
    }
    case kReadBlock: {
      const uint32_t address = in.u32() & 0x1FFFFFF;
      const uint8_t bank = in.byte() & 3;
      const uint8_t count = in.byte();
      const uint8_t check = in.byte() % 4;
      const uint8_t param = in.byte();
      std::vector<uint8_t> dst(count ? count : 1, 0xA5);
      dst.resize(count);
      r = driveRequest(
          in, [&] { return dev.readBlock(address, bank, count, dst.data(), check, param); });
      break;
    }
    case kWriteBlock: {
      const uint32_t address = in.u32() & 0x1FFFFFF;
      const uint8_t bank = in.byte() & 3;
      const uint8_t count = in.byte();
      std::vector<uint8_t> src(count);
      for (auto& b : src) b = in.byte();
      r = driveRequest(in, [&] { return dev.writeBlock(address, bank, src.data(), count); });
      break;
    }
    case kSetAddress: {
      const uint8_t before = dev.address;
      const uint8_t wanted = in.byte();
      r = driveRequest(in, [&] { return dev.setAddress(wanted); });
      if (r != kResultDone && dev.address != before)
        fail("a failed address change moved the handle");
      break;
    }
    case kSetBaud: {
      const uint32_t baud = kBaudRates[in.byte() % (sizeof kBaudRates / sizeof kBaudRates[0])];
      r = driveRequest(in, [&] { return dev.setBaudRate(baud); });
      break;
    }
    case kReadClock: {
      ClockValue c{};
      r = driveRequest(in, [&] { return dev.readClock(&c); });
      break;
    }
    case kWriteClock: {
      ClockValue c{};
      c.hour = in.byte();
      c.minute = in.byte();
      c.second = in.byte();
      c.weekday = in.byte();
      c.day = in.byte();
      c.month = in.byte();
      c.year = 1990 + in.byte();
      r = driveRequest(in, [&] { return dev.writeClock(c); });
      break;
    }
    case kClockCorrection: {
      const int value = static_cast<int8_t>(in.byte());
      r = driveRequest(in, [&] { return dev.writeClockCorrection(value); });
      break;
    }
    case kRawFixed:
    case kRawText: {
      const int length = 4 + in.byte() % 40;
      for (int i = 0; i < length; ++i) dev.frame[i] = in.byte();
      const int expect = which == kRawText ? kExpectText : 1 + in.byte() % 253;
      r = driveRequest(in, [&] { return dev.transact(dev.frame, length, expect); });
      if (r == kResultDone && which == kRawText && std::memchr(dev.frame, 0, 129) == nullptr)
        fail("text reply not terminated within 128 characters");
      break;
    }
  }
  if (dev.isBusy() || dev.engineState != 0) fail("the handle was left busy after a result");
  if (dev.timerSlot >= 0) timerExpired(dev.timerSlot);  // never leak pool slots across runs
  (void)r;
  return 0;
}
