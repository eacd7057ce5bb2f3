// Helpers shared by the tests: paths of the build, temporary folders, files, loopback sockets.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace testsupport {
using Bytes = std::vector<uint8_t>;
constexpr int kPeerTimeoutMs = 3000;

// Folder of the build tree (where korvane-sim, korvane-cli and ru/korvane_v3.mo are).
std::string buildDir();
std::string sourceDir();
// A fresh empty temporary folder, removed at process exit.
std::string makeTempDir();
// Sets an environment variable of this process ("" removes it).
void setEnv(const std::string& name, const std::string& value);
// A free TCP port on 127.0.0.1.
int freeTcpPort();
// Whole file as text ("" when it cannot be read) and written whole.
std::string readText(const std::string& path);
void writeText(const std::string& path, const std::string& text);
inline Bytes readBytes(const std::string& path) {
  const std::string t = readText(path);
  return Bytes(t.begin(), t.end());
}
inline void writeBytes(const std::string& path, const Bytes& b) {
  writeText(path, std::string(b.begin(), b.end()));
}

// Makes the terminal at path keep the rate it runs at now: later requests for another rate
// are taken by the kernel but the line stays where it was, as with a serial driver that
// cannot run the rate asked. Needs CAP_SYS_ADMIN; false (errno set) when not permitted.
// Linux only (there are no terminals to lock on Windows).
bool lockTerminalRate(const std::string& path);

// Loopback sockets for playing the far end of a port (BSD sockets or Winsock, held as int).
// All return -1 / stop short on failure.
int listenOn(int tcpPort, int backlog = 5);  // tcpPort 0: any free port
int boundPort(int fd);
int acceptWithin(int listener, int ms = kPeerTimeoutMs);
int connectTo(int tcpPort);
// Starts connecting to the port on 127.0.0.1 without waiting for the connection.
int connectStarted(int tcpPort);
bool sendAll(int fd, const Bytes& data);
Bytes recvBytes(int fd, size_t n, int ms = kPeerTimeoutMs);
// What has arrived, up to max bytes: the count, 0 when the peer closed, -1 on failure.
long recvSome(int fd, uint8_t* buf, size_t max);
// True when fd becomes ready to read (or, with forWrite, to write) within ms.
bool waitReady(int fd, bool forWrite, int ms);
void closeSocket(int fd);
// The next close of fd resets the connection instead of ending it in order.
void resetOnClose(int fd);
void setNoDelay(int fd);
// Opens TCPC_ to the listener, accepts it and waits until the port is connected; the accepted
// socket goes to *peer. 0 when any step fails.
uint16_t openClientTo(int listener, int* peer);
}  // namespace testsupport
