// TCP client and server ports against real sockets on 127.0.0.1: connecting late,
// reconnecting, the 16-peer limit, idle drop, the merged ring and what happens when it fills.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "link/port.h"
#include "link/port_internal.h"
#include "link/tick.h"
#include "support/test_support.h"

namespace {

constexpr int kPeerTimeoutMs = 3000;

bool waitFor(const std::function<bool()>& done, uint16_t port = 0, int limitMs = kPeerTimeoutMs) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
  while (std::chrono::steady_clock::now() < end) {
    if (done()) return true;
    if (port != 0 && !tickFakeClockActive()) {
      portWaitInput(port, 5);
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  }
  return done();
}

sockaddr_in loopback(int tcpPort) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(static_cast<uint16_t>(tcpPort));
  return a;
}

int listenOn(int tcpPort, int backlog = 5) {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  int on = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in a = loopback(tcpPort);
  if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(fd, backlog) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

int acceptWithin(int listener, int ms = kPeerTimeoutMs) {
  pollfd p{listener, POLLIN, 0};
  if (poll(&p, 1, ms) != 1) return -1;
  return accept(listener, nullptr, nullptr);
}

int connectTo(int tcpPort) {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a = loopback(tcpPort);
  if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

void sendBytes(int fd, const std::vector<uint8_t>& data) {
  size_t done = 0;
  while (done < data.size()) {
    ssize_t r = send(fd, data.data() + done, data.size() - done, MSG_NOSIGNAL);
    ASSERT_GT(r, 0);
    done += static_cast<size_t>(r);
  }
}

std::vector<uint8_t> recvBytes(int fd, size_t n, int ms = kPeerTimeoutMs) {
  std::vector<uint8_t> out;
  while (out.size() < n) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, ms) != 1) break;
    uint8_t buf[4096];
    ssize_t r = recv(fd, buf, std::min(sizeof buf, n - out.size()), 0);
    if (r <= 0) break;
    out.insert(out.end(), buf, buf + r);
  }
  return out;
}

// True when the peer sees the connection closed by the port.
bool peerSeesClose(int fd) {
  pollfd p{fd, POLLIN, 0};
  if (poll(&p, 1, kPeerTimeoutMs) != 1) return false;
  uint8_t b;
  return recv(fd, &b, 1, 0) <= 0;
}

std::vector<uint8_t> pattern(size_t n, size_t offset = 0) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(((i + offset) * 7) % 251);
  return v;
}

int acceptedClients(uint16_t port) {
  int n = 0;
  for (intptr_t s : portEntry(port)->clientSocket) n += s >= 0;
  return n;
}

class TcpPortTest : public ::testing::Test {
 protected:
  void SetUp() override {
    portTableShutdownForTests();
    portTableInit();
    tcpPort_ = testsupport::freeTcpPort();
    ASSERT_GT(tcpPort_, 0);
  }
  void TearDown() override {
    portTableShutdownForTests();
    tickUseFakeClock(false);
    for (int fd : fds_) close(fd);
  }
  int keep(int fd) {
    if (fd >= 0) fds_.push_back(fd);
    return fd;
  }
  uint16_t openPort(const std::string& name) {
    uint16_t port = 0;
    EXPECT_EQ(portOpen(name.c_str(), &port), 0) << name;
    return port;
  }
  // A TCPC_ port connected to a listener of the test; returns the test's end.
  int connectedClientPort(uint16_t* port) {
    int listener = keep(listenOn(tcpPort_));
    *port = openPort("TCPC_127.0.0.1:" + std::to_string(tcpPort_));
    const uint8_t hello = 0x55;
    EXPECT_TRUE(waitFor([&] { return portWrite(*port, &hello, 1) == 1; }, *port));
    int peer = keep(acceptWithin(listener));
    EXPECT_EQ(recvBytes(peer, 1), std::vector<uint8_t>{hello});
    return peer;
  }
  // A TCPS_ port with one peer connected and accepted; returns the peer.
  int serverWithPeer(uint16_t* port) {
    *port = openPort("TCPS_" + std::to_string(tcpPort_));
    int peer = keep(connectTo(tcpPort_));
    EXPECT_TRUE(waitFor([&] { return portAvailable(*port) >= 0 && acceptedClients(*port) == 1; }, *port));
    return peer;
  }
  int tcpPort_ = 0;
  std::vector<int> fds_;
};

TEST_F(TcpPortTest, ClientOpenedBeforeThePeerListensConnectsOnceItDoes) {
  const uint16_t port = openPort("TCPC_127.0.0.1:" + std::to_string(tcpPort_));
  const PortEntry* e = portEntry(port);
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(e->kind, PortKind::TcpClient);
  EXPECT_EQ(e->tcpPort, tcpPort_);
  EXPECT_EQ(e->ipAddress, htonl(INADDR_LOOPBACK));
  EXPECT_EQ(e->clientSocket[0], e->handle);
  const std::vector<uint8_t> frame = {0x60, 0x01, 0x80, 0x1E};
  EXPECT_EQ(portWrite(port, frame.data(), frame.size()), 0);  // nobody listens yet
  EXPECT_EQ(portAvailable(port), 0);
  EXPECT_EQ(e->connected, 0u);

  int listener = keep(listenOn(tcpPort_));
  ASSERT_GE(listener, 0);
  ASSERT_TRUE(waitFor([&] { return portWrite(port, frame.data(), frame.size()) == 1; }, port));
  EXPECT_EQ(e->connected, 1u);
  int peer = keep(acceptWithin(listener));
  ASSERT_GE(peer, 0);
  EXPECT_EQ(recvBytes(peer, frame.size()), frame);

  sendBytes(peer, {0x60, 0x01, 0x00, 0x42});
  uint8_t reply[4] = {};
  ASSERT_EQ(portReadWait(port, reply, 4, kPeerTimeoutMs), 1);
  EXPECT_EQ(std::vector<uint8_t>(reply, reply + 4), (std::vector<uint8_t>{0x60, 0x01, 0x00, 0x42}));
}

TEST_F(TcpPortTest, ClientReconnectsTransparentlyAfterThePeerDrops) {
  uint16_t port = 0;
  int peer = connectedClientPort(&port);
  ASSERT_GE(peer, 0);
  close(peer);
  fds_.erase(std::remove(fds_.begin(), fds_.end(), peer), fds_.end());
  // The close is noticed on the next read, and the port connects again by itself.
  const int listener = fds_[0];
  ASSERT_TRUE(waitFor([&] {
    portAvailable(port);
    pollfd p{listener, POLLIN, 0};
    return poll(&p, 1, 0) == 1;
  }));
  const std::vector<uint8_t> frame = {1, 2, 3};
  ASSERT_TRUE(waitFor([&] { return portWrite(port, frame.data(), frame.size()) == 1; }, port));
  int again = keep(acceptWithin(listener));
  ASSERT_GE(again, 0);
  EXPECT_EQ(recvBytes(again, 3), frame);
  sendBytes(again, {9, 8});
  uint8_t b[2];
  ASSERT_EQ(portReadWait(port, b, 2, kPeerTimeoutMs), 1);
  EXPECT_EQ(b[0], 9);
  EXPECT_EQ(b[1], 8);
}

TEST_F(TcpPortTest, RefusedConnectIsRetriedAfterAShortPauseNotOnEveryPoll) {
  tickUseFakeClock(true);
  tickSetFake(5000);
  const uint16_t port = openPort("TCPC_127.0.0.1:" + std::to_string(tcpPort_));
  const PortEntry* e = portEntry(port);
  const uint8_t b = 1;
  ASSERT_TRUE(waitFor([&] { return portAvailable(port) == 0 && e->clientDeadline[0] == 5100u; }));
  int listener = keep(listenOn(tcpPort_));
  for (int i = 0; i < 5; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    EXPECT_EQ(portWrite(port, &b, 1), 0);
  }
  EXPECT_EQ(e->connecting, 0u);
  tickAdvanceFake(100);
  ASSERT_TRUE(waitFor([&] { return portWrite(port, &b, 1) == 1; }));
  int peer = keep(acceptWithin(listener));
  EXPECT_EQ(recvBytes(peer, 1), std::vector<uint8_t>{1});
}

TEST_F(TcpPortTest, PendingConnectIsAbandonedAndRestartedAfterTenSeconds) {
  // A listener with a full backlog never completes the handshake, so the connect hangs.
  int listener = keep(listenOn(tcpPort_, 0));
  ASSERT_GE(listener, 0);
  std::vector<int> fillers;
  for (int i = 0; i < 3; ++i) {
    int fd = keep(socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0));
    sockaddr_in a = loopback(tcpPort_);
    connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  tickUseFakeClock(true);
  tickSetFake(65000);  // the 16-bit deadline wraps
  const uint16_t port = openPort("TCPC_127.0.0.1:" + std::to_string(tcpPort_));
  const PortEntry* e = portEntry(port);
  const uint8_t b = 1;
  EXPECT_EQ(portWrite(port, &b, 1), 0);
  if (e->connected) GTEST_SKIP() << "the kernel completed the connect despite the full backlog";
  ASSERT_EQ(e->connecting, 1u);
  EXPECT_EQ(e->connectDeadline, static_cast<uint16_t>(65000 + kTcpConnectDeadlineMs));
  const intptr_t firstSocket = e->handle;
  tickAdvanceFake(kTcpConnectDeadlineMs - 1);
  EXPECT_EQ(portAvailable(port), 0);
  EXPECT_EQ(e->connecting, 1u);
  EXPECT_EQ(e->handle, firstSocket);
  tickAdvanceFake(1);
  EXPECT_EQ(portAvailable(port), 0);  // abandons the attempt
  EXPECT_EQ(e->connecting, 0u);
  EXPECT_EQ(portWrite(port, &b, 1), 0);  // and the next use starts a fresh one
  EXPECT_EQ(e->connecting, 1u);
  EXPECT_EQ(e->connectDeadline, static_cast<uint16_t>(65000 + 2 * kTcpConnectDeadlineMs));
}

TEST_F(TcpPortTest, ServerAcceptsSixteenPeersAndTheSeventeenthWaitsForAFreeSlot) {
  const uint16_t port = openPort("TCPS_" + std::to_string(tcpPort_));
  std::vector<int> peers;
  for (int i = 0; i < kTcpServerClients; ++i) {
    peers.push_back(keep(connectTo(tcpPort_)));
    ASSERT_GE(peers.back(), 0);
    ASSERT_TRUE(waitFor([&] { return portAvailable(port) == 0 && acceptedClients(port) == i + 1; }, port)) << i;
  }
  int late = keep(connectTo(tcpPort_));  // completes in the kernel's backlog
  ASSERT_GE(late, 0);
  sendBytes(late, {0x17});
  for (int i = 0; i < 20; ++i) EXPECT_EQ(portAvailable(port), 0);
  EXPECT_EQ(portWaitInput(port, 30), 0);  // a waiting peer with no free slot does not wake the wait
  EXPECT_EQ(acceptedClients(port), kTcpServerClients);

  close(peers[3]);  // a peer that leaves frees its slot at once
  ASSERT_TRUE(waitFor([&] { return portAvailable(port) == 1; }, port));
  EXPECT_EQ(portEntry(port)->clientSocket[3] >= 0, true);
  uint8_t b = 0;
  ASSERT_EQ(portRead(port, &b, 1), 1);
  EXPECT_EQ(b, 0x17);
  EXPECT_EQ(acceptedClients(port), kTcpServerClients);
}

TEST_F(TcpPortTest, ServerDropsAPeerSilentInBothDirectionsForSixtySeconds) {
  tickUseFakeClock(true);
  tickSetFake(1000);
  uint16_t port = 0;
  int quiet = serverWithPeer(&port);
  ASSERT_GE(quiet, 0);
  const PortEntry* e = portEntry(port);
  EXPECT_EQ(e->clientDeadline[0], 1000 + kTcpClientIdleDropMs);
  tickAdvanceFake(30000);
  sendBytes(quiet, {0x42});  // a receive renews the deadline
  ASSERT_TRUE(waitFor([&] { return portAvailable(port) == 1; }));
  EXPECT_EQ(e->clientDeadline[0], 31000 + kTcpClientIdleDropMs);
  tickAdvanceFake(30000);
  const uint8_t out = 0x24;
  EXPECT_EQ(portWrite(port, &out, 1), 1);  // so does a send
  EXPECT_EQ(recvBytes(quiet, 1), std::vector<uint8_t>{0x24});
  EXPECT_EQ(e->clientDeadline[0], 61000 + kTcpClientIdleDropMs);
  tickAdvanceFake(kTcpClientIdleDropMs - 1);
  portAvailable(port);
  EXPECT_GE(e->clientSocket[0], 0);
  tickAdvanceFake(1);
  portAvailable(port);
  EXPECT_LT(e->clientSocket[0], 0);
  EXPECT_TRUE(peerSeesClose(quiet));
  EXPECT_EQ(portAvailable(port), 1);  // what it sent before is kept
}

TEST_F(TcpPortTest, ServerMergesPeersInSlotOrderAndSendsToEveryPeer) {
  uint16_t port = 0;
  int first = serverWithPeer(&port);
  int second = keep(connectTo(tcpPort_));
  ASSERT_TRUE(waitFor([&] { return portAvailable(port) == 0 && acceptedClients(port) == 2; }, port));
  sendBytes(second, {0xB1, 0xB2});
  sendBytes(first, {0xA1, 0xA2, 0xA3});
  std::this_thread::sleep_for(std::chrono::milliseconds(30));  // both arrive before one pump
  ASSERT_EQ(portAvailable(port), 5);
  uint8_t got[5];
  ASSERT_EQ(portRead(port, got, 5), 1);
  EXPECT_EQ(std::vector<uint8_t>(got, got + 5), (std::vector<uint8_t>{0xA1, 0xA2, 0xA3, 0xB1, 0xB2}));

  const std::vector<uint8_t> frame = {0x60, 0x05, 0x10};
  EXPECT_EQ(portWrite(port, frame.data(), frame.size()), 1);
  EXPECT_EQ(recvBytes(first, 3), frame);
  EXPECT_EQ(recvBytes(second, 3), frame);

  // A peer that went away is dropped when a send to it fails; the other peer still gets the bytes.
  linger hard{1, 0};
  setsockopt(first, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
  close(first);
  fds_.erase(std::remove(fds_.begin(), fds_.end(), first), fds_.end());
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  int result = 1;
  for (int i = 0; i < 5 && result == 1; ++i) result = portWrite(port, frame.data(), frame.size());
  EXPECT_EQ(result, 0);
  EXPECT_LT(portEntry(port)->clientSocket[0], 0);
  EXPECT_GE(recvBytes(second, 3).size(), 3u);
}

TEST_F(TcpPortTest, ShortReadTakesNothingAndLaterDeliversAllInOrder) {
  uint16_t port = 0;
  int peer = connectedClientPort(&port);
  sendBytes(peer, {1, 2, 3});
  ASSERT_TRUE(waitFor([&] { return portAvailable(port) == 3; }, port));
  uint8_t got[5] = {};
  EXPECT_EQ(portRead(port, got, 5), 0);
  EXPECT_EQ(portAvailable(port), 3);
  EXPECT_EQ(portReadWait(port, got, 5, 30), 0);  // a time-out takes nothing either
  EXPECT_EQ(portAvailable(port), 3);
  sendBytes(peer, {4, 5});
  ASSERT_TRUE(waitFor([&] { return portRead(port, got, 5) == 1; }, port));
  EXPECT_EQ(std::vector<uint8_t>(got, got + 5), (std::vector<uint8_t>{1, 2, 3, 4, 5}));
  EXPECT_EQ(portAvailable(port), 0);
}

TEST_F(TcpPortTest, RingWrapsFrom9999ToZeroKeepingOrder) {
  uint16_t port = 0;
  int peer = connectedClientPort(&port);
  const PortEntry* e = portEntry(port);
  sendBytes(peer, pattern(9000));
  ASSERT_TRUE(waitFor([&] { return portAvailable(port) == 9000; }, port));
  std::vector<uint8_t> got(9000);
  ASSERT_EQ(portRead(port, got.data(), 9000), 1);
  EXPECT_EQ(got, pattern(9000));
  sendBytes(peer, pattern(2000, 9000));
  ASSERT_TRUE(waitFor([&] { return portAvailable(port) == 2000; }, port));
  EXPECT_EQ(e->rxRead, 9000);
  EXPECT_EQ(e->rxWrite, 1000);  // wrapped
  got.assign(2000, 0);
  ASSERT_EQ(portRead(port, got.data(), 999), 1);
  ASSERT_EQ(portRead(port, got.data() + 999, 2), 1);  // straddles the end of the ring
  ASSERT_EQ(portRead(port, got.data() + 1001, 999), 1);
  EXPECT_EQ(got, pattern(2000, 9000));
  EXPECT_EQ(e->rxRead, e->rxWrite);
}

TEST_F(TcpPortTest, FullRingKeepsTheOldestAndTheRestWaitsInTheSocket) {
  uint16_t port = 0;
  int peer = connectedClientPort(&port);
  const PortEntry* e = portEntry(port);
  const size_t total = 25000;
  sendBytes(peer, pattern(total));
  ASSERT_TRUE(waitFor([&] { return portAvailable(port) == RX_RING_SIZE - 1; }, port));
  EXPECT_EQ(portWaitInput(port, 0), 1);
  std::vector<uint8_t> got;
  uint8_t chunk[3333];
  while (got.size() < total) {
    ASSERT_TRUE(waitFor([&] { return portAvailable(port) > 0; }, port)) << got.size();
    ASSERT_LE(portAvailable(port), RX_RING_SIZE - 1);
    const size_t n = std::min<size_t>({sizeof chunk, static_cast<size_t>(portAvailable(port)), total - got.size()});
    ASSERT_EQ(portRead(port, chunk, n), 1);
    got.insert(got.end(), chunk, chunk + n);
  }
  EXPECT_EQ(got, pattern(total));
  EXPECT_EQ(e->connected, 1u);  // a full ring is not a broken connection
}

TEST_F(TcpPortTest, FlushDiscardsBufferedInputAndLaterBytesStillArrive) {
  uint16_t port = 0;
  int peer = connectedClientPort(&port);
  sendBytes(peer, {1, 2, 3, 4});
  ASSERT_TRUE(waitFor([&] { return portAvailable(port) == 4; }, port));
  portFlushInput(port);
  EXPECT_EQ(portAvailable(port), 0);
  sendBytes(peer, {7});
  uint8_t b = 0;
  EXPECT_EQ(portReadByte(port, &b, 2000), 1);
  EXPECT_EQ(b, 7);
  EXPECT_EQ(portTxEmpty(port), 1);
  EXPECT_EQ(portSetLine(port, 115200, 8, 'N', 1), 0);
}

TEST_F(TcpPortTest, WaitInputReturnsAsSoonAsBytesArriveAndTimesOutOtherwise) {
  uint16_t port = 0;
  int peer = connectedClientPort(&port);
  auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(portWaitInput(port, 120), 0);
  auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count();
  EXPECT_GE(waited, 100);
  EXPECT_LT(waited, 1000);

  std::thread sender([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(40));
    sendBytes(peer, {0x33});
  });
  t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(portWaitInput(port, 5000), 1);
  waited = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count();
  sender.join();
  EXPECT_LT(waited, 1000);
  EXPECT_EQ(portAvailable(port), 1);
  EXPECT_EQ(portWaitInput(port, 5000), 1);  // buffered input answers at once

  // Under the fake clock a wait with nothing to read moves fake time, not real time.
  uint8_t b;
  ASSERT_EQ(portRead(port, &b, 1), 1);
  tickUseFakeClock(true);
  tickSetFake(0xFFFFF000u);
  t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(portWaitInput(port, 60000), 0);
  waited = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count();
  EXPECT_LT(waited, 500);
  EXPECT_EQ(nowMs(), 0xFFFFF000u + 60000u);
  EXPECT_EQ(portReadByte(port, &b, 100), 0);  // ends by fake time too
}

TEST_F(TcpPortTest, TraceSeesEveryChunkSentAndReceived) {
  uint16_t port = 0;
  int peer = connectedClientPort(&port);
  struct Chunk {
    uint16_t port;
    bool sent;
    std::vector<uint8_t> bytes;
  };
  std::vector<Chunk> chunks;
  portSetTrace([&](uint16_t p, bool sent, const uint8_t* d, size_t n) {
    chunks.push_back({p, sent, std::vector<uint8_t>(d, d + n)});
  });
  const std::vector<uint8_t> frame = {0x60, 0x02, 0x80};
  ASSERT_EQ(portWrite(port, frame.data(), frame.size()), 1);
  EXPECT_EQ(recvBytes(peer, 3), frame);
  sendBytes(peer, {0xDE, 0xAD});
  ASSERT_TRUE(waitFor([&] { return portAvailable(port) == 2; }, port));
  portSetTrace(nullptr);
  ASSERT_GE(chunks.size(), 2u);
  EXPECT_EQ(chunks[0].port, port);
  EXPECT_TRUE(chunks[0].sent);
  EXPECT_EQ(chunks[0].bytes, frame);
  std::vector<uint8_t> received;
  for (size_t i = 1; i < chunks.size(); ++i) {
    EXPECT_FALSE(chunks[i].sent);
    received.insert(received.end(), chunks[i].bytes.begin(), chunks[i].bytes.end());
  }
  EXPECT_EQ(received, (std::vector<uint8_t>{0xDE, 0xAD}));
}

TEST_F(TcpPortTest, ServerPortCanBeReopenedAtOnceAndABusyPortIsRefused) {
  const std::string name = "TCPS_" + std::to_string(tcpPort_);
  uint16_t port = 0;
  int peer = serverWithPeer(&port);
  ASSERT_GE(peer, 0);
  uint16_t second = 5;
  EXPECT_EQ(portOpen(name.c_str(), &second), kPortOpenBadName);  // already listening here
  EXPECT_EQ(second, 0);
  EXPECT_EQ(portClose(port), 1);
  EXPECT_TRUE(peerSeesClose(peer));
  EXPECT_EQ(portOpen(name.c_str(), &port), 0);
}

}  // namespace
