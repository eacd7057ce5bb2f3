// Firmware update through the board's boot command set. The exchange talks to the port
// directly (not through the transaction engine): one command frame, then a block frame, then
// one acknowledgement byte, as fast as the line allows.
#include "firmware/boot_update.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>

#include "link/port.h"
#include "link/tick.h"
#include "protocol/utrk_device.h"
#include "util/catalog.h"
#include "util/files.h"
#include "util/number_text.h"

// ---- the port-table link ----

void PortBootLink::flushInput() { portFlushInput(port_); }
bool PortBootLink::write(const uint8_t* data, size_t n) { return portWrite(port_, data, n) != 0; }
int PortBootLink::available() { return portAvailable(port_); }
bool PortBootLink::read(uint8_t* dst, size_t n) { return portRead(port_, dst, n) == 1; }
bool PortBootLink::waitInput(uint32_t timeoutMs) { return portWaitInput(port_, timeoutMs) != 0; }
bool PortBootLink::txEmpty() { return portTxEmpty(port_) != 0; }
int PortBootLink::setLine(uint32_t baud, uint8_t dataBits, char parity, uint8_t stopBits) {
  return portSetLine(port_, baud, dataBits, parity, stopBits);
}
int PortBootLink::probeLine(uint32_t baud, uint8_t dataBits, char parity, uint8_t stopBits) {
  return portProbeLine(port_, baud, dataBits, parity, stopBits);
}

// ---- frames ----

bool decodeCpuInfo(const uint8_t r[kCpuInfoReplyBytes], CpuInfo* out) {
  if (frameChecksum(r, 7) != r[7]) return false;
  out->partNumber = (r[0] >> 4) * 100u + (r[0] & 0x0Fu);
  out->flashK = r[1] * 16u;
  out->pageBytes = r[2] * 1024u;
  out->family = (r[5] & 0x40) ? 'L' : 'F';
  out->canChangeBaud = (r[5] & 0x80) != 0;
  return true;
}

std::string formatCpuInfo(const CpuInfo& info) {
  return strprintf(tr("STM32%c%03d, flash=%dK, page=%d bytes"), info.family,
                   static_cast<int>(info.partNumber), static_cast<int>(info.flashK),
                   static_cast<int>(info.pageBytes));
}

bool usesPagedForm(uint32_t pageBytes) { return pageBytes <= kPagedFormMaxPageBytes; }

uint16_t firstPageNumber(uint32_t pageBytes) {
  switch (pageBytes) {
    case 1024:
      return 4;
    case 2048:
      return 2;
    case 16384:
      return 0;
    default:
      return 0xFFFF;
  }
}

void buildBootCommand(uint8_t address, uint8_t command, uint8_t out[4]) {
  out[0] = kFrameStart;
  out[1] = address;
  out[2] = command;
  out[3] = frameChecksum(out, 3);
}

void buildBaudPayload(uint32_t baud, uint8_t out[4]) {
  uint32_t units = baud / 100;
  out[0] = static_cast<uint8_t>(units & 0xFF);
  out[1] = static_cast<uint8_t>((units >> 8) & 0xFF);
  out[2] = 0x00;
  out[3] = frameChecksum(out, 3);
}

void buildPagedBlock(uint16_t page, uint8_t index, const uint8_t record[kImageRecordBytes],
                     uint8_t out[kPagedBlockFrameBytes]) {
  out[0] = static_cast<uint8_t>(page & 0xFF);
  out[1] = static_cast<uint8_t>(page >> 8);
  out[2] = index;
  std::memcpy(out + 3, record, kImageRecordBytes);
  out[kPagedBlockFrameBytes - 1] = frameChecksum(out, kPagedBlockFrameBytes - 1);
}

void buildSequentialBlock(uint16_t sequence, const uint8_t record[kImageRecordBytes],
                          uint8_t out[kSequentialBlockFrameBytes]) {
  out[0] = static_cast<uint8_t>(sequence & 0xFF);
  out[1] = static_cast<uint8_t>(sequence >> 8);
  std::memcpy(out + 2, record, kImageRecordBytes);
  out[kSequentialBlockFrameBytes - 1] = frameChecksum(out, kSequentialBlockFrameBytes - 1);
}

uint32_t lineTimeMs(size_t bytes, uint32_t baud) {
  if (baud == 0) return 0;
  const uint64_t bitMs = static_cast<uint64_t>(bytes) * 10 * 1000;
  return static_cast<uint32_t>((bitMs + baud - 1) / baud);
}

uint32_t baudFromText(const char* text) {
  // No digits, or a number beyond 32 bits (not a rate any line runs at), is 0.
  uint32_t v = 0;
  return text && parseLeadingU32(text, LeadingBlanks::SpacesAndTabs, &v) ? v : 0;
}

// ---- waiting ----

namespace {

// Waits until n bytes are buffered or timeoutMs passes. Input that is ready wakes the wait at
// once, so an acknowledgement costs no more than its travel time.
bool waitForBytes(BootLink& link, size_t n, uint32_t timeoutMs) {
  const uint32_t deadline = nowMs() + timeoutMs;
  for (;;) {
    int have = link.available();
    if (have >= static_cast<int>(n)) return true;
    if (deadlineReached(deadline)) return false;
    if (have > 0) {
      // Part of the reply is in: the port would report "ready" at once, so step by 1 ms.
      tickSleepMs(kPartialWaitStepMs);
    } else {
      uint32_t left = deadline - nowMs();
      if (static_cast<int32_t>(left) <= 0) left = 1;
      link.waitInput(left);
    }
  }
}

void sendCommand(BootLink& link, uint8_t address, uint8_t command) {
  uint8_t frame[4];
  buildBootCommand(address, command, frame);
  link.flushInput();
  link.write(frame, sizeof frame);
}

void logLine(Operator& op, const std::string& text) {
  op.logLine(text);
  op.repaint();
}

struct FileCloser {
  void operator()(FILE* f) const {
    if (f) std::fclose(f);
  }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;

// Length of a UTF-8 path in UTF-16 units: characters beyond the 16-bit plane take two.
size_t utf16Units(const std::string& utf8) {
  size_t units = 0;
  for (unsigned char c : utf8) {
    if ((c & 0xC0) == 0x80) continue;  // continuation byte
    units += c >= 0xF0 ? 2 : 1;
  }
  return units;
}

enum class RecordRead { Record, End, Error };

// Reads the next record; a short last record is padded. A read that stops on an I/O error
// is not the end of the image: what follows was never read.
RecordRead readRecord(FILE* f, uint8_t record[kImageRecordBytes]) {
  size_t got = std::fread(record, 1, kImageRecordBytes, f);
  if (std::ferror(f)) return RecordRead::Error;
  if (got == 0) return RecordRead::End;
  if (got < kImageRecordBytes) std::memset(record + got, kRecordPadByte, kImageRecordBytes - got);
  return RecordRead::Record;
}

}  // namespace

int bootHandshake(BootLink& link, uint8_t address, bool enter) {
  const uint8_t command = enter ? kBootCmdEnter : kBootCmdLeave;
  for (int attempt = 0; attempt < kBootHandshakeAttempts; ++attempt) {
    sendCommand(link, address, command);
    if (!waitForBytes(link, 1, kBootHandshakeReplyTimeoutMs)) continue;
    uint8_t reply = 0;
    if (!link.read(&reply, 1)) continue;
    if (reply == 0x00) return kHandshakeAccepted;
    if (reply == 0xFF) return kHandshakeRefused;
  }
  return kHandshakeFailed;
}

int leaveBootloader(BootLink& link, Operator& op, uint8_t address) {
  int r = bootHandshake(link, address, false);
  if (r == kHandshakeFailed) logLine(op, tr("Error!\n"));
  return r;
}

namespace {

// Sends every record of the image; returns Finished, BlockTimeout, FileReadError or
// BadPageSize.
FirmwareResult sendImage(BootLink& link, Operator& op, FILE* f, uint64_t imageBytes,
                         uint8_t address, uint32_t pageBytes, uint32_t lineBaud,
                         uint32_t* blocksSent) {
  const bool paged = usesPagedForm(pageBytes);
  const uint32_t blocksPerPage = pageBytes / kRecordMemoryBytes;
  if (paged && blocksPerPage == 0) {
    // A page of no blocks would never advance; nothing sensible can be written.
    logLine(op, tr("Error!"));
    return FirmwareResult::BadPageSize;
  }
  // Command frame and block frame leave in one write: one system call and no gap on the line.
  uint8_t wire[4 + kPagedBlockFrameBytes];
  uint8_t record[kImageRecordBytes];
  uint16_t page = firstPageNumber(pageBytes);
  uint32_t indexInPage = 0;
  uint32_t sent = 0;
  op.progress(0, imageBytes);
  for (;;) {
    const RecordRead got = readRecord(f, record);
    if (got == RecordRead::End) break;
    if (got == RecordRead::Error) {
      op.alert(tr("Cannot read file."));
      *blocksSent = sent;
      return FirmwareResult::FileReadError;
    }
    size_t length;
    if (paged) {
      buildBootCommand(address, kBootCmdWritePaged, wire);
      buildPagedBlock(page, static_cast<uint8_t>(indexInPage), record, wire + 4);
      length = 4 + kPagedBlockFrameBytes;
      if (++indexInPage == blocksPerPage) {
        indexInPage = 0;
        ++page;  // wraps in 16 bits, as the board counts
      }
    } else {
      buildBootCommand(address, kBootCmdWriteSequential, wire);
      buildSequentialBlock(static_cast<uint16_t>(sent), record, wire + 4);
      length = 4 + kSequentialBlockFrameBytes;
    }
    link.flushInput();
    link.write(wire, length);

    std::string offset = strprintf("%05X", sent * kRecordMemoryBytes);
    if (sent == 0)
      op.logAppend(offset);
    else
      op.logReplaceTail(5, offset);
    op.repaint();

    // The acknowledgement can only come once the whole block has crossed the bus: at a low
    // rate that alone takes longer than the board's answer time (a 280-byte block needs
    // 583 ms at 4800 baud), so the wait counts from the end of the block on the line.
    if (!waitForBytes(link, 1, kBlockAckTimeoutMs + lineTimeMs(length, lineBaud))) {
      op.alert(tr("Timeout. Operation not finished"));
      *blocksSent = sent;
      return FirmwareResult::BlockTimeout;
    }
    uint8_t ack;
    link.read(&ack, 1);
    ++sent;
    const uint64_t done = static_cast<uint64_t>(sent) * kImageRecordBytes;
    op.progress(done < imageBytes ? done : imageBytes, imageBytes);
    if (!paged && sent >= kMaxSequentialBlocks) break;
  }
  *blocksSent = sent;
  return FirmwareResult::Finished;
}

// Moves the board and the tool's line to baud for the transfer. The board switches as soon
// as it has the command, so a tool that cannot follow (a TCP gateway's line rate is not the
// tool's to change; a driver that refuses the rate) would never reach it again: the command
// goes only to a line that has just shown it can run at that rate. true when both moved.
bool raiseBaudRate(BootLink& link, Operator& op, uint8_t address, uint32_t baud,
                   const LineSettings& p) {
  const uint8_t dataBits = p.dataBits;
  const uint8_t stopBits = p.stopBits;
  logLine(op, tr("Increasing baud rate temporarily..."));
  const int probe = link.probeLine(baud, dataBits, p.parity, stopBits);
  if (probe != 0) {
    logLine(op, strprintf(tr("The port cannot run at %d baud (%s): the baud rate stays as it is"),
                          static_cast<int>(baud), portErrorText(probe)));
    return false;
  }
  tickSleepMs(kBaudCommandLeadMs);
  uint8_t frame[8];
  buildBootCommand(address, kBootCmdSetBaud, frame);
  buildBaudPayload(baud, frame + 4);
  link.flushInput();
  link.write(frame, 4);
  link.write(frame + 4, 4);
  const uint32_t drainDeadline = nowMs() + kTxDrainTimeoutMs;
  while (!link.txEmpty() && !deadlineReached(drainDeadline)) tickSleepMs(kTxDrainStepMs);
  tickSleepMs(kBaudSwitchSettleMs);
  const int set = link.setLine(baud, dataBits, p.parity, stopBits);
  if (set != 0) {
    // The board has switched and the tool cannot follow: the blocks will find no answer.
    logLine(op, strprintf(tr("Cannot set the port to %d baud: %s"), static_cast<int>(baud),
                          portErrorText(set)));
    return false;
  }
  logLine(op, strprintf(tr("New baud rate is set %d"), static_cast<int>(baud)));
  return true;
}

void restoreLine(BootLink& link, const LineSettings& p) {
  link.setLine(p.baud, p.dataBits, p.parity, p.stopBits);
}

}  // namespace

FirmwareOutcome updateFirmware(BootLink& link, Operator& op, const FirmwareUpdateRequest& req) {
  FirmwareOutcome out;
  FilePtr file;
  // A longer path would have to be cut, and a cut path names some other file.
  if (!req.imagePath.empty() && utf16Units(req.imagePath) <= kMaxImagePathUnits)
    file.reset(fileOpen(req.imagePath, "rb"));
  // A folder opens for reading here but yields no bytes: it would pass for an empty image.
  uint64_t imageBytes = 0;
  if (file && !fileIsRegular(file.get(), &imageBytes)) file.reset();
  if (!file) {
    op.alert(tr("Cannot open file."));
    op.repaint();
    out.result = FirmwareResult::CannotOpenFile;
    restoreLine(link, req.line);
    return out;
  }
  const uint8_t address =
      req.target == BootTarget::BootLoaderAddress ? kBootDefaultAddress : req.currentAddress;

  sendCommand(link, address, kBootCmdCpuInfo);
  uint8_t reply[kCpuInfoReplyBytes];
  if (!waitForBytes(link, kCpuInfoReplyBytes, kCpuInfoTimeoutMs) ||
      !link.read(reply, kCpuInfoReplyBytes)) {
    logLine(op, tr("Error detecting CPU type"));
    out.result = FirmwareResult::NoCpuInfo;
    return out;
  }
  CpuInfo cpu;
  if (!decodeCpuInfo(reply, &cpu)) {
    logLine(op, tr("CRC error"));
    out.result = FirmwareResult::CpuInfoCrc;
    return out;
  }
  logLine(op, formatCpuInfo(cpu));

  int entered = bootHandshake(link, address, true);
  if (entered != kHandshakeAccepted) {
    logLine(op, tr("Error!\n"));
    if (entered == kHandshakeRefused) logLine(op, tr("Please finish pending\nfuel deliveries\n"));
    out.result =
        entered == kHandshakeRefused ? FirmwareResult::EnterRefused : FirmwareResult::EnterFailed;
    return out;
  }
  // The boot loader may still be starting after the first acceptance; the second handshake
  // makes sure it listens. Its answer carries no news.
  bootHandshake(link, address, true);

  const uint32_t m = req.maxBaud;
  // The payload carries the rate in hundreds in 16 bits; a rate beyond that cannot be asked.
  if (m != req.portBaud && m != 0 && cpu.canChangeBaud && m / 100 <= 0xFFFF)
    out.baudRaised = raiseBaudRate(link, op, address, m, req.line);

  logLine(op, tr("Writing data..."));
  const uint32_t lineBaud = out.baudRaised ? m : req.portBaud;
  out.result = sendImage(link, op, file.get(), imageBytes, address, cpu.pageBytes, lineBaud,
                         &out.blocksSent);
  file.reset();
  logLine(op, tr("\n\nFinished. Returning to a normal mode"));

  out.leaveResult = bootHandshake(link, address, false);
  logLine(op, out.leaveResult == kHandshakeFailed ? tr("Error!") : tr("OK"));
  restoreLine(link, req.line);
  return out;
}
