// The service session that both front ends drive: the open port, the one device handle, the
// preferences, the board session, the settings copies and the side monitor, and the
// engineer's operations on them that the window and the command line share. No FLTK here: a
// window callback or a command is a thin call onto it.
#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include "protocol/board_session.h"
#include "protocol/side_monitor.h"
#include "protocol/utrk_device.h"
#include "settings/preferences.h"
#include "settings/settings_state.h"
#include "util/operator.h"

struct ServiceSession {
  // Handle of the open port in the port table; 0 while no port is open.
  uint16_t port = 0;
  // The one device handle, re-pointed at every opened port.
  std::unique_ptr<UTRKDevice> dev;
  // Port name, line settings and maximum baud rate of korvane_v3.ini.
  Preferences prefs;
  // The banner's address, what identification found, the admin log-in.
  BoardSession session;
  // Settings copies (main, extra, service values, channel and meter records, side data) and
  // the hooks through which the settings sequences show them.
  SettingsState settings;
  // The side monitor of the "Load" tab; it also holds the tab's side address and nozzle.
  SideMonitor monitor;
  // How logic reaches the engineer.
  Operator* op = nullptr;

  uint8_t pumpAddress() const { return session.pumpAddress; }
  bool bootMode() const { return session.bootMode; }
};

// Sets the open port's line to baud with the framing of line (its rate is not used). When
// the line refuses, closes the port and puts the engineer's words into *refusal ("Cannot set
// %d baud on port ..."): working on at another rate would only end every request in "No
// connection", or reach the board at the wrong rate.
bool setSessionLine(uint16_t port, const std::string& name, uint32_t baud, const LineSettings& line,
                    std::string* refusal);

// A TCP port's link comes up after the open: pumps the port until the client is connected or
// a peer has joined the listening port, or the wait for it runs out. A request written before
// would be lost and end as a time-out. Serial and stub ports return at once.
void waitForPortLink(uint16_t port);

// The bus addresses a scan asks, first and last.
constexpr int kScanFirstAddress = 1;
constexpr int kScanLastAddress = 32;

// Identifies every bus address of the scan in turn and logs "Pump %02d found" or "Pump %02d
// not found" for each (the window repaints after each line). The banner never moves: the
// handle goes back to its address and its board keeps what was known of it (kind, text,
// boot mode). Returns how many boards answered.
int scanBus(BoardSession& s);

// The SIP diagnostics: twelve 12-character entries, one a meter or sensor.
constexpr int kSipEntries = 12;

// Reads the SIP diagnostics of the board at address (a side's; the handle's own address is
// put back) as twelve lines "N - text" with non-printing bytes shown as '.'. Returns the
// read's result code; *text is set only on kResultDone.
int readSipDiagnostics(UTRKDevice& dev, uint8_t address, std::string* text);

// Reads the two bytes of input and output bits of the board at address. Result code.
int readIoBits(UTRKDevice& dev, uint8_t address, uint8_t ioBits[kIoBitsBytes]);
// Whether exactly one nozzle is out (taken up), from the two bytes of input bits.
bool exactlyOneNozzleOut(const uint8_t ioBits[kIoBitsBytes]);

// "SIP set address" at the board at address: reads the meter address exchange and, when the
// meter of the nozzle taken out answers, writes it back so the meter takes its address.
enum class SipAddressResult {
  Done,
  ReadError,    // "Read error"
  MeterSilent,  // "Meter does not reply"
  WriteFailed,  // "Meter does not reply. Address changing failed"
};
SipAddressResult exchangeSipAddress(UTRKDevice& dev, uint8_t address);
// The words for a result (untranslated catalog key; empty for Done).
const char* sipAddressResultText(SipAddressResult r);

// The "Load" tab's counters: reads the channel records of nozzle 1 on both sides (a failed
// read leaves that side's copy as it was and shows nothing for it) and gives the text of
// the counters field: per side the mass and amount on a '$' board, the litres unless the
// extra settings say the counters carry none.
std::string readLoadCounters(BoardSession& s, SettingsState& st);
