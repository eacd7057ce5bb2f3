// One simulated controller board: frame parser, memory spaces, passwords and key, service
// registers, nozzle state machines and boot loader. Everything is driven by the bytes fed
// in and the time given with them, so tests can run it without sockets or sleeping.
#include "sim/board.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "sim/platform.h"

namespace sim {

uint8_t busChecksum(const uint8_t* data, size_t n) {
  uint8_t s = 0xFF;
  for (size_t i = 0; i < n; ++i) {
    s ^= data[i];
    s = static_cast<uint8_t>((s << 1) | (s >> 7));
  }
  return s;
}

uint32_t boardCrc32(const uint8_t* data, size_t n) {
  uint32_t crc = 0xFFFFFFFFu;
  for (size_t i = 0; i < n; i += 4) {
    uint32_t w = 0;
    for (size_t k = 0; k < 4; ++k) {
      if (i + k < n) w |= static_cast<uint32_t>(data[i + k]) << (8 * k);
    }
    crc ^= w;
    for (int b = 0; b < 32; ++b) crc = (crc & 0x80000000u) ? (crc << 1) ^ 0x04C11DB7u : (crc << 1);
  }
  return crc;
}

uint8_t toBcd(unsigned v) { return static_cast<uint8_t>((((v / 10) % 10) << 4) | (v % 10)); }

int fromBcd(uint8_t b) {
  if ((b >> 4) > 9 || (b & 0x0F) > 9) return -1;
  return (b >> 4) * 10 + (b & 0x0F);
}

std::string utf8ToCp866(const std::string& in) {
  std::string out;
  for (size_t i = 0; i < in.size();) {
    const uint8_t c = static_cast<uint8_t>(in[i]);
    uint32_t cp;
    size_t len;
    if (c < 0x80) {
      cp = c;
      len = 1;
    } else if ((c & 0xE0) == 0xC0) {
      cp = c & 0x1F;
      len = 2;
    } else if ((c & 0xF0) == 0xE0) {
      cp = c & 0x0F;
      len = 3;
    } else if ((c & 0xF8) == 0xF0) {
      cp = c & 0x07;
      len = 4;
    } else {
      out += '?';
      ++i;
      continue;
    }
    if (i + len > in.size()) {
      out += '?';
      break;
    }
    bool bad = false;
    for (size_t k = 1; k < len; ++k) {
      const uint8_t cc = static_cast<uint8_t>(in[i + k]);
      if ((cc & 0xC0) != 0x80) bad = true;
      cp = (cp << 6) | (cc & 0x3F);
    }
    if (bad) {
      out += '?';
      ++i;
      continue;
    }
    i += len;
    if (cp < 0x80)
      out += static_cast<char>(cp);
    else if (cp >= 0x410 && cp <= 0x43F)
      out += static_cast<char>(0x80 + (cp - 0x410));
    else if (cp >= 0x440 && cp <= 0x44F)
      out += static_cast<char>(0xE0 + (cp - 0x440));
    else if (cp == 0x401)
      out += static_cast<char>(0xF0);
    else if (cp == 0x451)
      out += static_cast<char>(0xF1);
    else if (cp == 0x2116)
      out += static_cast<char>(0xFC);
    else
      out += '?';
  }
  return out;
}

namespace {
constexpr uint32_t kDefaultPriceHundredths = 5000;
constexpr uint32_t kDefaultDensity = 7500;  // ten-thousandths of kg per litre
constexpr uint32_t kMaxPresetHundredths = 99999999;
constexpr uint8_t kStatusOk = 0x00;
constexpr uint8_t kStatusRefused = 0xFF;
constexpr uint8_t kStatusBadValue = 0xFE;
const char* const kBootText = "TRK boot loader v1.2";
const char* const kAppTextAfterBoot = "TRK controller v3.1";

// Channel states of the channel record.
constexpr uint8_t kStateFree = 0;
constexpr uint8_t kStateDisplayInit = 3;
constexpr uint8_t kStateFilling = 5;
constexpr uint8_t kStatePcPaused = 7;
constexpr uint8_t kStateEndOk = 44;

constexpr int kDiagTextBytes = 12;     // one entry of the meter listing at 0x34
constexpr int kDiagTextEntries = 12;   // ten meters, then the pressure sensors of A and B
constexpr size_t kSipBlockBytes = 12;  // the meter address exchange at 0x35
constexpr uint32_t kSipSerialBase = 4100000;

bool delivering(NozzleStatus s) {
  return s == NozzleStatus::LoadStart || s == NozzleStatus::Loading || s == NozzleStatus::PcSuspend;
}
}  // namespace

Board::Board(const BoardConfig& cfg) : cfg_(cfg), address_(cfg.address) {
  bootMode_ = cfg_.textCp866.find("boot load") != std::string::npos;

  // Main settings: one side with two nozzles at this board's address.
  uint8_t m[kMainSettingsSize] = {};
  m[0] = 48;  // forecourt line 4800 baud
  m[2] = 0x22;
  m[3] = address_;
  m[5] = 0xFF;  // no satellite channels
  m[6] = 0xFF;
  m[7] = 96;
  m[9] = 1;
  m[10] = 2;
  m[11] = 1;  // AZT addresses of nozzles 1 and 2, side A
  m[13] = 2;
  m[25] = 2;
  m[26] = 2;
  m[27] = 5;
  m[28] = 30;
  m[34] = 3;
  m[35] = 3;
  m[36] = 5;
  m[37] = 10;
  m[38] = 10;
  m[39] = 30;
  m[40] = 10;
  m[41] = 1;
  m[42] = 5;
  m[43] = 2;
  m[44] = 60;
  for (int i = 0; i < kMainSettingsSize; ++i) poke(0, kMainSettingsAddress + i, m[i]);

  uint8_t e[kExtraSettingsSize] = {};
  const uint32_t densMult = 10000;
  std::memcpy(e, &densMult, 4);
  e[4] = 1;
  e[6] = 1;
  uint16_t massFlags = cfg_.kind == '$' ? 0x0001 : 0xE000;
  e[8] = massFlags & 0xFF;
  e[9] = massFlags >> 8;
  e[10] = 60;
  e[12] = 5;
  e[14] = 0x13;
  e[15] = 25;
  e[16] = kDefaultDensity & 0xFF;
  e[17] = kDefaultDensity >> 8;
  e[18] = 200;
  e[20] = 10;
  e[32] = 1;
  const uint8_t ip[12] = {192, 168, 0, 100, 255, 255, 255, 0, 192, 168, 0, 1};
  std::memcpy(e + 40, ip, 12);
  e[52] = 502 & 0xFF;
  e[53] = 502 >> 8;
  e[56] = 50;
  e[58] = 100;
  for (int i = 0; i < kExtraSettingsSize; ++i) poke(0, kExtraSettingsAddress + i, e[i]);

  for (int ch = 0; ch < kChannels; ++ch) {
    setPrice(ch, kDefaultPriceHundredths);
    put32(kChannelRecordBase + ch * 0x100 + 36, kDefaultPriceHundredths);
    put32(kChannelRecordBase + ch * 0x100 + 40, 50);
    poke(0, kChannelRecordBase + ch * 0x100 + 44, 20);
    // Meter: 100 pulses a litre, phases 1+2, impulse weight 0.01.
    const uint32_t mb = kMeterRecordBase + ch * 0x100;
    put32(mb, 0x028F5C29);
    poke(0, mb + 8, 200);
    poke(0, mb + 10, 1);
    poke(0, 0x0000 + ch, 1);
    poke(0, 0x0010 + 2 * ch, 200);
  }
  for (int s = 0; s < 2; ++s) {
    const uint32_t sb = kSideDataBase + s * 0x100;
    poke(0, sb + 3, 1);
    poke(0, sb + 4, 1);
    poke(0, sb + 5, 24);
  }
  service_[0x07] = 0;
  for (int ch = 0; ch < kChannels; ++ch) meterAddress_[ch] = static_cast<uint8_t>(ch + 1);
}

// ---------------------------------------------------------------- memory

uint8_t Board::peek(uint8_t bank, uint32_t address) const {
  address &= 0xFFFFFF;
  if (bank == 0) {
    auto it = data_.find(address >> 8);
    return it == data_.end() ? 0 : it->second[address & 0xFF];
  }
  auto it = service_.find(address);
  return it == service_.end() ? 0 : it->second;
}

void Board::poke(uint8_t bank, uint32_t address, uint8_t value) {
  address &= 0xFFFFFF;
  if (bank == 0) {
    auto it = data_.find(address >> 8);
    if (it == data_.end()) it = data_.emplace(address >> 8, std::array<uint8_t, 256>{}).first;
    it->second[address & 0xFF] = value;
  } else {
    service_[address] = value;
  }
}

std::vector<uint8_t> Board::readMemory(uint8_t bank, uint32_t address, size_t n) const {
  if (bank == 2) return readService(address, n);
  std::vector<uint8_t> out(n);
  for (size_t i = 0; i < n; ++i) out[i] = peek(0, address + i);
  return out;
}

uint32_t Board::get32(uint32_t a) const {
  return peek(0, a) | (peek(0, a + 1) << 8) | (peek(0, a + 2) << 16) |
         (static_cast<uint32_t>(peek(0, a + 3)) << 24);
}
void Board::put32(uint32_t a, uint32_t v) {
  for (int i = 0; i < 4; ++i) poke(0, a + i, static_cast<uint8_t>(v >> (8 * i)));
}
uint64_t Board::get64(uint32_t a) const {
  return get32(a) | (static_cast<uint64_t>(get32(a + 4)) << 32);
}
void Board::put64(uint32_t a, uint64_t v) {
  put32(a, static_cast<uint32_t>(v));
  put32(a + 4, static_cast<uint32_t>(v >> 32));
}

uint8_t Board::sideBAddress() const {
  const uint8_t sides = peek(0, kMainSettingsAddress + 9);
  const uint8_t b = peek(0, kMainSettingsAddress + 4);
  if (sides != 2 || b == 0 || b >= kAnyBoardAddress || b == address_) return 0;
  if (std::find(foreign_.begin(), foreign_.end(), b) != foreign_.end()) return 0;
  return b;
}

bool Board::answersAt(uint8_t address) const {
  return address == address_ || (address != 0 && address == sideBAddress());
}

bool Board::deliveryPending() const {
  for (const auto& n : nozzles_)
    if (delivering(n.status)) return true;
  return false;
}

std::vector<uint8_t> Board::image() const {
  std::vector<uint8_t> out;
  if (blocks_.empty()) return out;
  const uint32_t last = blocks_.rbegin()->first;
  for (uint32_t pos = 0; pos <= last; ++pos) {
    auto it = blocks_.find(pos);
    if (it == blocks_.end()) {
      out.insert(out.end(), kRecordSize, 0xFF);  // a block never sent reads as erased flash
    } else {
      out.insert(out.end(), it->second.begin(), it->second.end());
    }
  }
  return out;
}

// ---------------------------------------------------------------- frame parser

// Length of the frame in rx_ once its header is known; for a block write the count in the
// parameter group decides, so until that group is in the answer is 12.
size_t Board::expectedLength() const {
  const uint8_t c = rx_[2];
  if (c == 0x00) return 5;
  if (c == 0x20 || c == 0x30) return 6;
  if ((c & 0xF8) == 0x40) {
    if (rx_.size() < 12) return 12;
    const uint8_t count = rx_[10];
    return count >= 2 ? 12 + count : 12;
  }
  if ((c & 0xF8) == 0x48) return 12;
  if ((c & 0xF0) == 0x10 || (c & 0xF0) == 0x50) return 12;
  if (c == 0x61 || c == 0x62) return 12;
  if (c == 0xF5) return 8;
  if (c == 0xF3) return 4 + 276;
  if (c == 0xF2) return 4 + 275;
  return 4;
}

bool Board::feed(uint8_t byte, uint64_t nowMs, bool answerAny, FrameEvent* ev) {
  if (!rx_.empty() && nowMs - lastByteMs_ > kPartialFrameResetMs) rx_.clear();
  lastByteMs_ = nowMs;
  if (rx_.empty() && byte != kStart) return false;
  rx_.push_back(byte);
  if (rx_.size() < 4) return false;
  if (rx_.size() == 4 && busChecksum(rx_.data(), 3) != rx_[3]) {
    // Not a header: hunt for the next start byte inside what was taken.
    *ev = FrameEvent{};
    ev->frame = rx_;
    ev->badChecksum = true;
    auto next = std::find(rx_.begin() + 1, rx_.end(), kStart);
    rx_.erase(rx_.begin(), next);
    return true;
  }
  if (rx_.size() < expectedLength()) return false;
  *ev = FrameEvent{};
  ev->frame = rx_;
  rx_.clear();
  handleFrame(nowMs, answerAny, ev);
  countFrame(*ev);
  return true;
}

// ---------------------------------------------------------------- diagnostic counters

void Board::count(int row, int side, uint32_t n) {
  if (row >= 0 && row < kDiagRows && (side == 0 || side == 1)) diag_[row][side] += n;
}

uint32_t Board::diagCounter(int row, int side) const {
  if (row < 0 || row >= kDiagRows) return 0;
  if (side == 2) return diag_[row][0] + diag_[row][1];
  return side == 0 || side == 1 ? diag_[row][side] : 0;
}

int Board::sideOf(uint8_t requestAddress) const {
  return requestAddress != kAnyBoardAddress && requestAddress != address_ &&
                 requestAddress == sideBAddress()
             ? 1
             : 0;
}

void Board::countFrame(const FrameEvent& ev) {
  if (!ev.forUs || ev.reply.empty()) return;
  const int side = sideOf(ev.frame[1]);
  count(kDiagFramesAnswered, side);
  const uint8_t family = ev.frame[2] & 0xF0;
  if ((family == 0x10 || family == 0x50) && ev.reply.size() == 1 &&
      (ev.reply[0] == kStatusRefused || ev.reply[0] == kStatusBadValue))
    count(kDiagRefused, side);
}

void Board::reply(FrameEvent* ev, std::initializer_list<uint8_t> bytes) {
  ev->reply.assign(bytes.begin(), bytes.end());
}

void Board::replyStatus(FrameEvent* ev, uint8_t status) { ev->reply.assign(1, status); }

void Board::handleFrame(uint64_t nowMs, bool answerAny, FrameEvent* ev) {
  const std::vector<uint8_t>& f = ev->frame;
  const uint8_t addr = f[1];
  const uint8_t c = f[2];

  // Checked groups after the header: a bad one makes the whole frame void.
  auto groupOk = [&](size_t from, size_t len) {
    return busChecksum(f.data() + from, len) == f[from + len];
  };
  bool ok = true;
  if (c == 0x00)
    ok = f[4] == 0x31;
  else if (c == 0x20 || c == 0x30)
    ok = groupOk(4, 1);
  else if (f.size() >= 12 && c != 0xF3 && c != 0xF2)
    ok = groupOk(4, 7);
  if (ok && (c & 0xF8) == 0x40 && f[10] >= 2) ok = groupOk(12, f[10] - 1);
  if (ok && c == 0xF5) ok = groupOk(4, 3);
  if (ok && c == 0xF3) ok = groupOk(4, 275);
  if (ok && c == 0xF2) ok = groupOk(4, 274);
  if (!ok) {
    ev->badChecksum = true;
    if (answersAt(addr)) count(kDiagBadFrames, sideOf(addr));
    return;
  }

  const bool forUs = answersAt(addr) || (addr == kAnyBoardAddress && answerAny);
  ev->forUs = forUs;
  if (!forUs) return;
  advance(nowMs);
  const uint8_t replyAddress = addr == kAnyBoardAddress ? address_ : addr;

  // Commands both the application and the boot loader answer.
  switch (c) {
    case 0x21:
      ev->reply = {replyAddress, static_cast<uint8_t>(cfg_.kind), cfg_.identExtra, 0};
      ev->reply[3] = busChecksum(ev->reply.data(), 3);
      return;
    case 0x00: {
      // A board started in its boot loader runs the plain application once it has left it.
      const bool bootText = cfg_.textCp866.find("boot load") != std::string::npos;
      const std::string t = bootMode_ ? (bootText ? cfg_.textCp866 : kBootText)
                                      : (bootText ? kAppTextAfterBoot : cfg_.textCp866);
      ev->reply.assign(t.begin(), t.end());
      ev->reply.push_back(0x00);
      return;
    }
    case 0xF0: {
      const auto ps = readService(0x02, 2);
      ev->reply.assign(16, 0);
      ev->reply[0] = address_;
      ev->reply[1] = 0xF0;
      ev->reply[2] = modeByte_;
      ev->reply[3] = ps[0];
      ev->reply[4] = ps[1];
      ev->reply[5] = static_cast<uint8_t>(wrongPasswords_);
      ev->reply[6] = cfg_.keyOn ? 1 : 0;
      ev->reply[7] = lastError_;
      ev->reply[15] = busChecksum(ev->reply.data(), 15);
      return;
    }
    case 0xF4: {
      ev->reply.assign(8, 0);
      ev->reply[0] = static_cast<uint8_t>(((cfg_.cpu.part / 100) & 0x0F) << 4 |
                                          ((cfg_.cpu.part % 100) & 0x0F));
      ev->reply[1] = static_cast<uint8_t>(cfg_.cpu.flashKb / 16);
      ev->reply[2] = static_cast<uint8_t>(cfg_.cpu.pageBytes / 1024);
      ev->reply[5] = cfg_.cpu.flags;
      ev->reply[7] = busChecksum(ev->reply.data(), 7);
      return;
    }
    case 0xFA:
      if (deliveryPending()) return replyStatus(ev, kStatusRefused);
      if (!bootMode_) {
        bootMode_ = true;
        blocks_.clear();
        blocksSinceEnter_ = false;
      }
      return replyStatus(ev, kStatusOk);
    case 0xF1:
      if (deliveryPending()) return replyStatus(ev, kStatusRefused);
      replyStatus(ev, kStatusOk);
      if (bootMode_) {
        bootMode_ = false;
        if (blocksSinceEnter_) {
          ev->imageFinished = true;
          ++reprograms_;
          blocksSinceEnter_ = false;
        }
        if (baud_ != 0) ev->newBaud = 0xFFFFFFFFu;  // back to the line's own rate
        baud_ = 0;
        loggedIn_ = false;
      }
      return;
    default:
      break;
  }

  if (bootMode_) {
    if (c == 0xF5) {
      baud_ = (f[4] | (f[5] << 8)) * 100u;
      ev->newBaud = baud_;
    } else if (c == 0xF3 || c == 0xF2) {
      doBootBlock(ev, c == 0xF3);
    }
    return;  // the boot loader knows nothing else
  }

  switch (c) {
    case 0x20: {
      const uint8_t n = f[4];
      if (n == 0 || n >= kAnyBoardAddress) return replyStatus(ev, kStatusBadValue);
      replyStatus(ev, kStatusOk);
      if (addr == address_ || addr == kAnyBoardAddress) {
        address_ = n;
        poke(0, kMainSettingsAddress + 3, n);
      } else {
        poke(0, kMainSettingsAddress + 4, n);
      }
      return;
    }
    case 0x30: {
      static const uint32_t kRates[] = {38400, 19200, 9600, 4800, 1200};
      if (f[4] > 4) return replyStatus(ev, kStatusBadValue);
      replyStatus(ev, kStatusOk);
      ev->newBaud = kRates[f[4]];
      return;
    }
    case 0x60:
      return doClockRead(ev);
    case 0x61:
      return doClockWrite(ev);
    case 0x62: {
      const int mag = fromBcd(f[5]);
      if (mag < 0 || (f[4] != 0 && f[4] != 0xFF)) return replyStatus(ev, kStatusBadValue);
      clockCorrection_ = f[4] == 0xFF ? -mag : mag;
      return replyStatus(ev, kStatusOk);
    }
    default:
      break;
  }
  if ((c & 0xF8) == 0x48) return doBlockRead(ev);
  if ((c & 0xF8) == 0x40) return doBlockWrite(ev);
  if ((c & 0xF0) == 0x80) return doStatusPoll(ev, addr == kAnyBoardAddress ? address_ : addr);
  if ((c & 0xF0) == 0x10) return doFuelling(ev, addr == kAnyBoardAddress ? address_ : addr, nowMs);
  if ((c & 0xF0) == 0x50) return doPrice(ev, addr == kAnyBoardAddress ? address_ : addr);
  // Anything else is not a command of this board: no answer.
}

// ---------------------------------------------------------------- block requests

void Board::doBlockRead(FrameEvent* ev) {
  const auto& f = ev->frame;
  const uint8_t bank = f[2] & 0x07;
  if (bank != 0 && bank != 2) return;
  const uint8_t mode = f[4] & 0x03;
  const uint32_t address = f[6] << 8 | f[7] << 16 | f[8];
  const uint8_t count = f[10];
  std::vector<uint8_t> data = readMemory(bank, address, count);
  ev->reply = data;
  if (mode == 1) {
    ev->reply.push_back(busChecksum(data.data(), data.size()));
  } else if (mode == 2) {
    const uint32_t crc = boardCrc32(data.data(), data.size());
    for (int i = 0; i < 4; ++i) ev->reply.push_back(static_cast<uint8_t>(crc >> (8 * i)));
  }
  ev->reply.push_back(busChecksum(ev->reply.data(), ev->reply.size()));
}

void Board::doBlockWrite(FrameEvent* ev) {
  const auto& f = ev->frame;
  const uint8_t bank = f[2] & 0x07;
  if (bank != 0 && bank != 2) return;
  const uint32_t address = f[6] << 8 | f[7] << 16 | f[8];
  const uint8_t count = f[10];
  std::vector<uint8_t> data;
  if (count >= 1) data.push_back(f[9]);
  for (size_t i = 1; i < count; ++i) data.push_back(f[11 + i]);
  const uint8_t status = bank == 0 ? writeData(address, data) : writeService(address, data);
  if (count <= 1) {
    // Short writes are answered with the status and its checksum.
    ev->reply = {status, busChecksum(&status, 1)};
  } else {
    replyStatus(ev, status);
  }
}

bool Board::settingsWriteAllowed() {
  if (!cfg_.keyOn) {
    lastError_ = kErrKeyOff;
    return false;
  }
  if (cfg_.adminPassword >= 0 && !loggedIn_) {
    lastError_ = adminLocked_ ? kErrLocked : kErrWrongPassword;
    return false;
  }
  return true;
}

uint8_t Board::writeData(uint32_t address, const std::vector<uint8_t>& data) {
  if (address == kRestartAddress) {
    if (data.size() != 1 || data[0] != kRestartMagic) {
      lastError_ = kErrBadValue;
      return kStatusBadValue;
    }
    restart();
    return kStatusOk;
  }
  if (!settingsWriteAllowed()) return kStatusRefused;
  const bool tables = address < 0x0100;
  if (tables && deliveryPending()) {
    lastError_ = kErrBusy;  // meter tables change only between fillings
    return kStatusRefused;
  }
  for (size_t i = 0; i < data.size(); ++i) poke(0, address + i, data[i]);
  // The phase and type tables and the meter records hold the same values: keep them in step.
  for (int ch = 0; ch < kChannels; ++ch) {
    const uint32_t mb = kMeterRecordBase + ch * 0x100;
    auto touched = [&](uint32_t a, size_t n) {
      return address < a + n && a < address + data.size();
    };
    if (touched(0x0000 + ch, 1)) poke(0, mb + 10, peek(0, ch));
    if (touched(0x0010 + 2 * ch, 2)) {
      poke(0, mb + 8, peek(0, 0x10 + 2 * ch));
      poke(0, mb + 9, peek(0, 0x11 + 2 * ch));
    }
    if (touched(mb + 8, 3)) {
      poke(0, ch, peek(0, mb + 10));
      poke(0, 0x10 + 2 * ch, peek(0, mb + 8));
      poke(0, 0x11 + 2 * ch, peek(0, mb + 9));
    }
    const uint32_t cb = kChannelRecordBase + ch * 0x100;
    if (touched(cb + 32, 4) && !delivering(nozzles_[ch].status)) nozzles_[ch].presetAmount = 0;
  }
  lastError_ = 0;
  return kStatusOk;
}

uint8_t Board::writeService(uint32_t address, const std::vector<uint8_t>& data) {
  auto value16 = [&]() {
    return data.size() >= 2 ? data[0] | (data[1] << 8) : (data.empty() ? 0 : data[0]);
  };
  switch (address) {
    case 0x02: {  // admin password entry
      if (adminLocked_) {
        lastError_ = kErrLocked;
        return kStatusRefused;
      }
      if (cfg_.adminPassword < 0 || value16() == cfg_.adminPassword) {
        loggedIn_ = true;
        wrongPasswords_ = 0;
        lastError_ = 0;
        return kStatusOk;
      }
      loggedIn_ = false;
      if (++wrongPasswords_ >= kWrongPasswordsBeforeLock) {
        adminLocked_ = true;
        lastError_ = kErrLocked;
      } else {
        lastError_ = kErrWrongPassword;
      }
      return kStatusRefused;
    }
    case 0x04:
    case 0x05: {  // new admin / calibration password
      if (!settingsWriteAllowed()) return kStatusRefused;
      if (data.size() != 2 || value16() > 9999) {
        lastError_ = kErrBadValue;
        return kStatusBadValue;
      }
      (address == 0x04 ? cfg_.adminPassword : cfg_.calibrationPassword) = value16();
      lastError_ = 0;
      return kStatusOk;
    }
    case 0x08:  // clear all totals
      if (data.size() != 1 || data[0] != kRestartMagic) {
        lastError_ = kErrBadValue;
        return kStatusBadValue;
      }
      if (!settingsWriteAllowed()) return kStatusRefused;
      if (deliveryPending()) {
        lastError_ = kErrBusy;
        return kStatusRefused;
      }
      clearTotals();
      lastError_ = 0;
      return kStatusOk;
    case 0x09:  // clear the wrong clear count of a side
      if (data.size() != 1 || data[0] > 1) {
        lastError_ = kErrBadValue;
        return kStatusBadValue;
      }
      poke(0, kSideDataBase + data[0] * 0x100 + 12, 0);
      poke(0, kSideDataBase + data[0] * 0x100 + 13, 0);
      lastError_ = 0;
      return kStatusOk;
    case 0x24:
      if (data.size() != 1) return kStatusBadValue;
      modeByte_ = data[0];
      lastError_ = 0;
      return kStatusOk;
    case 0x25:
      if (data.size() != 1) return kStatusBadValue;
      displayMode_ = data[0];
      lastError_ = 0;
      return kStatusOk;
    case 0x35: {  // the meter address exchange: the meter takes the address in byte 1
      const auto block = sipAddressBlock();
      if (data.size() != kSipBlockBytes || block[0] == 0 || data[0] == 0) return kStatusRefused;
      for (int ch = 0; ch < kChannels; ++ch)
        if (delivering(nozzles_[ch].status)) meterAddress_[ch] = data[1];
      lastError_ = 0;
      return kStatusOk;
    }
    default:
      for (size_t i = 0; i < data.size(); ++i) service_[address + i] = data[i];
      lastError_ = 0;
      return kStatusOk;
  }
}

std::vector<uint8_t> Board::readService(uint32_t address, size_t n) const {
  std::vector<uint8_t> r;
  auto put16 = [&](unsigned v) {
    r.push_back(v & 0xFF);
    r.push_back((v >> 8) & 0xFF);
  };
  switch (address) {
    case 0x02: {
      uint8_t b0 = (cfg_.adminPassword >= 0 ? 1 : 0) | (cfg_.calibrationPassword >= 0 ? 2 : 0);
      r = {b0, static_cast<uint8_t>(adminLocked_ ? 0x07 : 0x00)};
      break;
    }
    case 0x03:
      r = {static_cast<uint8_t>((cfg_.keyOn ? kDiagKeyOn : 0) |
                                (cfg_.adminPassword < 0 || loggedIn_ ? kDiagLoggedIn : 0) |
                                (adminLocked_ ? kDiagLocked : 0) |
                                (deliveryPending() ? kDiagDelivering : 0))};
      break;
    case 0x04:
      put16(factoryClears_);
      put16(reprograms_);
      break;
    case 0x22:
    case 0x23:
    case 0x24:
    case 0x25:
    case 0x26:
    case 0x27: {
      // Restarts since power-up, wrong password entries, mode, display mode, and the nozzles
      // delivering on side A and side B (bit n-1 for nozzle n).
      uint8_t out[2] = {0, 0};
      for (int ch = 0; ch < kChannels; ++ch)
        if (delivering(nozzles_[ch].status)) out[ch & 1] |= static_cast<uint8_t>(1u << (ch / 2));
      const uint8_t regs[6] = {static_cast<uint8_t>(restarts_),
                               static_cast<uint8_t>(wrongPasswords_),
                               modeByte_,
                               displayMode_,
                               out[0],
                               out[1]};
      r.assign(regs + (address - 0x22), regs + 6);
      break;
    }
    case 0x29: {
      // Twelve live words: pressure of side s in word 4 + s and mass flow in word 10 + s,
      // both in tenths, while that side is loading.
      uint16_t w[12] = {};
      if (cfg_.kind == '$') {
        for (int ch = 0; ch < kChannels; ++ch) {
          if (nozzles_[ch].status != NozzleStatus::Loading) continue;
          const int s = ch & 1;
          w[4 + s] = 25;
          w[10 + s] = static_cast<uint16_t>(cfg_.flowHundredthsPerSecond * 60 / 10 *
                                            kDefaultDensity / 10000);
        }
      }
      for (uint16_t v : w) put16(v);
      break;
    }
    case kDiagCountersA:
    case kDiagCountersB:
    case kDiagCountersAB: {
      const int side = static_cast<int>(address - kDiagCountersA);
      for (int row = 0; row < kDiagRows; ++row) {
        const uint32_t v = diagCounter(row, side);
        for (int i = 0; i < 4; ++i) r.push_back(static_cast<uint8_t>(v >> (8 * i)));
      }
      break;
    }
    case 0x2E: {
      uint8_t bits[2] = {0, 0};
      for (int ch = 0; ch < kChannels; ++ch) {
        const int s = ch & 1;
        if (delivering(nozzles_[ch].status)) bits[s] |= static_cast<uint8_t>(1u << (ch / 2));
        if (nozzles_[ch].status == NozzleStatus::Loading) bits[s] |= 0x20;  // valve open
      }
      r = {bits[0], bits[1]};
      break;
    }
    case 0x30:
      put16(0x1230);
      put16(0x4560);
      break;
    case 0x34:
      if (n > 1) {
        // The meters on the meter line, one 12-character entry each: "A1 ok adr 01" for
        // nozzle 1 of side A, "B3 absent   " for a nozzle the settings do not have, then
        // the pressure sensors of sides A and B (fitted on mass boards only).
        const int sides = peek(0, kMainSettingsAddress + 9) >= 2 ? 2 : 1;
        const int nozzles = std::min<int>(peek(0, kMainSettingsAddress + 10), kNozzlesPerSide);
        for (int i = 0; i < kDiagTextEntries; ++i) {
          char t[32];
          const char side = (i & 1) ? 'B' : 'A';
          if (i < kChannels) {
            if ((i & 1) < sides && i / 2 < nozzles)
              std::snprintf(t, sizeof t, "%c%d ok adr %02u", side, i / 2 + 1,
                            meterAddress_[i] % 100u);
            else
              std::snprintf(t, sizeof t, "%c%d absent   ", side, i / 2 + 1);
          } else {
            std::snprintf(t, sizeof t, cfg_.kind == '$' ? "P%c ok 2.5bar" : "P%c absent   ", side);
          }
          r.insert(r.end(), t, t + kDiagTextBytes);
        }
      } else {
        r = {static_cast<uint8_t>(metersFitted())};
      }
      break;
    case 0x35:
      if (n >= kSipBlockBytes) {
        r = sipAddressBlock();
      } else {
        // Meters fitted, sides, nozzles a side, and the nozzles taken out on sides A and B.
        const auto out = readService(0x26, 2);
        const uint8_t sides = peek(0, kMainSettingsAddress + 9) >= 2 ? 2 : 1;
        const uint8_t nozzles =
            std::min<uint8_t>(kNozzlesPerSide, peek(0, kMainSettingsAddress + 10));
        r = {static_cast<uint8_t>(metersFitted()), sides, nozzles, out[0], out[1]};
      }
      break;
    default:
      break;
  }
  // Bytes beyond a register's own come from the plain store.
  for (size_t i = r.size(); i < n; ++i) r.push_back(peek(2, address + i));
  r.resize(n);
  return r;
}

int Board::metersFitted() const {
  const int sides = peek(0, kMainSettingsAddress + 9) >= 2 ? 2 : 1;
  return sides * std::min<int>(peek(0, kMainSettingsAddress + 10), kNozzlesPerSide);
}

// The meter address exchange: only a meter switched to 'calibrate' with its nozzle out
// answers, so exactly one nozzle must be out. Byte 0 is 1 when a meter answered, then the
// address it is to take (its channel + 1), the address it has, and its serial number in
// ASCII digits.
std::vector<uint8_t> Board::sipAddressBlock() const {
  std::vector<uint8_t> r(kSipBlockBytes, 0);
  int out = -1, outCount = 0;
  for (int ch = 0; ch < kChannels; ++ch) {
    if (delivering(nozzles_[ch].status)) {
      out = ch;
      ++outCount;
    }
  }
  if (outCount != 1) return r;
  r[0] = 1;
  r[1] = static_cast<uint8_t>(out + 1);
  r[2] = meterAddress_[out];
  char serial[16];
  std::snprintf(serial, sizeof serial, "%09u", kSipSerialBase + static_cast<unsigned>(out));
  std::memcpy(r.data() + 3, serial, kSipBlockBytes - 3);
  return r;
}

void Board::restart() {
  // Deliveries end at a restart; what flowed is kept in the totals.
  for (int ch = 0; ch < kChannels; ++ch) {
    if (delivering(nozzles_[ch].status)) addToTotals(ch, nozzles_[ch].delivered);
    nozzles_[ch].status = NozzleStatus::Free;
    nozzles_[ch].delivered = nozzles_[ch].countedInTotals = 0;
    updateChannelRecord(ch);
  }
  loggedIn_ = false;
  adminLocked_ = false;
  wrongPasswords_ = 0;
  ++restarts_;
  // The board comes back at the side A address of its settings.
  const uint8_t a = peek(0, kMainSettingsAddress + 3);
  if (a >= 1 && a <= 0x20 && std::find(foreign_.begin(), foreign_.end(), a) == foreign_.end())
    address_ = a;
}

void Board::clearTotals() {
  for (int ch = 0; ch < kChannels; ++ch) {
    const uint32_t cb = kChannelRecordBase + ch * 0x100;
    for (uint32_t off = 46; off < 71; ++off) poke(0, cb + off, 0);
    put32(cb + 28, 0);
  }
  for (int s = 0; s < 2; ++s) put32(kSideDataBase + s * 0x100 + 6, 0);
  ++factoryClears_;
}

// ---------------------------------------------------------------- fuelling

int Board::channelFor(uint8_t requestAddress, int nozzle) const {
  if (nozzle < 1 || nozzle > kNozzlesPerSide) return -1;
  const int side = requestAddress == address_ ? 0 : 1;
  return 2 * (nozzle - 1) + side;
}

uint32_t Board::priceOf(int channel) const {
  return get32(kChannelRecordBase + channel * 0x100 + 32);
}

void Board::setPrice(int channel, uint32_t price) {
  put32(kChannelRecordBase + channel * 0x100 + 32, price);
}

void Board::addToTotals(int ch, uint32_t delivered) {
  Nozzle& n = nozzles_[ch];
  if (delivered <= n.countedInTotals) return;
  const uint32_t cb = kChannelRecordBase + ch * 0x100;
  const uint64_t price = priceOf(ch);
  const uint32_t delta = delivered - n.countedInTotals;
  const int side = ch & 1;
  hundredthsDelivered_[side] += delta;
  diag_[kDiagLitres][side] = hundredthsDelivered_[side] / 100;
  // Money from the running volume, so the sum of the steps equals the money of the whole.
  const uint64_t moneyDelta =
      delivered * price / 100 - static_cast<uint64_t>(n.countedInTotals) * price / 100;
  n.countedInTotals = delivered;

  uint64_t grand = static_cast<uint64_t>(get32(cb + 50)) * 100 + peek(0, cb + 54) + delta;
  put32(cb + 50, static_cast<uint32_t>(grand / 100));
  poke(0, cb + 54, static_cast<uint8_t>(grand % 100));
  put32(cb + 46, get32(cb + 46) + delta);
  if (cfg_.kind == '$') {
    // Mass boards keep 64-bit money and mass totals in place of the four counters.
    uint32_t density =
        peek(0, kExtraSettingsAddress + 16) | (peek(0, kExtraSettingsAddress + 17) << 8);
    if (density == 0) density = kDefaultDensity;
    put64(cb + 55, get64(cb + 55) + moneyDelta);
    const uint64_t massDelta = static_cast<uint64_t>(delivered) * density / 10000 -
                               static_cast<uint64_t>(delivered - delta) * density / 10000;
    put64(cb + 63, get64(cb + 63) + massDelta);
  } else {
    put32(cb + 55, get32(cb + 55) + delta);
    put32(cb + 59, get32(cb + 59) + static_cast<uint32_t>(moneyDelta));
  }
}

void Board::updateChannelRecord(int ch) {
  const Nozzle& n = nozzles_[ch];
  const uint32_t cb = kChannelRecordBase + ch * 0x100;
  uint8_t state = kStateFree;
  uint16_t bits = 0;
  switch (n.status) {
    case NozzleStatus::LoadStart:
      state = kStateDisplayInit;
      bits = 0x0088;
      break;
    case NozzleStatus::Loading:
      state = kStateFilling;
      bits = 0x0088;
      break;
    case NozzleStatus::PcSuspend:
      state = kStatePcPaused;
      bits = 0x0188;
      break;
    case NozzleStatus::Finished:
      state = kStateEndOk;
      break;
    default:
      break;
  }
  if (n.targetHundredths == 99999 && n.presetAmount == 0 && n.status != NozzleStatus::Free)
    bits |= 0x4000;
  poke(0, cb, state);
  poke(0, cb + 1, bits & 0xFF);
  poke(0, cb + 2, bits >> 8);
  poke(0, cb + 3, n.presetAmount ? 0x01 : 0x00);
  put32(cb + 8, n.delivered);
  put32(cb + 16, n.targetHundredths > n.delivered ? n.targetHundredths - n.delivered : 0);
  put32(cb + 20, n.presetAmount ? 0 : n.targetHundredths);
  put32(cb + 24, n.presetAmount);
}

void Board::advance(uint64_t nowMs) {
  for (int ch = 0; ch < kChannels; ++ch) {
    Nozzle& n = nozzles_[ch];
    if (n.status == NozzleStatus::LoadStart && nowMs - n.phaseStartMs >= kDeliveryStartDelayMs) {
      n.status = NozzleStatus::Loading;
      n.phaseStartMs += kDeliveryStartDelayMs;
      n.deliveredAtPhaseStart = n.delivered;
    }
    if (n.status != NozzleStatus::Loading) continue;
    const uint64_t flowed = (nowMs - n.phaseStartMs) * cfg_.flowHundredthsPerSecond / 1000;
    n.delivered = static_cast<uint32_t>(
        std::min<uint64_t>(n.targetHundredths, n.deliveredAtPhaseStart + flowed));
    addToTotals(ch, n.delivered);
    if (n.delivered >= n.targetHundredths) {
      n.status = NozzleStatus::Finished;
      n.phaseStartMs = nowMs;
      count(kDiagNozzleDeliveries + ch / 2, ch & 1);
      const uint32_t cb = kChannelRecordBase + ch * 0x100;
      put32(cb + 28, n.delivered);
      const uint32_t sb = kSideDataBase + (ch & 1) * 0x100;
      put32(sb + 6, get32(sb + 6) + 1);
    }
    updateChannelRecord(ch);
  }
}

void Board::doStatusPoll(FrameEvent* ev, uint8_t requestAddress) {
  const int nozzle = ev->frame[2] & 0x0F;
  const int ch = channelFor(requestAddress, nozzle);
  if (ch < 0) return;
  const Nozzle& n = nozzles_[ch];
  const uint32_t q = std::min<uint32_t>(n.delivered, 999999);
  ev->reply = {static_cast<uint8_t>(nozzle),
               static_cast<uint8_t>(n.flags | (delivering(n.status) ? 0x01 : 0x00)),
               0x00,
               toBcd(q / 10000),
               toBcd((q / 100) % 100),
               toBcd(q % 100),
               static_cast<uint8_t>(n.status),
               0};
  ev->reply[7] = busChecksum(ev->reply.data(), 7);
}

void Board::doFuelling(FrameEvent* ev, uint8_t requestAddress, uint64_t nowMs) {
  const auto& f = ev->frame;
  const int nozzle = f[2] & 0x0F;
  const int ch = channelFor(requestAddress, nozzle);
  if (ch < 0 || f[4] != nozzle) return replyStatus(ev, kStatusBadValue);
  Nozzle& n = nozzles_[ch];
  const uint8_t code = f[5];
  auto finishDelivery = [&]() {
    addToTotals(ch, n.delivered);
    count(kDiagNozzleDeliveries + ch / 2, ch & 1);
    n.status = NozzleStatus::Finished;
    n.phaseStartMs = nowMs;
    put32(kChannelRecordBase + ch * 0x100 + 28, n.delivered);
    const uint32_t sb = kSideDataBase + (ch & 1) * 0x100;
    put32(sb + 6, get32(sb + 6) + 1);
  };
  uint8_t status = kStatusOk;
  switch (code) {
    case 0x13:
      n.flags |= 0x80;
      break;
    case 0x01:
    case 0x11: {
      long value = 0;
      for (int i = 7; i <= 10; ++i) {
        const int d = fromBcd(f[i]);
        if (d < 0) return replyStatus(ev, kStatusBadValue);
        value = value * 100 + d;
      }
      if (delivering(n.status)) {
        status = kStatusRefused;
        break;
      }
      uint32_t target = static_cast<uint32_t>(value);
      uint32_t amount = 0;
      if (code == 0x11) {
        const uint32_t price = priceOf(ch);
        if (price == 0) {
          status = kStatusRefused;
          break;
        }
        amount = static_cast<uint32_t>(value);
        target = static_cast<uint32_t>(static_cast<uint64_t>(value) * 100 / price);
      }
      if (target == 0 || value > static_cast<long>(kMaxPresetHundredths)) {
        status = kStatusBadValue;
        break;
      }
      n.status = NozzleStatus::LoadStart;
      count(kDiagPresets, ch & 1);
      n.targetHundredths = target;
      n.presetAmount = amount;
      n.delivered = n.countedInTotals = n.deliveredAtPhaseStart = 0;
      n.phaseStartMs = nowMs;
      break;
    }
    case 0x0E:
      if (n.status == NozzleStatus::LoadStart || n.status == NozzleStatus::Loading) {
        count(kDiagSuspends, ch & 1);
        n.status = NozzleStatus::PcSuspend;
        n.phaseStartMs = nowMs;
      } else {
        status = kStatusRefused;
      }
      break;
    case 0x0A:
      if (n.status == NozzleStatus::PcSuspend) {
        n.status = NozzleStatus::Loading;
        n.phaseStartMs = nowMs;
        n.deliveredAtPhaseStart = n.delivered;
      } else {
        status = kStatusRefused;
      }
      break;
    case 0x0F:
      if (delivering(n.status)) {
        finishDelivery();
      } else if (n.status != NozzleStatus::Free) {
        n.status = NozzleStatus::Free;  // the finished delivery is taken
        n.delivered = n.countedInTotals = 0;
        n.targetHundredths = n.presetAmount = 0;
      }
      break;
    default:
      status = kStatusBadValue;
      break;
  }
  updateChannelRecord(ch);
  replyStatus(ev, status);
}

void Board::doPrice(FrameEvent* ev, uint8_t requestAddress) {
  const auto& f = ev->frame;
  const int nozzle = f[2] & 0x0F;
  const int ch = channelFor(requestAddress, nozzle);
  if (ch < 0 || f[4] != nozzle) return replyStatus(ev, kStatusBadValue);
  const int d0 = fromBcd(f[6]), d1 = fromBcd(f[7]), d2 = fromBcd(f[8]);
  if (d0 < 0 || d1 < 0 || d2 < 0) return replyStatus(ev, kStatusBadValue);
  if (delivering(nozzles_[ch].status)) return replyStatus(ev, kStatusRefused);
  setPrice(ch, static_cast<uint32_t>(d0 * 10000 + d1 * 100 + d2));
  count(kDiagPrices, ch & 1);
  replyStatus(ev, kStatusOk);
}

// ---------------------------------------------------------------- clock

void Board::doClockRead(FrameEvent* ev) {
  const std::time_t t = std::time(nullptr) + clockOffsetS_;
  const std::tm tm = localTime(t);
  ev->reply = {toBcd(tm.tm_hour),
               toBcd(tm.tm_min),
               toBcd(tm.tm_sec),
               static_cast<uint8_t>(tm.tm_wday),
               toBcd(tm.tm_mday),
               toBcd(tm.tm_mon + 1),
               toBcd((tm.tm_year + 1900) % 100),
               0};
  ev->reply[7] = busChecksum(ev->reply.data(), 7);
}

void Board::doClockWrite(FrameEvent* ev) {
  const auto& f = ev->frame;
  const int h = fromBcd(f[4]), mi = fromBcd(f[5]), s = fromBcd(f[6]);
  const int d = fromBcd(f[8]), mo = fromBcd(f[9]), y = fromBcd(f[10]);
  if (h < 0 || h > 23 || mi < 0 || mi > 59 || s < 0 || s > 59 || d < 1 || d > 31 || mo < 1 ||
      mo > 12 || y < 0)
    return replyStatus(ev, kStatusBadValue);
  std::tm tm{};
  tm.tm_hour = h;
  tm.tm_min = mi;
  tm.tm_sec = s;
  tm.tm_mday = d;
  tm.tm_mon = mo - 1;
  tm.tm_year = 100 + y;
  tm.tm_isdst = -1;
  clockOffsetS_ = static_cast<int64_t>(std::mktime(&tm)) - static_cast<int64_t>(std::time(nullptr));
  replyStatus(ev, kStatusOk);
}

// ---------------------------------------------------------------- boot loader

void Board::doBootBlock(FrameEvent* ev, bool paged) {
  const auto& f = ev->frame;
  const uint8_t* b = f.data() + 4;
  uint32_t position;
  const uint8_t* record;
  if (paged) {
    const uint32_t pageBytes = (cfg_.cpu.pageBytes / 1024) * 1024;
    const uint32_t perPage = pageBytes / 256;
    if (perPage == 0 || b[2] >= perPage) return;
    const uint16_t first = pageBytes == 1024    ? 4
                           : pageBytes == 2048  ? 2
                           : pageBytes == 16384 ? 0
                                                : 0xFFFF;
    const uint16_t page = static_cast<uint16_t>(b[0] | (b[1] << 8));
    position = static_cast<uint16_t>(page - first) * perPage + b[2];
    record = b + 3;
  } else {
    position = b[0] | (b[1] << 8);
    record = b + 2;
  }
  // Blocks beyond the flash are not acknowledged (and never make the image huge).
  if (position >= cfg_.cpu.flashKb * 1024u / 256u) return;
  blocks_[position].assign(record, record + kRecordSize);
  blocksSinceEnter_ = true;
  replyStatus(ev, kStatusOk);
}

}  // namespace sim
