// The ways the tool reaches the simulated bus: the simulator listens for TCP connections,
// connects to the tool's TCP server, or offers a pseudo-terminal whose slave the tool opens
// as a serial device. One transport carries one byte stream at a time.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace sim {

constexpr uint32_t kConnectRetryMs = 200;

class Transport {
 public:
  virtual ~Transport() = default;
  // Sets the transport up; false with a message in err. ready receives the line printed for
  // whoever waits for the simulator ("listening on 127.0.0.1:40123").
  virtual bool open(std::string* ready, std::string* err) = 0;
  // Descriptors to wait on (-1 for none) and whether a stream is up.
  virtual int listenFd() const { return -1; }
  virtual int streamFd() const = 0;
  // Called when listenFd is readable or the retry time has come; true when a new stream began.
  virtual bool service(uint64_t nowMs, std::string* note) = 0;
  // Reads what is ready; returns the count, 0 for nothing, -1 when the stream ended.
  virtual long readSome(uint8_t* buf, size_t cap) = 0;
  // Writes all bytes (blocking briefly if the peer is slow); false when the stream ended.
  virtual bool writeAll(const uint8_t* data, size_t n) = 0;
  virtual void closeStream() = 0;
  // The line rate the tool has set on its end, 0 when the transport has none.
  virtual uint32_t peerBaud() const { return 0; }
};

std::unique_ptr<Transport> makeListenTransport(const std::string& host, int port);
std::unique_ptr<Transport> makeConnectTransport(const std::string& host, int port);
std::unique_ptr<Transport> makePtyTransport(const std::string& linkPath);

// Splits "HOST:PORT"; false when malformed.
bool splitHostPort(const std::string& text, std::string* host, int* port);

}  // namespace sim
