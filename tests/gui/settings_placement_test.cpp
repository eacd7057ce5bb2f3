// The placement tables the settings windows are built from: each control placed once, groups
// whole, grid cells unique, and what each kind of control needs present; then the keyboard
// order of the channel window and the "Main settings" tab that the table order makes.
#include "gui_test.h"

#include <map>
#include <set>
#include <vector>

#include "gui_events.h"
#include "ui/chan_form.h"
#include "ui/settings_placement.h"

namespace {

using namespace guitest;

bool isTextInput(ControlKind k) { return k == ControlKind::Input || k == ControlKind::MultiLine; }
bool hasItems(ControlKind k) { return k == ControlKind::Choice || k == ControlKind::CheckList; }

TEST(SettingsPlacement, MainTabPlacesEveryControlOnceInWholeGroupsWithWhatItsKindNeeds) {
  std::map<MainControl, int> placed;
  std::set<std::pair<int, int>> cells;
  std::set<MainGroup> closed;
  MainGroup open = MainGroup::NoGroup;
  for (const MainControlPlacement& p : kMainPlacement) {
    const ControlDesc& d = kMainControls[static_cast<size_t>(p.id)];
    SCOPED_TRACE(d.label);
    ++placed[p.id];
    // A group met again after another one would be opened twice, as two frames.
    if (p.group != open) {
      if (open != MainGroup::NoGroup) closed.insert(open);
      EXPECT_EQ(0u, closed.count(p.group));
      open = p.group;
    }
    if (p.group != MainGroup::NoGroup) {
      int described = 0;
      for (const MainGroupPlacement& g : kMainGroups) described += g.id == p.group;
      EXPECT_EQ(1, described);
    }
    if (p.at.anchor == Anchor::Grid) {
      EXPECT_TRUE(p.at.x == 0 || p.at.x == 1) << p.at.x;
      EXPECT_TRUE(cells.insert({p.at.y, p.at.x}).second) << "row " << p.at.y;
    }
    // "0" is written into the widget as into an input: only inputs may start at zero.
    if (p.flags & kStartsAtZero) {
      EXPECT_TRUE(isTextInput(d.kind));
    }
    EXPECT_EQ(hasItems(d.kind), p.items.count > 0);
    EXPECT_EQ(p.items.count > 0, p.items.items != nullptr);
    EXPECT_LT(p.items.untranslated, p.items.count);
    EXPECT_GT(p.at.w, 0);
    EXPECT_GT(p.at.h, 0);
  }
  for (int c = 0; c < kMainControlCount; ++c)
    EXPECT_EQ(1, placed[static_cast<MainControl>(c)])
        << kMainControls[static_cast<size_t>(c)].label;
  // The grid fills its rows from the top, two to a row, with no row left out.
  ASSERT_FALSE(cells.empty());
  const int rows = cells.rbegin()->first + 1;
  EXPECT_GE(cells.size(), static_cast<size_t>(2 * rows - 1));
  EXPECT_EQ(cells.rbegin()->first, rows - 1);
  for (int r = 0; r + 1 < rows; ++r) EXPECT_TRUE(cells.count({r, 0}) && cells.count({r, 1})) << r;
}

// The windows look a control's kind and caption up by its id.
TEST(SettingsPlacement, ControlTablesStandInIdOrder) {
  for (size_t i = 0; i < kMainControls.size(); ++i) EXPECT_EQ(int(i), kMainControls[i].id);
  for (size_t i = 0; i < kExtraControls.size(); ++i) EXPECT_EQ(int(i), kExtraControls[i].id);
  for (size_t i = 0; i < kChanControls.size(); ++i) EXPECT_EQ(int(i), kChanControls[i].id);
}

TEST(SettingsPlacement, ChannelWindowPlacesEveryControlOnceWithWhatItsKindNeeds) {
  std::map<ChanControl, int> placed;
  for (const ChanControlPlacement& p : kChanPlacement) {
    const ControlDesc& d = kChanControls[static_cast<size_t>(p.id)];
    SCOPED_TRACE(d.label);
    ++placed[p.id];
    if (p.flags & kDecimal) {
      EXPECT_EQ(ControlKind::Input, d.kind);
    }
    // Lists carry their items, except the state list, filled when the window opens.
    if (d.kind == ControlKind::CheckList ||
        (d.kind == ControlKind::Choice && p.id != ChanControl::State)) {
      EXPECT_GT(p.items.count, 0);
    }
    EXPECT_EQ(p.items.count > 0, p.items.items != nullptr);
    // A caption box needs a caption to show.
    if (p.captionBox.w > 0) {
      EXPECT_STRNE("", d.label);
    }
    EXPECT_GT(p.at.w, 0);
    EXPECT_GT(p.at.h, 0);
  }
  for (int c = 0; c < kChanControlCount; ++c)
    EXPECT_EQ(1, placed[static_cast<ChanControl>(c)])
        << kChanControls[static_cast<size_t>(c)].label;
}

// Focus moves as the Tab key would move it, from the widget that has it now.
std::vector<Fl_Widget*> tabWalk(Fl_Window* w, Fl_Widget* from, size_t steps, int state = 0) {
  std::vector<Fl_Widget*> seen;
  EXPECT_TRUE(from->take_focus());
  for (size_t i = 0; i < steps; ++i) {
    sendKey(w, FL_Tab, state);
    seen.push_back(Fl::focus());
  }
  return seen;
}

// The check lists take no focus: Tab goes from "Hex status" to the buttons.
TEST(ChannelWindowKeys, TabWalksTheLoadSaveButtonsBeforeTheMeterVariables) {
  xChanForm chan(811, 568, "Channel settings");
  chan.attach(nullptr, nullptr, [] { return 5; });
  chan.open();
  pump(0.2);
  const std::vector<Fl_Widget*> forward = {chan.load_button, chan.save_button,
                                           chan.chan_control(ChanControl::MeterType),
                                           chan.chan_control(ChanControl::Phase)};
  EXPECT_EQ(forward, tabWalk(&chan, chan.chan_control(ChanControl::HexStatus), forward.size()));
  EXPECT_EQ(std::vector<Fl_Widget*>{chan.save_button},
            tabWalk(&chan, chan.chan_control(ChanControl::MeterType), 1, FL_SHIFT));
  chan.hide();
}

class MainTabKeys : public WindowTest {};

TEST_F(MainTabKeys, TabWalksTheSatelliteFieldTheReadSaveButtonsThenTheNumericFields) {
  build();
  form->enable_settings_tabs(true);
  form->show();
  form->tabs->value(form->tab_main_settings);
  pump(0.2);
  const std::vector<Fl_Widget*> forward = {form->main_control(MainControl::Satellite),
                                           form->ms_read,
                                           form->ms_save,
                                           form->main_control(MainControl::SlowStart),
                                           form->main_control(MainControl::NozzleFat),
                                           form->main_control(MainControl::SlowFinish)};
  EXPECT_EQ(forward,
            tabWalk(form.get(), form->main_control(MainControl::DisplayB), forward.size()));
  // Backwards from the first numeric field lands on "Save settings".
  EXPECT_EQ(std::vector<Fl_Widget*>{form->ms_save},
            tabWalk(form.get(), form->main_control(MainControl::SlowStart), 1, FL_SHIFT));
  form->hide();
}

}  // namespace
