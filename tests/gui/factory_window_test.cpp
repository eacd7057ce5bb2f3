// The factory settings window: Open's resets, the nozzle count proposing AZT addresses, the
// pump type's description and "Astra" rule, presets written to korvane-sim by its button, and
// the admin password guarding its writes and the channel window's.
#include "gui_test.h"

#include "settings/presets.h"
#include "settings/settings_state.h"
#include "ui/chan_form.h"
#include "ui/factory_form.h"

namespace {

using namespace guitest;

Strings cells(Fl_StringTable* t) {
  Strings out;
  for (int c = 0; c < t->cols(); ++c)
    out.emplace_back(t->get_cell(c, 0) ? t->get_cell(c, 0) : "<none>");
  return out;
}

void choose(Fl_Choice* c, int item) {
  c->value(item);
  c->do_callback();
}

TEST(FactoryWindow, OpeningResetsTheFormAndTheNozzleCountProposesAztAddresses) {
  xFactorySet w(707, 377, "Factory settings");
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round);
    w.open();
    EXPECT_STREQ("1", w.side_a_address->value());
    EXPECT_STREQ("2", w.side_b_address->value());
    EXPECT_EQ(0, w.nozzle_count->value());
    EXPECT_EQ(1, w.side_count->value());
    EXPECT_EQ(Strings{"1"}, cells(w.nara_a));
    EXPECT_EQ(Strings{"2"}, cells(w.nara_b));
    EXPECT_TRUE(w.side_b_group->active());
    // Three nozzles: 1,2,3 on side A and 4,5,6 on side B; five continue after side A's own.
    choose(w.nozzle_count, 2);
    EXPECT_EQ((Strings{"1", "2", "3"}), cells(w.nara_a));
    EXPECT_EQ((Strings{"4", "5", "6"}), cells(w.nara_b));
    choose(w.nozzle_count, 4);
    EXPECT_EQ((Strings{"6", "7", "8", "9", "10"}), cells(w.nara_b));
    w.nozzle_count->value(static_cast<const Fl_Menu_Item*>(nullptr));
    w.nozzle_count->do_callback();
    EXPECT_EQ(0, w.nara_a->cols());
    EXPECT_EQ(0, w.nara_b->cols());
    // Everything else changed before the window closes and opens again.
    w.side_a_address->value("17");
    w.side_b_address->value("18");
    choose(w.nozzle_count, 3);
    w.nara_a->set_cell(0, 0, "99");
    choose(w.side_count, 0);
    EXPECT_FALSE(w.side_b_group->active());
    w.hide();
  }
}

TEST(FactoryWindow, PumpTypeDescribesAndAstraChoosesOneSideOneNozzleQuietly) {
  xFactorySet w(707, 377, "Factory settings");
  w.open();
  choose(w.nozzle_count, 2);
  choose(w.pump_type, kPumpGeneral);
  EXPECT_STREQ(presetDescription(kPumpGeneral), w.description->value());
  EXPECT_EQ(2, w.nozzle_count->value());
  choose(w.pump_type, kPumpAstra);
  EXPECT_STREQ(presetDescription(kPumpAstra), w.description->value());
  EXPECT_EQ(0, w.side_count->value());
  EXPECT_EQ(0, w.nozzle_count->value());
  // The choices' own reactions did not run.
  EXPECT_EQ(3, w.nara_a->cols());
  EXPECT_TRUE(w.side_b_group->active());
  w.hide();
}

// (bank, address) of every block-write frame in what the tool sent: the header
// [0x60, addr, 0x40 | bank, cs] and the parameter frame [0, 0, a>>8, a>>16, a, first, count, cs].
std::vector<std::pair<int, uint32_t>> blockWrites(const std::vector<uint8_t>& sent) {
  std::vector<std::pair<int, uint32_t>> out;
  for (size_t i = 0; i + 11 < sent.size(); ++i) {
    const uint8_t* p = &sent[i + 4];
    if (sent[i] != 0x60 || (sent[i + 2] & 0xFC) != 0x40 || p[0] != 0 || p[1] != 0) continue;
    out.emplace_back(sent[i + 2] & 3, uint32_t(p[2]) << 8 | uint32_t(p[3]) << 16 | p[4]);
  }
  return out;
}
constexpr uint32_t kRestartRegister = 0x88FFFF;

struct FactoryPresetTest : ::testing::Test {
  void SetUp() override {
    ASSERT_TRUE(sim.ready());
    w.session = &sim.session;
    w.settings = &st;
    portSetTrace([this](uint16_t, bool out, const uint8_t* d, size_t n) {
      if (out) sent.insert(sent.end(), d, d + n);
    });
  }
  void TearDown() override { portSetTrace(nullptr); }

  SimBoard sim;
  SettingsState st;
  xFactorySet w{707, 377, "Factory settings"};
  std::vector<uint8_t> sent;
};

TEST_F(FactoryPresetTest, PresetsWriteTheirRecordsAfterTheControllerClear) {
  w.open();
  choose(w.pump_type, kPumpC4000);
  choose(w.nozzle_count, 1);
  sim.op.confirmAnswers = {true};
  w.apply_button->do_callback();
  EXPECT_EQ(Strings{"All ok"}, sim.op.alerts);
  auto writes = blockWrites(sent);
  ASSERT_GE(writes.size(), 5u);
  EXPECT_EQ(std::make_pair(2, 0x08u), writes[0]);  // controller clear
  std::vector<uint32_t> after;
  for (size_t i = 1; i < writes.size(); ++i)
    if (writes[i].second != kRestartRegister) after.push_back(writes[i].second);
  EXPECT_EQ((std::vector<uint32_t>{0x0000, 0x0010, 0x3101, 0x5000}),
            after);  // phases, types, main, extra
  const MainSettings preset = presetMainSettings(w.preset_form());
  EXPECT_EQ(std::vector<uint8_t>(preset.data(), preset.data() + 68), sim.read(0x3101, 68));
  EXPECT_EQ(2u, st.readCopy.get(ms::noz_count));
  const ExtraSettings extra = presetExtraSettings();
  EXPECT_EQ(std::vector<uint8_t>(extra.data(), extra.data() + 60), sim.read(0x5000, 60));
  // The written meter types are in the one channel copy the channel window also shows.
  for (int ch = 0; ch < 4; ++ch) EXPECT_EQ(200, st.records.meters[ch].typeWord()) << ch;
  EXPECT_EQ(0, st.records.meters[4].typeWord());
  EXPECT_EQ(100, w.progress->value());

  // "Shelf" sends three data writes after the clear.
  sent.clear();
  sim.op.alerts.clear();
  w.open();
  choose(w.pump_type, kPumpShelf);
  sim.op.confirmAnswers = {true};
  w.apply_button->do_callback();
  EXPECT_EQ(Strings{"All ok"}, sim.op.alerts);
  writes = blockWrites(sent);
  EXPECT_EQ(3, std::count_if(writes.begin(), writes.end(), [](const std::pair<int, uint32_t>& wr) {
              return wr.first == 0 && wr.second != kRestartRegister;
            }));
}

TEST(AdminPassword, AWrongOneWritesNothingFromTheChannelOrFactoryWindowAndTheRightOneWrites) {
  SimBoard sim({"--admin-password", "4321"});
  ASSERT_TRUE(sim.ready());
  sim.session.login.status[0] = 1;  // the board has an admin password set
  const std::vector<uint8_t> channelBefore = sim.read(0x2000, 72),
                             mainBefore = sim.read(0x3101, 68);
  SettingsState st;
  xFactorySet factory(707, 377, "Factory settings");
  factory.session = &sim.session;
  factory.settings = &st;
  factory.open();
  choose(factory.pump_type, kPumpTokheim);
  sim.op.passwordAnswers = {"1111"};
  factory.apply_button->do_callback();
  EXPECT_EQ(Strings{"Wrong password"}, sim.op.alerts);
  EXPECT_EQ(mainBefore, sim.read(0x3101, 68));
  EXPECT_EQ(0, factory.progress->value());

  ChannelCopies copies;
  xChanForm chan(811, 568, "Channel settings");
  chan.attach(&sim.session, &copies, [] { return 1; });
  chan.open();
  chan.chan_control<Fl_Float_Input>(ChanControl::Price)->value("45.60");
  sim.op.alerts.clear();
  sim.op.passwordAnswers = {"1111"};
  chan.save_button->do_callback();
  EXPECT_EQ(Strings{"Wrong password"}, sim.op.alerts);
  EXPECT_EQ(channelBefore, sim.read(0x2000, 72));
  sim.op.passwordAnswers = {"4321"};
  chan.save_button->do_callback();
  EXPECT_EQ((Strings{"Wrong password", "Write ok"}), sim.op.alerts);
  const std::vector<uint8_t> b = sim.read(0x2000, 72);
  ASSERT_EQ(72u, b.size());
  EXPECT_EQ(4560, b[32] | b[33] << 8);
}

}  // namespace
