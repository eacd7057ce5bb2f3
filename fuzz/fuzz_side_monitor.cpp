// Fuzz harness: the side monitor of the "Load" tab fed arbitrary status, input/output and
// mass replies in arbitrary pieces over a real TCP client port, with time passing between
// steps. Every step ends with a delay or the stop, the texts shown stay valid, and a stop
// request brings the loop to an end.
#include <string>

#include "fuzz/fuzz_support.h"
#include "protocol/side_monitor.h"

using namespace fuzzsupport;

namespace {
constexpr int kMaxSteps = 400;
constexpr int kStepsToStop = 64;
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  LoopbackPeer& peer = LoopbackPeer::get();
  peer.reset();
  Reader in(data, size);
  UTRKDevice dev(peer.port());
  SideMonitor mon(&dev);
  const uint8_t setup = in.byte();
  mon.kind = (setup & 1) ? '$' : '#';
  mon.sideAAddress = in.byte();
  mon.sideBAddress = in.byte();
  mon.nozzle = static_cast<uint8_t>(1 + (setup >> 1) % 5);
  size_t shown = 0;
  mon.view.showState = [&](const std::string& s) { shown += s.size(); };
  mon.view.showPerformance = [&](const std::string& s) { shown += s.size(); };
  mon.view.showIndicator = [&](int index, bool) {
    if (index < 0 || index >= 16) fail("indicator index out of range");
  };
  mon.selectSide(setup & 0x40);
  for (int i = 0; i < kMaxSteps && !in.empty(); ++i) {
    const int delay = mon.step();
    if (delay == kMonitorStop) return 0;
    if (delay < 0 || delay > 60000) fail("a step asked for an unreasonable delay");
    peer.drainSent();
    const uint8_t op = in.byte();
    if (op & 0x80)
      tickAdvanceFake((op & 0x7Fu) * 4u);
    else
      peer.feed(in.take(op));
  }
  // Silence from here on: a stop request must end the loop within a few time-outs.
  mon.stopRequested = true;
  for (int i = 0; i < kStepsToStop; ++i) {
    peer.drainSent();
    if (mon.step() == kMonitorStop) return 0;
    tickAdvanceFake(kExpireAllMs);
  }
  fail("the monitor did not stop");
}
