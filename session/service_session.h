// The service session that both front ends drive: the open port, the one device handle, the
// preferences, the board session, the settings copies and the side monitor, and the
// engineer's operations on them that the window and the command line share. No FLTK here: a
// window callback or a command is a thin call onto it.
#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include "firmware/boot_update.h"
#include "protocol/board_session.h"
#include "protocol/side_monitor.h"
#include "protocol/utrk_device.h"
#include "settings/preferences.h"
#include "settings/settings_state.h"
#include "util/operator.h"

// What opening a port came to.
enum class PortOpenResult {
  Opened,
  CannotOpen,   // the port did not open ("Cannot open serial port")
  LineRefused,  // it opened, but refused the line settings, and was closed again
};
struct PortOpenOutcome {
  PortOpenResult result = PortOpenResult::Opened;
  int code = 0;      // what the port table answered when the port did not open
  std::string text;  // why, in the engineer's words; empty when opened
  bool ok() const { return result == PortOpenResult::Opened; }
};

struct ServiceSession {
  // Handle of the open port in the port table; 0 while no port is open.
  uint16_t port = 0;
  // The rate the open port's line was set to.
  uint32_t lineBaud = 0;
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

  // Set while an action has the bus to itself: a scan, an update, a long sequence. A front
  // end takes no other action meanwhile.
  bool busy = false;

  uint8_t pumpAddress() const { return session.pumpAddress; }
  bool bootMode() const { return session.bootMode; }

  // Binds the device handle (to no port yet), the board session and the side monitor to
  // each other and to op. The first call of every front end.
  void attach(Operator* op);

  // Opens the port called name, sets its line to baud with the framing of the preferences
  // and points the handle at it. With waitForLink a TCP port's link is awaited too (the
  // command line does; the window stays live and lets the link come while it runs). A port
  // that refuses the line is closed again: the outcome says why.
  PortOpenOutcome openPort(const std::string& name, uint32_t baud, bool waitForLink);
  // Closes the open port; the handle then points at no port.
  void closePort();
  // Keeps the port, its rate and the maximum rate of a firmware update in the preferences
  // file for the next start; false with the reason in *why when the file cannot be written.
  bool rememberPort(const std::string& name, int baud, int maxBaud, std::string* why);

  // Identifies the board at address (the broadcast address finds the one board on the bus
  // and moves the banner to it) and, when refresh is set and the board is not in its boot
  // loader, reads its service values and main settings. 1 when the board answered.
  int identifyAndRefresh(uint8_t address, bool refresh = true);
  // From now on the tool serves the board at address: the banner moves there and, for
  // another board than the one served, everything known of that one is forgotten (its
  // settings copies and its admin password too: they must not reach the new board).
  void serveBoardAt(uint8_t address);

  // Reads the side addresses and side count of the board served, the "Load" tab's view of
  // its main settings, into the main settings copy (one read with CRC, no log-in). A failed
  // read leaves the copy as it was. Result code.
  int readSideAddresses();
  // Aims the side monitor at the sides the main settings copy names, with the served
  // board's kind. A side A without an address in the copy is sideAWhenUnset (0: none).
  void aimSideMonitor(uint8_t sideAWhenUnset = 0);

  // Takes the bus for an action: false while another action has it. A running side monitor
  // is brought to a pause between two exchanges; unless keepMonitorArmed, its next step is
  // dropped too, so that nothing of it goes out during the action.
  bool claimBus(bool keepMonitorArmed);

  // Replaces the firmware of the board at address (with BootTarget::BootLoaderAddress, of a
  // board waiting in its boot loader) by the image file. The line is raised up to maxBaud
  // when the board can take it, and is put back to the rate and framing it was opened with.
  // Questions and progress go to engineer (a front end may wrap the session's operator).
  FirmwareOutcome updateBoardFirmware(const std::string& imagePath, BootTarget target,
                                      uint8_t address, uint32_t maxBaud, Operator& engineer);
  // "Leave bootloader" for the board at address: the handshake result.
  int leaveBootLoader(uint8_t address);

  // The file filter of the firmware images for the board served (by its kind).
  const char* firmwareFilter() const;
  // Asks the board at address what device it is, for an update aimed at it: its device
  // kind in *deviceKind and its text identifier logged. The handle keeps its address.
  // Result of the identification (1: it answered).
  int queryUpdateTarget(uint8_t address, int* deviceKind);
};

// Marks the session busy for as long as it lives.
class SessionBusy {
 public:
  explicit SessionBusy(ServiceSession& s) : s_(s) { s_.busy = true; }
  ~SessionBusy() { s_.busy = false; }
  SessionBusy(const SessionBusy&) = delete;
  SessionBusy& operator=(const SessionBusy&) = delete;

 private:
  ServiceSession& s_;
};

// The file filter of the firmware images of a device kind as identification reports it,
// or nullptr for a device the tool cannot update.
const char* deviceFirmwareFilter(int deviceKind);

// Why a port did not open, in the tool's words (translated): "Cannot open port "NAME": ...",
// and, when a serial device refused for lack of permission, a second line saying how to get
// it on this system (the device's group, read from the device, and the command that adds the
// user to it).
std::string portOpenFailureText(const char* name, int result);

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
