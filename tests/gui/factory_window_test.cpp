// The factory settings window: Open's resets, the nozzle count proposing AZT addresses, the
// side count and "Astra" reactions, and presets written to korvane-sim through its button.
#include "settings/presets.h"
#include "settings/settings_state.h"

#include "chan_sim.h"
#include "ui/catalog.h"
#include "ui/chan_form.h"
#include "ui/factory_form.h"
#include "ui/var_table.h"

namespace {

using chantest::SimBoard;

std::vector<std::string> cells(Fl_StringTable* t) {
  std::vector<std::string> out;
  for (int c = 0; c < t->cols(); ++c) {
    const char* s = t->get_cell(c, 0);
    out.emplace_back(s ? s : "<none>");
  }
  return out;
}

using Cells = std::vector<std::string>;

void choose(Fl_Choice* c, int item) {
  c->value(item);
  c->do_callback();
}

TEST(FactoryWindow, NozzleCountProposesConsecutiveAztAddresses) {
  xFactorySet w(707, 377, "Factory settings");
  w.open();
  choose(w.nozzle_count, 2);
  EXPECT_EQ(cells(w.nara_a), (Cells{"1", "2", "3"}));
  EXPECT_EQ(cells(w.nara_b), (Cells{"4", "5", "6"}));
  choose(w.nozzle_count, 4);
  EXPECT_EQ(cells(w.nara_b), (Cells{"6", "7", "8", "9", "10"}));
  w.nozzle_count->value(static_cast<const Fl_Menu_Item*>(nullptr));
  w.nozzle_count->do_callback();
  EXPECT_EQ(w.nara_a->cols(), 0);
  EXPECT_EQ(w.nara_b->cols(), 0);
  w.hide();
}

TEST(FactoryWindow, OpeningAgainResetsAddressesCountsAndTables) {
  xFactorySet w(707, 377, "Factory settings");
  for (int round = 0; round < 2; ++round) {
    w.open();
    EXPECT_STREQ(w.side_a_address->value(), "1");
    EXPECT_STREQ(w.side_b_address->value(), "2");
    EXPECT_EQ(w.nozzle_count->value(), 0);
    EXPECT_EQ(w.side_count->value(), 1);
    EXPECT_EQ(cells(w.nara_a), (Cells{"1"}));
    EXPECT_EQ(cells(w.nara_b), (Cells{"2"}));
    EXPECT_TRUE(w.side_b_group->active());
    // The engineer changes everything before closing the window.
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
  EXPECT_STREQ(w.description->value(), presetDescription(kPumpGeneral));
  EXPECT_EQ(w.nozzle_count->value(), 2);
  choose(w.pump_type, kPumpAstra);
  EXPECT_STREQ(w.description->value(), presetDescription(kPumpAstra));
  EXPECT_EQ(w.side_count->value(), 0);
  EXPECT_EQ(w.nozzle_count->value(), 0);
  // The choices' own reactions did not run.
  EXPECT_EQ(w.nara_a->cols(), 3);
  EXPECT_TRUE(w.side_b_group->active());
  w.hide();
}

TEST(FactoryWindow, ScreenshotsOfEveryPumpType) {
  if (!std::getenv("KORVANE_SHOTS")) GTEST_SKIP() << "KORVANE_SHOTS not set";
  xFactorySet w(707, 377, "Factory settings");
  w.open();
  for (int t = 0; t < kPumpTypeCount; ++t) {
    choose(w.pump_type, t);
    w.redraw();
    chantest::screenshot(&w, "factory_" + std::string(kPumpTypeItems[t]));
  }
  w.hide();
}

TEST(FactoryWindow, ScreenshotsInRussian) {
  if (!std::getenv("KORVANE_SHOTS")) GTEST_SKIP() << "KORVANE_SHOTS not set";
  ASSERT_EQ(catalog_load_path((testsupport::buildDir() + "/ru/korvane_v3.mo").c_str()), 1);
  {
    xFactorySet w(707, 377, tr("Factory settings"));
    w.open();
    choose(w.pump_type, kPumpC4000);
    choose(w.nozzle_count, 4);
    chantest::screenshot(&w, "ru_factory");
    w.hide();
    xChanForm c(811, 568, tr("Channel settings"));
    c.attach(nullptr, nullptr, [] { return 5; });
    c.open();
    c.selector->value(9);
    c.state->value(20);
    chantest::screenshot(&c, "ru_channel_settings");
    c.hide();
    ChannelCopies copies;
    ChanVarTable t(nullptr, &copies);
    t.show();
    t.read_once();
    chantest::screenshot(&t, "ru_channel_variables");
    t.hide();
  }
  catalog_unload();
}

// The writes the tool sends: (bank, address) of every block-write frame, in order.
struct WriteLog {
  std::vector<uint8_t> sent;
  std::vector<std::pair<int, uint32_t>> writes() const {
    // Header [0x60, addr, 0x40 | bank, cs] followed by the parameter frame
    // [0, 0, addr>>8, addr>>16, addr, first byte, count, cs].
    std::vector<std::pair<int, uint32_t>> out;
    for (size_t i = 0; i + 11 < sent.size(); ++i) {
      if (sent[i] != 0x60 || (sent[i + 2] & 0xFC) != 0x40) continue;
      const uint8_t* p = &sent[i + 4];
      if (p[0] != 0 || p[1] != 0) continue;
      out.emplace_back(sent[i + 2] & 3, uint32_t(p[2]) << 8 | uint32_t(p[3]) << 16 | p[4]);
    }
    return out;
  }
};

struct FactoryPresetTest : ::testing::Test {
  void SetUp() override {
    ASSERT_TRUE(sim.ready());
    w.session = &sim.session;
    w.settings = &st;
    portSetTrace([this](uint16_t, bool out, const uint8_t* d, size_t n) {
      if (out) log.sent.insert(log.sent.end(), d, d + n);
    });
  }
  void TearDown() override { portSetTrace(nullptr); }

  SimBoard sim;
  SettingsState st;
  xFactorySet w{707, 377, "Factory settings"};
  WriteLog log;
};

TEST_F(FactoryPresetTest, C4000WritesPhasesTypesMainAndExtraAfterTheClear) {
  w.open();
  choose(w.pump_type, kPumpC4000);
  choose(w.nozzle_count, 1);
  w.apply_button->do_callback();
  ASSERT_FALSE(sim.op.alerts.empty());
  EXPECT_EQ(sim.op.alerts[0], "All ok");
  EXPECT_EQ(sim.op.alerts.size(), 1u);

  auto writes = log.writes();
  ASSERT_GE(writes.size(), 5u);
  EXPECT_EQ(writes[0], std::make_pair(2, 0x08u));  // controller clear
  std::vector<uint32_t> after;
  for (size_t i = 1; i < writes.size(); ++i)
    if (writes[i].second != 0x88FFFF) after.push_back(writes[i].second);  // restart aside
  EXPECT_EQ(after, (std::vector<uint32_t>{0x0000, 0x0010, 0x3101, 0x5000}));

  std::vector<uint8_t> main = sim.read(0x3101, 68);
  ASSERT_EQ(main.size(), 68u);
  MainSettings preset = presetMainSettings(w.preset_form());
  EXPECT_EQ(main, std::vector<uint8_t>(preset.data(), preset.data() + 68));
  EXPECT_EQ(st.readCopy.get(ms::noz_count), 2u);
  std::vector<uint8_t> extra = sim.read(0x5000, 60);
  ExtraSettings want = presetExtraSettings();
  EXPECT_EQ(extra, std::vector<uint8_t>(want.data(), want.data() + 60));
  // The written meter types are in the one channel copy the channel window also shows.
  for (int ch = 0; ch < 4; ++ch) EXPECT_EQ(st.records.meters[ch].typeWord(), 200) << ch;
  EXPECT_EQ(st.records.meters[4].typeWord(), 0);
  EXPECT_EQ(w.progress->value(), 100);
}

TEST_F(FactoryPresetTest, ShelfSendsThreeWritesAfterTheClear) {
  w.open();
  choose(w.pump_type, kPumpShelf);
  w.apply_button->do_callback();
  ASSERT_EQ(sim.op.alerts.size(), 1u);
  EXPECT_EQ(sim.op.alerts[0], "All ok");
  int afterClear = 0;
  for (auto& wr : log.writes())
    if (wr.first == 0 && wr.second != 0x88FFFF) ++afterClear;
  EXPECT_EQ(afterClear, 3);
}

TEST(FactoryPresetPassword, WrongAdminPasswordWritesNothing) {
  SimBoard sim({"--admin-password", "4321"});
  ASSERT_TRUE(sim.ready());
  SettingsState st;
  xFactorySet w(707, 377, "Factory settings");
  w.session = &sim.session;
  w.settings = &st;
  sim.session.passwordStatus[0] = 1;
  std::vector<uint8_t> before = sim.read(0x3101, 68);
  w.open();
  choose(w.pump_type, kPumpTokheim);
  sim.op.textAnswers.push_back("1111");
  w.apply_button->do_callback();
  ASSERT_EQ(sim.op.alerts.size(), 1u);
  EXPECT_EQ(sim.op.alerts[0], "Wrong password");
  EXPECT_EQ(sim.read(0x3101, 68), before);
  EXPECT_EQ(w.progress->value(), 0);
}

}  // namespace
