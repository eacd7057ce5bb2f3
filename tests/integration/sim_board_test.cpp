// The simulator's bus and board model in-process, with time given by the test: frame
// splitting and resynchronisation, which board answers, fault injection invariants, the
// checksums it uses, deliveries over time and the boot loader's image assembly.
#include <gtest/gtest.h>

#include "sim/board.h"
#include "sim/bus.h"

namespace {

using Bytes = std::vector<uint8_t>;
using sim::Bus;

Bytes header(uint8_t address, uint8_t command) {
  Bytes h{0x60, address, command, 0};
  h[3] = sim::busChecksum(h.data(), 3);
  return h;
}

Bytes params(Bytes group) {
  group.push_back(sim::busChecksum(group.data(), group.size()));
  return group;
}

Bytes cat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

struct Line {
  explicit Line(std::vector<sim::BoardConfig> boards, sim::FaultConfig f = {}, uint32_t seed = 1)
      : bus(boards, f, seed) {}
  Bytes send(const Bytes& bytes, uint64_t atMs = 0) {
    std::vector<sim::Outgoing> out;
    bus.feed(bytes.data(), bytes.size(), atMs, &out);
    Bytes all;
    for (auto& o : out) all.insert(all.end(), o.bytes.begin(), o.bytes.end());
    return all;
  }
  Bus bus;
};

sim::BoardConfig board(uint8_t address, char kind = '#') {
  sim::BoardConfig c;
  c.address = address;
  c.kind = kind;
  return c;
}

Bytes identifyReply(uint8_t address, char kind) {
  Bytes r{address, static_cast<uint8_t>(kind), 0x03, 0};
  r[3] = sim::busChecksum(r.data(), 3);
  return r;
}

TEST(SimChecksums, MatchTheBoardsCalculations) {
  const uint8_t h[3] = {0x60, 0x01, 0x21};
  EXPECT_EQ(sim::busChecksum(h, 3), 0xBA);
  EXPECT_EQ(sim::busChecksum(nullptr, 0), 0xFF);
  const uint8_t w[4] = {1, 2, 3, 4};
  EXPECT_EQ(sim::boardCrc32(w, 4), 0x1DABE74Fu);
  EXPECT_EQ(sim::boardCrc32(w, 3), 0x615EAB4Au);
  const uint8_t z[4] = {0, 0, 0, 0};
  EXPECT_EQ(sim::boardCrc32(z, 4), 0xC704DD7Bu);
  EXPECT_EQ(sim::fromBcd(0x45), 45);
  EXPECT_EQ(sim::fromBcd(0x4A), -1);
}

TEST(SimText, Utf8BecomesCodePage866) {
  EXPECT_EQ(sim::utf8ToCp866("TRK \xD0\x90\xD0\xAF\xD0\xB0\xD0\xBF\xD1\x80\xD1\x8F"),
            "TRK \x80\x9F\xA0\xAF\xE0\xEF");
  EXPECT_EQ(sim::utf8ToCp866("\xD0\x81\xD1\x91\xE2\x84\x96"), "\xF0\xF1\xFC");
  EXPECT_EQ(sim::utf8ToCp866("a\xE2\x82\xAC" "b"), "a?b");           // euro sign: not in the page
  EXPECT_EQ(sim::utf8ToCp866("x\xC3"), "x?");                         // cut sequence
  EXPECT_EQ(sim::utf8ToCp866("\xFF" "ok"), "?ok");                    // not UTF-8 at all
}

TEST(SimParser, FindsFramesInNoiseSplitsAndGaps) {
  Line line({board(1)});
  // Noise before the start byte, a false start, and a frame fed byte by byte.
  EXPECT_EQ(line.send({0x00, 0x13, 0xFF}), Bytes{});
  EXPECT_EQ(line.send(cat({0x60}, header(1, 0x21))), identifyReply(1, '#'));
  Bytes id = header(1, 0x21), got;
  for (uint8_t b : id) got = cat(got, line.send({b}, 10));
  EXPECT_EQ(got, identifyReply(1, '#'));
  // A frame whose bytes stop is abandoned, so the next one is read cleanly.
  EXPECT_EQ(line.send({0x60, 0x01}, 100), Bytes{});
  EXPECT_EQ(line.send(header(1, 0x21), 100 + sim::kPartialFrameResetMs + 1), identifyReply(1, '#'));
  // The 50 ms pause inside a long block write does not break it.
  const Bytes w = cat(cat(header(1, 0x40), params({0, 0, 0x50, 0, 0x00, 0xAA, 3})), params({0xBB, 0xCC}));
  EXPECT_EQ(line.send(Bytes(w.begin(), w.begin() + 12), 1000), Bytes{});
  EXPECT_EQ(line.send(Bytes(w.begin() + 12, w.end()), 1050), Bytes{0x00});
  EXPECT_EQ(line.bus.board(0).readMemory(0, 0x5000, 3), (Bytes{0xAA, 0xBB, 0xCC}));
}

TEST(SimParser, IgnoresEveryGroupWithABadChecksum) {
  Line line({board(1)});
  Bytes h = header(1, 0x21);
  h[3] ^= 1;
  EXPECT_EQ(line.send(h), Bytes{});
  Bytes read = cat(header(1, 0x48), params({0, 0, 0x31, 0, 0x01, 0, 4}));
  read[11] ^= 0x10;
  EXPECT_EQ(line.send(read), Bytes{});
  Bytes w = cat(cat(header(1, 0x40), params({0, 0, 0x50, 0, 0x00, 0x11, 3})), params({0x22, 0x33}));
  w.back() ^= 0x01;
  const Bytes before = line.bus.board(0).readMemory(0, 0x5000, 3);
  EXPECT_EQ(line.send(w), Bytes{});
  EXPECT_EQ(line.bus.board(0).readMemory(0, 0x5000, 3), before);
  EXPECT_EQ(line.send(header(1, 0x21)), identifyReply(1, '#'));   // still in step
}

TEST(SimParser, ReadReplyCarriesDataCheckAndTrailer) {
  Line line({board(1)});
  line.bus.board(0).poke(0, 0x123456, 0x7E);
  const Bytes r = line.send(cat(header(1, 0x48), params({1, 0, 0x34, 0x12, 0x56, 0, 1})));
  const uint8_t sum = sim::busChecksum(r.data(), 1);
  const Bytes pre{0x7E, sum};
  EXPECT_EQ(r, (Bytes{0x7E, sum, sim::busChecksum(pre.data(), 2)}));
}

TEST(SimBus, OnlyTheAddressedBoardAnswersAndTheFirstTakesBroadcast) {
  Line line({board(9, '$'), board(3)});
  EXPECT_EQ(line.send(header(3, 0x21)), identifyReply(3, '#'));
  EXPECT_EQ(line.send(header(9, 0x21)), identifyReply(9, '$'));
  EXPECT_EQ(line.send(header(240, 0x21)), identifyReply(9, '$'));
  EXPECT_EQ(line.send(header(4, 0x21)), Bytes{});
}

TEST(SimBus, SideBAddressIsAnsweredUnlessAnotherBoardOwnsIt) {
  Line line({board(1), board(3)});
  sim::Board& b = line.bus.board(0);
  b.poke(0, sim::kMainSettingsAddress + 9, 2);   // two sides
  b.poke(0, sim::kMainSettingsAddress + 4, 2);
  EXPECT_EQ(line.send(header(2, 0x21)), identifyReply(2, '#'));
  b.poke(0, sim::kMainSettingsAddress + 4, 3);   // board 3's own address
  EXPECT_EQ(line.send(header(3, 0x21)), identifyReply(3, '#'));
  EXPECT_EQ(line.send(header(2, 0x21)), Bytes{});
}

TEST(SimBus, CorruptionIsAlwaysCaughtByTheReplyChecksum) {
  sim::FaultConfig f;
  f.corruptProbability = 1.0;
  Line line({board(1)}, f, 12345);
  for (int i = 0; i < 500; ++i) {
    const Bytes r = line.send(header(1, 0x21));
    ASSERT_EQ(r.size(), 4u);
    EXPECT_NE(r, identifyReply(1, '#'));
    EXPECT_NE(sim::busChecksum(r.data(), 3), r[3]) << i;
  }
}

TEST(SimBus, RandomNoiseNeverBreaksTheBoardsForTheNextFrame) {
  Line line({board(1), board(2, '$')});
  std::mt19937 rng(4242);
  uint64_t t = 0;
  for (int round = 0; round < 200; ++round) {
    Bytes noise(1 + rng() % 600);
    for (auto& b : noise) b = static_cast<uint8_t>(rng() % 3 == 0 ? 0x60 : rng());
    line.send(noise, t);   // whatever it answers, it must not crash or overrun
    t += sim::kPartialFrameResetMs + 1;
    if (line.bus.board(0).inBootLoader()) line.send(header(1, 0xF1), t);
    EXPECT_EQ(line.send(header(1, 0x21), t + 1), identifyReply(line.bus.board(0).address(), '#')) << round;
    t += 10;
  }
}

TEST(SimBus, DropAndDelayShapeTheOutgoingQueue) {
  sim::FaultConfig f;
  f.dropProbability = 0.5;
  f.delayMs = 40;
  Bus bus({board(1)}, f, 99);
  int answered = 0;
  for (int i = 0; i < 400; ++i) {
    std::vector<sim::Outgoing> out;
    const Bytes h = header(1, 0x21);
    bus.feed(h.data(), h.size(), 1000, &out);
    for (auto& o : out) EXPECT_EQ(o.dueMs, 1040u);
    answered += static_cast<int>(out.size());
  }
  EXPECT_GT(answered, 120);   // about half, with a wide margin for the seed
  EXPECT_LT(answered, 280);
}

TEST(SimDelivery, QuantityFollowsTheClock) {
  sim::BoardConfig c = board(1);
  c.flowHundredthsPerSecond = 50;
  Line line({c});
  auto cmd = [&](uint8_t code, Bytes v, uint64_t t) {
    Bytes body{1, code, 0x00};
    body.insert(body.end(), v.begin(), v.end());
    return line.send(cat(header(1, 0x11), params(body)), t);
  };
  auto poll = [&](uint64_t t) { return line.send(header(1, 0x81), t); };
  EXPECT_EQ(cmd(0x01, {0x00, 0x00, 0x01, 0x00}, 0), Bytes{0x00});   // 1.00 l
  EXPECT_EQ(poll(399)[6], 0x21);
  EXPECT_EQ(poll(400)[6], 0x30);
  const Bytes half = poll(1400);   // one second of 0.50 l/s
  EXPECT_EQ(Bytes(half.begin() + 3, half.begin() + 7), (Bytes{0x00, 0x00, 0x50, 0x30}));
  line.bus.advance(2400);
  const Bytes done = poll(2500);
  EXPECT_EQ(Bytes(done.begin() + 3, done.begin() + 7), (Bytes{0x00, 0x01, 0x00, 0x40}));
  EXPECT_FALSE(line.bus.board(0).deliveryPending());
}

TEST(SimBootLoader, PagesMapToImagePositionsAndGapsReadAsErased) {
  sim::BoardConfig c = board(1);
  c.cpu.pageBytes = 1024;   // first page 4, four blocks a page
  Line line({c});
  EXPECT_EQ(line.send(header(1, 0xFA)), Bytes{0x00});
  EXPECT_TRUE(line.bus.board(0).inBootLoader());
  auto block = [&](uint16_t page, uint8_t index, uint8_t fill) {
    Bytes b{static_cast<uint8_t>(page), static_cast<uint8_t>(page >> 8), index};
    b.insert(b.end(), sim::kRecordSize, fill);
    b.push_back(sim::busChecksum(b.data(), b.size()));
    return line.send(cat(header(1, 0xF3), b));
  };
  EXPECT_EQ(block(4, 0, 0x10), Bytes{0x00});
  EXPECT_EQ(block(5, 1, 0x51), Bytes{0x00});   // position 5; 1..4 never sent
  EXPECT_EQ(block(4, 4, 0x99), Bytes{});       // index beyond a page: not acknowledged
  EXPECT_EQ(block(3, 0, 0x99), Bytes{});       // before the first page: beyond the flash
  const Bytes img = line.bus.board(0).image();
  ASSERT_EQ(img.size(), 6u * sim::kRecordSize);
  EXPECT_EQ(img[0], 0x10);
  EXPECT_EQ(img[sim::kRecordSize], 0xFF);
  EXPECT_EQ(img[5 * sim::kRecordSize], 0x51);
  // The CPU information is the default STM32F103 with the page set here.
  const Bytes cpu = line.send(header(1, 0xF4));
  ASSERT_EQ(cpu.size(), 8u);
  EXPECT_EQ(Bytes(cpu.begin(), cpu.begin() + 6), (Bytes{0x13, 8, 1, 0, 0, 0x80}));
  EXPECT_EQ(cpu[7], sim::busChecksum(cpu.data(), 7));
}

}  // namespace
