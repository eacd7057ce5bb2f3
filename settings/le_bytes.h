// Little-endian access to the byte images of the board's records. The records are kept as
// plain byte arrays, so every multi-byte field goes through these helpers (no casts of
// unaligned pointers).
#pragma once
#include <cstddef>
#include <cstdint>

// Reads width (1..4) bytes at p as an unsigned little-endian value.
inline uint32_t getLE(const uint8_t* p, unsigned width) {
  uint32_t v = 0;
  for (unsigned i = width; i-- > 0;) v = (v << 8) | p[i];
  return v;
}
// Writes the low width (1..4) bytes of v at p, low byte first.
inline void putLE(uint8_t* p, unsigned width, uint32_t v) {
  for (unsigned i = 0; i < width; ++i) {
    p[i] = static_cast<uint8_t>(v & 0xFF);
    v >>= 8;
  }
}
inline uint16_t getU16(const uint8_t* p) { return static_cast<uint16_t>(getLE(p, 2)); }
inline uint32_t getU32(const uint8_t* p) { return getLE(p, 4); }
inline void putU16(uint8_t* p, uint16_t v) { putLE(p, 2, v); }
inline void putU32(uint8_t* p, uint32_t v) { putLE(p, 4, v); }
inline uint64_t getU64(const uint8_t* p) {
  return static_cast<uint64_t>(getLE(p, 4)) | (static_cast<uint64_t>(getLE(p + 4, 4)) << 32);
}

// Where a field lies in a record.
struct FieldRef {
  uint16_t offset;
  uint8_t width;  // 1, 2 or 4
};
