// The tool's TCP server under load on real loopback sockets: 16 peers at once, a 17th kept
// out until a slot frees, a flood against a slow reader (the ring fills, nothing is lost or
// reordered, another peer is still heard) and peers that connect and vanish.
#include <gtest/gtest.h>

#include "bench/tcp_load.h"
#include "support/test_support.h"

TEST(ReliabilityTcpLoad, SixteenPeersWaitingSeventeenthFloodAndVanishingPeersKeepEveryByteInOrder) {
  tcpload::Config cfg;
  cfg.bytesPerPeer = 5000;
  cfg.floodBytes = 150000;  // fifteen times the ring: the ring must fill and refill
  cfg.vanishing = 32;
  const tcpload::Figures f = tcpload::run(cfg, testsupport::freeTcpPort());
  tcpload::printFigures(cfg, f, stdout);
  ASSERT_EQ(f.error, "");
  EXPECT_EQ(f.orderErrors, 0);
  EXPECT_GE(f.bytesChecked, 16LL * cfg.bytesPerPeer + cfg.floodBytes + 100);
  EXPECT_EQ(f.seventeenthEarlyBytes, 0);
  EXPECT_TRUE(f.seventeenthDelivered);
  // The slow reader let the ring fill to its limit, never past it.
  EXPECT_EQ(f.floodMaxRing, RX_RING_SIZE - 1);
  EXPECT_TRUE(f.talkerHeardDuringFlood);
  EXPECT_EQ(f.vanished, cfg.vanishing);
  EXPECT_EQ(f.slotsBusyAfterVanish, 0);
  EXPECT_TRUE(f.reusedAllSlots);
}
