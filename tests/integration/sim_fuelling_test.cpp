// Fuelling on the simulator over TCP, driven with frames written out by hand; the boot loader
// refuses to start while a delivery is pending.
#include <gtest/gtest.h>

#include <thread>

#include "firmware/boot_update.h"
#include "support/scripted_operator.h"
#include "support/sim_process.h"

namespace {

using Bytes = std::vector<uint8_t>;
constexpr uint32_t kReplyWaitMs = 500;
constexpr uint32_t kDeliveryWaitMs = 5000;

class SimFuelling : public ::testing::Test {
 protected:
  void TearDown() override {
    portTableShutdownForTests();
    sim.stop();
  }
  void run(const std::vector<std::string>& args) {
    port = simtest::openSimPort(sim, args);
    ASSERT_NE(port, 0) << sim.readyLine << sim.stderrText();
  }
  // Sends a header for (address, command) and an optional body, returns n reply bytes.
  Bytes exchange(uint8_t address, uint8_t command, const Bytes& body, size_t n) {
    Bytes f{0x60, address, command, 0};
    f[3] = frameChecksum(f.data(), 3);
    f.insert(f.end(), body.begin(), body.end());
    portFlushInput(port);
    portWrite(port, f.data(), f.size());
    Bytes r(n);
    if (n == 0 || !portReadWait(port, r.data(), n, kReplyWaitMs)) return {};
    return r;
  }
  static Bytes body(uint8_t nozzle, uint8_t code, uint8_t b2, uint8_t b3, uint8_t b4, uint8_t b5,
                    uint8_t b6) {
    Bytes b{nozzle, code, b2, b3, b4, b5, b6, 0};
    b[7] = frameChecksum(b.data(), 7);
    return b;
  }
  Bytes status(uint8_t nozzle, uint8_t address = 1) {
    const Bytes r = exchange(address, static_cast<uint8_t>(0x80 | nozzle), {}, 8);
    EXPECT_TRUE(r.empty() || r[7] == frameChecksum(r.data(), 7));
    return r;
  }
  uint8_t command(uint8_t nozzle, const Bytes& b, uint8_t base = 0x10, uint8_t address = 1) {
    Bytes r = exchange(address, static_cast<uint8_t>(base | nozzle), b, 1);
    return r.empty() ? 0xEE : r[0];
  }
  // Polls until the nozzle shows the status code; returns the last reply.
  Bytes waitFor(uint8_t nozzle, uint8_t code, uint8_t address = 1) {
    Bytes r;
    for (uint32_t t = 0; t < kDeliveryWaitMs; t += 50) {
      r = status(nozzle, address);
      if (r.size() == 8 && r[6] == code) return r;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return r;
  }
  Bytes readRecord(uint32_t address, uint8_t count, uint8_t bank = kBankData,
                   uint8_t check = kCheckCrc) {
    UTRKDevice dev(port);
    dev.address = 1;
    Bytes out(count);
    if (pollRequest(dev, [&] {
          return dev.readBlock(address, bank, count, out.data(), check, 0);
        }) != kResultDone)
      return {};
    return out;
  }
  static uint32_t le32(const Bytes& b, size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
  }
  static uint64_t le64(const Bytes& b, size_t at) {
    return le32(b, at) | static_cast<uint64_t>(le32(b, at + 4)) << 32;
  }

  simtest::SimProcess sim;
  uint16_t port = 0;
};

TEST_F(SimFuelling, VolumePresetRunsFromLoadStartToFinishedAndUpdatesTotals) {
  run({"--flow", "60"});  // one litre a second
  EXPECT_EQ(status(1), (Bytes{0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x7F}));
  EXPECT_EQ(command(1, body(1, 0x13, 0, 0, 0, 0, 0)), 0x00);
  EXPECT_EQ(command(1, body(1, 0x01, 0x00, 0x00, 0x00, 0x01, 0x00)), 0x00);  // 1.00 l
  Bytes r = status(1);
  ASSERT_EQ(r.size(), 8u);
  EXPECT_EQ(r[6], 0x21);
  EXPECT_EQ(r[1] & 0x80, 0x80);  // the tool has taken control
  r = waitFor(1, 0x30);
  ASSERT_EQ(r[6], 0x30);
  r = waitFor(1, 0x40);
  ASSERT_EQ(r[6], 0x40);
  EXPECT_EQ(Bytes(r.begin() + 3, r.begin() + 6), (Bytes{0x00, 0x01, 0x00}));  // 0001.00

  const Bytes ch = readRecord(0x2000, 72);
  ASSERT_EQ(ch.size(), 72u);
  EXPECT_EQ(ch[0], 44);           // "Filling end ok"
  EXPECT_EQ(le32(ch, 8), 100u);   // loaded volume
  EXPECT_EQ(le32(ch, 28), 100u);  // last volume
  EXPECT_EQ(le32(ch, 50), 1u);    // grand total 1.00
  EXPECT_EQ(ch[54], 0);
  EXPECT_EQ(le32(ch, 55), 100u);   // volume counter
  EXPECT_EQ(le32(ch, 59), 5000u);  // 1.00 l at 50.00
  const Bytes side = readRecord(0x4000, 14);
  ASSERT_EQ(side.size(), 14u);
  EXPECT_EQ(le32(side, 6), 1u);  // delivery count of side A

  EXPECT_EQ(command(1, body(1, 0x0F, 0, 0, 0, 0, 0)), 0x00);  // take the finished delivery
  EXPECT_EQ(status(1)[6], 0x00);
}

TEST_F(SimFuelling, MalformedCommandsAreRefusedAndAnAmountPresetUsesThePriceSet) {
  run({"--flow", "600"});
  EXPECT_EQ(command(1, body(1, 0x01, 0x00, 0x00, 0x00, 0x1A, 0x00)), 0xFE);  // not BCD
  EXPECT_EQ(command(1, body(1, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00)), 0xFE);  // nothing to load
  EXPECT_EQ(command(1, body(1, 0x0A, 0, 0, 0, 0, 0)), 0xFF);                 // nothing to continue
  EXPECT_EQ(command(1, body(1, 0x77, 0, 0, 0, 0, 0)), 0xFE);                 // unknown code
  EXPECT_EQ(command(1, body(2, 0x01, 0, 0, 0, 1, 0)), 0xFE);  // body for another nozzle
  Bytes bad = body(1, 0x01, 0, 0, 0, 1, 0);
  bad[7] ^= 0x01;
  EXPECT_TRUE(exchange(1, 0x11, bad, 1).empty());  // bad body checksum: no answer
  EXPECT_EQ(status(1)[6], 0x00);
  EXPECT_TRUE(status(6).empty());  // no nozzle 6
  // Price 20.00 on nozzle 2, then an amount of 10.00: half a litre.
  EXPECT_EQ(command(2, body(2, 0x00, 0x00, 0x20, 0x00, 0x01, 0x00), 0x50), 0x00);
  EXPECT_EQ(command(2, body(2, 0x11, 0x00, 0x00, 0x00, 0x10, 0x00)), 0x00);
  const Bytes r = waitFor(2, 0x40);
  ASSERT_EQ(r[6], 0x40);
  EXPECT_EQ(Bytes(r.begin() + 3, r.begin() + 6), (Bytes{0x00, 0x00, 0x50}));
  const Bytes ch = readRecord(0x2200, 72);  // nozzle 2, side A: channel 2
  ASSERT_EQ(ch.size(), 72u);
  EXPECT_EQ(le32(ch, 32), 2000u);
  EXPECT_EQ(le32(ch, 24), 1000u);  // sum set
  EXPECT_EQ(le32(ch, 59), 1000u);  // sum counter
}

TEST_F(SimFuelling, SuspendHoldsTheQuantityAndContinueResumes) {
  run({"--flow", "60"});
  EXPECT_EQ(command(1, body(1, 0x01, 0x00, 0x00, 0x00, 0x50, 0x00)), 0x00);  // 50.00 l
  ASSERT_EQ(waitFor(1, 0x30)[6], 0x30);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_EQ(command(1, body(1, 0x0E, 0, 0, 0, 0, 0)), 0x00);
  const Bytes held = status(1);
  EXPECT_EQ(held[6], 0x46);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(status(1), held);
  EXPECT_EQ(command(1, body(1, 0x0E, 0, 0, 0, 0, 0)), 0xFF);  // already suspended
  // The boot loader is not entered while a delivery is pending.
  const std::string image = testsupport::makeTempDir() + "/pcb.bin";
  testsupport::writeBytes(image, Bytes(kImageRecordBytes, 0x5A));
  PortBootLink link(port);
  ScriptedOperator op;
  FirmwareUpdateRequest req;
  req.imagePath = image;
  req.portBaud = 9600;
  EXPECT_EQ(updateFirmware(link, op, req).result, FirmwareResult::EnterRefused);
  EXPECT_NE(op.log.find("Please finish pending"), std::string::npos) << op.log;
  EXPECT_EQ(status(1), held);
  EXPECT_EQ(command(1, body(1, 0x0A, 0, 0, 0, 0, 0)), 0x00);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  const Bytes moving = status(1);
  EXPECT_EQ(moving[6], 0x30);
  EXPECT_GT(Bytes(moving.begin() + 3, moving.begin() + 6),
            Bytes(held.begin() + 3, held.begin() + 6));
  // Price changes and new presets wait for the end of the delivery.
  EXPECT_EQ(command(1, body(1, 0x00, 0x00, 0x45, 0x60, 0x01, 0x00), 0x50), 0xFF);
  EXPECT_EQ(command(1, body(1, 0x01, 0x00, 0x00, 0x00, 0x01, 0x00)), 0xFF);
  EXPECT_EQ(command(1, body(1, 0x0F, 0, 0, 0, 0, 0)), 0x00);
  const Bytes done = status(1);
  EXPECT_EQ(done[6], 0x40);
  const unsigned q = fromBcd(done[3]) * 10000 + fromBcd(done[4]) * 100 + fromBcd(done[5]);
  EXPECT_GT(q, 0u);
  EXPECT_LT(q, 5000u);
  const Bytes ch = readRecord(0x2000, 72);
  ASSERT_EQ(ch.size(), 72u);
  EXPECT_EQ(le32(ch, 50) * 100 + ch[54], q);  // totals hold exactly what was delivered
}

TEST_F(SimFuelling, MassBoardReportsFlowPressureAndSixtyFourBitTotals) {
  run({"--board", "1:$", "--flow", "60"});
  EXPECT_EQ(command(1, body(1, 0x01, 0x00, 0x00, 0x00, 0x02, 0x00)), 0x00);  // 2.00 l
  ASSERT_EQ(waitFor(1, 0x30)[6], 0x30);
  const Bytes io = readRecord(0x2E, 2, kBankService, kCheckNone);
  ASSERT_EQ(io.size(), 2u);
  EXPECT_EQ(io[0], 0x21);  // nozzle 1 up, valve open
  EXPECT_EQ(io[1], 0x00);
  const Bytes mass = readRecord(0x29, 24, kBankService, kCheckCrc);
  ASSERT_EQ(mass.size(), 24u);
  EXPECT_EQ(mass[8] | mass[9] << 8, 25);     // pressure side A, tenths
  EXPECT_EQ(mass[20] | mass[21] << 8, 450);  // 60 l/min at 0.75 kg/l, tenths
  ASSERT_EQ(waitFor(1, 0x40)[6], 0x40);
  const Bytes ch = readRecord(0x2000, 72);
  ASSERT_EQ(ch.size(), 72u);
  EXPECT_EQ(le64(ch, 55), 10000u);  // money: 2.00 l at 50.00
  EXPECT_EQ(le64(ch, 63), 150u);    // mass: 1.50 kg
}

}  // namespace
