// korvane-cli: the command table shared by the command files. Each cli/*.cpp file registers
// its commands with a static CliRegistrar; cli/main.cpp parses the global options, opens
// the port, and runs the command.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "session/service_session.h"
#include "util/operator.h"

struct CliOptions {
  std::string port;      // --port, default: the port of korvane_v3.ini
  uint32_t baud = 0;     // --baud, default: the preferences' baud rate
  uint8_t address = 1;   // --address
  std::string password;  // --password (admin password, answers the prompt)
  bool yes = false;      // --yes answers every No/Yes question with Yes
  bool trace = false;    // --trace: every frame to stderr as hex with a ms time stamp
};

struct CliContext {
  CliOptions opt;
  // The service session the window would use: the port (0 when the command needs none),
  // the device handle at --address, the board session, the settings copies, the side
  // monitor and the preferences.
  ServiceSession* svc = nullptr;
  Operator* op = nullptr;
};

// Exit status of a command: 0 success, 1 the operation failed (reason on stderr), 2 bad usage.
constexpr int kCliOk = 0;
constexpr int kCliFailed = 1;
constexpr int kCliUsage = 2;

using CliCommandFn = int (*)(CliContext& ctx, const std::vector<std::string>& args);

struct CliCommand {
  const char* name;
  const char* usage;  // one line for --help, e.g. "read BANK ADDR COUNT [--check 0|1|2]"
  CliCommandFn fn;
  bool needsPort;                 // false: runs without opening the bus (e.g. offline checks)
  const char* summary = nullptr;  // what the command does, for --help and the manual page
};

void cliRegister(const CliCommand& cmd);
const std::vector<CliCommand>& cliCommands();

struct CliRegistrar {
  explicit CliRegistrar(const CliCommand& cmd) { cliRegister(cmd); }
};

// Parses a decimal or 0x-hex number; false when the text is not one or exceeds max.
bool cliParseNumber(const std::string& text, uint64_t max, uint64_t* out);
