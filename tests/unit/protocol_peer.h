// A stand-in for a board at the far end of a TCP link, for protocol and command-line tests.
// The tool reaches it as "TCPC_127.0.0.1:<port>". A test either drives it by hand (take what
// the tool sent, send a reply) or lets it answer every request frame from a handler thread.
#pragma once
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "protocol/utrk_device.h"
#include "support/test_support.h"

using Bytes = std::vector<uint8_t>;

// Length of the request frame at the start of buf as the tool builds it, or 0 while too
// few bytes are in to tell.
inline size_t requestFrameLength(const Bytes& buf) {
  if (buf.size() < 3) return 0;
  const uint8_t cmd = buf[2];
  if (cmd == 0x00) return 5;
  if (cmd == 0x20 || cmd == 0x30) return 6;
  if ((cmd & 0xF8) == 0x48 || cmd == 0x61 || cmd == 0x62) return 12;
  if ((cmd & 0xF8) == 0x40) return buf.size() < 11 ? 0 : buf[10] >= 2 ? 12u + buf[10] : 12u;
  return 4;
}

class BoardPeer {
 public:
  // Gets the request frame, returns the reply (empty: stay silent).
  using Handler = std::function<Bytes(const Bytes& request)>;

  BoardPeer() {
    listenFd_ = testsupport::listenOn(0, 4);
    if (listenFd_ >= 0) tcpPort_ = testsupport::boundPort(listenFd_);
  }
  ~BoardPeer() {
    stopServing();
    closeClient();
    testsupport::closeSocket(listenFd_);
  }
  BoardPeer(const BoardPeer&) = delete;
  BoardPeer& operator=(const BoardPeer&) = delete;

  int tcpPort() const { return tcpPort_; }
  std::string portName() const { return "TCPC_127.0.0.1:" + std::to_string(tcpPort_); }

  // ---- driven by hand ----
  bool acceptClient(int timeoutMs) {
    const int fd = testsupport::acceptWithin(listenFd_, timeoutMs);
    if (fd < 0) return false;
    closeClient();
    clientFd_ = fd;
    testsupport::setNoDelay(clientFd_);
    return true;
  }
  // Exactly n bytes, or what arrived before timeoutMs passed.
  Bytes receive(size_t n, int timeoutMs = 2000) {
    Bytes out;
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (out.size() < n) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          until - std::chrono::steady_clock::now());
      if (left.count() <= 0 || !receiveSome(&out, n - out.size(), static_cast<int>(left.count())))
        break;
    }
    return out;
  }
  // Everything that arrives until the line has been quiet for quietMs.
  Bytes receiveUntilQuiet(int quietMs) {
    Bytes out;
    while (receiveSome(&out, 512, quietMs)) {
    }
    return out;
  }
  void send(const Bytes& b) {
    if (clientFd_ >= 0 && !b.empty()) testsupport::sendAll(clientFd_, b);
  }

  // ---- answering on its own thread ----
  void serve(Handler handler) {
    handler_ = std::move(handler);
    running_ = true;
    thread_ = std::thread([this] { serveLoop(); });
  }
  void stopServing() {
    running_ = false;
    if (thread_.joinable()) thread_.join();
  }
  std::vector<Bytes> requests() {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
  }

 private:
  void closeClient() {
    testsupport::closeSocket(clientFd_);
    clientFd_ = -1;
  }
  // Appends up to max bytes that arrive within waitMs; false on silence or a closed line.
  bool receiveSome(Bytes* out, size_t max, int waitMs) {
    if (clientFd_ < 0 || !testsupport::waitReady(clientFd_, false, waitMs)) return false;
    uint8_t buf[512];
    const long got = testsupport::recvSome(clientFd_, buf, std::min(sizeof buf, max));
    if (got > 0) out->insert(out->end(), buf, buf + got);
    return got > 0;
  }

  void serveLoop() {
    Bytes pending;
    while (running_) {
      if (clientFd_ < 0) {
        acceptClient(20);
        pending.clear();
        continue;
      }
      if (!testsupport::waitReady(clientFd_, false, 20)) continue;
      if (!receiveSome(&pending, 512, 0)) {
        closeClient();
        continue;
      }
      for (;;) {
        // Anything before a start byte is line noise to a board.
        while (!pending.empty() && pending[0] != 0x60) pending.erase(pending.begin());
        const size_t len = requestFrameLength(pending);
        if (len == 0 || pending.size() < len) break;
        const Bytes request(pending.begin(), pending.begin() + static_cast<long>(len));
        pending.erase(pending.begin(), pending.begin() + static_cast<long>(len));
        {
          std::lock_guard<std::mutex> lock(mutex_);
          requests_.push_back(request);
        }
        send(handler_(request));
      }
    }
  }

  int listenFd_ = -1;
  int clientFd_ = -1;
  int tcpPort_ = 0;
  Handler handler_;
  std::atomic<bool> running_{false};
  std::thread thread_;
  std::mutex mutex_;
  std::vector<Bytes> requests_;
};

// The board behind a BoardPeer for tests above the frame level: answers identification,
// the text identifier, block reads and writes, the admin log-in and the last-error query.
// Its replies are built with the tool's own checksum functions, which have their own tests.
struct ScriptedBoard {
  uint8_t address = 1;
  uint8_t kind = '#';
  uint8_t extra = 0x07;
  Bytes text = Bytes{'T', 'e', 's', 't', ' ', 'b', 'o', 'a', 'r', 'd'};
  bool answersText = true;
  int adminPassword = -1;  // -1: no password set
  uint8_t lastError = 0;
  bool corruptReadCheck = false;
  std::map<std::pair<uint8_t, uint32_t>, Bytes> memory;  // (bank, address) -> bytes read there
  std::vector<std::pair<uint32_t, Bytes>> writes;        // (bank << 24 | address, data) written

  Bytes answer(const Bytes& f) {
    const uint8_t to = f[1], cmd = f[2];
    if (cmd == 0x21) {
      if (to != address && to != kBroadcastAddress) return {};
      Bytes r{address, kind, extra};
      r.push_back(frameChecksum(r.data(), 3));
      return r;
    }
    if (to != address) return {};
    if (cmd == 0x00) {
      if (!answersText) return {};
      Bytes r = text;
      r.push_back(0x00);
      return r;
    }
    if (cmd == 0xF0) {
      Bytes r(16, 0);
      r[7] = lastError;
      return r;
    }
    const uint8_t bank = cmd & 0x07, count = f[10];
    const uint32_t addr =
        f[8] | (static_cast<uint32_t>(f[6]) << 8) | (static_cast<uint32_t>(f[7]) << 16);
    if ((cmd & 0xF8) == 0x48) {
      Bytes r(count, 0);
      auto it = memory.find({bank, addr});
      if (it != memory.end())
        std::copy_n(it->second.begin(), std::min<size_t>(count, it->second.size()), r.begin());
      if ((f[4] & 3) == 1) r.push_back(frameChecksum(r.data(), count));
      if ((f[4] & 3) == 2) {
        const uint32_t crc = crc32Stm(r.data(), count);
        for (int i = 0; i < 4; ++i) r.push_back(static_cast<uint8_t>(crc >> (8 * i)));
      }
      if (corruptReadCheck && r.size() > count) r[count] ^= 0x01;
      r.push_back(0x00);
      return r;
    }
    if ((cmd & 0xF8) != 0x40) return {};
    Bytes data{f[9]};
    if (count >= 2) data.insert(data.end(), f.begin() + 12, f.begin() + 12 + count - 1);
    writes.emplace_back((static_cast<uint32_t>(bank) << 24) | addr, data);
    if (count < 2) return {0x00, 0x00};
    if (bank == 2 && addr == 0x02 && adminPassword >= 0 &&
        (data[0] | (data[1] << 8)) != adminPassword) {
      lastError = '[';
      return {0xFF};
    }
    return {0x00};
  }
};
