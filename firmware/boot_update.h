// Firmware update through the board's boot command set: CPU information, the enter/leave
// handshakes, the optional temporary baud rate and the image sent block by block with one
// acknowledgement each. Reports only through the Operator, so the GUI and the CLI share it.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "link/port.h"
#include "util/operator.h"

// Boot commands (byte 2 of the 4-byte command frame).
constexpr uint8_t kBootCmdLeave = 0xF1;
constexpr uint8_t kBootCmdWriteSequential = 0xF2;
constexpr uint8_t kBootCmdWritePaged = 0xF3;
constexpr uint8_t kBootCmdCpuInfo = 0xF4;
constexpr uint8_t kBootCmdSetBaud = 0xF5;
constexpr uint8_t kBootCmdEnter = 0xFA;

// A board left in its boot loader answers here.
constexpr uint8_t kBootDefaultAddress = 0xF0;

constexpr int kBootHandshakeAttempts = 7;
constexpr uint32_t kBootHandshakeReplyTimeoutMs = 500;
constexpr uint32_t kCpuInfoTimeoutMs = 250;
constexpr uint32_t kBlockAckTimeoutMs = 500;
constexpr uint32_t kBaudCommandLeadMs = 10;    // before the 0xF5 frame
constexpr uint32_t kBaudSwitchSettleMs = 100;  // after the payload left, before our own switch
// The transmit queue of a healthy serial driver drains in milliseconds; a stuck one must not
// hang the update.
constexpr uint32_t kTxDrainTimeoutMs = 2000;
constexpr uint32_t kTxDrainStepMs = 1;
constexpr uint32_t kPartialWaitStepMs = 1;

constexpr size_t kCpuInfoReplyBytes = 8;
constexpr size_t kImageRecordBytes = 272;
constexpr uint32_t kRecordMemoryBytes = 256;  // board memory one record stands for
constexpr size_t kPagedBlockFrameBytes = 276;
constexpr size_t kSequentialBlockFrameBytes = 275;
constexpr uint32_t kPagedFormMaxPageBytes = 16384;
constexpr uint32_t kMaxSequentialBlocks = 16384;
constexpr size_t kMaxImagePathUnits = 1999;
constexpr uint8_t kRecordPadByte = 0xFF;  // fills a short last record (erased flash)

// The port operations the boot exchange needs. PortBootLink forwards to the port table;
// tests put a scripted board behind it.
class BootLink {
 public:
  virtual ~BootLink() = default;
  virtual void flushInput() = 0;
  virtual bool write(const uint8_t* data, size_t n) = 0;
  virtual int available() = 0;
  virtual bool read(uint8_t* dst, size_t n) = 0;
  // Returns true as soon as input is ready, false after timeoutMs without input.
  virtual bool waitInput(uint32_t timeoutMs) = 0;
  virtual bool txEmpty() = 0;
  virtual int setLine(uint32_t baud, uint8_t dataBits, char parity, uint8_t stopBits) = 0;
  // 0 when the tool's own line can run at these settings (the line is left as it was);
  // otherwise why not, as a port result code (portErrorText names it).
  virtual int probeLine(uint32_t baud, uint8_t dataBits, char parity, uint8_t stopBits) = 0;
};

class PortBootLink : public BootLink {
 public:
  explicit PortBootLink(uint16_t port) : port_(port) {}
  void flushInput() override;
  bool write(const uint8_t* data, size_t n) override;
  int available() override;
  bool read(uint8_t* dst, size_t n) override;
  bool waitInput(uint32_t timeoutMs) override;
  bool txEmpty() override;
  int setLine(uint32_t baud, uint8_t dataBits, char parity, uint8_t stopBits) override;
  int probeLine(uint32_t baud, uint8_t dataBits, char parity, uint8_t stopBits) override;

 private:
  uint16_t port_;
};

struct CpuInfo {
  unsigned partNumber = 0;  // 0x13 -> 103
  unsigned flashK = 0;      // byte 1 x 16
  uint32_t pageBytes = 0;   // byte 2 x 1024
  char family = 'F';        // 'L' for the low-power family
  bool canChangeBaud = false;
};

// Decodes the 8-byte CPU information reply; false when its checksum does not match.
bool decodeCpuInfo(const uint8_t reply[kCpuInfoReplyBytes], CpuInfo* out);
// "STM32%c%03d, flash=%dK, page=%d bytes" (translated format).
std::string formatCpuInfo(const CpuInfo& info);
// First page number of the paged form for a page size (4, 2, 0 or 0xFFFF).
uint16_t firstPageNumber(uint32_t pageBytes);
bool usesPagedForm(uint32_t pageBytes);
void buildBootCommand(uint8_t address, uint8_t command, uint8_t out[4]);
void buildBaudPayload(uint32_t baud, uint8_t out[4]);
void buildPagedBlock(uint16_t page, uint8_t index, const uint8_t record[kImageRecordBytes],
                     uint8_t out[kPagedBlockFrameBytes]);
void buildSequentialBlock(uint16_t sequence, const uint8_t record[kImageRecordBytes],
                          uint8_t out[kSequentialBlockFrameBytes]);
// "Max baud rate" and the baud input read the way the window reads them: leading decimal
// digits; anything else (empty, negative, not a number) counts as 0.
uint32_t baudFromText(const char* text);

// Time the bytes take on a serial line at baud (ten bits a byte), rounded up; 0 when the rate
// is unknown (0).
uint32_t lineTimeMs(size_t bytes, uint32_t baud);

// Result of the boot command handshake.
constexpr int kHandshakeAccepted = 1;
constexpr int kHandshakeRefused = -1;
constexpr int kHandshakeFailed = 0;
// Sends the enter (0xFA) or leave (0xF1) frame up to seven times, 500 ms each.
int bootHandshake(BootLink& link, uint8_t address, bool enter);

enum class FirmwareResult {
  Finished,  // every record acknowledged
  CannotOpenFile,
  NoCpuInfo,
  CpuInfoCrc,
  EnterFailed,
  EnterRefused,  // a fuel delivery is pending
  BadPageSize,   // page size 0: nothing sensible to send
  BlockTimeout,
  FileReadError,  // the image could not be read to its end (an I/O error, not its end)
};

// Where the update sends its boot commands.
enum class BootTarget {
  CurrentAddress,     // the board at the bus address the tool serves
  BootLoaderAddress,  // a board stuck in its boot loader, at kBootDefaultAddress
};

struct FirmwareUpdateRequest {
  std::string imagePath;  // UTF-8
  BootTarget target = BootTarget::CurrentAddress;
  uint8_t currentAddress = 1;
  uint32_t maxBaud = 0;   // "Max baud rate"
  uint32_t portBaud = 0;  // the speed of the open port (the baud input)
  LineSettings line;      // restored when the update ends; a raised rate keeps its framing
};

struct FirmwareOutcome {
  FirmwareResult result = FirmwareResult::CannotOpenFile;
  uint32_t blocksSent = 0;  // blocks acknowledged
  int leaveResult = kHandshakeFailed;
  bool baudRaised = false;  // the board and the tool's line both moved to the raised rate
  bool ok() const { return result == FirmwareResult::Finished && leaveResult != kHandshakeFailed; }
};

FirmwareOutcome updateFirmware(BootLink& link, Operator& op, const FirmwareUpdateRequest& req);

// "Leave bootloader": the leave handshake on its own; logs "Error!\n" when neither accepted
// nor refused. Returns the handshake result.
int leaveBootloader(BootLink& link, Operator& op, uint8_t address);
