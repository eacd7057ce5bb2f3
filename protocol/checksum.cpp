// Checks carried by controller frames: the 8-bit rotating frame checksum, the CRC-32 that the
// board's STM32-style CRC unit computes over block data, and the BCD packing of clock and
// status fields.
#include <array>

#include "protocol/utrk_device.h"

uint8_t frameChecksum(const uint8_t* data, size_t n) {
  uint8_t s = 0xFF;
  for (size_t i = 0; i < n; ++i) {
    s = static_cast<uint8_t>(s ^ data[i]);
    s = static_cast<uint8_t>((s << 1) | (s >> 7));
  }
  return s;
}

namespace {

constexpr uint32_t kCrcPolynomial = 0x04C11DB7;
constexpr size_t kCrcLengthMask = 0xFFFF;

// Table for feeding one byte, most significant bit first, into the unreflected CRC.
const std::array<uint32_t, 256>& crcTable() {
  static const std::array<uint32_t, 256> table = [] {
    std::array<uint32_t, 256> t{};
    for (uint32_t i = 0; i < 256; ++i) {
      uint32_t c = i << 24;
      for (int bit = 0; bit < 8; ++bit)
        c = (c & 0x80000000u) ? (c << 1) ^ kCrcPolynomial : (c << 1);
      t[i] = c;
    }
    return t;
  }();
  return table;
}

}  // namespace

// The board's CRC unit swallows whole 32-bit words, so the data are cut into little-endian
// words and a short tail is padded with zero bytes at its high end. The board counts the
// length in 16 bits, so only n modulo 65536 bytes take part, as they do on the board.
uint32_t crc32Stm(const uint8_t* data, size_t n) {
  const auto& table = crcTable();
  n &= kCrcLengthMask;
  uint32_t crc = 0xFFFFFFFFu;
  for (size_t i = 0; i < n; i += 4) {
    uint32_t word = 0;
    for (size_t k = 0; k < 4 && i + k < n; ++k)
      word |= static_cast<uint32_t>(data[i + k]) << (8 * k);
    crc ^= word;
    for (int b = 0; b < 4; ++b) crc = (crc << 8) ^ table[crc >> 24];
  }
  return crc;
}

// Values above 99 have no two-digit form; they keep their last two digits.
uint8_t toBcd(unsigned value) {
  value %= 100;
  return static_cast<uint8_t>(((value / 10) << 4) | (value % 10));
}

unsigned fromBcd(uint8_t bcd) { return (bcd >> 4) * 10u + (bcd & 0x0Fu); }
