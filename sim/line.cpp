// Two-way line pacing of the simulator: queues what the tool sends until it would have
// arrived, feeds it to the bus byte by byte at that time, and releases the answers at line
// rate, switching the rate when a board does.
#include "sim/line.h"

#include <algorithm>

namespace sim {

namespace {
constexpr uint64_t kNsPerSecond = 1000000000ull;
constexpr uint64_t kNsPerMs = 1000000ull;
}  // namespace

Line::Line(Bus& bus, uint32_t baud) : bus_(bus), startBaud_(baud), baud_(baud) {}

uint64_t Line::byteNs() const { return baud_ ? kBitsPerByte * kNsPerSecond / baud_ : 0; }

void Line::receive(const uint8_t* data, size_t n, uint64_t nowNs) {
  const uint64_t perByte = byteNs();
  for (size_t i = 0; i < n; ++i) {
    uint64_t due = nowNs;
    if (perByte) {
      // The byte starts when the line is free (or now) and is in once its stop bit is.
      due = std::max(rxFreeNs_, nowNs) + perByte;
      rxFreeNs_ = due;
    }
    rx_.push_back({data[i], due});
  }
}

void Line::feed(const RxByte& b) {
  std::vector<Outgoing> out;
  const uint64_t atMs = b.dueNs / kNsPerMs;
  bus_.feed(&b.value, 1, atMs, &out);
  for (auto& o : out) {
    TxItem t;
    t.bytes = std::move(o.bytes);
    // The fault delay counts from the end of the frame, kept to the nanosecond.
    t.readyNs = b.dueNs + (o.dueMs > atMs ? (o.dueMs - atMs) * kNsPerMs : 0);
    t.baudAfter = o.baudAfter;
    tx_.push_back(std::move(t));
  }
}

uint64_t Line::txDueNs() const {
  if (tx_.empty()) return kNeverNs;
  const TxItem& t = tx_.front();
  const uint64_t start = t.started ? t.startNs : std::max(txFreeNs_, t.readyNs);
  if (t.sent >= t.bytes.size()) return start + t.bytes.size() * byteNs();
  return start + (t.sent + 1) * byteNs();
}

uint64_t Line::nextDueNs() const {
  uint64_t due = txDueNs();
  if (!rx_.empty()) due = std::min(due, rx_.front().dueNs);
  return due;
}

void Line::applyBaud(uint32_t b) {
  if (b == 0) return;
  const uint32_t target = b == kRestoreLineBaud ? startBaud_ : b;
  if (log) log("line rate " + std::to_string(target) + " baud");
  if (startBaud_ != 0) baud_ = target;
}

void Line::run(uint64_t nowNs, std::vector<uint8_t>* out) {
  while (!rx_.empty() && rx_.front().dueNs <= nowNs) {
    const RxByte b = rx_.front();
    rx_.pop_front();
    feed(b);
  }
  while (!tx_.empty()) {
    TxItem& t = tx_.front();
    if (!t.started) {
      const uint64_t start = std::max(txFreeNs_, t.readyNs);
      if (start > nowNs) break;
      t.started = true;
      t.startNs = start;
    }
    const uint64_t perByte = byteNs();
    while (t.sent < t.bytes.size() && t.startNs + (t.sent + 1) * perByte <= nowNs) {
      out->push_back(t.bytes[t.sent]);
      ++t.sent;
    }
    if (t.sent < t.bytes.size()) break;
    txFreeNs_ = t.startNs + t.bytes.size() * perByte;
    const uint32_t after = t.baudAfter;
    tx_.pop_front();
    applyBaud(after);
  }
}

void Line::reset() {
  rx_.clear();
  tx_.clear();
  rxFreeNs_ = 0;
  txFreeNs_ = 0;
  bus_.resetParsers();
}

}  // namespace sim
