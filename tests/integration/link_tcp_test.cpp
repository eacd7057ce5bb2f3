// TCP client and server ports against real sockets on 127.0.0.1: connecting late,
// reconnecting, the 16-peer limit, idle drop, the merged ring, what happens when it fills,
// and dropping stale input.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <functional>
#include <thread>

#include "support/sim_process.h"

namespace {

using namespace testsupport;
using Clock = std::chrono::steady_clock;
constexpr int kSettleMs = 50;  // lets bytes written by the peer reach the tool's side

bool waitFor(const std::function<bool()>& done, uint16_t port = 0) {
  const auto end = Clock::now() + std::chrono::milliseconds(kPeerTimeoutMs);
  while (Clock::now() < end) {
    if (done()) return true;
    if (port != 0 && !tickFakeClockActive()) {
      portWaitInput(port, 5);
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  }
  return done();
}

long msSince(Clock::time_point t0) {
  return static_cast<long>(
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t0).count());
}

// True when the peer sees the connection closed by the port.
bool peerSeesClose(int fd) {
  uint8_t b;
  return waitReady(fd, false, kPeerTimeoutMs) && recvSome(fd, &b, 1) <= 0;
}

Bytes pattern(size_t n, size_t offset = 0) {
  Bytes v(n);
  for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(((i + offset) * 7) % 251);
  return v;
}

int acceptedClients(uint16_t port) {
  int n = 0;
  for (intptr_t s : portEntry(port)->clientSocket) n += s >= 0;
  return n;
}

Bytes readPort(uint16_t port, size_t n) {
  Bytes out(n);
  if (portReadWait(port, out.data(), n, kPeerTimeoutMs) != 1) out.clear();
  return out;
}

class TcpPortTest : public ::testing::Test {
 protected:
  void SetUp() override {
    portTableShutdownForTests();
    portTableInit();
    tcpPort_ = freeTcpPort();
    ASSERT_GT(tcpPort_, 0);
  }
  void TearDown() override {
    portSetTrace(nullptr);
    portTableShutdownForTests();
    tickUseFakeClock(false);
    for (int fd : fds_) closeSocket(fd);
  }
  int keep(int fd) {
    if (fd >= 0) fds_.push_back(fd);
    return fd;
  }
  void forget(int fd) {
    closeSocket(fd);
    fds_.erase(std::remove(fds_.begin(), fds_.end(), fd), fds_.end());
  }
  uint16_t openPort(const std::string& name) {
    uint16_t port = 0;
    EXPECT_EQ(portOpen(name.c_str(), &port), 0) << name;
    return port;
  }
  std::string clientName() const { return "TCPC_127.0.0.1:" + std::to_string(tcpPort_); }
  // A TCPC_ port connected to a listener of the test; returns the test's end.
  int connectedClientPort(uint16_t* port) {
    int peer = -1;
    *port = openClientTo(keep(listenOn(tcpPort_)), &peer);
    EXPECT_NE(*port, 0);
    return keep(peer);
  }
  // A TCPS_ port with one peer connected and accepted; returns the peer.
  int serverWithPeer(uint16_t* port) {
    *port = openPort("TCPS_" + std::to_string(tcpPort_));
    int peer = keep(connectTo(tcpPort_));
    EXPECT_TRUE(
        waitFor([&] { return portAvailable(*port) >= 0 && acceptedClients(*port) == 1; }, *port));
    return peer;
  }
  int tcpPort_ = 0;
  std::vector<int> fds_;
};

TEST_F(TcpPortTest, ClientOpenedBeforeThePeerListensConnectsOnceItDoes) {
  const uint16_t port = openPort(clientName());
  const PortEntry* e = portEntry(port);
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(e->kind, PortKind::TcpClient);
  EXPECT_EQ(e->tcpPort, tcpPort_);
  const uint8_t loopback[4] = {127, 0, 0, 1};  // network byte order
  EXPECT_EQ(std::memcmp(&e->ipAddress, loopback, 4), 0);
  EXPECT_EQ(e->clientSocket[0], e->handle);
  const Bytes frame = {0x60, 0x01, 0x80, 0x1E};
  EXPECT_EQ(portWrite(port, frame.data(), frame.size()), 0);  // nobody listens yet
  EXPECT_EQ(portAvailable(port), 0);
  EXPECT_EQ(e->connected, 0u);

  const int listener = keep(listenOn(tcpPort_));
  ASSERT_GE(listener, 0);
  ASSERT_TRUE(waitFor([&] { return portWrite(port, frame.data(), frame.size()) == 1; }, port));
  EXPECT_EQ(e->connected, 1u);
  const int peer = keep(acceptWithin(listener));
  EXPECT_EQ(recvBytes(peer, frame.size()), frame);
  sendAll(peer, {0x60, 0x01, 0x00, 0x42});
  EXPECT_EQ(readPort(port, 4), (Bytes{0x60, 0x01, 0x00, 0x42}));

  // The peer drops: the close is noticed on the next read and the port connects again by itself.
  forget(peer);
  ASSERT_TRUE(waitFor([&] {
    portAvailable(port);
    return waitReady(listener, false, 0);
  }));
  ASSERT_TRUE(waitFor([&] { return portWrite(port, frame.data(), 3) == 1; }, port));
  const int again = keep(acceptWithin(listener));
  EXPECT_EQ(recvBytes(again, 3), Bytes(frame.begin(), frame.begin() + 3));
  sendAll(again, {9, 8});
  EXPECT_EQ(readPort(port, 2), (Bytes{9, 8}));
}

TEST_F(TcpPortTest, LinkQueryFollowsTheClientConnectionAndTheServersPeers) {
  uint16_t stub = 0;
  ASSERT_EQ(portOpen("STUB", &stub), 0);
  EXPECT_EQ(portLinkKind(stub), PortLink::NoLink);
  EXPECT_FALSE(portLinkUp(stub));
  EXPECT_EQ(portLinkKind(0), PortLink::NoLink);
  EXPECT_EQ(portLinkKind(99), PortLink::NoLink);

  const uint16_t client = openPort(clientName());
  EXPECT_EQ(portLinkKind(client), PortLink::ClientConnection);
  EXPECT_FALSE(portLinkUp(client));  // nobody listens yet
  const int listener = keep(listenOn(tcpPort_));
  ASSERT_TRUE(waitFor([&] { return portAvailable(client) >= 0 && portLinkUp(client); }, client));
  keep(acceptWithin(listener));
  EXPECT_EQ(portClose(client), 1);
  EXPECT_FALSE(portLinkUp(client));

  const int serverTcpPort = freeTcpPort();
  const uint16_t server = openPort("TCPS_" + std::to_string(serverTcpPort));
  ASSERT_NE(server, 0);
  EXPECT_EQ(portLinkKind(server), PortLink::ServerPeer);
  EXPECT_FALSE(portLinkUp(server));
  const int peer = keep(connectTo(serverTcpPort));
  ASSERT_TRUE(waitFor([&] { return portAvailable(server) >= 0 && portLinkUp(server); }, server));
  // The only peer leaves: the link is down again once the port notices.
  forget(peer);
  EXPECT_TRUE(waitFor(
      [&] {
        uint8_t b;
        portRead(server, &b, 1);
        portAvailable(server);
        return !portLinkUp(server);
      },
      server));
}

TEST_F(TcpPortTest, RefusedConnectIsRetriedAfterAShortPauseNotOnEveryPoll) {
  tickUseFakeClock(true);
  tickSetFake(5000);
  const uint16_t port = openPort(clientName());
  const PortEntry* e = portEntry(port);
  const uint8_t b = 1;
  ASSERT_TRUE(waitFor([&] { return portAvailable(port) == 0 && e->clientDeadline[0] == 5100u; }));
  const int listener = keep(listenOn(tcpPort_));
  for (int i = 0; i < 5; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    EXPECT_EQ(portWrite(port, &b, 1), 0);
  }
  EXPECT_EQ(e->connecting, 0u);
  tickAdvanceFake(100);
  ASSERT_TRUE(waitFor([&] { return portWrite(port, &b, 1) == 1; }));
  EXPECT_EQ(recvBytes(keep(acceptWithin(listener)), 1), Bytes{1});
}

TEST_F(TcpPortTest, PendingConnectIsAbandonedAndRestartedAfterTenSeconds) {
  // A listener with a full backlog never completes the handshake, so the connect hangs.
  ASSERT_GE(keep(listenOn(tcpPort_, 0)), 0);
  for (int i = 0; i < 3; ++i) {
    keep(connectStarted(tcpPort_));
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(kSettleMs));
  tickUseFakeClock(true);
  tickSetFake(65000);  // the 16-bit deadline wraps
  const uint16_t port = openPort(clientName());
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
    ASSERT_TRUE(
        waitFor([&] { return portAvailable(port) == 0 && acceptedClients(port) == i + 1; }, port))
        << i;
  }
  const int late = keep(connectTo(tcpPort_));  // completes in the kernel's backlog
  ASSERT_GE(late, 0);
  sendAll(late, {0x17});
  for (int i = 0; i < 20; ++i) EXPECT_EQ(portAvailable(port), 0);
  EXPECT_EQ(portWaitInput(port, 30), 0);  // a waiting peer with no free slot does not wake the wait
  EXPECT_EQ(acceptedClients(port), kTcpServerClients);

  forget(peers[3]);  // a peer that leaves frees its slot at once
  ASSERT_TRUE(waitFor([&] { return portAvailable(port) == 1; }, port));
  EXPECT_GE(portEntry(port)->clientSocket[3], 0);
  uint8_t b = 0;
  ASSERT_EQ(portRead(port, &b, 1), 1);
  EXPECT_EQ(b, 0x17);
  EXPECT_EQ(acceptedClients(port), kTcpServerClients);
}

TEST_F(TcpPortTest, ServerDropsAPeerSilentInBothDirectionsForSixtySeconds) {
  tickUseFakeClock(true);
  tickSetFake(1000);
  uint16_t port = 0;
  const int quiet = serverWithPeer(&port);
  ASSERT_GE(quiet, 0);
  const PortEntry* e = portEntry(port);
  EXPECT_EQ(e->clientDeadline[0], 1000 + kTcpClientIdleDropMs);
  tickAdvanceFake(30000);
  sendAll(quiet, {0x42});  // a receive renews the deadline
  ASSERT_TRUE(waitFor([&] { return portAvailable(port) == 1; }));
  EXPECT_EQ(e->clientDeadline[0], 31000 + kTcpClientIdleDropMs);
  tickAdvanceFake(30000);
  const uint8_t out = 0x24;
  EXPECT_EQ(portWrite(port, &out, 1), 1);  // so does a send
  EXPECT_EQ(recvBytes(quiet, 1), Bytes{0x24});
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

TEST_F(TcpPortTest, ServerMergesPeersInSlotOrderSendsToEveryPeerAndReopensAtOnce) {
  uint16_t port = 0;
  const int first = serverWithPeer(&port);
  const int second = keep(connectTo(tcpPort_));
  ASSERT_TRUE(
      waitFor([&] { return portAvailable(port) == 0 && acceptedClients(port) == 2; }, port));
  sendAll(second, {0xB1, 0xB2});
  sendAll(first, {0xA1, 0xA2, 0xA3});
  std::this_thread::sleep_for(std::chrono::milliseconds(30));  // both arrive before one pump
  ASSERT_EQ(portAvailable(port), 5);
  EXPECT_EQ(readPort(port, 5), (Bytes{0xA1, 0xA2, 0xA3, 0xB1, 0xB2}));
  const Bytes frame = {0x60, 0x05, 0x10};
  EXPECT_EQ(portWrite(port, frame.data(), frame.size()), 1);
  EXPECT_EQ(recvBytes(first, 3), frame);
  EXPECT_EQ(recvBytes(second, 3), frame);

  // A peer that went away is dropped when a send to it fails; the other peer still gets the bytes.
  resetOnClose(first);
  forget(first);
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  int result = 1;
  for (int i = 0; i < 5 && result == 1; ++i) result = portWrite(port, frame.data(), frame.size());
  EXPECT_EQ(result, 0);
  EXPECT_LT(portEntry(port)->clientSocket[0], 0);
  EXPECT_GE(recvBytes(second, 3).size(), 3u);

  // A second open of the listening port is refused; after a close it opens again at once.
  const std::string name = "TCPS_" + std::to_string(tcpPort_);
  uint16_t other = 5;
  EXPECT_EQ(portOpen(name.c_str(), &other), kPortOpenBadName);
  EXPECT_EQ(other, 0);
  EXPECT_EQ(portClose(port), 1);
  EXPECT_TRUE(peerSeesClose(second));
  EXPECT_EQ(portOpen(name.c_str(), &port), 0);
}

TEST_F(TcpPortTest, ShortReadsTimeOutsFlushDiscardAndTraceKeepTheStreamWhole) {
  uint16_t port = 0;
  const int peer = connectedClientPort(&port);
  std::vector<std::pair<bool, Bytes>> chunks;
  portSetTrace([&](uint16_t p, bool sent, const uint8_t* d, size_t n) {
    EXPECT_EQ(p, port);
    chunks.push_back({sent, Bytes(d, d + n)});
  });
  const Bytes frame = {0x60, 0x02, 0x80};
  ASSERT_EQ(portWrite(port, frame.data(), frame.size()), 1);
  EXPECT_EQ(recvBytes(peer, 3), frame);
  sendAll(peer, {1, 2, 3});
  ASSERT_TRUE(waitFor([&] { return portAvailable(port) == 3; }, port));
  uint8_t got[5] = {};
  EXPECT_EQ(portRead(port, got, 5), 0);          // a short read takes nothing
  EXPECT_EQ(portReadWait(port, got, 5, 30), 0);  // a time-out takes nothing either
  EXPECT_EQ(portAvailable(port), 3);
  sendAll(peer, {4, 5});
  ASSERT_TRUE(waitFor([&] { return portRead(port, got, 5) == 1; }, port));
  EXPECT_EQ(Bytes(got, got + 5), (Bytes{1, 2, 3, 4, 5}));
  portSetTrace(nullptr);
  ASSERT_GE(chunks.size(), 2u);
  EXPECT_EQ(chunks[0], std::make_pair(true, frame));
  Bytes received;
  for (size_t i = 1; i < chunks.size(); ++i) {
    EXPECT_FALSE(chunks[i].first);
    received.insert(received.end(), chunks[i].second.begin(), chunks[i].second.end());
  }
  EXPECT_EQ(received, (Bytes{1, 2, 3, 4, 5}));

  // Flush drops what the ring holds.
  sendAll(peer, {1, 2, 3, 4});
  ASSERT_TRUE(waitFor([&] { return portAvailable(port) == 4; }, port));
  portFlushInput(port);
  EXPECT_EQ(portAvailable(port), 0);
  sendAll(peer, {7});
  EXPECT_EQ(portReadByte(port, &got[0], 2000), 1);
  EXPECT_EQ(got[0], 7);
  EXPECT_EQ(portTxEmpty(port), 1);
  EXPECT_EQ(portSetLine(port, 115200, 8, 'N', 1), 0);

  // Discard drops the ring and what the socket still holds, even three rings' worth, and
  // keeps whatever arrives later.
  sendAll(peer, pattern(20, 1));
  ASSERT_EQ(readPort(port, 5).size(), 5u);
  sendAll(peer, pattern(3 * RX_RING_SIZE, 2));
  std::this_thread::sleep_for(std::chrono::milliseconds(kSettleMs));
  portDiscardInput(port);
  EXPECT_EQ(portAvailable(port), 0);
  sendAll(peer, pattern(73, 3));
  EXPECT_EQ(readPort(port, 73), pattern(73, 3));
  EXPECT_EQ(portAvailable(port), 0);
}

TEST_F(TcpPortTest, RingWrapsFrom9999ToZeroAndAFullRingKeepsTheOldest) {
  uint16_t port = 0;
  const int peer = connectedClientPort(&port);
  const PortEntry* e = portEntry(port);
  sendAll(peer, pattern(9000));
  ASSERT_TRUE(waitFor([&] { return portAvailable(port) == 9000; }, port));
  EXPECT_EQ(readPort(port, 9000), pattern(9000));
  sendAll(peer, pattern(2000, 9000));
  ASSERT_TRUE(waitFor([&] { return portAvailable(port) == 2000; }, port));
  EXPECT_EQ(e->rxRead, 9000);
  EXPECT_EQ(e->rxWrite, 1000);  // wrapped
  Bytes got(2000);
  ASSERT_EQ(portRead(port, got.data(), 999), 1);
  ASSERT_EQ(portRead(port, got.data() + 999, 2), 1);  // straddles the end of the ring
  ASSERT_EQ(portRead(port, got.data() + 1001, 999), 1);
  EXPECT_EQ(got, pattern(2000, 9000));
  EXPECT_EQ(e->rxRead, e->rxWrite);

  // More than the ring holds: the ring fills to its limit, the rest waits in the socket.
  const size_t total = 25000;
  sendAll(peer, pattern(total));
  ASSERT_TRUE(waitFor([&] { return portAvailable(port) == RX_RING_SIZE - 1; }, port));
  EXPECT_EQ(portWaitInput(port, 0), 1);
  got.clear();
  uint8_t chunk[3333];
  while (got.size() < total) {
    ASSERT_TRUE(waitFor([&] { return portAvailable(port) > 0; }, port)) << got.size();
    ASSERT_LE(portAvailable(port), RX_RING_SIZE - 1);
    const size_t n = std::min<size_t>(
        {sizeof chunk, static_cast<size_t>(portAvailable(port)), total - got.size()});
    ASSERT_EQ(portRead(port, chunk, n), 1);
    got.insert(got.end(), chunk, chunk + n);
  }
  EXPECT_EQ(got, pattern(total));
  EXPECT_EQ(e->connected, 1u);  // a full ring is not a broken connection
}

TEST_F(TcpPortTest, WaitsEndWhenNewBytesOrTheCountArriveAndTimeOutOtherwise) {
  uint16_t port = 0;
  const int peer = connectedClientPort(&port);
  auto t0 = Clock::now();
  EXPECT_EQ(portWaitInput(port, 120), 0);
  EXPECT_GE(msSince(t0), 100);
  EXPECT_LT(msSince(t0), 1000);
  std::thread sender([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(40));
    sendAll(peer, {0x33});
  });
  t0 = Clock::now();
  EXPECT_EQ(portWaitInput(port, 5000), 1);
  const long waited = msSince(t0);
  sender.join();
  EXPECT_LT(waited, 1000);
  EXPECT_EQ(portAvailable(port), 1);

  // A byte already buffered was seen by the caller: the wait sleeps until more arrives.
  t0 = Clock::now();
  EXPECT_EQ(portWaitInput(port, 120), 0);
  EXPECT_GE(msSince(t0), 100);
  std::thread more([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(40));
    sendAll(peer, {0x34});
  });
  t0 = Clock::now();
  EXPECT_EQ(portWaitInput(port, 5000), 1);
  more.join();
  EXPECT_LT(msSince(t0), 1000);
  EXPECT_EQ(portAvailable(port), 2);

  // A wait for a count ends only once the ring holds that many, however they trickle in.
  std::thread trickle([&] {
    for (uint8_t v : {0x35, 0x36, 0x37}) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      sendAll(peer, {v});
    }
  });
  EXPECT_EQ(portWaitReply(port, 5, 5000), 1);
  trickle.join();
  EXPECT_EQ(portAvailable(port), 5);
  t0 = Clock::now();
  EXPECT_EQ(portWaitReply(port, 6, 100), 0);
  EXPECT_GE(msSince(t0), 90);
  EXPECT_EQ(portWaitReply(port, 5, 0), 1);  // already there: at once
  uint8_t five[5];
  ASSERT_EQ(portRead(port, five, 5), 1);  // a wait takes nothing
  EXPECT_EQ(Bytes(five, five + 5), (Bytes{0x33, 0x34, 0x35, 0x36, 0x37}));

  // Under the fake clock a wait with nothing to read moves fake time, not real time.
  uint8_t b;
  tickUseFakeClock(true);
  tickSetFake(0xFFFFF000u);
  t0 = Clock::now();
  EXPECT_EQ(portWaitInput(port, 60000), 0);
  EXPECT_LT(msSince(t0), 500);
  EXPECT_EQ(nowMs(), 0xFFFFF000u + 60000u);
  EXPECT_EQ(portReadByte(port, &b, 100), 0);  // ends by fake time too
}

}  // namespace
