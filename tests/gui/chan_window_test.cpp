// The channel settings window and the channel variables table against korvane-sim: the
// selector for noz_count, a channel loaded and saved back, the "Hex status" follow-up, the
// table's columns, red failures and periodic timer, and the function keys.
#include "gui_test.h"

#include "settings/channel_form.h"
#include "ui/chan_form.h"
#include "ui/shortcuts.h"
#include "ui/var_table.h"

namespace {

using namespace guitest;
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
    pump(0.05);
  }
  void select(int entry) {
    form->selector->value(entry);
    form->selector->do_callback();
  }
  std::vector<uint8_t> channelOnBoard(int channel) {
    return sim.read(channelRecordAddress(channel), 72);
  }

  SimBoard sim;
  ChannelCopies copies;
  int nozCount = 2;
  std::unique_ptr<xChanForm> form;
};

TEST_F(ChanWindowTest, OpenListsTheChannelsAndLoadsThemFromTheBoard) {
  ChannelRecord first, fourth;
  first.set(F::bit_status, 0x0043);
  fourth.set(F::state, 43);
  fourth.set(F::bit_status, 0x0088);
  fourth.set(F::bit_status2, 0x02);
  fourth.set(F::load_vol_hi, 1230);
  fourth.set(F::f_count, 1234);
  fourth.set(F::f_c_mil, 5);
  fourth.set(F::k_vol_lo, 0xCAFE);
  MeterRecord m;
  m.setTypeWord(14);
  m.setPhase(1);
  m.setImpulseWeight((uint64_t(1) << 32) | 1);
  m.setCalibrationCount(77);
  ASSERT_EQ(kResultDone, sim.write(0x2000, first));
  ASSERT_EQ(kResultDone, sim.write(0x2300, fourth));
  ASSERT_EQ(kResultDone, sim.write(0x1300, m));

  form->open();
  ASSERT_EQ(4, form->selector->size() - 1);
  EXPECT_STREQ("Side A channel 1", form->selector->text(0));
  EXPECT_STREQ("Side B channel 2", form->selector->text(3));
  EXPECT_EQ(0, form->selector->value());
  EXPECT_EQ(kStateEntryCount, form->chan_control<Fl_Choice>(ChanControl::State)->size() - 1);
  // A status item ticked rewrites "Hex status" from the items' bits alone.
  EXPECT_STREQ("0x0043", form->chan_control<Fl_Int_Input>(ChanControl::HexStatus)->value());
  form->chan_control<Fl_Check_Browser>(ChanControl::StatusList)->checked(1, 1);  // "Meter error"
  form->chan_control<Fl_Check_Browser>(ChanControl::StatusList)->do_callback();
  EXPECT_STREQ("0x0004", form->chan_control<Fl_Int_Input>(ChanControl::HexStatus)->value());

  select(3);
  EXPECT_EQ(17, form->chan_control<Fl_Choice>(ChanControl::State)->value());
  EXPECT_STREQ("12.30", form->chan_control<Fl_Float_Input>(ChanControl::LoadedVolume)->value());
  EXPECT_STREQ("1234.05", form->chan_control<Fl_Float_Input>(ChanControl::GrandTotal)->value());
  EXPECT_STREQ("0x0000CAFE", form->chan_control<Fl_Int_Input>(ChanControl::LeftVolumeLo)->value());
  EXPECT_STREQ("0x0088", form->chan_control<Fl_Int_Input>(ChanControl::HexStatus)->value());
  EXPECT_TRUE(
      form->chan_control<Fl_Check_Browser>(ChanControl::StatusList)->checked(2));  // "Nozzle up"
  EXPECT_TRUE(
      form->chan_control<Fl_Check_Browser>(ChanControl::StatusList)->checked(4));  // "Activated"
  EXPECT_FALSE(form->chan_control<Fl_Check_Browser>(ChanControl::StatusList)->checked(1));
  EXPECT_TRUE(form->chan_control<Fl_Check_Browser>(ChanControl::FlagList)->checked(2));
  EXPECT_STREQ("7", form->chan_control<Fl_Int_Input>(ChanControl::MeterType)->value());
  EXPECT_STREQ("0x0100000001",
               form->chan_control<Fl_Int_Input>(ChanControl::ImpulseWeight)->value());
  EXPECT_STREQ("77", form->chan_control<Fl_Int_Input>(ChanControl::CalibrationCount)->value());
  EXPECT_EQ(1, form->chan_control<Fl_Choice>(ChanControl::Phase)->value());
  EXPECT_TRUE(sim.op.alerts.empty());
  screenshot(form.get(), "channel_settings");
}

TEST_F(ChanWindowTest, SaveWritesBothRecordsAndSaysWriteOk) {
  form->open();
  select(1);
  form->chan_control<Fl_Float_Input>(ChanControl::GrandTotal)->value("1234.5");
  form->chan_control<Fl_Float_Input>(ChanControl::VolumeSet)->value("12.345");
  form->chan_control<Fl_Int_Input>(ChanControl::MeterType)->value("7");
  form->chan_control<Fl_Choice>(ChanControl::State)->value(20);  // "Continue, waiting nozzle"
  form->save_button->do_callback();
  EXPECT_EQ(Strings{"Write ok"}, sim.op.alerts);
  const std::vector<uint8_t> b = channelOnBoard(1);
  ASSERT_EQ(72u, b.size());
  ChannelRecord back;
  std::copy(b.begin(), b.end(), back.bytes.begin());
  EXPECT_EQ(1234u, back.get(F::f_count));
  EXPECT_EQ(50u, back.get(F::f_c_mil));
  EXPECT_EQ(1234u, back.get(F::set_vol));
  EXPECT_EQ(46u, back.get(F::state));
  const std::vector<uint8_t> mb = sim.read(0x1100, 15);
  ASSERT_EQ(15u, mb.size());
  EXPECT_EQ(14, mb[8] | mb[9] << 8);
  EXPECT_EQ(50u, copies.channels[1].get(F::f_c_mil));  // the slot holds what was written
}

TEST_F(ChanWindowTest, NoChannelsSendNothingAndAFailedLoadKeepsTheForm) {
  nozCount = 0;
  int frames = 0;
  portSetTrace([&](uint16_t, bool sent, const uint8_t*, size_t) { frames += sent; });
  form->open();
  form->load_button->do_callback();
  form->save_button->do_callback();
  portSetTrace(nullptr);
  EXPECT_EQ(0, form->selector->size());  // not even the menu terminator
  EXPECT_EQ(0, frames);
  EXPECT_TRUE(sim.op.alerts.empty());
  nozCount = 9;  // more than five nozzles reported: still only the ten channels
  form->open();
  EXPECT_EQ(kChannelCount, form->selector->size() - 1);

  form->chan_control<Fl_Float_Input>(ChanControl::LoadedVolume)->value("99.99");
  sim.dev().address = 77;  // nobody answers there
  form->load_button->do_callback();
  EXPECT_STREQ("99.99", form->chan_control<Fl_Float_Input>(ChanControl::LoadedVolume)->value());
  ASSERT_EQ(1u, sim.op.alerts.size());
  EXPECT_NE(std::string::npos, sim.op.alerts[0].find("-6")) << sim.op.alerts[0];
}

std::string cell(Fl_StringTable* t, int col, int row) {
  const char* s = t->get_cell(col, row);
  return s ? s : "<none>";
}

TEST(ChanTable, ReadsFillOneColumnEachWrapAfterTenAndShowFailuresInRed) {
  SimBoard sim;
  ASSERT_TRUE(sim.ready());
  ChannelRecord ch;
  ch.set(F::state, 7);
  ch.set(F::price, 4560);
  const int first = ChanVarTable::next_channel();
  ASSERT_EQ(kResultDone, sim.write(channelRecordAddress(first), ch));
  ChannelCopies copies;
  ChanVarTable t(&sim.dev(), &copies);
  EXPECT_STREQ("1A", t.table->col_name(0));
  EXPECT_STREQ("5B", t.table->col_name(9));
  EXPECT_STREQ("m_count", t.table->row_name(20));
  for (int i = 0; i < kChannelCount; ++i) t.read_once();
  EXPECT_EQ(first, ChanVarTable::next_channel());
  EXPECT_EQ(FL_BLACK, t.table->cell_textcolor);
  for (int c = 0; c < kChannelCount; ++c) EXPECT_NE("<none>", cell(t.table, c, 0)) << c;
  EXPECT_EQ("7", cell(t.table, first, 0));
  EXPECT_EQ("45.60", cell(t.table, first, 10));
  // The eleventh read fills the first column again and leaves the second.
  const int second = (first + 1) % kChannelCount;
  t.table->set_cell(first, 0, "old");
  t.table->set_cell(second, 0, "kept");
  t.read_once();
  EXPECT_EQ("7", cell(t.table, first, 0));
  EXPECT_EQ("kept", cell(t.table, second, 0));
  t.show();
  screenshot(&t, "channel_variables");

  // A failed read: red text, and the slot as it was.
  copies.channels[second].set(F::f_count, 1234);
  sim.dev().address = 77;  // nobody answers there
  t.read_once();
  EXPECT_EQ(FL_RED, t.table->cell_textcolor);
  EXPECT_EQ("1234", cell(t.table, second, 15));
  screenshot(&t, "channel_variables_failed_read");
  t.hide();
}

TEST(ChanTable, PeriodicReadsStopWhenTheWindowGoes) {
  SimBoard sim;
  ASSERT_TRUE(sim.ready());
  ChannelCopies copies;
  auto* t = new ChanVarTable(&sim.dev(), &copies);
  t->show();
  // The first draw loads the fonts, slower than the timer's first delay under valgrind: done
  // before the timer starts, the waits below measure only the timer.
  t->wait_for_expose();
  Fl::flush();
  const int start = ChanVarTable::next_channel();
  t->periodic_button->value(1);
  t->periodic_button->do_callback();
  EXPECT_TRUE(t->periodic());
  pump(0.3);
  EXPECT_EQ(start, ChanVarTable::next_channel());  // the first read waits 0.5 s
  pump(0.6);
  EXPECT_NE(start, ChanVarTable::next_channel());
  delete t;  // with the timer armed
  const int after = ChanVarTable::next_channel();
  pump(0.4);
  EXPECT_EQ(after, ChanVarTable::next_channel());
  ChanVarTable u(&sim.dev(), &copies);
  u.set_periodic(true);
  u.set_periodic(false);
  pump(0.7);
  EXPECT_EQ(after, ChanVarTable::next_channel());
}

TEST(ChanTable, AltF11WhileOpenDoesNothing) {
  ChannelCopies copies;
  int opened = 0;
  ShortcutHooks h;
  h.openVariablesTable = [&] {
    ++opened;
    ChanVarTable::open_modal(nullptr, &copies);  // no reads here: no board needed
  };
  set_shortcut_hooks(h);
  struct Probe {
    int windows = 0;
    bool wasOpen = false;
  } probe;
  // While the modal loop runs: Alt+F11 again, count the windows, then close the table.
  Fl::add_timeout(
      0.2,
      [](void* p) {
        auto* pr = static_cast<Probe*>(p);
        pr->wasOpen = ChanVarTable::is_open();
        handle_shortcut_key(FL_F + 11, FL_ALT);
        for (Fl_Window* w = Fl::first_window(); w; w = Fl::next_window(w)) ++pr->windows;
        Fl::first_window()->hide();
      },
      &probe);
  EXPECT_EQ(1, handle_shortcut_key(FL_F + 11, FL_ALT));
  EXPECT_TRUE(probe.wasOpen);
  EXPECT_EQ(1, probe.windows);
  EXPECT_EQ(2, opened);  // the hook ran twice, open_modal ignored the second press
  EXPECT_FALSE(ChanVarTable::is_open());
  set_shortcut_hooks({});
}

TEST(ChanShortcuts, FunctionKeysSelectIdentifyAndRefresh) {
  Strings calls;
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
  // F1..F12 select and identify; the refresh follows only a normal-mode board that answered.
  struct Key {
    int key, state;
    bool boot;
    int identified, handled;
    Strings calls;
  } const keys[] = {{FL_F + 3, 0, false, 1, 1, {"select 3", "identify 3", "refresh"}},
                    {FL_F + 12, 0, true, 1, 1, {"select 12", "identify 12"}},
                    {FL_F + 1, 0, false, 0, 1, {"select 1", "identify 1"}},
                    {FL_F + 12, FL_ALT, false, 1, 1, {"channels"}},
                    {FL_F + 11, FL_ALT, false, 1, 1, {"table"}},
                    {FL_F + 5, FL_ALT, false, 1, 0, {}},
                    {'a', 0, false, 1, 0, {}},
                    {FL_F + 13, 0, false, 1, 0, {}}};
  for (const Key& k : keys) {
    SCOPED_TRACE(k.key - FL_F);
    calls.clear();
    boot = k.boot;
    identifyResult = k.identified;
    EXPECT_EQ(k.handled, handle_shortcut_key(k.key, k.state));
    EXPECT_EQ(k.calls, calls);
  }
  calls.clear();
  EXPECT_EQ(0, global_shortcut_handler(FL_PUSH));
  EXPECT_TRUE(calls.empty());
  set_shortcut_hooks({});
  EXPECT_EQ(1, handle_shortcut_key(FL_F + 2, 0));  // no hooks: nothing happens, no crash
}

}  // namespace
