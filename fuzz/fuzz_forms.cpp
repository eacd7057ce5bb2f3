// Fuzz harness: the collect functions of the main settings, extra settings and channel forms
// fed arbitrary texts, choice indexes and check states (what an engineer can type or a broken
// window could hand over), plus the record -> form direction fed arbitrary record bytes.
#include <cstdio>
#include <cstring>
#include <string>

#include "fuzz/fuzz_support.h"
#include "settings/channel_form.h"
#include "settings/settings_form.h"

using namespace fuzzsupport;

namespace {

// Texts are cut at 0x00 bytes; a text may be long, empty or hold any byte.
std::string nextText(Reader& in) {
  std::string s;
  while (!in.empty()) {
    const uint8_t b = in.byte();
    if (b == 0) break;
    s += static_cast<char>(b);
  }
  return s;
}

int anyIndex(Reader& in) { return static_cast<int>(static_cast<int16_t>(in.u16())); }

void fuzzMain(Reader& in) {
  MainSettingsForm form;
  for (auto& c : form.choice) c = anyIndex(in);
  for (size_t i = 0; i < form.on.size(); ++i) form.on[i] = in.byte() & 1;
  for (auto& b : form.modes) b = in.byte() & 1;
  for (auto& b : form.modes2) b = in.byte() & 1;
  for (auto& t : form.aztA) t = nextText(in);
  for (auto& t : form.aztB) t = nextText(in);
  for (auto& t : form.text) t = nextText(in);
  switch (in.byte() % 7) {
    case 0:
      onImmediateStartChosen(&form);
      break;
    case 1:
      onStart20mlChosen(&form);
      break;
    case 2:
      onSlowStartEdited(&form);
      break;
    case 3:
      onNoCountingChosen(&form);
      break;
    case 4:
      onCount3SecondsChosen(&form);
      break;
    case 5:
      onOverfillBufferEdited(&form);
      break;
    default:
      applyExclusiveOptions(&form.modes2);
      break;
  }
  MainSettings rec;
  std::memset(&rec, 0, sizeof rec);
  const CollectResult r = collectMainSettings(form, &rec);
  if (!r.ok) {
    if (!r.message) fail("a refused form names no message");
    const int focus = static_cast<int>(r.focus);
    if (focus < -1 || focus >= kMainControlCount) fail("focus outside the controls");
    return;
  }
  // The window shows the record it just saved: collecting that again gives the same bytes.
  // Only for choices a list can hold (a widget never reports an item past its list; every
  // list has at least two items); out-of-list indexes above only had to be survived.
  for (int c : form.choice)
    if (c < -1 || c > 1) return;
  MainSettingsForm again = form;
  displayMainSettings(rec, &again);
  MainSettings rec2;
  std::memset(&rec2, 0, sizeof rec2);
  const CollectResult r2 = collectMainSettings(again, &rec2);
  if (!r2.ok) {
    std::fprintf(stderr, "second collect: %s (control %d)\n", r2.message,
                 static_cast<int>(r2.focus));
    fail("a collected record does not collect again");
  }
  if (std::memcmp(&rec, &rec2, sizeof rec) != 0)
    fail("collect, display, collect changed the record");
}

void fuzzExtra(Reader& in) {
  ExtraSettingsForm form;
  form.massmeterType = anyIndex(in);
  for (auto& b : form.massFlags) b = in.byte() & 1;
  for (auto& t : form.text) t = nextText(in);
  ExtraSettings base;
  const std::string raw = in.take(sizeof base);
  std::memset(&base, 0, sizeof base);
  std::memcpy(&base, raw.data(), raw.size());
  const ExtraSettings rec = collectExtraSettings(base, form);
  ExtraSettingsForm shown;
  const uint16_t rawPressure[2] = {in.u16(), in.u16()};
  displayExtraSettings(rec, rawPressure, &shown);
}

void fuzzChannel(Reader& in) {
  ChannelForm form;
  form.state = anyIndex(in);
  form.phase = anyIndex(in);
  for (auto& b : form.status) b = in.byte() & 1;
  for (auto& b : form.flags) b = in.byte() & 1;
  for (const ControlDesc& d : kChanControls)
    if (d.kind == ControlKind::Input) form.text[static_cast<size_t>(d.id)] = nextText(in);
  ChannelRecord channel;
  MeterRecord meter;
  channelFormToRecords(form, &channel, &meter);
  const ChannelForm shown = channelFormFromRecords(channel, meter);
  if (shown.state < -1 || shown.state >= kStateEntryCount) fail("state entry outside the list");
  // Arbitrary record bytes (as a board may hold them) shown in the form and the table.
  const std::string raw = in.take(channel.bytes.size() + meter.bytes.size());
  const size_t nc = channel.bytes.size();
  std::memcpy(channel.bytes.data(), raw.data(), raw.size() < nc ? raw.size() : nc);
  if (raw.size() > nc) std::memcpy(meter.bytes.data(), raw.data() + nc, raw.size() - nc);
  const ChannelForm fromBoard = channelFormFromRecords(channel, meter);
  if (fromBoard.state < -1 || fromBoard.state >= kStateEntryCount)
    fail("state entry outside the list");
  const std::vector<std::string> column = channelTableColumn(channel);
  if (column.size() != 21) fail("a table column does not hold 21 texts");
  (void)channelSelectorEntries(anyIndex(in));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Reader in(data, size);
  switch (in.byte() % 4) {
    case 0:
      fuzzMain(in);
      break;
    case 1:
      fuzzExtra(in);
      break;
    case 2:
      fuzzChannel(in);
      break;
    default: {
      const std::string t = nextText(in);
      (void)scanSatelliteText(t);
      (void)parseLeadingInt(t);
      (void)parseUnsigned(t);
      (void)parseScaledDecimal(t, in.byte() % 12);
      (void)parseHexAfterPrefix(t);
      (void)parseHex64AfterPrefix(t);
      break;
    }
  }
  return 0;
}
