// The checks and number packings of controller frames: the rotating frame checksum, the
// board's CRC-32 over little-endian words, BCD, and right-aligned decimal totals.
#include <gtest/gtest.h>

#include <cstdint>
#include <utility>
#include <vector>

#include "protocol/board.h"
#include "protocol/utrk_device.h"

TEST(FrameChecksumAndCrc32Stm, KnownVectors) {
  // 0xFF ^ 0x01 = 0xFE, rotated left = 0xFD: the carried-out top bit comes back at bit 0.
  const std::pair<std::vector<uint8_t>, uint8_t> sums[] = {
      {{0x60, 0x01, 0x21}, 0xBA}, {{}, 0xFF}, {{0x00}, 0xFF}, {{0x01}, 0xFD}};
  for (const auto& [bytes, sum] : sums)
    EXPECT_EQ(frameChecksum(bytes.data(), bytes.size()), sum) << bytes.size();
  const uint8_t ab[] = {0x12, 0x34}, ba[] = {0x34, 0x12};
  EXPECT_NE(frameChecksum(ab, 2), frameChecksum(ba, 2));
  // The board's CRC unit over little-endian words.
  const std::pair<std::vector<uint8_t>, uint32_t> crcs[] = {{{0x01, 0x02, 0x03, 0x04}, 0x1DABE74Fu},
                                                            {{0x01, 0x02, 0x03}, 0x615EAB4Au},
                                                            {{0, 0, 0, 0}, 0xC704DD7Bu},
                                                            {{}, 0xFFFFFFFFu}};
  for (const auto& [bytes, crc] : crcs)
    EXPECT_EQ(crc32Stm(bytes.data(), bytes.size()), crc) << bytes.size();
}

TEST(Crc32Stm, ShortTailIsPaddedToOneWordOnly) {
  const uint8_t tail[] = {0x01, 0x02, 0x03, 0x04, 0xAA};
  const uint8_t padded[] = {0x01, 0x02, 0x03, 0x04, 0xAA, 0x00, 0x00, 0x00};
  EXPECT_EQ(crc32Stm(tail, 5), crc32Stm(padded, 8));
  const uint8_t twoWords[] = {0, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_NE(crc32Stm(twoWords, 8), crc32Stm(twoWords, 4));
  // A whole settings record: the table-driven CRC must agree with a bit-by-bit one.
  std::vector<uint8_t> rec(68);
  for (size_t i = 0; i < rec.size(); ++i) rec[i] = static_cast<uint8_t>(i * 37 + 5);
  uint32_t crc = 0xFFFFFFFFu;
  for (size_t i = 0; i < rec.size(); i += 4) {
    uint32_t w =
        rec[i] | (rec[i + 1] << 8) | (rec[i + 2] << 16) | (static_cast<uint32_t>(rec[i + 3]) << 24);
    crc ^= w;
    for (int b = 0; b < 32; ++b) crc = (crc & 0x80000000u) ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
  }
  EXPECT_EQ(crc32Stm(rec.data(), rec.size()), crc);
}

TEST(Crc32Stm, LengthCountsModulo65536LikeTheBoard) {
  // 65536 + 4 bytes: the board's 16-bit length sees 4, so only the first word counts.
  std::vector<uint8_t> big(65536 + 4, 0x5A);
  big[0] = 0x01;
  big[1] = 0x02;
  big[2] = 0x03;
  big[3] = 0x04;
  EXPECT_EQ(crc32Stm(big.data(), big.size()), 0x1DABE74Fu);
  EXPECT_EQ(crc32Stm(big.data(), 65536), 0xFFFFFFFFu);
}

TEST(Bcd, PacksTwoDigitsAndBack) {
  for (const auto& [value, bcd] :
       {std::pair<unsigned, uint8_t>{0, 0x00}, {7, 0x07}, {59, 0x59}, {99, 0x99}})
    EXPECT_EQ(toBcd(value), bcd) << value;
  EXPECT_EQ(toBcd(123), 0x23);  // no two-digit form: last two digits
  EXPECT_EQ(fromBcd(0x10), 10u);
  for (unsigned v = 0; v < 100; ++v) EXPECT_EQ(fromBcd(toBcd(v)), v);
}

TEST(FormatDecimalRight, PlacesPointPadsLeftAndNeverCuts) {
  EXPECT_EQ(formatDecimalRight(12345, 2, 10), "    123.45");
  EXPECT_EQ(formatDecimalRight(5, 3, 0), "0.005");
  EXPECT_EQ(formatDecimalRight(1200, 2, 7), "  12.00");
  EXPECT_EQ(formatDecimalRight(123456, 0, 3), "123456");
  EXPECT_EQ(formatDecimalRight(42, 0, 5), "   42");
  EXPECT_EQ(formatDecimalRight(-150, 2, 6), " -1.50");
  EXPECT_EQ(formatDecimalRight(INT64_MIN, 0, 0), "-9223372036854775808");
  EXPECT_EQ(formatDecimalRight(INT64_MAX, 19, 0), "0.9223372036854775807");
}
