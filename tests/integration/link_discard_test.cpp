// portDiscardInput over real links: what sits in the ring and what the socket or the
// pseudo-terminal still holds is dropped, later bytes arrive whole, and a flood larger than
// the ring does not leave old bytes behind.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <vector>

#include "link/port.h"
#include "link/port_internal.h"
#include "link/tick.h"
#include "support/test_support.h"

namespace {

constexpr int kPeerTimeoutMs = 3000;
constexpr int kSettleMs = 50;  // lets bytes written by the peer reach the tool's side

std::vector<uint8_t> pattern(size_t n, uint8_t seed) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(seed + i * 13);
  return v;
}

void writeAll(int fd, const std::vector<uint8_t>& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t r = write(fd, bytes.data() + done, bytes.size() - done);
    ASSERT_GT(r, 0);
    done += static_cast<size_t>(r);
  }
}

// Reads n bytes from the port within the peer time-out.
std::vector<uint8_t> readFromPort(uint16_t port, size_t n) {
  std::vector<uint8_t> out(n);
  if (portReadWait(port, out.data(), n, kPeerTimeoutMs) != 1) out.clear();
  return out;
}

class DiscardTest : public ::testing::Test {
 protected:
  void SetUp() override {
    portTableShutdownForTests();
    portTableInit();
  }
  void TearDown() override {
    portTableShutdownForTests();
    for (int fd : fds_)
      if (fd >= 0) close(fd);
  }
  // A TCPC_ port connected to a listener of the test; returns the test's end.
  int connectedClient(uint16_t* port) {
    const int tcpPort = testsupport::freeTcpPort();
    int listener = socket(AF_INET, SOCK_STREAM, 0);
    fds_.push_back(listener);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(tcpPort));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int on = 1;
    setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(listener, 1) != 0) return -1;
    const std::string name = "TCPC_127.0.0.1:" + std::to_string(tcpPort);
    if (portOpen(name.c_str(), port) != 0) return -1;
    portAvailable(*port);  // starts the connect
    pollfd p{listener, POLLIN, 0};
    if (poll(&p, 1, kPeerTimeoutMs) != 1) return -1;
    int peer = accept(listener, nullptr, nullptr);
    fds_.push_back(peer);
    for (int i = 0; i < 100 && !portEntry(*port)->connected; ++i) portWaitInput(*port, 10);
    return portEntry(*port)->connected ? peer : -1;
  }
  std::vector<int> fds_;
};

TEST_F(DiscardTest, TcpClientDropsRingAndSocketBytesAndKeepsLaterOnes) {
  uint16_t port = 0;
  const int peer = connectedClient(&port);
  ASSERT_GE(peer, 0);
  // Some bytes pumped into the ring, more still waiting in the socket.
  writeAll(peer, pattern(20, 1));
  ASSERT_EQ(readFromPort(port, 5).size(), 5u);
  ASSERT_EQ(portAvailable(port), 15);
  writeAll(peer, pattern(30, 2));
  tickSleepMs(kSettleMs);

  portDiscardInput(port);
  EXPECT_EQ(portAvailable(port), 0);

  const std::vector<uint8_t> fresh = pattern(73, 3);
  writeAll(peer, fresh);
  EXPECT_EQ(readFromPort(port, fresh.size()), fresh);
  EXPECT_EQ(portAvailable(port), 0);
}

TEST_F(DiscardTest, FloodLargerThanTheRingIsDroppedWhole) {
  uint16_t port = 0;
  const int peer = connectedClient(&port);
  ASSERT_GE(peer, 0);
  // Three rings' worth: one pump alone would leave most of it in the socket.
  writeAll(peer, pattern(3 * RX_RING_SIZE, 4));
  tickSleepMs(kSettleMs);
  portDiscardInput(port);
  EXPECT_EQ(portAvailable(port), 0);
  const std::vector<uint8_t> fresh = pattern(12, 5);
  writeAll(peer, fresh);
  EXPECT_EQ(readFromPort(port, fresh.size()), fresh);
}

TEST_F(DiscardTest, SerialLineDropsDriverBytesAndKeepsLaterOnes) {
  int master = posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(master, 0);
  fds_.push_back(master);
  ASSERT_EQ(grantpt(master), 0);
  ASSERT_EQ(unlockpt(master), 0);
  uint16_t port = 0;
  ASSERT_EQ(portOpen(ptsname(master), &port), 0);
  writeAll(master, pattern(40, 6));
  tickSleepMs(kSettleMs);

  portDiscardInput(port);
  EXPECT_EQ(portAvailable(port), 0);

  const std::vector<uint8_t> fresh = pattern(73, 7);
  writeAll(master, fresh);
  EXPECT_EQ(readFromPort(port, fresh.size()), fresh);
}

TEST_F(DiscardTest, NoPortStubAndClosedRowsAreIgnored) {
  portDiscardInput(0);
  portDiscardInput(kPortTableRows + 1);
  portDiscardInput(7);  // never opened
  uint16_t stub = 0;
  ASSERT_EQ(portOpen("STUB", &stub), 0);
  portDiscardInput(stub);
  EXPECT_EQ(portAvailable(stub), 0);
  EXPECT_EQ(portWrite(stub, pattern(4, 8).data(), 4), 1);
}

}  // namespace
