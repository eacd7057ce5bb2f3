// The simulated service bus: hands every byte to every board, collects the one answer and
// applies the fault injection to it.
#include "sim/bus.h"

#include <algorithm>
#include <cstdio>

namespace sim {

namespace {
constexpr size_t kLogBytesShown = 32;
}

std::string hexLine(const std::vector<uint8_t>& bytes) {
  std::string s;
  char b[24];
  for (size_t i = 0; i < bytes.size() && i < kLogBytesShown; ++i) {
    std::snprintf(b, sizeof b, i ? " %02X" : "%02X", bytes[i]);
    s += b;
  }
  if (bytes.size() > kLogBytesShown) {
    std::snprintf(b, sizeof b, "%zu", bytes.size());
    s += std::string(" ... (") + b + " bytes)";
  }
  return s;
}

Bus::Bus(const std::vector<BoardConfig>& boards, const FaultConfig& faults, uint32_t seed)
    : faults_(faults), rng_(seed) {
  for (const auto& c : boards) boards_.push_back(std::make_unique<Board>(c));
  shareAddresses();
}

// Each board learns the addresses of the others, so its side B address never takes one.
void Bus::shareAddresses() {
  for (size_t i = 0; i < boards_.size(); ++i) {
    std::vector<uint8_t> others;
    for (size_t k = 0; k < boards_.size(); ++k)
      if (k != i) others.push_back(boards_[k]->address());
    boards_[i]->setForeignAddresses(others);
  }
}

void Bus::resetParsers() {
  for (auto& b : boards_) b->resetParser();
}

void Bus::advance(uint64_t nowMs) {
  for (auto& b : boards_) b->advance(nowMs);
}

void Bus::feed(const uint8_t* data, size_t n, uint64_t nowMs, std::vector<Outgoing>* out) {
  std::uniform_real_distribution<double> chance(0.0, 1.0);
  for (size_t i = 0; i < n; ++i) {
    for (size_t bi = 0; bi < boards_.size(); ++bi) {
      FrameEvent ev;
      if (!boards_[bi]->feed(data[i], nowMs, bi == 0, &ev)) continue;
      // Every board splits the stream the same way; the first one reports the frame.
      if (bi == 0 && log)
        log(std::string(ev.badChecksum ? "rx (bad checksum) " : "rx ") + hexLine(ev.frame));
      if (ev.imageFinished && onImageFinished) onImageFinished(*boards_[bi]);
      if (!ev.forUs) continue;
      shareAddresses();  // a set-address or restart may have moved the board
      const uint8_t addr = ev.frame[1] == kAnyBoardAddress ? boards_[bi]->address() : ev.frame[1];
      const bool silent = std::find(faults_.silentAddresses.begin(), faults_.silentAddresses.end(),
                                    addr) != faults_.silentAddresses.end();
      if (silent) {
        if (log && !ev.reply.empty()) log("tx (silent address) " + hexLine(ev.reply));
        continue;
      }
      if (ev.reply.empty() && ev.newBaud == 0) continue;
      const BoardConfig& own = boards_[bi]->config();
      const double drop = own.dropProbability >= 0 ? own.dropProbability : faults_.dropProbability;
      const double corrupt =
          own.corruptProbability >= 0 ? own.corruptProbability : faults_.corruptProbability;
      if (!ev.reply.empty() && drop > 0 && chance(rng_) < drop) {
        if (log) log("tx (dropped) " + hexLine(ev.reply));
        continue;
      }
      bool corrupted = false;
      if (!ev.reply.empty() && corrupt > 0 && chance(rng_) < corrupt) {
        // One byte changed by a non-zero mask, always one the reply's check covers: a block
        // read's last byte follows its check and the tool ignores it, so it is never chosen.
        const bool blockRead = ev.frame.size() > 2 && (ev.frame[2] & 0xF8) == 0x48;
        const size_t last = ev.reply.size() - ((blockRead && ev.reply.size() > 1) ? 2 : 1);
        std::uniform_int_distribution<size_t> pos(0, last);
        std::uniform_int_distribution<int> mask(1, 255);
        ev.reply[pos(rng_)] ^= static_cast<uint8_t>(mask(rng_));
        corrupted = true;
      }
      if (log && !ev.reply.empty())
        log(std::string(corrupted ? "tx (corrupted) " : "tx ") + hexLine(ev.reply));
      Outgoing o;
      o.bytes = std::move(ev.reply);
      o.dueMs = nowMs + faults_.delayMs;
      o.baudAfter = ev.newBaud;
      out->push_back(std::move(o));
    }
  }
}

}  // namespace sim
