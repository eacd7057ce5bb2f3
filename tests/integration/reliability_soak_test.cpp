// The fault soak in short: korvane-sim dropping, corrupting and delaying replies behind a
// proxy that cuts the TCP connection mid-exchange, driven through the real port table and
// UTRKDevice. Results must be defined codes, good reads must match what the board holds,
// confirmed writes must be in its memory, the client must reconnect by itself, nothing late.
#include <gtest/gtest.h>

#include "bench/soak.h"
#include "support/test_support.h"

namespace {

soak::Config shortConfig() {
  soak::Config cfg;
  cfg.simPath = testsupport::buildDir() + "/korvane-sim";
  cfg.operations = 150;
  cfg.seconds = 90;
  return cfg;
}

int count(const std::map<int, int>& m, int code) {
  auto it = m.find(code);
  return it == m.end() ? 0 : it->second;
}

TEST(ReliabilitySoak, CleanLinkCompletesEveryReadAndWriteAndMatchesTheBoard) {
  soak::Config cfg = shortConfig();
  cfg.operations = 60;
  cfg.drop = cfg.corrupt = cfg.cut = cfg.delay = 0;
  const soak::Report rep = soak::run(cfg);
  soak::printTable(cfg, rep, stdout);
  ASSERT_TRUE(rep.started) << rep.error;
  EXPECT_EQ(rep.reads + rep.writes, 60);
  EXPECT_EQ(count(rep.readResults, kResultDone), rep.reads);
  EXPECT_EQ(count(rep.writeResults, kResultDone), rep.writes);
  EXPECT_EQ(rep.proxyConnections, 1);
  EXPECT_EQ(rep.mismatches, 0);
  EXPECT_EQ(rep.finalMismatches, 0);
  EXPECT_EQ(rep.finalUnverified, 0);
  EXPECT_GT(rep.bytesVerified, 0);
  EXPECT_TRUE(rep.ok());
}

TEST(ReliabilitySoak, DroppedCorruptedDelayedAndCutTrafficNeverGivesWrongDataOrHangs) {
  soak::Config cfg = shortConfig();
  cfg.drop = 0.08;
  cfg.corrupt = 0.08;
  cfg.cut = 0.03;
  cfg.delay = 0.1;
  const soak::Report rep = soak::run(cfg);
  soak::printTable(cfg, rep, stdout);
  ASSERT_TRUE(rep.started) << rep.error;
  EXPECT_EQ(rep.reads + rep.writes, cfg.operations);
  EXPECT_EQ(rep.undefinedCodes, 0);
  // Faults really happened and were seen as the codes they stand for.
  EXPECT_GT(count(rep.readResults, kResultTimeout) + count(rep.writeResults, kResultTimeout), 0);
  EXPECT_GT(count(rep.readResults, kResultChecksum), 0);
  EXPECT_GT(rep.proxyCuts, 0);
  // Every cut was followed by a reconnect the tool made on its own.
  EXPECT_GE(rep.proxyConnections, rep.proxyCuts);
  EXPECT_GT(count(rep.readResults, kResultDone), 0);
  EXPECT_GT(rep.bytesVerified, 0);
  EXPECT_EQ(rep.mismatches, 0);
  EXPECT_EQ(rep.finalMismatches, 0);
  EXPECT_EQ(rep.finalUnverified, 0);
  EXPECT_EQ(rep.overruns, 0) << "worst overrun " << rep.worstOverrunMs << " ms";
}

}  // namespace
