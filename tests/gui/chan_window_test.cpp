// The channel settings window against korvane-sim: the selector for noz_count, loading a
// channel into the form, saving it back, the "Hex status" follow-up of the status list,
// and the function-key shortcuts.
#include <FL/Fl.H>

#include "chan_sim.h"
#include "settings/channel_form.h"
#include "ui/chan_form.h"
#include "ui/shortcuts.h"

namespace {

using chantest::SimBoard;
using F = ChannelField;

struct ChanWindowTest : ::testing::Test {
  void SetUp() override {
    ASSERT_TRUE(sim.ready()) << "korvane-sim did not answer";
    form = std::make_unique<xChanForm>(359, 206, "Channel settings");
    form->resize(359, 206, 811, 568);
    form->attach(&sim.session, &copies, [this] { return nozCount; });
  }
  void TearDown() override {
    if (form) form->hide();
    chantest::pump(0.05);
  }
  void select(int entry) {
    form->selector->value(entry);
    form->selector->do_callback();
  }

  SimBoard sim;
  ChannelCopies copies;
  int nozCount = 2;
  std::unique_ptr<xChanForm> form;
};

TEST_F(ChanWindowTest, OpenListsTheChannelsAndLoadsTheFourthFromTheBoard) {
  ChannelRecord ch;
  ch.set(F::state, 43);
  ch.set(F::bit_status, 0x0088);
  ch.set(F::bit_status2, 0x02);
  ch.set(F::load_vol_hi, 1230);
  ch.set(F::f_count, 1234);
  ch.set(F::f_c_mil, 5);
  ch.set(F::k_vol_lo, 0xCAFE);
  MeterRecord m;
  m.setTypeWord(14);
  m.setPhase(1);
  m.setImpulseWeight((uint64_t(1) << 32) | 1);
  m.setCalibrationCount(77);
  ASSERT_EQ(sim.write(0x2300, {ch.bytes.begin(), ch.bytes.end()}), kResultDone);
  ASSERT_EQ(sim.write(0x1300, {m.bytes.begin(), m.bytes.end()}), kResultDone);

  form->open();
  ASSERT_EQ(form->selector->size() - 1, 4);
  EXPECT_STREQ(form->selector->text(0), "Side A channel 1");
  EXPECT_STREQ(form->selector->text(3), "Side B channel 2");
  EXPECT_EQ(form->selector->value(), 0);
  EXPECT_EQ(form->state->size() - 1, kStateEntryCount);

  select(3);
  EXPECT_EQ(form->state->value(), 17);
  EXPECT_STREQ(form->load_vol->value(), "12.30");
  EXPECT_STREQ(form->grand_total->value(), "1234.05");
  EXPECT_STREQ(form->k_vol_lo->value(), "0x0000CAFE");
  EXPECT_STREQ(form->hex_status->value(), "0x0088");
  EXPECT_TRUE(form->status_list->checked(2));   // "Nozzle up"
  EXPECT_TRUE(form->status_list->checked(4));   // "Activated"
  EXPECT_FALSE(form->status_list->checked(1));
  EXPECT_TRUE(form->flags_list->checked(2));
  EXPECT_STREQ(form->meter_type->value(), "7");
  EXPECT_STREQ(form->impulse_weight->value(), "0x0100000001");
  EXPECT_STREQ(form->cal_count->value(), "77");
  EXPECT_EQ(form->phase->value(), 1);
  EXPECT_TRUE(sim.op.alerts.empty());
  chantest::screenshot(form.get(), "channel_settings");
}

TEST_F(ChanWindowTest, SaveWritesBothRecordsAndSaysWriteOk) {
  form->open();
  select(1);
  form->grand_total->value("1234.5");
  form->set_vol->value("12.345");
  form->meter_type->value("7");
  form->state->value(20);  // "Continue, waiting nozzle"
  form->save_button->do_callback();
  ASSERT_EQ(sim.op.alerts.size(), 1u);
  EXPECT_EQ(sim.op.alerts[0], "Write ok");

  ChannelRecord back;
  std::vector<uint8_t> b = sim.read(0x2100, 72);
  ASSERT_EQ(b.size(), 72u);
  std::copy(b.begin(), b.end(), back.bytes.begin());
  EXPECT_EQ(back.get(F::f_count), 1234u);
  EXPECT_EQ(back.get(F::f_c_mil), 50u);
  EXPECT_EQ(back.get(F::set_vol), 1234u);
  EXPECT_EQ(back.get(F::state), 46u);
  std::vector<uint8_t> mb = sim.read(0x1100, 15);
  ASSERT_EQ(mb.size(), 15u);
  EXPECT_EQ(mb[8] | mb[9] << 8, 14);
  EXPECT_EQ(copies.channels[1].get(F::f_c_mil), 50u);  // the slot holds what was written
}

TEST_F(ChanWindowTest, StatusListRewritesHexStatusWithItemBitsOnly) {
  ChannelRecord ch;
  ch.set(F::bit_status, 0x0043);
  ASSERT_EQ(sim.write(0x2000, {ch.bytes.begin(), ch.bytes.end()}), kResultDone);
  form->open();
  EXPECT_STREQ(form->hex_status->value(), "0x0043");
  form->status_list->checked(1, 1);  // "Meter error"
  form->status_list->do_callback();
  EXPECT_STREQ(form->hex_status->value(), "0x0004");
}

TEST_F(ChanWindowTest, NoChannelsMeansNoTrafficAndNothingSaved) {
  nozCount = 0;
  int frames = 0;
  portSetTrace([&](uint16_t, bool sent, const uint8_t*, size_t) { frames += sent; });
  form->open();
  form->load_button->do_callback();
  form->save_button->do_callback();
  portSetTrace(nullptr);
  EXPECT_EQ(form->selector->size(), 0);  // not even the menu terminator
  EXPECT_EQ(frames, 0);
  EXPECT_TRUE(sim.op.alerts.empty());

  nozCount = 9;  // a board reporting more than five nozzles: still only the ten channels
  form->open();
  EXPECT_EQ(form->selector->size() - 1, kChannelCount);
}

TEST_F(ChanWindowTest, FailedLoadKeepsTheFormAndSays) {
  form->open();
  form->load_vol->value("99.99");
  sim.dev().address = 77;  // nobody answers there
  form->load_button->do_callback();
  EXPECT_STREQ(form->load_vol->value(), "99.99");
  ASSERT_EQ(sim.op.alerts.size(), 1u);
  EXPECT_NE(sim.op.alerts[0].find("-6"), std::string::npos) << sim.op.alerts[0];
}

TEST(ChanWindowPassword, WrongAdminPasswordWritesNothing) {
  SimBoard sim({"--admin-password", "1234"});
  ASSERT_TRUE(sim.ready());
  ChannelCopies copies;
  xChanForm form(811, 568, "Channel settings");
  form.attach(&sim.session, &copies, [] { return 1; });
  sim.session.passwordStatus[0] = 1;  // the board has an admin password set
  std::vector<uint8_t> before = sim.read(0x2000, 72);
  form.open();
  form.price->value("45.60");
  sim.op.textAnswers.push_back("1111");
  form.save_button->do_callback();
  ASSERT_EQ(sim.op.alerts.size(), 1u);
  EXPECT_EQ(sim.op.alerts[0], "Wrong password");
  std::vector<uint8_t> b = sim.read(0x2000, 72);
  EXPECT_EQ(b, before);  // nothing written

  sim.op.textAnswers.push_back("1234");
  form.save_button->do_callback();
  ASSERT_EQ(sim.op.alerts.size(), 2u);
  EXPECT_EQ(sim.op.alerts[1], "Write ok");
  b = sim.read(0x2000, 72);
  EXPECT_EQ(b[32] | b[33] << 8, 4560);
}

TEST(ChanShortcuts, FunctionKeysSelectIdentifyAndRefresh) {
  std::vector<std::string> calls;
  bool boot = false;
  int identifyResult = 1;
  ShortcutHooks h;
  h.selectAddress = [&](int a) { calls.push_back("select " + std::to_string(a)); };
  h.identify = [&](int a) {
    calls.push_back("identify " + std::to_string(a));
    return identifyResult;
  };
  h.bootMode = [&] { return boot; };
  h.refresh = [&] { calls.push_back("refresh"); };
  h.openChannelForm = [&] { calls.push_back("channels"); };
  h.openVariablesTable = [&] { calls.push_back("table"); };
  set_shortcut_hooks(h);

  EXPECT_EQ(handle_shortcut_key(FL_F + 3, 0), 1);
  EXPECT_EQ(calls, (std::vector<std::string>{"select 3", "identify 3", "refresh"}));
  calls.clear();
  boot = true;
  EXPECT_EQ(handle_shortcut_key(FL_F + 12, 0), 1);
  EXPECT_EQ(calls, (std::vector<std::string>{"select 12", "identify 12"}));
  calls.clear();
  boot = false;
  identifyResult = 0;
  handle_shortcut_key(FL_F + 1, 0);
  EXPECT_EQ(calls, (std::vector<std::string>{"select 1", "identify 1"}));
  calls.clear();
  EXPECT_EQ(handle_shortcut_key(FL_F + 12, FL_ALT), 1);
  handle_shortcut_key(FL_F + 11, FL_ALT);
  EXPECT_EQ(calls, (std::vector<std::string>{"channels", "table"}));
  calls.clear();
  EXPECT_EQ(handle_shortcut_key(FL_F + 5, FL_ALT), 0);
  EXPECT_EQ(handle_shortcut_key('a', 0), 0);
  EXPECT_EQ(handle_shortcut_key(FL_F + 13, 0), 0);
  EXPECT_EQ(global_shortcut_handler(FL_PUSH), 0);
  EXPECT_TRUE(calls.empty());
  set_shortcut_hooks({});
  EXPECT_EQ(handle_shortcut_key(FL_F + 2, 0), 1);  // no hooks yet: nothing happens, no crash
}

}  // namespace
