// korvane-sim: simulated controller boards on a simulated service bus, for training, demos,
// work without hardware and the integration tests. Parses the options, builds the bus,
// and runs the single-threaded event loop until it is asked to stop (SIGINT or SIGTERM;
// on Windows Ctrl+C or its stop event).
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <deque>
#include <string>
#include <vector>

#include "sim/bus.h"
#include "sim/line.h"
#include "sim/platform.h"
#include "sim/transport.h"
#include "util/version.h"

namespace {

const char* const kHelp =
    "Usage: korvane-sim [OPTIONS]\n"
    "Simulated fuel-dispenser controller boards on a service bus, for training,\n"
    "demonstrations, work without hardware and tests: korvane_v3 and korvane-cli reach\n"
    "them through TCP or a pseudo-terminal as they reach real boards. Runs until\n"
    "interrupted (SIGINT or SIGTERM).\n"
    "\n"
    "Reaching the bus (exactly one):\n"
    "  --listen HOST:PORT    accept TCP connections (the tool opens TCPC_HOST:PORT). Port 0 picks\n"
    "                        a free port. Successive connections are accepted; the newest one\n"
    "                        carries the bus and an older one is closed. Every peer that\n"
    "                        connects or leaves is named on standard output (\"Peer\n"
    "                        a.b.c.d:port connected\", \"... left\"). HOST 0.0.0.0 listens on\n"
    "                        every local address.\n"
    "  --connect HOST:PORT   connect to the tool's TCP server (TCPS_PORT), retrying every 200 ms\n"
    "                        until it answers and again whenever the link drops. Connecting\n"
    "                        never blocks; an attempt not answered within 3 s is made again.\n"
    "  --pty PATH            create a pseudo-terminal and link its slave at PATH; the tool opens\n"
    "                        PATH as a serial port. An existing symbolic link at PATH is "
    "replaced.\n"
    "\n"
    "Boards:\n"
    "  --board ADDR[:KIND]   add a board at bus address ADDR (1..239, decimal or 0x-hex); KIND is\n"
    "                        '#' (volume meters, default) or '$' (mass meters). Repeatable.\n"
    "                        Without it there is one board 1:#. Frames to address 240 are\n"
    "                        answered by the first board given.\n"
    "  --text TEXT           text identifier (UTF-8, stored in code page 866). Given after a\n"
    "                        --board it applies to that board, otherwise to every board without\n"
    "                        its own. Default \"TRK controller v3.1\". A text containing\n"
    "                        \"boot load\" starts the board in its boot loader.\n"
    "  --admin-password N    admin password 0..9999 (default: none set, every entry accepted)\n"
    "  --calib-password N    calibration password 0..9999 (default: none set)\n"
    "  --key-off             configuration key off: settings writes are refused (status 0xFF)\n"
    "                        and the last-error query reports 'X'\n"
    "  --flow LPM            flow of a delivery in litres a minute (default 30)\n"
    "  --cpu PART/FLASHK/PAGE/FLAGS  boot loader CPU information, e.g. 103/128/2048/0x80\n"
    "                        (default); PAGE in bytes, a multiple of 1024; FLAGS bit 7 = can\n"
    "                        raise the baud rate, bit 6 = low-power family\n"
    "  --image-out PATH      write the firmware image received by the boot loader to PATH when\n"
    "                        the update finishes (boot loader left) and at exit\n"
    "\n"
    "Faults and line:\n"
    "  --drop P              drop a reply with probability P (0..1)\n"
    "  --corrupt P           change one byte of a reply with probability P (0..1): a byte the\n"
    "                        reply's checksum or CRC covers, so the check fails (text and\n"
    "                        status replies carry no check: the tool sees other text or status)\n"
    "                        Given after a --board, --drop and --corrupt apply to that board's\n"
    "                        replies alone; otherwise to every board without its own.\n"
    "  --delay-ms N          send every reply N ms late\n"
    "  --silent ADDR         never answer at ADDR (repeatable)\n"
    "  --baud N              pace the line at N baud (10 bits a byte) both ways: a frame from\n"
    "                        the tool reaches the boards once its last byte would have arrived,\n"
    "                        and the answer leaves at once after it, byte by byte at line rate.\n"
    "                        The board follows the set-baud command (0x30) and the boot\n"
    "                        loader's baud change (0xF5) and returns to N when it leaves the\n"
    "                        boot loader. On --pty bytes that arrive while the tool's line\n"
    "                        rate differs from the board's are lost, as on a real line.\n"
    "  --seed N              seed of the fault random numbers (default 1)\n"
    "  --verbose             log each frame received and sent, with a time stamp, to stderr\n"
    "  -h, --help            print this help and exit\n"
    "  --version             print the version and exit\n"
    "\n"
    "Board behaviour where the tool leaves it open:\n"
    "  -  Frames are found by their start byte 0x60 and header checksum; a frame with a bad\n"
    "     checksum in any group is ignored (no answer). A frame whose bytes stop for 250 ms is\n"
    "     abandoned.\n"
    "  -  Identify answers [address, kind, 0x03, checksum]. Block reads end with the checksum of\n"
    "     everything before it. Writes of 0 or 1 byte are answered [status, checksum of status];\n"
    "     longer writes with one status byte: 0x00 done, 0xFF refused, 0xFE bad value.\n"
    "  -  Settings writes (the data space except the restart register; new passwords; clear)\n"
    "     need the key on and, when an admin password is set, a correct entry at service 0x02\n"
    "     since the last restart. A wrong entry gives last error '['; the third wrong entry\n"
    "     locks password entry (status word lock bits, last error '\\') until a restart.\n"
    "  -  Writing the restart register 0x88FFFF with 0x55 ends deliveries, logs the admin out and\n"
    "     moves the board to the side A address of its main settings. Set address (0x20) also\n"
    "     stores the new side A address.\n"
    "  -  With two sides and a side B address in the main settings (not owned by another board)\n"
    "     the board also answers there; fuelling at that address drives the side B nozzles.\n"
    "  -  Last-error reply (0xF0), 16 bytes: address, 0xF0, mode byte, password status (2),\n"
    "     wrong entries, key, code, zeros, checksum.\n"
    "  -  Fuelling: volume/amount presets are accepted when the nozzle is free or finished;\n"
    "     'Load start' (0x21) for 0.4 s, then 'Loading' (0x30) with growing quantity, then\n"
    "     'Finished' (0x40). Suspend gives 'PC suspend' (0x46), continue resumes, finish ends a\n"
    "     delivery and a second finish frees the nozzle. Command 0x13 sets nozzle flag bit 7.\n"
    "     Commands that do not fit the state get 0xFF; bad BCD or codes get 0xFE. Prices change\n"
    "     only while the nozzle does not deliver. Deliveries update the channel record totals.\n"
    "  -  Boot loader: 0xFA enters (0xFF while a delivery is pending), 0xF1 leaves. Block frames\n"
    "     with a bad checksum, or for a place beyond the flash, are not acknowledged. A gap in "
    "the\n"
    "     received blocks reads as 0xFF. A board started in its boot loader (text with\n"
    "     \"boot load\") answers \"TRK controller v3.1\" once it has left it. In the boot loader "
    "only\n"
    "     identify, text, last error and the boot commands are answered.\n"
    "  -  Diagnostic registers of the service space (\"Read diagnostics\"):\n"
    "       0x03        bits: 0x01 key on, 0x02 settings writes open (logged in or no admin\n"
    "                   password), 0x04 password entry locked, 0x08 a delivery in progress\n"
    "       0x22..0x27  restarts since start (low byte), wrong password entries, mode byte,\n"
    "                   display mode, nozzles delivering on side A, on side B (bit n-1 for n)\n"
    "       0x2B..0x2D  twelve 32-bit counters of side A (0x2B), side B (0x2C) and both\n"
    "                   (0x2D), columns A, B and AB: [0]..[4] deliveries finished at\n"
    "                   nozzles 1..5, [5] presets accepted, [6] suspends, [7] whole litres\n"
    "                   delivered, [8] prices set, [9] frames answered at the side's\n"
    "                   address, [10] frames there with a bad checksum, [11] fuelling and\n"
    "                   price commands refused. They count from the simulator's start and\n"
    "                   survive restarts.\n"
    "       0x34        1 byte: meters fitted (sides x nozzles of the main settings); 144\n"
    "                   bytes (\"SIP diag\"): twelve 12-character entries, \"A1 ok adr 01\" for\n"
    "                   each fitted meter, \"B3 absent   \" otherwise, then the pressure\n"
    "                   sensors of sides A and B (fitted on '$' boards)\n"
    "       0x35        5 bytes: meters fitted, sides, nozzles a side, nozzles delivering on\n"
    "                   A and B; 12 bytes (\"SIP set address\"): with exactly one nozzle\n"
    "                   delivering (taken out) 1, the address its meter is to take, the\n"
    "                   address it has, nine serial digits; otherwise zeros. Writing the 12\n"
    "                   bytes back gives that meter the address in byte 1 (0xFF when no\n"
    "                   single nozzle is out).\n";

uint64_t nowNs() {
  using namespace std::chrono;
  return static_cast<uint64_t>(
      duration_cast<nanoseconds>(steady_clock::now().time_since_epoch()).count());
}
uint64_t nowMs() { return nowNs() / 1000000ull; }

// long long: a long has only 32 bits on Windows, too few for a 32-bit unsigned --seed.
bool parseNumber(const char* s, long long lo, long long hi, long long* out) {
  if (!s || !*s) return false;
  char* end = nullptr;
  errno = 0;
  const long long v = std::strtoll(s, &end, 0);
  if (errno != 0 || *end != '\0' || v < lo || v > hi) return false;
  *out = v;
  return true;
}

bool parseProbability(const char* s, double* out) {
  if (!s || !*s) return false;
  char* end = nullptr;
  const double v = std::strtod(s, &end);
  if (*end != '\0' || !(v >= 0.0 && v <= 1.0)) return false;
  *out = v;
  return true;
}

// A line on standard output about the link ("connected to ...", "Peer ... left"). It is
// written only when the output can take it at once: a reader that stops reading loses these
// notes, but never holds up the boards.
void note(const std::string& text) {
  std::fflush(stdout);
  sim::writeNoteLine("korvane-sim: " + text + "\n");
}

int usageError(const std::string& msg) {
  std::fprintf(stderr, "korvane-sim: %s (see --help)\n", msg.c_str());
  return 2;
}

bool writeImage(const std::string& path, const std::vector<uint8_t>& image) {
  FILE* f = sim::openFile(path, "wb");
  if (!f) return false;
  const bool ok = std::fwrite(image.data(), 1, image.size(), f) == image.size();
  return std::fclose(f) == 0 && ok;
}

struct Options {
  std::vector<sim::BoardConfig> boards;
  std::vector<bool> ownText;
  std::string defaultText = "TRK controller v3.1";
  sim::FaultConfig faults;
  std::string listen, connect, pty, imageOut;
  uint32_t baud = 0;
  uint32_t seed = 1;
  bool verbose = false;
};

// Returns -1 to go on, otherwise the exit status.
int parseOptions(const std::vector<std::string>& argv, Options* o) {
  const int argc = static_cast<int>(argv.size());
  int adminPassword = -1, calibPassword = -1;
  bool keyOff = false;
  unsigned flow = 50;
  sim::CpuInfo cpu;
  auto need = [&](int& i) -> const char* { return i + 1 < argc ? argv[++i].c_str() : nullptr; };
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    long long v = 0;
    if (a == "--help" || a == "-h") {
      std::fputs(kHelp, stdout);
      return 0;
    } else if (a == "--version") {
      std::fputs(korvane_version_text("korvane-sim").c_str(), stdout);
      return 0;
    } else if (a == "--board") {
      const char* s = need(i);
      if (!s) return usageError("--board needs ADDR[:KIND]");
      std::string t = s;
      char kind = '#';
      const size_t colon = t.find(':');
      if (colon != std::string::npos) {
        const std::string k = t.substr(colon + 1);
        if (k != "#" && k != "$") return usageError("board kind must be '#' or '$'");
        kind = k[0];
        t = t.substr(0, colon);
      }
      if (!parseNumber(t.c_str(), 1, 239, &v)) return usageError("board address must be 1..239");
      for (const auto& b : o->boards)
        if (b.address == v) return usageError("two boards at address " + t);
      sim::BoardConfig c;
      c.address = static_cast<uint8_t>(v);
      c.kind = kind;
      o->boards.push_back(c);
      o->ownText.push_back(false);
    } else if (a == "--text") {
      const char* s = need(i);
      if (!s) return usageError("--text needs TEXT");
      std::string t = sim::utf8ToCp866(s);
      std::string clean;
      for (char ch : t)
        if (ch != '\0' && ch != 0x7F) clean += ch;  // either would end the text reply early
      if (o->boards.empty()) {
        o->defaultText = clean;
      } else {
        o->boards.back().textCp866 = clean;
        o->ownText.back() = true;
      }
    } else if (a == "--listen" || a == "--connect" || a == "--pty" || a == "--image-out") {
      const char* s = need(i);
      if (!s || !*s) return usageError(a + " needs a value");
      (a == "--listen"    ? o->listen
       : a == "--connect" ? o->connect
       : a == "--pty"     ? o->pty
                          : o->imageOut) = s;
    } else if (a == "--admin-password" || a == "--calib-password") {
      if (!parseNumber(need(i), 0, 9999, &v)) return usageError(a + " must be 0..9999");
      (a == "--admin-password" ? adminPassword : calibPassword) = static_cast<int>(v);
    } else if (a == "--key-off") {
      keyOff = true;
    } else if (a == "--drop" || a == "--corrupt") {
      double p;
      if (!parseProbability(need(i), &p)) return usageError(a + " needs a probability 0..1");
      // Given after a --board, the fault is that board's alone (as --text is).
      if (o->boards.empty())
        (a == "--drop" ? o->faults.dropProbability : o->faults.corruptProbability) = p;
      else
        (a == "--drop" ? o->boards.back().dropProbability : o->boards.back().corruptProbability) =
            p;
    } else if (a == "--delay-ms") {
      if (!parseNumber(need(i), 0, 600000, &v)) return usageError("--delay-ms needs 0..600000");
      o->faults.delayMs = static_cast<uint32_t>(v);
    } else if (a == "--silent") {
      if (!parseNumber(need(i), 1, 240, &v)) return usageError("--silent needs an address 1..240");
      o->faults.silentAddresses.push_back(static_cast<uint8_t>(v));
    } else if (a == "--baud") {
      if (!parseNumber(need(i), 50, 4000000, &v)) return usageError("--baud needs 50..4000000");
      o->baud = static_cast<uint32_t>(v);
    } else if (a == "--seed") {
      if (!parseNumber(need(i), 0, 0xFFFFFFFFLL, &v)) return usageError("--seed needs a number");
      o->seed = static_cast<uint32_t>(v);
    } else if (a == "--flow") {
      if (!parseNumber(need(i), 1, 600, &v))
        return usageError("--flow needs 1..600 litres a minute");
      flow = static_cast<unsigned>(v * 100 / 60);
    } else if (a == "--cpu") {
      const char* s = need(i);
      long long part, flash, page, flags;
      char extra;
      char p1[16], p2[16], p3[16], p4[16];
      if (!s || std::sscanf(s, "%15[^/]/%15[^/]/%15[^/]/%15s%c", p1, p2, p3, p4, &extra) != 4 ||
          !parseNumber(p1, 0, 999, &part) || part % 100 > 15 ||
          !parseNumber(p2, 16, 4080, &flash) || !parseNumber(p3, 0, 255 * 1024, &page) ||
          page % 1024 != 0 || !parseNumber(p4, 0, 255, &flags))
        return usageError("--cpu needs PART/FLASHK/PAGE/FLAGS, e.g. 103/128/2048/0x80");
      cpu.part = static_cast<unsigned>(part);
      cpu.flashKb = static_cast<unsigned>(flash);
      cpu.pageBytes = static_cast<unsigned>(page);
      cpu.flags = static_cast<uint8_t>(flags);
    } else if (a == "--verbose" || a == "-v") {
      o->verbose = true;
    } else {
      return usageError("unknown option " + a);
    }
  }
  const int transports = !o->listen.empty() + !o->connect.empty() + !o->pty.empty();
  if (transports != 1) return usageError("give exactly one of --listen, --connect, --pty");
  if (!o->pty.empty() && sim::ptyUnavailableReason())
    return usageError(std::string("--pty: ") + sim::ptyUnavailableReason());
  if (o->boards.empty()) {
    o->boards.emplace_back();
    o->ownText.push_back(false);
  }
  for (size_t k = 0; k < o->boards.size(); ++k) {
    auto& b = o->boards[k];
    if (!o->ownText[k]) b.textCp866 = o->defaultText;
    b.adminPassword = adminPassword;
    b.calibrationPassword = calibPassword;
    b.keyOn = !keyOff;
    b.flowHundredthsPerSecond = flow;
    b.cpu = cpu;
  }
  return -1;
}

}  // namespace

int main(int argc, char** argv) {
  Options opt;
  const int early = parseOptions(sim::utf8Arguments(argc, argv), &opt);
  if (early >= 0) return early;

  std::unique_ptr<sim::Transport> transport;
  std::string host;
  int port = 0;
  if (!opt.pty.empty()) {
    transport = sim::makePtyTransport(opt.pty);
  } else {
    const std::string& hp = opt.listen.empty() ? opt.connect : opt.listen;
    if (!sim::splitHostPort(hp, &host, &port)) return usageError("expected HOST:PORT, got " + hp);
    transport = opt.listen.empty() ? sim::makeConnectTransport(host, port)
                                   : sim::makeListenTransport(host, port);
  }

  sim::setUpProcess();

  sim::Bus bus(opt.boards, opt.faults, opt.seed);
  auto logLine = [&](const std::string& line) {
    if (opt.verbose) std::fprintf(stderr, "%s %s\n", sim::timeStamp().c_str(), line.c_str());
  };
  bus.log = logLine;
  bus.onImageFinished = [&](const sim::Board& b) {
    if (opt.imageOut.empty()) return;
    const auto img = b.image();
    if (writeImage(opt.imageOut, img))
      logLine("image of " + std::to_string(img.size()) + " bytes written to " + opt.imageOut);
    else
      std::fprintf(stderr, "korvane-sim: cannot write %s\n", opt.imageOut.c_str());
  };
  sim::Line line(bus, opt.baud);
  line.log = logLine;

  std::string ready, err;
  if (!transport->open(&ready, &err)) {
    std::fprintf(stderr, "korvane-sim: %s\n", err.c_str());
    return 1;
  }
  std::printf("korvane-sim: %s\n", ready.c_str());
  std::fflush(stdout);

  uint8_t buf[4096];
  std::vector<uint8_t> out;
  while (!sim::stopRequested()) {
    // Sleep exactly until the next byte is due on the line or the transport wants service.
    uint64_t dueNs = line.nextDueNs();
    const uint64_t serviceMs = transport->serviceDueMs();
    if (serviceMs != sim::kNoServiceDueMs)
      dueNs = std::min<uint64_t>(dueNs, serviceMs * 1000000ull);
    sim::WaitHandle handles[2];
    int count = 0;
    bool serviceForWrite = false;
    const intptr_t service = transport->serviceHandle(&serviceForWrite);
    int serviceSlot = -1;
    if (service >= 0) {
      serviceSlot = count;
      handles[count++] = {service, serviceForWrite, false};
    }
    const intptr_t stream = transport->streamHandle();
    if (stream >= 0) handles[count++] = {stream, false, false};
    sim::waitForEvents(handles, count, dueNs);
    if (sim::stopRequested()) break;

    const bool serviceReady = serviceSlot >= 0 && handles[serviceSlot].ready;
    if (serviceReady || (serviceMs != sim::kNoServiceDueMs && nowMs() >= serviceMs)) {
      std::string note;
      if (transport->service(nowMs(), &note)) {
        // Connections made and peers that come and go are told on standard output, one a line.
        for (size_t at = 0; at <= note.size();) {
          size_t end = note.find('\n', at);
          if (end == std::string::npos) end = note.size();
          const std::string one = note.substr(at, end - at);
          logLine(one);
          if (!one.empty()) ::note(one);
          at = end + 1;
        }
        line.reset();
      }
    }

    for (;;) {
      const long n = transport->readSome(buf, sizeof buf);
      if (n < 0) {
        const std::string peer = transport->peerName();
        logLine("connection closed");
        if (!peer.empty()) ::note("Peer " + peer + " left");
        transport->closeStream();
        line.reset();
        break;
      }
      if (n == 0) break;
      // On a terminal, bytes sent at another rate than the board listens at are lost.
      const uint32_t peer = transport->peerBaud();
      if (opt.baud != 0 && peer != 0 && peer != line.baud()) {
        logLine("rx lost: line at " + std::to_string(peer) + " baud, board at " +
                std::to_string(line.baud()));
        continue;
      }
      line.receive(buf, static_cast<size_t>(n), nowNs());
    }

    out.clear();
    line.run(nowNs(), &out);
    if (!out.empty() && transport->streamHandle() >= 0) transport->writeAll(out.data(), out.size());
    bus.advance(nowMs());
  }

  if (!opt.imageOut.empty()) {
    for (size_t i = 0; i < bus.size(); ++i) {
      const auto img = bus.board(i).image();
      if (!img.empty()) {
        writeImage(opt.imageOut, img);
        break;
      }
    }
  }
  return 0;
}
