// The ways the tool reaches the simulated bus: the simulator listens for TCP connections,
// connects to the tool's TCP server, or (on Linux) offers a pseudo-terminal whose slave the
// tool opens as a serial device. One transport carries one byte stream at a time.
// transport_posix.cpp and transport_win32.cpp implement them; handles are descriptors or
// sockets kept as intptr_t, -1 for none.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace sim {

constexpr uint32_t kConnectRetryMs = 200;
// A connection attempt the peer neither accepts nor refuses is given up after this long.
constexpr uint32_t kConnectTimeoutMs = 3000;
constexpr uint64_t kNoServiceDueMs = UINT64_MAX;

class Transport {
 public:
  virtual ~Transport() = default;
  // Sets the transport up; false with a message in err. ready receives the line printed for
  // whoever waits for the simulator ("listening on 127.0.0.1:40123").
  virtual bool open(std::string* ready, std::string* err) = 0;
  // The handle whose readiness calls for service() (-1 for none), and whether that readiness
  // is to write (a connection being made) rather than to read (a listener to accept on).
  virtual intptr_t serviceHandle(bool* forWrite) const {
    *forWrite = false;
    return -1;
  }
  // The latest time service() wants to run (a retry or a give-up), kNoServiceDueMs for none.
  virtual uint64_t serviceDueMs() const { return kNoServiceDueMs; }
  // The stream handle, -1 while no stream is up.
  virtual intptr_t streamHandle() const = 0;
  // Called when serviceHandle is ready or serviceDueMs has come; never blocks. True when a new
  // stream began; note then says so (one line, or one line a peer for a listener that
  // replaced an older stream: "Peer OLD left", "Peer NEW connected").
  virtual bool service(uint64_t nowMs, std::string* note) = 0;
  // Reads what is ready; returns the count, 0 for nothing, -1 when the stream ended.
  virtual long readSome(uint8_t* buf, size_t cap) = 0;
  // Writes all bytes (blocking briefly if the peer is slow); false when the stream ended.
  virtual bool writeAll(const uint8_t* data, size_t n) = 0;
  virtual void closeStream() = 0;
  // The peer of the stream now up for a listening transport ("a.b.c.d:port"), "" otherwise:
  // whoever joins or leaves the simulated bus is named.
  virtual std::string peerName() const { return std::string(); }
  // The line rate the tool has set on its end, 0 when the transport has none.
  virtual uint32_t peerBaud() const { return 0; }
};

std::unique_ptr<Transport> makeListenTransport(const std::string& host, int port);
std::unique_ptr<Transport> makeConnectTransport(const std::string& host, int port);
std::unique_ptr<Transport> makePtyTransport(const std::string& linkPath);
// Why this system cannot offer --pty; nullptr where it can.
const char* ptyUnavailableReason();

// The output rate of the terminal fd as the kernel holds it (termios2), 0 when unknown
// (pty_rate.cpp; Linux only).
uint32_t ptyLineRate(int fd);

// Splits "HOST:PORT"; false when malformed.
bool splitHostPort(const std::string& text, std::string* host, int* port);

}  // namespace sim
