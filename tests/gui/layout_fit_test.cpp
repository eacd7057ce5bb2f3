// Every window in English and with the Russian catalog: no label, list item or text line is
// cut by its widget, runs into a neighbour or leaves its tab or frame (measured with the
// toolkit's own fonts on a real display), and in Russian every text shown is Russian, which
// also catches texts reaching a widget through a layout helper the catalog scan cannot see.
#include "gui_test.h"

#include <FL/Fl_Browser_.H>
#include <FL/Fl_Check_Browser.H>
#include <FL/Fl_Choice.H>
#include <FL/Fl_Input_Choice.H>
#include <FL/Fl_Light_Button.H>
#include <FL/Fl_Menu_Item.H>
#include <FL/Fl_Multiline_Input.H>
#include <FL/Fl_Table.H>
#include <FL/Fl_Text_Display.H>
#include <FL/fl_draw.H>

#include <fstream>
#include <iostream>
#include <regex>
#include <set>

#include "settings/presets.h"
#include "settings/settings_records.h"
#include "ui/chan_form.h"
#include "ui/factory_form.h"
#include "ui/traffic_window.h"
#include "ui/var_table.h"

namespace {

using namespace guitest;

struct Rect {
  int x, y, w, h;
  bool empty() const { return w <= 0 || h <= 0; }
  bool overlaps(const Rect& o) const {
    return !empty() && !o.empty() && x < o.x + o.w && o.x < x + w && y < o.y + o.h && o.y < y + h;
  }
  bool inside(const Rect& o) const {
    return x >= o.x && y >= o.y && x + w <= o.x + o.w && y + h <= o.y + o.h;
  }
};

Rect rectOf(const Fl_Widget* w) { return {w->x(), w->y(), w->w(), w->h()}; }

std::string nameOf(const Fl_Widget* w) {
  return w->label() && w->label()[0] ? "\"" + std::string(w->label()) + "\""
                                     : std::string("(unlabelled)");
}

// The place a label drawn outside its widget takes (empty for labels drawn inside).
Rect outsideLabel(const Fl_Widget* w) {
  const Fl_Align a = w->align();
  if (!w->label() || !w->label()[0] || (a & FL_ALIGN_INSIDE) || !(a & 15)) return {0, 0, 0, 0};
  // A wrapping label breaks at the widget's width.
  int lw = (a & FL_ALIGN_WRAP) ? w->w() : 0, lh = 0;
  w->measure_label(lw, lh);
  if (a & FL_ALIGN_TOP)
    return {(a & FL_ALIGN_RIGHT) ? w->x() + w->w() - lw : w->x(), w->y() - lh, lw, lh};
  if (a & FL_ALIGN_BOTTOM) return {w->x(), w->y() + w->h(), lw, lh};
  if (a & FL_ALIGN_LEFT) return {w->x() - lw, w->y() + (w->h() - lh) / 2, lw, lh};
  return {w->x() + w->w(), w->y() + (w->h() - lh) / 2, lw, lh};
}

bool hasInsideLabel(const Fl_Widget* w) {
  return w->label() && w->label()[0] && ((w->align() & FL_ALIGN_INSIDE) || !(w->align() & 15));
}

// The check, radio or light mark drawn left of the label of those buttons.
int markWidth(const Fl_Widget* w) {
  return dynamic_cast<const Fl_Light_Button*>(w) ? w->labelsize() + 8 : 0;
}

// Where an inside label's text lands, with the mark before it; labels are not clipped, so
// on a widget without a frame this is what the engineer sees.
Rect insideLabel(const Fl_Widget* w) {
  if (!hasInsideLabel(w)) return {w->x(), w->y(), markWidth(w), w->h()};
  int lw = 0, lh = 0;
  w->measure_label(lw, lh);
  const int lead = Fl::box_dx(w->box()) + 3 + markWidth(w);
  const Fl_Align a = w->align();
  int x = w->x() + lead;
  if (!(a & (FL_ALIGN_LEFT | FL_ALIGN_RIGHT))) x = w->x() + (w->w() - lw) / 2;
  if (a & FL_ALIGN_RIGHT) x = w->x() + w->w() - 3 - lw;
  const int left = markWidth(w) ? w->x() : x;
  const int top = lh < w->h() ? w->y() + (w->h() - lh) / 2 : w->y();
  return {left, top, x + lw - left, std::max(lh, 1)};
}

// Widgets drawn as one piece, though the toolkit builds them from groups.
bool isCompound(const Fl_Widget* w) {
  return dynamic_cast<const Fl_Browser_*>(w) || dynamic_cast<const Fl_Table*>(w) ||
         dynamic_cast<const Fl_Input_Choice*>(w) || dynamic_cast<const Fl_Text_Display*>(w);
}

int textWidth(const char* text, Fl_Font font, Fl_Fontsize size) {
  fl_font(font, size);
  return static_cast<int>(fl_width(text) + 0.999);
}

class LayoutCheck {
 public:
  std::vector<std::string> problems;

  // Checks what is visible of the window now (one tab of a tab set at a time).
  void window(Fl_Window* win, const std::string& where) {
    where_ = where;
    leaves_.clear();
    walk(win, {0, 0, win->w(), win->h()});
    for (size_t i = 0; i < leaves_.size(); ++i)
      for (size_t j = i + 1; j < leaves_.size(); ++j) {
        const Leaf &a = leaves_[i], &b = leaves_[j];
        if (a.rect.overlaps(b.rect)) report(a.w, "overlaps " + nameOf(b.w));
        if (a.label.overlaps(b.rect)) report(a.w, "label runs into " + nameOf(b.w));
        if (b.label.overlaps(a.rect)) report(b.w, "label runs into " + nameOf(a.w));
        if (a.label.overlaps(b.label)) report(a.w, "label runs into the label of " + nameOf(b.w));
      }
  }

  // Labels above inputs, choices and lists no wider than the widget itself (windows whose
  // input widths are ours to choose); a frame's or a small grid's caption may be wider.
  void labelsAboveWithinWidth() {
    for (const Leaf& l : leaves_)
      if ((l.w->align() & FL_ALIGN_TOP) && !(l.w->align() & FL_ALIGN_INSIDE) &&
          l.label.w > l.w->w() &&
          (dynamic_cast<Fl_Input_*>(l.w) || dynamic_cast<Fl_Choice*>(l.w) ||
           dynamic_cast<Fl_Input_Choice*>(l.w) || dynamic_cast<Fl_Browser_*>(l.w)))
        report(l.w, "label " + std::to_string(l.label.w) + " px over a widget of " +
                        std::to_string(l.w->w()));
  }

 private:
  struct Leaf {
    Fl_Widget* w;
    Rect rect;
    Rect label;
  };

  void report(const Fl_Widget* w, const std::string& what) {
    problems.push_back(where_ + ": " + nameOf(w) + " " + what);
  }

  void walk(Fl_Group* g, const Rect& area) {
    for (int i = 0; i < g->children(); ++i) {
      Fl_Widget* c = g->child(i);
      if (!c->visible()) continue;
      // A widget without a box shows only its label (and a check mark): that is what must
      // keep clear of the others; its unlabelled rest may lie under a neighbour.
      const bool bare = c->box() == FL_NO_BOX && !c->as_group();
      const Rect lab = outsideLabel(c);
      const Rect r = bare ? insideLabel(c) : rectOf(c);
      if (!r.inside(area)) report(c, "leaves its group or window");
      if (!bare) ownLabel(c);
      if (!lab.empty() && !lab.inside(area)) report(c, "label leaves its group or window");
      ownContent(c);
      Fl_Group* sub = c->as_group();
      if (Fl_Tabs* tabs = dynamic_cast<Fl_Tabs*>(c)) {
        tabHeadings(tabs);
        if (Fl_Widget* shown = tabs->value())
          if (shown->as_group()) walk(shown->as_group(), rectOf(shown));
      } else if (sub && !isCompound(c)) {
        // A framed group's outside label is placed against the leaves beside it.
        if (!lab.empty()) leaves_.push_back({c, {0, 0, 0, 0}, lab});
        walk(sub, sub->box() == FL_NO_BOX ? area : r);
      } else {
        leaves_.push_back({c, r, lab});
      }
    }
  }

  void tabHeadings(Fl_Tabs* tabs) {
    // Each heading takes its label plus the toolkit's padding; squeezed headings overlap.
    int total = 0;
    for (int i = 0; i < tabs->children(); ++i) {
      int lw = 0, lh = 0;
      tabs->child(i)->measure_label(lw, lh);
      total += lw + 2 * 10;
    }
    if (total > tabs->w()) report(tabs, "tab headings need " + std::to_string(total) + " px");
  }

  // A label drawn inside a framed widget must stay within the frame.
  void ownLabel(Fl_Widget* c) {
    if (!hasInsideLabel(c) || c->as_group()) return;
    int lw = 0, lh = 0;
    c->measure_label(lw, lh);
    const int room = c->w() - Fl::box_dw(c->box()) - 6 - markWidth(c);
    if (lw > room)
      report(c, "label needs " + std::to_string(lw) + " px, has " + std::to_string(room));
    if (lh > c->h()) report(c, "label taller than the widget");
  }

  // Text the widget draws inside itself: list items and the lines it holds.
  void ownContent(Fl_Widget* c) {
    if (auto* ch = dynamic_cast<Fl_Choice*>(c)) {
      // The shown item is clipped where the arrow box (up to 20 px) begins and starts 3 px in.
      const int arrow = std::min(c->h() - Fl::box_dh(FL_DOWN_BOX), 20);
      const int room = c->w() - arrow - 3;
      const Fl_Menu_Item* m = ch->menu();
      for (int i = 0; m && i < m->size() - 1; ++i)
        if (m[i].label()) {
          const int iw = textWidth(m[i].label(), ch->textfont(), ch->textsize());
          if (iw > room)
            report(c, "item \"" + std::string(m[i].label()) + "\" needs " + std::to_string(iw) +
                          " px, has " + std::to_string(room));
        }
    }
    if (auto* cb = dynamic_cast<Fl_Check_Browser*>(c)) {
      if (cb->scrollbar.visible()) report(c, "does not show all its items");
      if (cb->hscrollbar.visible()) report(c, "scrolls sideways: an item is wider than the list");
    }
    if (auto* in = dynamic_cast<Fl_Multiline_Input*>(c)) {
      fl_font(in->textfont(), in->textsize());
      const std::string text = in->value() ? in->value() : "";
      // Lines holding text, and the line of the insertion point, which the input keeps in view.
      int lines = 0, widest = 0, line = 0;
      for (size_t pos = 0; pos <= text.size(); ++line) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        if (end > pos) lines = line + 1;
        if (static_cast<size_t>(in->position()) >= pos &&
            static_cast<size_t>(in->position()) <= end)
          lines = std::max(lines, line + 1);
        widest = std::max(
            widest, textWidth(text.substr(pos, end - pos).c_str(), in->textfont(), in->textsize()));
        pos = end + 1;
      }
      fl_font(in->textfont(), in->textsize());
      const int needH = lines * fl_height() + Fl::box_dh(in->box());
      if (needH > in->h())
        report(c, "shows fewer than its " + std::to_string(lines) + " lines (" +
                      std::to_string(needH) + " px needed)");
      if (widest + Fl::box_dw(in->box()) + 4 > in->w()) report(c, "a line is wider than the input");
    }
  }

  std::string where_;
  std::vector<Leaf> leaves_;
};

// ---- texts left in English ----

void collectMenu(const Fl_Menu_Item* items, Strings* out) {
  for (int i = 0; items && i < items->size() - 1; ++i)
    if (items[i].label()) out->push_back(items[i].label());
}

// Every text a widget and its children show, apart from input values (typed or reported).
void collectTexts(Fl_Widget* w, Strings* out) {
  if (w->label() && w->label()[0]) out->push_back(w->label());
  if (w->tooltip() && w->tooltip()[0]) out->push_back(w->tooltip());
  if (auto* m = dynamic_cast<Fl_Menu_*>(w)) collectMenu(m->menu(), out);
  if (auto* cb = dynamic_cast<Fl_Check_Browser*>(w))
    for (int i = 1; i <= cb->nitems(); ++i) out->push_back(cb->text(i));
  if (auto* ic = dynamic_cast<Fl_Input_Choice*>(w))
    return collectMenu(ic->menubutton()->menu(), out);
  if (Fl_Group* g = w->as_group())
    for (int i = 0; i < g->children(); ++i) collectTexts(g->child(i), out);
}

bool hasAsciiLetter(const std::string& s) {
  return std::any_of(s.begin(), s.end(),
                     [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); });
}
bool hasNonAscii(const std::string& s) {
  return std::any_of(s.begin(), s.end(),
                     [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
}

// Texts that rightly stay in Latin letters: those kept English on purpose and the catalog's own
// Latin translations (model and brand names such as "MI-21", "Micro Motion").
std::set<std::string> latinAllowed() {
  std::set<std::string> allowed;
  std::ifstream kept(testsupport::sourceDir() + "/po/untranslated.txt");
  for (std::string line; std::getline(kept, line);)
    if (!line.empty() && line[0] != '#') allowed.insert(line);
  const std::string po = testsupport::readText(testsupport::sourceDir() + "/po/ru.po");
  static const std::regex pair("msgid \"([^\"\\n]*)\"\\nmsgstr \"([^\"\\n]*)\"");
  for (std::sregex_iterator it(po.begin(), po.end(), pair), end; it != end; ++it)
    if (!hasNonAscii((*it)[2])) allowed.insert((*it)[2]);
  return allowed;
}

// The texts of the window still in English, after checking it shows at least minTexts.
Strings englishTexts(Fl_Window* w, size_t minTexts) {
  Strings shown, bad;
  for (int i = 0; i < w->children(); ++i) collectTexts(w->child(i), &shown);
  EXPECT_GE(shown.size(), minTexts);
  const std::set<std::string> allowed = latinAllowed();
  for (const auto& t : shown)
    if (hasAsciiLetter(t) && !hasNonAscii(t) && !allowed.count(t)) bad.push_back("\"" + t + "\"");
  std::cout << shown.size() << " texts shown, " << bad.size() << " in English" << std::endl;
  return bad;
}

// Parameter: true with the Russian catalog loaded, false in English.
class LayoutFit : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    tickStart();
    char buf[4096];
    oldDir_ = getcwd(buf, sizeof buf);
    dir_ = testsupport::makeTempDir();
    ASSERT_EQ(0, chdir(dir_.c_str()));
    xMainForm::serial_sys_root = dir_.c_str();  // no serial ports: no device names listed
    catalog_unload();
    if (russian()) {
      ASSERT_EQ(1, catalog_load_path((testsupport::buildDir() + "/ru/korvane_v3.mo").c_str()));
    }
    lang_ = russian() ? "ru" : "en";
  }
  void TearDown() override {
    catalog_unload();
    ASSERT_EQ(0, chdir(oldDir_.c_str()));
  }
  bool russian() const { return GetParam(); }
  void shown(Fl_Window* w) {
    w->show();
    pump(0.2);
  }
  void expectRussian(Fl_Window* w, size_t minTexts) {
    if (!russian()) return;
    const Strings bad = englishTexts(w, minTexts);
    EXPECT_TRUE(bad.empty()) << listed(bad);
  }

  ScriptedOperator op_;
  std::string dir_, oldDir_, lang_;
};

TEST_P(LayoutFit, MainWindowTabsHoldTheirLongestTexts) {
  AppState state;
  state.op = &op_;
  xMainForm form(kMainWindowW, kMainWindowH, nullptr, &state);
  if (russian()) {  // start-up speaks Russian too
    EXPECT_EQ(Strings{"Введите адрес ТРК"}, op_.prompts);
    EXPECT_EQ(Strings{"Не удалось открыть порт"}, op_.alerts);
    EXPECT_STREQ("Адрес ТРК 1", form.address_box->label());
  }
  expectRussian(&form, 150);
  // The longest texts the settings tabs show: every satellite channel unassigned, and the
  // counters of both sides of a mass board.
  MainSettings rec;
  rec.set(ms::sat_channel, 0xFFFF);
  rec.set(ms::noz_count, 5);
  MainSettingsForm f;
  displayMainSettings(rec, &f);
  form.show_main_form(f);
  std::string counters;
  for (int side = 1; side <= 2; ++side)
    counters += strprintf(tr("Side %d\n%s kg\n%s rub\n"), side, "99999999.99", "99999999.99") +
                strprintf(tr("%lu.%02u l\n"), 9999999ul, 99u) + "\n";
  form.counters->value(counters.c_str());
  form.counters->position(0);  // as the Load tab shows them
  form.enable_settings_tabs(true);
  shown(&form);
  LayoutCheck check;
  const char* names[] = {"main", "main-settings", "extra-settings", "sides", "load"};
  Fl_Group* tabs[] = {form.tab_main, form.tab_main_settings, form.tab_extra, form.tab_sides,
                      form.tab_load};
  for (int t = 0; t < 5; ++t) {
    form.tabs->value(tabs[t]);
    form.redraw();
    pump(0.1);
    check.window(&form, lang_ + " " + names[t]);
    check.labelsAboveWithinWidth();
    screenshot(&form, lang_ + "-main-" + names[t]);
  }
  EXPECT_TRUE(check.problems.empty()) << listed(check.problems);
  form.hide();
}

TEST_P(LayoutFit, ChannelWindowAndVariablesTableHoldTheirTexts) {
  xChanForm chan(811, 568, tr("Channel settings"));
  chan.attach(nullptr, nullptr, [] { return 5; });
  chan.open();
  chan.resize(chan.x(), chan.y(), 811, 568);
  if (russian()) {
    EXPECT_STREQ("Настройки канала", chan.label());
  }
  expectRussian(&chan, 30);
  // The longest state text is the one to see in the list.
  int longest = 0, widest = 0;
  Fl_Choice* state = chan.chan_control<Fl_Choice>(ChanControl::State);
  for (int i = 0; i < state->size() - 1; ++i) {
    const int w = textWidth(state->menu()[i].label(), state->textfont(), state->textsize());
    if (w > widest) widest = w, longest = i;
  }
  state->value(longest);
  chan.selector->value(9);
  pump(0.2);
  LayoutCheck check;
  check.window(&chan, lang_ + " channel");
  screenshot(&chan, lang_ + "-channel");
  chan.hide();

  ChannelCopies copies;
  ChanVarTable table(nullptr, &copies);
  shown(&table);
  table.read_once();
  check.window(&table, lang_ + " variables");
  screenshot(&table, lang_ + "-variables");
  table.hide();
  EXPECT_TRUE(check.problems.empty()) << listed(check.problems);
}

TEST_P(LayoutFit, FactoryWindowHoldsEveryPumpTypesTexts) {
  xFactorySet w(707, 377, tr("Factory settings"));
  if (russian()) {
    EXPECT_STREQ("Заводские настройки", w.label());
  }
  expectRussian(&w, 20);
  w.open();
  w.nozzle_count->value(4);
  w.nozzle_count->do_callback();
  LayoutCheck check;
  ASSERT_EQ(kPumpTypeCount, w.pump_type->size() - 1);
  for (int t = 0; t < kPumpTypeCount; ++t) {
    w.pump_type->value(t);
    w.pump_type->do_callback();
    ASSERT_STRNE("0", w.description->value());
    pump(0.1);
    check.window(&w, lang_ + " factory, pump type " + std::to_string(t));
    check.labelsAboveWithinWidth();
    screenshot(&w, lang_ + "-factory-" + kPumpTypeItems[t]);
  }
  w.hide();
  EXPECT_TRUE(check.problems.empty()) << listed(check.problems);
}

TEST_P(LayoutFit, TrafficWindowAndFirmwareBarHoldTheirTexts) {
  TrafficWindow traffic(&op_);
  if (russian()) {
    EXPECT_STREQ("Трафик шины", traffic.label());
  }
  expectRussian(&traffic, 4);
  const uint8_t longest[16] = {0x60, 0x01, 0x42, 0x7C, 0x00, 0x00, 0x00, 0x00,
                               0x07, 0x4E, 0x0E, 0xE2, 0x61, 0xBC, 0x00, 0x38};
  for (int i = 0; i < 3; ++i) traffic.add_chunk(i != 1, longest, sizeof longest);
  traffic.set_paused(true);
  traffic.add_chunk(true, longest, sizeof longest);
  traffic.flush_lines();
  shown(&traffic);
  LayoutCheck check;
  check.window(&traffic, lang_ + " traffic");
  // A line of sixteen bytes is seen whole, without scrolling sideways.
  fl_font(traffic.view->textfont(), traffic.view->textsize());
  const std::string line = traffic.text().substr(0, traffic.text().find('\n'));
  EXPECT_LE(fl_width(line.c_str()) + 20, traffic.view->w()) << line;
  traffic.hide();

  // The firmware bar with its longest texts, under the log of the Main tab.
  AppState state;
  state.op = &op_;
  xMainForm form(kMainWindowW, kMainWindowH, nullptr, &state);
  form.show_firmware_progress(131071, 131072, 599000, false);
  shown(&form);
  check.window(&form, lang_ + " main, firmware running");
  form.show_firmware_progress(131072, 131072, 600000, true, false);
  pump(0.1);
  check.window(&form, lang_ + " main, firmware stopped");
  form.hide();
  EXPECT_TRUE(check.problems.empty()) << listed(check.problems);
}

INSTANTIATE_TEST_SUITE_P(BothLanguages, LayoutFit, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& i) {
                           return i.param ? "Russian" : "English";
                         });

}  // namespace
