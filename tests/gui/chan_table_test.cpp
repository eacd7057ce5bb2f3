// The channel variables table against korvane-sim: one column per read, wrapping after ten,
// red text on a failed read, the periodic timer stopped with the window, and Alt+F11 while
// the table is open.
#include <FL/Fl.H>

#include "chan_sim.h"
#include "settings/channel_form.h"
#include "ui/shortcuts.h"
#include "ui/var_table.h"

namespace {

using chantest::SimBoard;

std::string cell(Fl_StringTable* t, int col, int row) {
  const char* s = t->get_cell(col, row);
  return s ? s : "<none>";
}

TEST(ChanTable, ReadsFillOneColumnEachAndWrapAfterTen) {
  SimBoard sim;
  ASSERT_TRUE(sim.ready());
  ChannelRecord ch;
  ch.set(ChannelField::state, 7);
  ch.set(ChannelField::price, 4560);
  const int first = ChanVarTable::next_channel();
  ASSERT_EQ(sim.write(channelRecordAddress(first), {ch.bytes.begin(), ch.bytes.end()}), kResultDone);

  ChannelCopies copies;
  ChanVarTable t(&sim.dev(), &copies);
  EXPECT_STREQ(t.table->col_name(0), "1A");
  EXPECT_STREQ(t.table->col_name(9), "5B");
  EXPECT_STREQ(t.table->row_name(20), "m_count");
  for (int i = 0; i < kChannelCount; ++i) t.read_once();
  EXPECT_EQ(ChanVarTable::next_channel(), first);
  EXPECT_EQ(t.table->cell_textcolor, FL_BLACK);
  for (int c = 0; c < kChannelCount; ++c) EXPECT_NE(cell(t.table, c, 0), "<none>") << c;
  EXPECT_EQ(cell(t.table, first, 0), "7");
  EXPECT_EQ(cell(t.table, first, 10), "45.60");

  const int second = (first + 1) % kChannelCount;
  t.table->set_cell(first, 0, "old");
  t.table->set_cell(second, 0, "kept");
  t.read_once();  // the eleventh read fills the first column again
  EXPECT_EQ(cell(t.table, first, 0), "7");
  EXPECT_EQ(cell(t.table, second, 0), "kept");

  t.show();
  chantest::screenshot(&t, "channel_variables");
  t.hide();
}

TEST(ChanTable, FailedReadShowsTheSlotInRed) {
  SimBoard sim;
  ASSERT_TRUE(sim.ready());
  ChannelCopies copies;
  const int c = ChanVarTable::next_channel();
  copies.channels[c].set(ChannelField::f_count, 1234);
  ChanVarTable t(&sim.dev(), &copies);
  sim.dev().address = 77;  // nobody answers there
  t.read_once();
  EXPECT_EQ(t.table->cell_textcolor, FL_RED);
  EXPECT_EQ(cell(t.table, c, 15), "1234");  // the slot as it was: the failed read left it alone
}

TEST(ChanTable, PeriodicReadsStopWhenTheWindowGoes) {
  SimBoard sim;
  ASSERT_TRUE(sim.ready());
  ChannelCopies copies;
  auto* t = new ChanVarTable(&sim.dev(), &copies);
  t->show();
  // The first draw loads the fonts, which takes longer than the timer's first delay on a slow
  // run (valgrind): done before the timer starts, the waits below measure only the timer.
  t->wait_for_expose();
  Fl::flush();
  const int start = ChanVarTable::next_channel();
  t->periodic_button->value(1);
  t->periodic_button->do_callback();
  EXPECT_TRUE(t->periodic());
  chantest::pump(0.3);
  EXPECT_EQ(ChanVarTable::next_channel(), start);  // the first read waits 0.5 s
  chantest::pump(0.6);
  EXPECT_NE(ChanVarTable::next_channel(), start);
  delete t;  // with the timer armed
  const int after = ChanVarTable::next_channel();
  chantest::pump(0.4);
  EXPECT_EQ(ChanVarTable::next_channel(), after);

  ChanVarTable u(&sim.dev(), &copies);
  u.set_periodic(true);
  u.set_periodic(false);
  chantest::pump(0.7);
  EXPECT_EQ(ChanVarTable::next_channel(), after);
}

TEST(ChanTable, AltF11WhileOpenDoesNothing) {
  SimBoard sim;
  ASSERT_TRUE(sim.ready());
  ChannelCopies copies;
  int opened = 0;
  ShortcutHooks h;
  h.openVariablesTable = [&] {
    ++opened;
    ChanVarTable::open_modal(&sim.dev(), &copies);
  };
  set_shortcut_hooks(h);
  struct Probe {
    int windows = 0;
    bool wasOpen = false;
  } probe;
  // While the modal loop runs: press Alt+F11 again, count the windows, then close the table.
  Fl::add_timeout(0.2, [](void* p) {
    auto* pr = static_cast<Probe*>(p);
    pr->wasOpen = ChanVarTable::is_open();
    handle_shortcut_key(FL_F + 11, FL_ALT);
    for (Fl_Window* w = Fl::first_window(); w; w = Fl::next_window(w)) ++pr->windows;
    Fl::first_window()->hide();
  }, &probe);
  EXPECT_EQ(handle_shortcut_key(FL_F + 11, FL_ALT), 1);
  EXPECT_TRUE(probe.wasOpen);
  EXPECT_EQ(probe.windows, 1);
  EXPECT_EQ(opened, 2);  // the hook ran, and open_modal ignored the second press
  EXPECT_FALSE(ChanVarTable::is_open());
  set_shortcut_hooks({});
}

}  // namespace
