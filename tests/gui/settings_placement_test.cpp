// The placement tables the settings windows are built from: each control placed once, groups
// whole, grid cells unique, and what each kind of control needs present; then the keyboard
// order of the "Main settings" tab the table order makes.
#include "gui_test.h"

#include <map>
#include <set>

#include "gui_events.h"
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

class MainTabKeys : public WindowTest {};

TEST_F(MainTabKeys, TabWalksTheSatelliteFieldTheReadSaveButtonsThenTheNumericFields) {
  build();
  form->enable_settings_tabs(true);
  form->show();
  form->tabs->value(form->tab_main_settings);
  pump(0.2);
  Fl_Widget* const order[] = {form->main_control(MainControl::DisplayB),
                              form->main_control(MainControl::Satellite),
                              form->ms_read,
                              form->ms_save,
                              form->main_control(MainControl::SlowStart),
                              form->main_control(MainControl::NozzleFat),
                              form->main_control(MainControl::SlowFinish)};
  ASSERT_TRUE(order[0]->take_focus());
  for (size_t i = 1; i < sizeof order / sizeof order[0]; ++i) {
    sendKey(form.get(), FL_Tab);
    EXPECT_EQ(order[i], Fl::focus())
        << i << ": " << (Fl::focus() && Fl::focus()->label() ? Fl::focus()->label() : "(none)");
  }
  // Backwards from the first numeric field lands on "Save settings".
  ASSERT_TRUE(form->main_control(MainControl::SlowStart)->take_focus());
  sendKey(form.get(), FL_Tab, FL_SHIFT);
  EXPECT_EQ(form->ms_save, Fl::focus());
  form->hide();
}

}  // namespace
