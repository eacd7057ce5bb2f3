// The simulator's bus, board and line model in-process, with time given by the test: frame
// splitting and resynchronisation, side B addresses, fault injection, deliveries over time, the
// boot loader's image assembly, line pacing both ways, diagnostic registers, connecting out.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "sim/board.h"
#include "sim/bus.h"
#include "sim/line.h"
#include "sim/transport.h"
#include "support/test_support.h"

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

TEST(SimText, Utf8BecomesCodePage866AndWhatThePageLacksBecomesAQuestionMark) {
  const std::pair<const char*, const char*> cases[] = {
      {"TRK \xD0\x90\xD0\xAF\xD0\xB0\xD0\xBF\xD1\x80\xD1\x8F", "TRK \x80\x9F\xA0\xAF\xE0\xEF"},
      {"\xD0\x81\xD1\x91\xE2\x84\x96", "\xF0\xF1\xFC"},
      {"a\xE2\x82\xAC"
       "b",
       "a?b"},          // euro sign: not in the page
      {"x\xC3", "x?"},  // cut sequence
      {"\xFF"
       "ok",
       "?ok"},  // not UTF-8 at all
  };
  for (const auto& c : cases) EXPECT_EQ(sim::utf8ToCp866(c.first), c.second) << c.first;
}

TEST(SimParser, FindsFramesInNoiseSplitsAndGapsAndIgnoresBadGroups) {
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
  Bytes w = cat(cat(header(1, 0x40), params({0, 0, 0x50, 0, 0x00, 0xAA, 3})), params({0xBB, 0xCC}));
  EXPECT_EQ(line.send(Bytes(w.begin(), w.begin() + 12), 1000), Bytes{});
  EXPECT_EQ(line.send(Bytes(w.begin() + 12, w.end()), 1050), Bytes{0x00});
  EXPECT_EQ(line.bus.board(0).readMemory(0, 0x5000, 3), (Bytes{0xAA, 0xBB, 0xCC}));
  // A bad checksum in any group: no answer, nothing written, and the parser stays in step.
  Bytes h = header(1, 0x21);
  h[3] ^= 1;
  EXPECT_EQ(line.send(h, 2000), Bytes{});
  Bytes read = cat(header(1, 0x48), params({0, 0, 0x31, 0, 0x01, 0, 4}));
  read[11] ^= 0x10;
  EXPECT_EQ(line.send(read, 2000), Bytes{});
  w = cat(cat(header(1, 0x40), params({0, 0, 0x50, 0, 0x00, 0x11, 3})), params({0x22, 0x33}));
  w.back() ^= 0x01;
  EXPECT_EQ(line.send(w, 2000), Bytes{});
  EXPECT_EQ(line.bus.board(0).readMemory(0, 0x5000, 3), (Bytes{0xAA, 0xBB, 0xCC}));
  EXPECT_EQ(line.send(header(1, 0x21), 2000), identifyReply(1, '#'));  // still in step
}

TEST(SimParser, ReadReplyCarriesDataCheckAndTrailer) {
  Line line({board(1)});
  line.bus.board(0).poke(0, 0x123456, 0x7E);
  const Bytes r = line.send(cat(header(1, 0x48), params({1, 0, 0x34, 0x12, 0x56, 0, 1})));
  const uint8_t sum = sim::busChecksum(r.data(), 1);
  const Bytes pre{0x7E, sum};
  EXPECT_EQ(r, (Bytes{0x7E, sum, sim::busChecksum(pre.data(), 2)}));
}

TEST(SimBus, SideBAddressIsAnsweredUnlessAnotherBoardOwnsIt) {
  Line line({board(1), board(3)});
  sim::Board& b = line.bus.board(0);
  b.poke(0, sim::kMainSettingsAddress + 9, 2);  // two sides
  b.poke(0, sim::kMainSettingsAddress + 4, 2);
  EXPECT_EQ(line.send(header(2, 0x21)), identifyReply(2, '#'));
  b.poke(0, sim::kMainSettingsAddress + 4, 3);  // board 3's own address
  EXPECT_EQ(line.send(header(3, 0x21)), identifyReply(3, '#'));
  EXPECT_EQ(line.send(header(2, 0x21)), Bytes{});
}

TEST(SimBus, RandomNoiseNeverBreaksTheBoardsForTheNextFrame) {
  Line line({board(1), board(2, '$')});
  std::mt19937 rng(4242);
  uint64_t t = 0;
  for (int round = 0; round < 200; ++round) {
    Bytes noise(1 + rng() % 600);
    for (auto& b : noise) b = static_cast<uint8_t>(rng() % 3 == 0 ? 0x60 : rng());
    line.send(noise, t);  // whatever it answers, it must not crash or overrun
    t += sim::kPartialFrameResetMs + 1;
    if (line.bus.board(0).inBootLoader()) line.send(header(1, 0xF1), t);
    EXPECT_EQ(line.send(header(1, 0x21), t + 1), identifyReply(line.bus.board(0).address(), '#'))
        << round;
    t += 10;
  }
}

TEST(SimBus, CorruptionIsAlwaysCaughtAndDropAndDelayShapeTheOutgoingQueue) {
  sim::FaultConfig f;
  f.corruptProbability = 1.0;
  Line line({board(1)}, f, 12345);
  for (int i = 0; i < 500; ++i) {
    const Bytes r = line.send(header(1, 0x21));
    ASSERT_EQ(r.size(), 4u);
    EXPECT_NE(sim::busChecksum(r.data(), 3), r[3]) << i;
  }
  // A one-byte read with the checksum check: data, check and the trailing byte the tool
  // ignores. The changed byte is always the data or the check, never the trailer.
  line.bus.board(0).poke(0, 0x3101, 0x5A);
  for (int i = 0; i < 500; ++i) {
    const Bytes r = line.send(cat(header(1, 0x48), params({1, 0, 0x31, 0x00, 0x01, 0, 1})));
    ASSERT_EQ(r.size(), 3u);
    EXPECT_NE(sim::busChecksum(r.data(), 1), r[1]) << i;
  }
  f = {};
  f.dropProbability = 0.5;
  f.delayMs = 40;
  Bus bus({board(1)}, f, 99);
  int answered = 0;
  const Bytes h = header(1, 0x21);
  for (int i = 0; i < 400; ++i) {
    std::vector<sim::Outgoing> out;
    bus.feed(h.data(), h.size(), 1000, &out);
    for (auto& o : out) EXPECT_EQ(o.dueMs, 1040u);
    answered += static_cast<int>(out.size());
  }
  EXPECT_GT(answered, 120);  // about half, with a wide margin for the seed
  EXPECT_LT(answered, 280);
}

TEST(SimBus, ABoardsOwnFaultsOverrideTheBusWideOnesForItsRepliesAlone) {
  sim::FaultConfig f;
  f.corruptProbability = 1.0;
  sim::BoardConfig clean = board(1), mute = board(2), plain = board(3);
  clean.corruptProbability = 0.0;  // its own 0: never corrupted, whatever the bus says
  mute.dropProbability = 1.0;
  Line line({clean, mute, plain}, f, 7);
  for (int i = 0; i < 50; ++i) {
    EXPECT_EQ(line.send(header(1, 0x21)), identifyReply(1, '#')) << i;
    EXPECT_EQ(line.send(header(2, 0x21)), Bytes{}) << i;
    const Bytes r = line.send(header(3, 0x21));
    ASSERT_EQ(r.size(), 4u);
    EXPECT_NE(sim::busChecksum(r.data(), 3), r[3]) << i;
  }
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
  EXPECT_EQ(cmd(0x01, {0x00, 0x00, 0x01, 0x00}, 0), Bytes{0x00});  // 1.00 l
  EXPECT_EQ(poll(399)[6], 0x21);
  EXPECT_EQ(poll(400)[6], 0x30);
  const Bytes half = poll(1400);  // one second of 0.50 l/s
  EXPECT_EQ(Bytes(half.begin() + 3, half.begin() + 7), (Bytes{0x00, 0x00, 0x50, 0x30}));
  line.bus.advance(2400);
  const Bytes done = poll(2500);
  EXPECT_EQ(Bytes(done.begin() + 3, done.begin() + 7), (Bytes{0x00, 0x01, 0x00, 0x40}));
  EXPECT_FALSE(line.bus.board(0).deliveryPending());
}

TEST(SimBootLoader, PagesMapToImagePositionsAndGapsReadAsErased) {
  sim::BoardConfig c = board(1);
  c.cpu.pageBytes = 1024;  // first page 4, four blocks a page
  Line line({c});
  EXPECT_EQ(line.send(header(1, 0xFA)), Bytes{0x00});
  EXPECT_TRUE(line.bus.board(0).inBootLoader());
  auto block = [&](uint16_t page, uint8_t index, uint8_t fill, uint8_t spoil = 0) {
    Bytes b{static_cast<uint8_t>(page), static_cast<uint8_t>(page >> 8), index};
    b.insert(b.end(), sim::kRecordSize, fill);
    b.push_back(sim::busChecksum(b.data(), b.size()) ^ spoil);
    return line.send(cat(header(1, 0xF3), b));
  };
  EXPECT_EQ(block(4, 0, 0x77, 0x80), Bytes{});  // a wrong checksum is not acknowledged
  EXPECT_EQ(block(4, 0, 0x10), Bytes{0x00});
  EXPECT_EQ(block(5, 1, 0x51), Bytes{0x00});  // position 5; 1..4 never sent
  EXPECT_EQ(block(4, 4, 0x99), Bytes{});      // index beyond a page: not acknowledged
  EXPECT_EQ(block(3, 0, 0x99), Bytes{});      // before the first page: beyond the flash
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

// ---------------------------------------------------------------- line pacing

constexpr uint64_t kByteNsAt9600 = 10ull * 1000000000ull / 9600;

// Runs the line up to t and returns what left it by then.
Bytes runTo(sim::Line& line, uint64_t t) {
  Bytes out;
  line.run(t, &out);
  return out;
}

TEST(SimLine, AFrameIsAnsweredOnlyAfterItsLastByteArrivedAndTheAnswerTakesLineTime) {
  Bus bus({board(1)}, {}, 1);
  sim::Line line(bus, 9600);
  const Bytes id = header(1, 0x21);
  line.receive(id.data(), id.size(), 0);  // written at once, as a tool does
  const uint64_t frameEnd = 4 * kByteNsAt9600;
  EXPECT_EQ(line.nextDueNs(), kByteNsAt9600);
  EXPECT_EQ(runTo(line, frameEnd - 1), Bytes{});
  EXPECT_EQ(line.bytesInFlight(), 1u);  // the last byte is still on its way
  EXPECT_EQ(runTo(line, frameEnd), Bytes{});
  EXPECT_EQ(line.bytesInFlight(), 0u);
  // The first answer byte leaves one byte time after the frame, the rest follow at line rate.
  EXPECT_EQ(line.nextDueNs(), frameEnd + kByteNsAt9600);
  EXPECT_EQ(runTo(line, frameEnd + kByteNsAt9600 - 1), Bytes{});
  const Bytes want = identifyReply(1, '#');
  EXPECT_EQ(runTo(line, frameEnd + kByteNsAt9600), Bytes{want[0]});
  EXPECT_EQ(runTo(line, frameEnd + 3 * kByteNsAt9600), (Bytes{want[1], want[2]}));
  EXPECT_EQ(runTo(line, frameEnd + 4 * kByteNsAt9600), Bytes{want[3]});
  EXPECT_EQ(line.nextDueNs(), sim::kNeverNs);
}

TEST(SimLine, BytesQueueBehindTheLineAndAQuietLineStartsAfresh) {
  Bus bus({board(1)}, {}, 1);
  sim::Line line(bus, 9600);
  const Bytes id = header(1, 0x21);
  // Two writes while the line is still busy with the first: one continuous frame.
  line.receive(id.data(), 2, 0);
  line.receive(id.data() + 2, 2, kByteNsAt9600 / 2);
  EXPECT_EQ(runTo(line, 4 * kByteNsAt9600 - 1), Bytes{});
  EXPECT_EQ(runTo(line, 9 * kByteNsAt9600), identifyReply(1, '#'));
  // Later, after a quiet second, the next frame's time counts from when it is written.
  const uint64_t later = 1000000000ull;
  line.receive(id.data(), id.size(), later);
  EXPECT_EQ(runTo(line, later + 5 * kByteNsAt9600 - 1), Bytes{});
  EXPECT_EQ(runTo(line, later + 8 * kByteNsAt9600), identifyReply(1, '#'));
  // A reset (new connection) forgets what was on its way.
  line.receive(id.data(), id.size(), 2 * later);
  line.reset();
  EXPECT_EQ(line.nextDueNs(), sim::kNeverNs);
  EXPECT_EQ(runTo(line, 3 * later), Bytes{});
}

TEST(SimLine, UnpacedLineAnswersAtOnceAndADelayCountsFromTheFrameEnd) {
  Bus plain({board(1)}, {}, 1);
  sim::Line fast(plain, 0);
  const Bytes id = header(1, 0x21);
  fast.receive(id.data(), id.size(), 5000);
  EXPECT_EQ(runTo(fast, 5000), identifyReply(1, '#'));

  sim::FaultConfig f;
  f.delayMs = 30;
  Bus slow({board(1)}, f, 1);
  sim::Line line(slow, 9600);
  line.receive(id.data(), id.size(), 0);
  const uint64_t replyStart = 4 * kByteNsAt9600 + 30000000ull;
  EXPECT_EQ(runTo(line, replyStart + kByteNsAt9600 - 1), Bytes{});
  EXPECT_EQ(runTo(line, replyStart + 4 * kByteNsAt9600), identifyReply(1, '#'));
}

TEST(SimLine, RateFollowsSetBaudAfterTheAnswerAndTheBootLoaderRestoresIt) {
  Bus bus({board(1)}, {}, 1);
  sim::Line line(bus, 9600);
  const Bytes setBaud = cat(header(1, 0x30), params({0x01}));  // 19200
  line.receive(setBaud.data(), setBaud.size(), 0);
  const uint64_t answered = 7 * kByteNsAt9600;  // 6 bytes in, one status byte out
  EXPECT_EQ(runTo(line, answered), Bytes{0x00});
  EXPECT_EQ(line.baud(), 19200u);
  const uint64_t byteAt19200 = 10ull * 1000000000ull / 19200;
  const Bytes id = header(1, 0x21);
  line.receive(id.data(), id.size(), answered);
  EXPECT_EQ(runTo(line, answered + 8 * byteAt19200 - 1).size(), 3u);
  EXPECT_EQ(runTo(line, answered + 8 * byteAt19200).size(), 1u);

  // Boot loader: 0xF5 switches the rate with no answer, leaving it returns to 9600.
  uint64_t t = 1000000000ull;
  auto exchange = [&](const Bytes& frame) {
    line.receive(frame.data(), frame.size(), t);
    Bytes r = runTo(line, t + 1000000000ull);
    t += 2000000000ull;
    return r;
  };
  EXPECT_EQ(exchange(header(1, 0xFA)), Bytes{0x00});
  const Bytes f5 = cat(header(1, 0xF5), params({0x80, 0x01, 0x00}));  // 38400 / 100, low byte first
  EXPECT_EQ(exchange(f5), Bytes{});
  EXPECT_EQ(line.baud(), 38400u);
  EXPECT_EQ(exchange(header(1, 0xF1)), Bytes{0x00});
  EXPECT_EQ(line.baud(), 9600u);
}

// ---------------------------------------------------------------- diagnostic registers

Bytes readService(Line& line, uint8_t address, uint8_t count, uint64_t t) {
  const Bytes r = line.send(cat(header(1, 0x4A), params({0, 0, 0x00, 0x00, address, 0, count})), t);
  return r.size() == count + 1u ? Bytes(r.begin(), r.end() - 1) : Bytes{};
}

uint32_t word(const Bytes& b, int k) {
  return b[4 * k] | b[4 * k + 1] << 8 | b[4 * k + 2] << 16 |
         static_cast<uint32_t>(b[4 * k + 3]) << 24;
}

TEST(SimDiagnostics, CountersFollowDeliveriesCommandsAndBadFramesPerSide) {
  Line line({board(1)});
  sim::Board& b = line.bus.board(0);
  b.poke(0, sim::kMainSettingsAddress + 9, 2);  // two sides, side B at address 2
  b.poke(0, sim::kMainSettingsAddress + 4, 2);
  auto fuel = [&](uint8_t address, uint8_t nozzle, uint8_t code, Bytes v, uint64_t t) {
    Bytes body{nozzle, code, 0x00};
    body.insert(body.end(), v.begin(), v.end());
    return line.send(cat(header(address, static_cast<uint8_t>(0x10 | nozzle)), params(body)), t);
  };
  auto price = [&](uint8_t address, uint8_t nozzle, uint64_t t) {
    return line.send(cat(header(address, static_cast<uint8_t>(0x50 | nozzle)),
                         params({nozzle, 0, 0x00, 0x45, 0x50, 0, 0})),
                     t);
  };
  // Side A, nozzle 1: 1.50 l delivered to the end.
  EXPECT_EQ(fuel(1, 1, 0x01, {0x00, 0x00, 0x01, 0x50}, 0), Bytes{0x00});
  EXPECT_EQ(price(1, 1, 10), Bytes{0xFF});  // no price change while delivering
  line.bus.advance(5000);
  EXPECT_EQ(price(1, 1, 5000), Bytes{0x00});
  // Side B, nozzle 2: suspended after a while, then finished by the tool.
  EXPECT_EQ(fuel(2, 2, 0x01, {0x00, 0x00, 0x05, 0x00}, 6000), Bytes{0x00});
  EXPECT_EQ(fuel(2, 2, 0x0E, {0, 0, 0, 0}, 7400), Bytes{0x00});  // 0.50 l flowed
  EXPECT_EQ(fuel(2, 2, 0x0F, {0, 0, 0, 0}, 7500), Bytes{0x00});
  EXPECT_EQ(fuel(2, 2, 0x77, {0, 0, 0, 0}, 7600), Bytes{0xFE});  // unknown code
  Bytes bad = cat(header(2, 0x4A), params({0, 0, 0, 0, 0x2B, 0, 48}));
  bad.back() ^= 0x01;
  EXPECT_EQ(line.send(bad, 7700), Bytes{});

  const Bytes a = readService(line, 0x2B, 48, 8000);
  const Bytes bb = readService(line, 0x2C, 48, 8000);
  const Bytes ab = readService(line, 0x2D, 48, 8000);
  ASSERT_EQ(a.size(), 48u);
  ASSERT_EQ(bb.size(), 48u);
  ASSERT_EQ(ab.size(), 48u);
  // Row: side A, side B. Side A delivered 1.50 l, side B 0.50 l; the reads count once answered.
  const std::vector<std::vector<uint32_t>> want = {
      {sim::kDiagNozzleDeliveries, 1, 0}, {sim::kDiagNozzleDeliveries + 1, 0, 1},
      {sim::kDiagPresets, 1, 1},          {sim::kDiagSuspends, 0, 1},
      {sim::kDiagLitres, 1, 0},           {sim::kDiagPrices, 1, 0},
      {sim::kDiagRefused, 1, 1},          {sim::kDiagBadFrames, 0, 1},
      {sim::kDiagFramesAnswered, 3, 4}};
  for (const auto& w : want)
    EXPECT_EQ((std::vector<uint32_t>{w[0], word(a, w[0]), word(bb, w[0])}), w);
  for (int row = 0; row < sim::kDiagRows; ++row) {
    if (row == sim::kDiagFramesAnswered) continue;  // the reads themselves count in between
    EXPECT_EQ(word(ab, row), word(a, row) + word(bb, row)) << row;
  }
  // Whole litres keep the hundredths of every delivery: 0.50 l more on side B makes 1 l.
  EXPECT_EQ(fuel(2, 2, 0x0F, {0, 0, 0, 0}, 9000), Bytes{0x00});  // takes the finished one
  EXPECT_EQ(fuel(2, 2, 0x01, {0x00, 0x00, 0x00, 0x50}, 9000), Bytes{0x00});
  line.bus.advance(12000);
  EXPECT_EQ(b.diagCounter(sim::kDiagLitres, 1), 1u);
  EXPECT_EQ(b.diagCounter(sim::kDiagNozzleDeliveries + 1, 2), 2u);
}

TEST(SimDiagnostics, RegistersShowKeyLogInDeliveriesAndMeters) {
  sim::BoardConfig c = board(1);
  c.adminPassword = 1234;
  Line line({c});
  auto writeService = [&](uint8_t address, Bytes data, uint64_t t) {
    Bytes p{0, 0, 0x00, 0x00, address, data[0], static_cast<uint8_t>(data.size())};
    Bytes f = cat(header(1, 0x42), params(p));
    if (data.size() >= 2) f = cat(f, params(Bytes(data.begin() + 1, data.end())));
    const Bytes r = line.send(f, t);
    return r.empty() ? -1 : r[0];
  };
  EXPECT_EQ(readService(line, 0x03, 1, 0), Bytes{sim::kDiagKeyOn});
  for (int i = 0; i < 3; ++i) EXPECT_EQ(writeService(0x02, {0x01, 0x00}, 10), 0xFF);
  EXPECT_EQ(readService(line, 0x03, 1, 20), Bytes{sim::kDiagKeyOn | sim::kDiagLocked});
  EXPECT_EQ(readService(line, 0x22, 6, 20), (Bytes{0, 3, 0x01, 0, 0, 0}));
  const Bytes restart = cat(header(1, 0x40), params({0, 0, 0xFF, 0x88, 0xFF, 0x55, 1}));
  EXPECT_EQ(line.send(restart, 30).size(), 2u);
  EXPECT_EQ(writeService(0x02, {0xD2, 0x04}, 40), 0x00);
  EXPECT_EQ(readService(line, 0x03, 1, 50), Bytes{sim::kDiagKeyOn | sim::kDiagLoggedIn});
  EXPECT_EQ(readService(line, 0x22, 2, 50), (Bytes{1, 0}));  // one restart, entries cleared

  // One side with two nozzles (the default settings): two meters, then a delivery at nozzle 2.
  EXPECT_EQ(readService(line, 0x34, 1, 60), Bytes{2});
  const Bytes texts = readService(line, 0x34, 144, 60);
  ASSERT_EQ(texts.size(), 144u);
  auto entry = [&](const Bytes& t, int i) {
    return std::string(t.begin() + 12 * i, t.begin() + 12 * i + 12);
  };
  EXPECT_EQ(entry(texts, 0), "A1 ok adr 01");
  EXPECT_EQ(entry(texts, 1), "B1 absent   ");
  EXPECT_EQ(entry(texts, 2), "A2 ok adr 03");
  EXPECT_EQ(entry(texts, 4), "A3 absent   ");
  EXPECT_EQ(entry(texts, 10), "PA absent   ");  // no pressure sensors on a volume board
  EXPECT_EQ(readService(line, 0x35, 12, 60), Bytes(12, 0));  // no nozzle out: no meter answers
  EXPECT_EQ(writeService(0x35, Bytes(12, 1), 60), 0xFF);

  Bytes body{2, 0x01, 0x00, 0x00, 0x00, 0x10, 0x00};
  EXPECT_EQ(line.send(cat(header(1, 0x12), params(body)), 100), Bytes{0x00});
  EXPECT_EQ(readService(line, 0x03, 1, 200)[0] & sim::kDiagDelivering, sim::kDiagDelivering);
  EXPECT_EQ(readService(line, 0x26, 2, 200), (Bytes{0x02, 0x00}));
  EXPECT_EQ(readService(line, 0x35, 5, 200), (Bytes{2, 1, 2, 0x02, 0x00}));
  Bytes sip = readService(line, 0x35, 12, 200);
  EXPECT_EQ(sip, (Bytes{1, 3, 3, '0', '0', '4', '1', '0', '0', '0', '0', '2'}));
  sip[1] = 7;  // as if the meter were to take address 7
  EXPECT_EQ(writeService(0x35, sip, 210), 0x00);
  EXPECT_EQ(entry(readService(line, 0x34, 144, 220), 2), "A2 ok adr 07");
}

TEST(SimDiagnostics, MassBoardsListTheirPressureSensors) {
  Line line({board(1, '$')});
  const Bytes texts = readService(line, 0x34, 144, 0);
  ASSERT_EQ(texts.size(), 144u);
  EXPECT_EQ(std::string(texts.begin() + 120, texts.end()), "PA ok 2.5barPB ok 2.5bar");
}

// ---------------------------------------------------------------- connecting out

TEST(SimTransport, ConnectNeverWaitsForAPeerThatDoesNotAnswer) {
  // A listener whose accept queue is full leaves a new connection unanswered.
  const int lfd = testsupport::listenOn(0, 0);
  ASSERT_GE(lfd, 0);
  const int port = testsupport::boundPort(lfd);
  std::vector<int> fillers{testsupport::connectStarted(port)};
  std::this_thread::sleep_for(std::chrono::milliseconds(50));

  auto t = sim::makeConnectTransport("127.0.0.1", port);
  std::string ready, err, note;
  ASSERT_TRUE(t->open(&ready, &err)) << err;
  using clock = std::chrono::steady_clock;
  const auto t0 = clock::now();
  bool connected = t->service(0, &note);
  EXPECT_LT(clock::now() - t0, std::chrono::milliseconds(100));  // a blocking connect waits ~1 s
  bool forWrite = false;
  if (!connected) {
    EXPECT_GE(t->serviceHandle(&forWrite), 0);
    EXPECT_TRUE(forWrite);
    EXPECT_EQ(t->serviceDueMs(), sim::kConnectTimeoutMs);
    EXPECT_EQ(t->streamHandle(), -1);
  }
  // Once the tool accepts, the attempt completes (the peer's SYN is retried within seconds).
  for (int waited = 0; waited < 8000 && !connected; waited += 10) {
    const int c = testsupport::acceptWithin(lfd, 0);
    if (c >= 0) fillers.push_back(c);
    const intptr_t pending = t->serviceHandle(&forWrite);
    if (pending >= 0)
      testsupport::waitReady(static_cast<int>(pending), forWrite, 10);
    else
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    connected = t->service(static_cast<uint64_t>(waited), &note);
  }
  EXPECT_TRUE(connected);
  EXPECT_GE(t->streamHandle(), 0);
  EXPECT_EQ(note, "connected to 127.0.0.1:" + std::to_string(port));
  for (int f : fillers) testsupport::closeSocket(f);
  testsupport::closeSocket(lfd);
}

}  // namespace
