// korvane-cli: the headless front end. Parses the global options, opens the bus port from the
// preferences or --port through the service session the window uses too, and runs one
// command from the table that the cli/cmd_*.cpp files register.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "cli/console.h"
#include "link/port.h"
#include "link/tick.h"
#include "session/service_session.h"
#include "settings/preferences.h"
#include "util/catalog.h"
#include "util/files.h"
#include "util/text.h"
#include "util/version.h"

namespace {

std::vector<CliCommand>& commandTable() {
  static std::vector<CliCommand> table;
  return table;
}

// The engineer at a terminal, or a script: the log goes to standard output, messages to
// standard error, questions are answered by --yes/--password or read from a terminal.
class CliOperator : public Operator {
 public:
  explicit CliOperator(const CliOptions& opt) : opt_(opt), interactive_(consoleInputIsTerminal()) {}

  void alert(const std::string& text) override { std::fprintf(stderr, "%s\n", text.c_str()); }

  bool confirm(const std::string& question) override {
    if (opt_.yes) return true;
    if (!interactive_) return false;
    std::fprintf(stderr, "%s [y/N] ", question.c_str());
    std::string line;
    if (!readLine(&line, true)) return false;
    return !line.empty() && (line[0] == 'y' || line[0] == 'Y');
  }

  bool askText(const std::string& prompt, const std::string& initial,
               std::string* answer) override {
    if (isPasswordPrompt(prompt) && !opt_.password.empty()) {
      *answer = opt_.password;
      return true;
    }
    if (!interactive_) return false;
    if (initial.empty())
      std::fprintf(stderr, "%s: ", prompt.c_str());
    else
      std::fprintf(stderr, "%s [%s]: ", prompt.c_str(), initial.c_str());
    if (!readLine(answer, true)) return false;
    if (answer->empty()) *answer = initial;
    return true;
  }

  bool askPassword(const std::string& prompt, std::string* answer) override {
    if (!opt_.password.empty()) {
      *answer = opt_.password;
      return true;
    }
    if (!interactive_) return false;
    std::fprintf(stderr, "%s: ", prompt.c_str());
    return readLine(answer, false);
  }

  // Files are always named on the command line.
  bool chooseFile(const std::string&, const std::string&, bool, std::string*) override {
    return false;
  }

  void logLine(const std::string& line) override {
    std::fprintf(stdout, "%s\n", line.c_str());
    std::fflush(stdout);
    atLineStart_ = true;
  }
  void logAppend(const std::string& text) override {
    std::fputs(text.c_str(), stdout);
    std::fflush(stdout);
    atLineStart_ = !text.empty() && text.back() == '\n';
  }
  // A terminal can step back over the tail; a pipe gets the new text on a line of its own.
  void logReplaceTail(size_t count, const std::string& text) override {
    if (consoleOutputIsTerminal()) {
      std::string back(count, '\b');
      std::fputs(back.c_str(), stdout);
    } else if (!atLineStart_) {
      std::fputc('\n', stdout);
    }
    logAppend(text);
  }
  void clearLog() override {}

 private:
  static bool isPasswordPrompt(const std::string& prompt) {
    return prompt == tr("Please enter admin password") || prompt == tr("Please enter OLD password");
  }

  static bool readLine(std::string* out, bool echo) { return consoleReadLine(out, echo); }

  const CliOptions& opt_;
  bool interactive_;
  bool atLineStart_ = true;
};

// Text filled into lines of at most 80 columns, each indented by 24.
void printIndented(FILE* f, const char* text) {
  constexpr size_t kIndent = 24, kWidth = 80;
  std::string line;
  const std::string words = text;
  size_t at = 0;
  while (at < words.size()) {
    size_t end = words.find(' ', at);
    if (end == std::string::npos) end = words.size();
    const std::string word = words.substr(at, end - at);
    if (!line.empty() && kIndent + line.size() + 1 + word.size() > kWidth) {
      std::fprintf(f, "%*s%s\n", static_cast<int>(kIndent), "", line.c_str());
      line.clear();
    }
    if (!word.empty()) line += (line.empty() ? "" : " ") + word;
    at = end + 1;
  }
  if (!line.empty()) std::fprintf(f, "%*s%s\n", static_cast<int>(kIndent), "", line.c_str());
}

void printUsage(FILE* f) {
  std::fprintf(f,
               "Usage: korvane-cli [OPTION]... COMMAND [ARG]...\n"
               "  or:  korvane-cli --help | --version\n"
               "Command-line service tool for the controller boards of fuel dispensers: runs one\n"
               "command against one board on the RS-485 service bus (through a serial adapter, a\n"
               "TCP gateway or korvane-sim), with the same core as the korvane_v3 program, for\n"
               "batch work and scripted checks. The log goes to standard output, messages and\n"
               "--trace to standard error.\n"
               "\n"
               "Options (before or after the command):\n"
               "  --port NAME    serial device, TCPC_<ipv4>:<port>, TCPS_<port> (every local\n"
               "                 address), TCPS_<ipv4>:<port> (that local address only) or STUB\n"
               "                 (default: the port of %s)\n"
               "  --baud N       line speed (default: from %s)\n"
               "  --address A    bus address of the board, decimal or 0x-hex (default 1)\n"
               "  --password P   admin password for protected writes\n"
               "  --yes          answer every question with Yes\n"
               "  --trace        every frame sent and received to standard error\n"
               "  -h, --help     print this help and exit\n"
               "  --version      print the version and exit\n"
               "\n"
               "Commands:\n",
               kPreferencesFile, kPreferencesFile);
  // The usage line, then what the command does indented below it (help2man makes each
  // pair an entry of the manual page). A note that a usage carries after three spaces or on
  // a line of its own ("display-mode N   (0 standard, ...)") goes with the description.
  for (const CliCommand& c : cliCommands()) {
    std::string syntax = c.usage, note;
    size_t cut = std::min(syntax.find("   "), syntax.find('\n'));
    if (cut != std::string::npos) {
      note = syntax.substr(cut);
      syntax.erase(cut);
      for (char& ch : note)
        if (ch == '\n') ch = ' ';
      note.erase(0, note.find_first_not_of(' '));
    }
    std::fprintf(f, "  %s\n", syntax.c_str());
    std::string text = c.summary ? c.summary : "";
    if (!note.empty()) text += (text.empty() ? "" : (note[0] == '(' ? " " : "; ")) + note;
    if (!text.empty()) printIndented(f, text.c_str());
  }
  std::fprintf(f,
               "\n"
               "Files:\n"
               "  %-22s the port and its line settings, in the working folder\n"
               "                         (as korvane_v3 keeps them)\n"
               "  ru/korvane_v3.mo       the Russian catalog, in the working folder\n"
               "\n"
               "Exit status: 0 success, 1 the operation failed, 2 bad usage.\n",
               kPreferencesFile);
}

int usageError(const std::string& why) {
  std::fprintf(stderr, "korvane-cli: %s\n", why.c_str());
  std::fprintf(stderr, "try 'korvane-cli --help'\n");
  return kCliUsage;
}

uint32_t g_traceStartMs = 0;

void traceFrame(uint16_t, bool sent, const uint8_t* data, size_t n) {
  std::string line = strprintf("%8u ms %s", nowMs() - g_traceStartMs, sent ? ">>" : "<<");
  for (size_t i = 0; i < n; ++i) line += strprintf(" %02x", data[i]);
  std::fprintf(stderr, "%s\n", line.c_str());
}

const CliCommand* findCommand(const std::string& name) {
  for (const CliCommand& c : cliCommands())
    if (name == c.name) return &c;
  return nullptr;
}

}  // namespace

void cliRegister(const CliCommand& cmd) { commandTable().push_back(cmd); }

const std::vector<CliCommand>& cliCommands() { return commandTable(); }

bool cliParseNumber(const std::string& text, uint64_t max, uint64_t* out) {
  return parseNumberText(text, max, out);
}

int main(int argc, char** argv) {
  consoleSetUp();
  const std::vector<std::string> args = programArguments(argc, argv);
  CliOptions opt;
  bool portGiven = false;
  std::string commandName;
  std::vector<std::string> commandArgs;
  std::string baudText, addressText;

  // Global options may stand before or after the command; anything else after the command
  // name belongs to the command.
  const int count = static_cast<int>(args.size());
  for (int i = 1; i < count; ++i) {
    const std::string& a = args[i];
    auto value = [&](std::string* dst) {
      if (i + 1 >= count) return false;
      *dst = args[++i];
      return true;
    };
    if (a == "--help" || a == "-h") {
      printUsage(stdout);
      return kCliOk;
    } else if (a == "--version") {
      std::fputs(korvane_version_text("korvane-cli").c_str(), stdout);
      return kCliOk;
    } else if (a == "--port") {
      if (!value(&opt.port)) return usageError("--port needs a name");
      portGiven = true;
    } else if (a == "--baud") {
      if (!value(&baudText)) return usageError("--baud needs a number");
    } else if (a == "--address") {
      if (!value(&addressText)) return usageError("--address needs a number");
    } else if (a == "--password") {
      if (!value(&opt.password)) return usageError("--password needs a value");
    } else if (a == "--yes") {
      opt.yes = true;
    } else if (a == "--trace") {
      opt.trace = true;
    } else if (commandName.empty()) {
      if (a.rfind("--", 0) == 0) return usageError("unknown option " + a);
      commandName = a;
    } else {
      commandArgs.push_back(a);
    }
  }
  if (commandName.empty()) return usageError("no command given");
  const CliCommand* cmd = findCommand(commandName);
  if (!cmd) return usageError("unknown command " + commandName);

  uint64_t n = 0;
  if (!addressText.empty()) {
    if (!cliParseNumber(addressText, 0xFF, &n)) return usageError("bad --address " + addressText);
    opt.address = static_cast<uint8_t>(n);
  }
  if (!baudText.empty()) {
    if (!cliParseNumber(baudText, 4000000, &n) || n == 0)
      return usageError("bad --baud " + baudText);
    opt.baud = static_cast<uint32_t>(n);
  }

  // The same words as the GUI: the catalog is used when the working folder has one.
  catalog_load("korvane_v3.mo", "ru");

  ServiceSession svc;
  loadPreferences(&svc.prefs);
  if (!portGiven) opt.port = svc.prefs.portName;
  if (opt.baud == 0) opt.baud = svc.prefs.baud > 0 ? static_cast<uint32_t>(svc.prefs.baud) : 4800;

  tickStart();
  portTableInit();
  g_traceStartMs = nowMs();
  if (opt.trace) portSetTrace(traceFrame);
  // Whoever joins or leaves a listening port is named, as the window's log does.
  portSetPeerHook([](uint16_t, const char* peer, bool connected) {
    std::fprintf(stderr, "korvane-cli: %s\n",
                 strprintf(tr(connected ? "Peer %s connected" : "Peer %s left"), peer).c_str());
  });

  CliOperator op(opt);
  svc.session.pumpAddress = opt.address;
  svc.attach(&op);
  CliContext ctx;
  ctx.opt = opt;
  ctx.op = &op;
  ctx.svc = &svc;

  if (cmd->needsPort) {
    // A command runs at once: a TCP link is awaited before the first request.
    const PortOpenOutcome opened = svc.openPort(opt.port, opt.baud, true);
    if (opened.result == PortOpenResult::CannotOpen) {
      std::fprintf(stderr, "%s: %s (%d)\n", tr("Cannot open serial port"), opt.port.c_str(),
                   opened.code);
      // Why, and for a device refused for lack of permission, how to get it here.
      std::fprintf(stderr, "%s\n", opened.text.c_str());
      return kCliFailed;
    }
    // A rate the line does not run at stops the command before anything is sent.
    if (!opened.ok()) {
      std::fprintf(stderr, "%s\n", opened.text.c_str());
      return kCliFailed;
    }
  }

  int status = cmd->fn(ctx, commandArgs);
  svc.closePort();
  std::fflush(stdout);
  return status;
}
