// Fault soak bench: thousands of CRC-checked reads and writes against korvane-sim with
// dropped, corrupted and delayed replies and TCP connections cut mid-exchange; prints the
// counts as a table and exits 1 when any result is undefined, wrong or late.
// Usage: soak [--sim PATH] [--ops N] [--seconds S] [--drop P] [--corrupt P] [--sim-delay MS]
//             [--cut P] [--delay P] [--seed N]
#include <cstdlib>
#include <cstring>
#include <string>

#include "bench/bench_paths.h"
#include "bench/soak.h"

int main(int argc, char** argv) {
  soak::Config cfg;
  cfg.simPath = bench::besideSelf("korvane-sim");
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    const char* v = i + 1 < argc ? argv[i + 1] : nullptr;
    if (!v) {
      std::fprintf(stderr, "usage: see the head of bench/soak.cpp\n");
      return 2;
    }
    ++i;
    if (a == "--sim")
      cfg.simPath = v;
    else if (a == "--ops")
      cfg.operations = std::atoi(v);
    else if (a == "--seconds")
      cfg.seconds = static_cast<uint32_t>(std::atoi(v));
    else if (a == "--drop")
      cfg.drop = std::atof(v);
    else if (a == "--corrupt")
      cfg.corrupt = std::atof(v);
    else if (a == "--sim-delay")
      cfg.simDelayMs = std::atoi(v);
    else if (a == "--cut")
      cfg.cut = std::atof(v);
    else if (a == "--delay")
      cfg.delay = std::atof(v);
    else if (a == "--seed")
      cfg.seed = static_cast<uint32_t>(std::atoi(v));
    else {
      std::fprintf(stderr, "unknown option %s\n", a.c_str());
      return 2;
    }
  }
  const soak::Report rep = soak::run(cfg);
  soak::printTable(cfg, rep, stdout);
  return rep.ok() ? 0 : 1;
}
