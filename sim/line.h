// The serial line between the tool and the simulated bus, paced at a baud rate both ways:
// a byte from the tool reaches the boards only once its stop bit would have arrived, and an
// answer leaves one byte per byte time after the frame it answers. The caller gives the time,
// so tests step it without sleeping.
#pragma once
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "sim/bus.h"

namespace sim {

constexpr uint32_t kBitsPerByte = 10;  // start bit, 8 data bits, stop bit
constexpr uint64_t kNeverNs = UINT64_MAX;

class Line {
 public:
  // baud 0: the line is not paced; bytes reach the boards as they are read and answers
  // leave at once (after any fault delay), and rate changes of the boards are only logged.
  Line(Bus& bus, uint32_t baud);

  // Bytes read from the tool at nowNs. On a paced line each takes one byte time after the
  // line is free, so a frame written at once still arrives at line rate.
  void receive(const uint8_t* data, size_t n, uint64_t nowNs);
  // Hands the boards every byte that has arrived by nowNs and appends to out every answer
  // byte whose stop bit has left by then (in order).
  void run(uint64_t nowNs, std::vector<uint8_t>* out);
  // When run() next has something to do; kNeverNs when both directions are idle.
  uint64_t nextDueNs() const;
  // Forgets what is on the line both ways and partly received frames (a new connection).
  void reset();

  // The rate the boards listen and answer at now (0 on an unpaced line).
  uint32_t baud() const { return baud_; }
  // The rate the simulator was started with.
  uint32_t startBaud() const { return startBaud_; }
  size_t bytesInFlight() const { return rx_.size(); }

  std::function<void(const std::string&)> log;

 private:
  struct RxByte {
    uint8_t value;
    uint64_t dueNs;
  };
  struct TxItem {
    std::vector<uint8_t> bytes;
    uint64_t readyNs = 0;    // the answer may begin then (frame end plus fault delay)
    uint32_t baudAfter = 0;  // rate change once the last byte has left
    bool started = false;
    uint64_t startNs = 0;  // first bit on the line
    size_t sent = 0;
  };

  uint64_t byteNs() const;
  void feed(const RxByte& b);
  // When the next byte (or the rate change) of the head item is due.
  uint64_t txDueNs() const;
  void applyBaud(uint32_t b);

  Bus& bus_;
  uint32_t startBaud_;
  uint32_t baud_;
  std::deque<RxByte> rx_;
  uint64_t rxFreeNs_ = 0;
  std::deque<TxItem> tx_;
  uint64_t txFreeNs_ = 0;
};

}  // namespace sim
