// Fuzz harness: the firmware update fed arbitrary CPU-information replies, handshake answers,
// block acknowledgements and image files. The boot link is an in-process board whose replies
// come from the fuzz input piece by piece; waiting moves the fake tick, so every time-out
// passes at once. The update must end with one of its outcomes and never hang or overrun.
#include <unistd.h>

#include <cstdio>
#include <deque>
#include <string>

#include "firmware/boot_update.h"
#include "fuzz/fuzz_support.h"
#include "support/scripted_operator.h"

using namespace fuzzsupport;

namespace {

// Calls of the boot link the update may make for one input before it counts as hung: every
// record costs a handful, a run of time-outs a few hundred.
constexpr long kMaxLinkCalls = 2000000;

class FuzzBootLink : public BootLink {
 public:
  explicit FuzzBootLink(Reader& in) : in_(in) {}
  void flushInput() override {
    ready_.clear();
    count();
  }
  bool write(const uint8_t*, size_t n) override {
    count();
    written += n;
    return true;
  }
  int available() override {
    count();
    return static_cast<int>(ready_.size());
  }
  bool read(uint8_t* dst, size_t n) override {
    count();
    if (ready_.size() < n) return false;
    for (size_t i = 0; i < n; ++i) {
      dst[i] = ready_.front();
      ready_.pop_front();
    }
    return true;
  }
  // The board answers when the tool waits: the next piece of the input arrives, or (a piece
  // of length 0, or no input left) nothing comes and the time passes.
  bool waitInput(uint32_t timeoutMs) override {
    count();
    const std::string piece = in_.empty() ? std::string() : in_.take(in_.byte() % 24);
    if (piece.empty()) {
      tickAdvanceFake(timeoutMs);
      return false;
    }
    ready_.insert(ready_.end(), piece.begin(), piece.end());
    tickAdvanceFake(1);
    return true;
  }
  bool txEmpty() override {
    count();
    return true;
  }
  int setLine(uint32_t baud, uint8_t, char, uint8_t) override {
    count();
    lastBaud = baud;
    return 0;
  }
  // A serial line that takes every rate, so the raised-rate path is fuzzed too.
  int probeLine(uint32_t, uint8_t, char, uint8_t) override {
    count();
    return 0;
  }

  size_t written = 0;
  uint32_t lastBaud = 0;

 private:
  void count() {
    if (++calls_ > kMaxLinkCalls) fail("the firmware update did not end");
  }
  Reader& in_;
  std::deque<uint8_t> ready_;
  long calls_ = 0;
};

std::string imagePath() {
  static const std::string path = scratchFile("image");
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  tickStart();
  tickUseFakeClock(true);
  Reader in(data, size);
  const uint8_t flags = in.byte();
  const uint16_t imageBytes = in.u16() % 2048;
  const std::string image = in.take(imageBytes);
  {
    FILE* f = std::fopen(imagePath().c_str(), "wb");
    if (!f) fail("cannot write the image file");
    std::fwrite(image.data(), 1, image.size(), f);
    std::fclose(f);
  }
  tickSetFake(in.u32());
  FuzzBootLink link(in);
  ScriptedOperator op;
  if (flags & 0x80) {
    const int r = leaveBootloader(link, op, static_cast<uint8_t>(flags & 0x3F));
    if (r != kHandshakeAccepted && r != kHandshakeRefused && r != kHandshakeFailed)
      fail("leave handshake gave an undefined result");
    return 0;
  }
  FirmwareUpdateRequest req;
  req.imagePath = (flags & 0x40) ? std::string("/nonexistent/image.bin") : imagePath();
  req.target = (flags & 1) ? BootTarget::BootLoaderAddress : BootTarget::CurrentAddress;
  req.currentAddress = static_cast<uint8_t>(flags >> 1 & 0x1F);
  req.maxBaud = (flags & 0x20) ? 115200 : 0;
  req.portBaud = 9600;
  const FirmwareOutcome out = updateFirmware(link, op, req);
  const size_t records = (image.size() + kImageRecordBytes - 1) / kImageRecordBytes;
  if (out.blocksSent > records) fail("more blocks acknowledged than the image holds");
  if (out.result == FirmwareResult::Finished && out.blocksSent != records)
    fail("finished without acknowledging every record");
  return 0;
}
