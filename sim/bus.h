// The simulated service bus: every board sees every byte the tool sends, the addressed board
// answers, and the bus applies the fault injection (drop, corrupt, delay, silent addresses)
// to the answers before the transport sends them.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "sim/board.h"

namespace sim {

struct FaultConfig {
  double dropProbability = 0.0;
  double corruptProbability = 0.0;
  uint32_t delayMs = 0;
  std::vector<uint8_t> silentAddresses;
};

// Marks a line-rate change back to the rate the simulator was started with.
constexpr uint32_t kRestoreLineBaud = 0xFFFFFFFFu;

// Bytes to send once the time has come, and a line-rate change to make after them.
struct Outgoing {
  std::vector<uint8_t> bytes;
  uint64_t dueMs = 0;
  uint32_t baudAfter = 0;  // 0: no change
};

class Bus {
 public:
  // Frames sent to address 240 are answered by the first board in the list.
  Bus(const std::vector<BoardConfig>& boards, const FaultConfig& faults, uint32_t seed);

  // Feeds bytes received from the tool; what the boards answer is appended to out.
  void feed(const uint8_t* data, size_t n, uint64_t nowMs, std::vector<Outgoing>* out);
  // Lets deliveries run on while the line is quiet.
  void advance(uint64_t nowMs);
  // Forgets partly received frames (a new connection starts clean).
  void resetParsers();

  size_t size() const { return boards_.size(); }
  Board& board(size_t i) { return *boards_[i]; }

  // Traffic log (one line a frame) and the end of a firmware update.
  std::function<void(const std::string&)> log;
  std::function<void(const Board&)> onImageFinished;

 private:
  void shareAddresses();
  std::vector<std::unique_ptr<Board>> boards_;
  FaultConfig faults_;
  std::mt19937 rng_;
};

// "60 01 21 BA" (long frames are cut after 32 bytes with the full length added).
std::string hexLine(const std::vector<uint8_t>& bytes);

}  // namespace sim
