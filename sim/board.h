// One simulated controller board: it listens to every byte on the service bus, splits the
// stream into frames, and answers the frames addressed to it from its memory spaces,
// passwords, fuelling state machines and boot loader.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace sim {

// The bus checksum and the CRC of the board's CRC unit. The simulator keeps its own copies
// so that it checks the tool rather than sharing the tool's code.
uint8_t busChecksum(const uint8_t* data, size_t n);
uint32_t boardCrc32(const uint8_t* data, size_t n);
uint8_t toBcd(unsigned v);
// UTF-8 text to code page 866 (Cyrillic and ASCII; anything else becomes '?').
std::string utf8ToCp866(const std::string& utf8);
// Decodes one BCD byte; -1 when a nibble is not a decimal digit.
int fromBcd(uint8_t b);

constexpr uint8_t kStart = 0x60;
constexpr uint8_t kAnyBoardAddress = 240;
constexpr int kChannels = 10;
constexpr int kNozzlesPerSide = 5;
constexpr int kRecordSize = 272;

// Memory map of the data space (bank 0).
constexpr uint32_t kMainSettingsAddress = 0x3101;
constexpr int kMainSettingsSize = 68;
constexpr uint32_t kExtraSettingsAddress = 0x5000;
constexpr int kExtraSettingsSize = 60;
constexpr uint32_t kChannelRecordBase = 0x2000;
constexpr int kChannelRecordSize = 72;
constexpr uint32_t kMeterRecordBase = 0x1000;
constexpr int kMeterRecordSize = 15;
constexpr uint32_t kSideDataBase = 0x4000;
constexpr int kSideDataSize = 14;
constexpr uint32_t kRestartAddress = 0x88FFFF;
constexpr uint8_t kRestartMagic = 0x55;

// Last-error codes the board reports in its 0xF0 status reply.
constexpr uint8_t kErrKeyOff = 'X';
constexpr uint8_t kErrWrongPassword = '[';
constexpr uint8_t kErrLocked = '\\';
constexpr uint8_t kErrBadValue = 'V';
constexpr uint8_t kErrBusy = 'B';

constexpr int kWrongPasswordsBeforeLock = 3;
// A frame whose bytes stop arriving for this long is abandoned. Longer than the 50 ms pause
// the tool makes inside a long block write.
constexpr uint32_t kPartialFrameResetMs = 250;
// The time a nozzle stays in "Load start" before the product flows.
constexpr uint32_t kDeliveryStartDelayMs = 400;

// Rows of the diagnostic counter registers: 0x2B counts side A, 0x2C side B and 0x2D both.
constexpr int kDiagRows = 12;
constexpr int kDiagNozzleDeliveries = 0;  // rows 0..4: deliveries finished at nozzles 1..5
constexpr int kDiagPresets = 5;           // volume and amount presets accepted
constexpr int kDiagSuspends = 6;          // deliveries suspended by the tool
constexpr int kDiagLitres = 7;            // whole litres delivered
constexpr int kDiagPrices = 8;            // prices set
constexpr int kDiagFramesAnswered = 9;    // frames answered at the side's address
constexpr int kDiagBadFrames = 10;        // frames at the side's address with a bad checksum
constexpr int kDiagRefused = 11;          // fuelling and price commands refused (0xFF or 0xFE)
constexpr uint32_t kDiagCountersA = 0x2B;
constexpr uint32_t kDiagCountersB = 0x2C;
constexpr uint32_t kDiagCountersAB = 0x2D;

// Bits of the diagnostic register 0x03.
constexpr uint8_t kDiagKeyOn = 0x01;
constexpr uint8_t kDiagLoggedIn = 0x02;    // settings writes are open
constexpr uint8_t kDiagLocked = 0x04;      // password entry locked
constexpr uint8_t kDiagDelivering = 0x08;  // a delivery is in progress

// The CPU information the boot loader reports.
struct CpuInfo {
  unsigned part = 103;  // STM32F103
  unsigned flashKb = 128;
  unsigned pageBytes = 2048;
  uint8_t flags = 0x80;  // can change its baud rate for the transfer
};

struct BoardConfig {
  uint8_t address = 1;
  char kind = '#';
  std::string textCp866 = "TRK controller v3.1";
  uint8_t identExtra = 0x03;
  bool keyOn = true;
  int adminPassword = -1;  // -1: none set
  int calibrationPassword = -1;
  CpuInfo cpu;
  unsigned flowHundredthsPerSecond = 50;  // 30 l/min
  bool silent = false;
  // Faults of this board's replies alone; negative: the bus-wide probability.
  double dropProbability = -1.0;
  double corruptProbability = -1.0;
};

// What a board did with one complete frame (for the traffic log and the transport).
struct FrameEvent {
  std::vector<uint8_t> frame;  // the bytes of the frame as received
  bool badChecksum = false;
  bool forUs = false;
  std::vector<uint8_t> reply;  // empty when the board does not answer
  uint32_t newBaud = 0;        // non-zero: switch the line to this rate after the reply
  bool imageFinished = false;  // the boot loader was left after blocks were written
};

enum class NozzleStatus : uint8_t {
  Free = 0x00,
  LoadStart = 0x21,
  Loading = 0x30,
  Finished = 0x40,
  PcSuspend = 0x46,
};

struct Nozzle {
  NozzleStatus status = NozzleStatus::Free;
  uint8_t flags = 0;              // bit 7: the tool has taken control (command 0x13)
  uint32_t targetHundredths = 0;  // volume preset in hundredths of a litre
  uint32_t delivered = 0;         // hundredths of a litre
  uint32_t countedInTotals = 0;   // part of delivered already added to the totals
  uint32_t presetAmount = 0;      // money preset in hundredths, 0 for a volume preset
  uint64_t phaseStartMs = 0;      // when the current status began
  uint32_t deliveredAtPhaseStart = 0;
};

class Board {
 public:
  explicit Board(const BoardConfig& cfg);

  // Feeds one byte seen on the bus. When it completes a frame, fills ev and returns true.
  // answerAny: this board answers frames sent to address 240.
  // claimedElsewhere: addresses owned by other boards (so a side B address never clashes).
  bool feed(uint8_t byte, uint64_t nowMs, bool answerAny, FrameEvent* ev);
  // Advances deliveries to the given time.
  void advance(uint64_t nowMs);
  // Drops a partly received frame (new connection, line change).
  void resetParser() { rx_.clear(); }

  // Addresses this board answers: its own, and its side B address when two sides are set.
  bool answersAt(uint8_t address) const;
  uint8_t address() const { return address_; }
  char kind() const { return cfg_.kind; }
  const BoardConfig& config() const { return cfg_; }
  bool inBootLoader() const { return bootMode_; }
  bool deliveryPending() const;
  // Side B address from the settings, or 0 when the board serves one side.
  uint8_t sideBAddress() const;
  // Addresses other boards own (set by the bus).
  void setForeignAddresses(const std::vector<uint8_t>& a) { foreign_ = a; }

  // Memory access for tests and the bus.
  uint8_t peek(uint8_t bank, uint32_t address) const;
  void poke(uint8_t bank, uint32_t address, uint8_t value);
  std::vector<uint8_t> readMemory(uint8_t bank, uint32_t address, size_t n) const;
  const Nozzle& nozzle(int channel) const { return nozzles_[channel]; }
  std::vector<uint8_t> image() const;
  uint8_t lastError() const { return lastError_; }
  // Diagnostic counter of a row for side 0 (A) or 1 (B); side 2 is their sum.
  uint32_t diagCounter(int row, int side) const;
  uint32_t lineBaud() const { return baud_; }

 private:
  size_t expectedLength() const;
  void handleFrame(uint64_t nowMs, bool answerAny, FrameEvent* ev);
  void reply(FrameEvent* ev, std::initializer_list<uint8_t> bytes);
  void replyStatus(FrameEvent* ev, uint8_t status);

  void doBlockRead(FrameEvent* ev);
  void doBlockWrite(FrameEvent* ev);
  uint8_t writeData(uint32_t address, const std::vector<uint8_t>& data);
  uint8_t writeService(uint32_t address, const std::vector<uint8_t>& data);
  bool settingsWriteAllowed();
  std::vector<uint8_t> readService(uint32_t address, size_t n) const;
  void restart();
  void clearTotals();

  void doStatusPoll(FrameEvent* ev, uint8_t requestAddress);
  void doFuelling(FrameEvent* ev, uint8_t requestAddress, uint64_t nowMs);
  void doPrice(FrameEvent* ev, uint8_t requestAddress);
  int channelFor(uint8_t requestAddress, int nozzle) const;
  void addToTotals(int channel, uint32_t hundredths);
  void updateChannelRecord(int channel);
  uint32_t priceOf(int channel) const;
  void setPrice(int channel, uint32_t price);

  void count(int row, int side, uint32_t n = 1);
  int sideOf(uint8_t requestAddress) const;
  void countFrame(const FrameEvent& ev);
  int metersFitted() const;
  std::vector<uint8_t> sipAddressBlock() const;

  void doClockRead(FrameEvent* ev);
  void doClockWrite(FrameEvent* ev);
  void doBootBlock(FrameEvent* ev, bool paged);

  uint32_t get32(uint32_t address) const;
  void put32(uint32_t address, uint32_t v);
  void put64(uint32_t address, uint64_t v);
  uint64_t get64(uint32_t address) const;

  BoardConfig cfg_;
  uint8_t address_;
  std::vector<uint8_t> foreign_;
  std::vector<uint8_t> rx_;
  uint64_t lastByteMs_ = 0;

  // Memory in 256-byte pages keyed by address >> 8; bytes never written read as 0.
  std::map<uint32_t, std::array<uint8_t, 256>> data_;
  std::map<uint32_t, uint8_t> service_;

  bool loggedIn_ = false;
  int wrongPasswords_ = 0;
  bool adminLocked_ = false;
  uint8_t lastError_ = 0;
  uint16_t factoryClears_ = 0;
  uint16_t reprograms_ = 0;
  uint8_t modeByte_ = 0x01;
  uint8_t displayMode_ = 0;
  int64_t clockOffsetS_ = 0;
  int clockCorrection_ = 0;
  uint32_t baud_ = 0;

  std::array<Nozzle, kChannels> nozzles_{};
  uint32_t diag_[kDiagRows][2] = {};
  uint32_t hundredthsDelivered_[2] = {};  // feeds the whole-litre rows
  uint16_t restarts_ = 0;
  std::array<uint8_t, kChannels> meterAddress_{};  // addresses the meters answer at

  bool bootMode_ = false;
  std::map<uint32_t, std::vector<uint8_t>> blocks_;  // image records by position
  bool blocksSinceEnter_ = false;
};

}  // namespace sim
