// The three windows built with the Russian catalog loaded: every label, tooltip, list item and
// check-list item they show must come out in Russian. This catches texts that reach a widget
// through a layout helper instead of a direct tr("...") call, which the source scan cannot see.
#include "settings/settings_form.h"  // before FLTK: X11 defines None

#include <gtest/gtest.h>  // before the windows' headers for the same reason

#include <FL/Fl.H>
#include <FL/Fl_Check_Browser.H>
#include <FL/Fl_Input_Choice.H>
#include <FL/Fl_Menu_.H>
#include <FL/Fl_Menu_Item.H>
#include <unistd.h>

#include <fstream>
#include <iostream>
#include <memory>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "support/scripted_operator.h"
#include "support/test_support.h"
#include "ui/catalog.h"
#include "ui/chan_form.h"
#include "ui/factory_form.h"
#include "ui/main_form.h"

namespace {

struct Shown {
  std::string where;
  std::string text;
};

void collectMenu(const Fl_Menu_Item* items, const std::string& where, std::vector<Shown>* out) {
  if (!items) return;
  for (int i = 0; i < items->size() - 1; ++i)
    if (items[i].label()) out->push_back({where + " item", items[i].label()});
}

// Every text a widget and its children show, apart from what the engineer types or the
// board reports (input values).
void collect(Fl_Widget* w, const std::string& path, std::vector<Shown>* out) {
  const std::string here = path + "/" + (w->label() ? w->label() : "?");
  if (w->label() && w->label()[0]) out->push_back({path, w->label()});
  if (w->tooltip() && w->tooltip()[0]) out->push_back({here + " tooltip", w->tooltip()});
  if (auto* m = dynamic_cast<Fl_Menu_*>(w)) collectMenu(m->menu(), here, out);
  if (auto* ic = dynamic_cast<Fl_Input_Choice*>(w)) collectMenu(ic->menubutton()->menu(), here, out);
  if (auto* cb = dynamic_cast<Fl_Check_Browser*>(w))
    for (int i = 1; i <= cb->nitems(); ++i) out->push_back({here + " item", cb->text(i)});
  if (auto* g = w->as_group())
    if (!dynamic_cast<Fl_Input_Choice*>(w))
      for (int i = 0; i < g->children(); ++i) collect(g->child(i), here, out);
}

bool hasAsciiLetter(const std::string& s) {
  for (unsigned char c : s)
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) return true;
  return false;
}
bool hasNonAscii(const std::string& s) {
  for (unsigned char c : s)
    if (c >= 0x80) return true;
  return false;
}

// Texts that rightly stay in Latin letters: the ones kept English on purpose and the
// catalog's own Latin translations (model and brand names such as "MI-21", "Micro Motion").
std::set<std::string> latinAllowed() {
  std::set<std::string> allowed;
  std::ifstream kept(testsupport::sourceDir() + "/po/untranslated.txt");
  std::string line;
  while (std::getline(kept, line))
    if (!line.empty() && line[0] != '#') allowed.insert(line);
  std::ifstream po(testsupport::sourceDir() + "/po/ru.po");
  std::stringstream all;
  all << po.rdbuf();
  const std::string text = all.str();
  static const std::regex pair("msgid \"([^\"\\n]*)\"\\nmsgstr \"([^\"\\n]*)\"");
  for (std::sregex_iterator it(text.begin(), text.end(), pair), end; it != end; ++it)
    if (!hasNonAscii((*it)[2])) allowed.insert((*it)[2]);
  return allowed;
}

class RussianLabels : public ::testing::Test {
 protected:
  void SetUp() override {
    char buf[4096];
    oldDir_ = getcwd(buf, sizeof buf);
    dir_ = testsupport::makeTempDir();
    ASSERT_EQ(0, chdir(dir_.c_str()));
    // No serial ports, so the port list holds no device names.
    xMainForm::serial_sys_root = dir_.c_str();
    ASSERT_EQ(catalog_load_path((testsupport::buildDir() + "/ru/korvane_v3.mo").c_str()), 1);
    state_ = std::make_unique<AppState>();
    state_->op = &op_;
  }
  void TearDown() override {
    catalog_unload();
    ASSERT_EQ(0, chdir(oldDir_.c_str()));
  }

  // Checks the texts, printing how many were looked at; returns the ones left in English.
  std::vector<std::string> english(const std::vector<Shown>& shown) {
    const std::set<std::string> allowed = latinAllowed();
    std::vector<std::string> bad;
    for (const auto& s : shown)
      if (hasAsciiLetter(s.text) && !hasNonAscii(s.text) && !allowed.count(s.text))
        bad.push_back(s.where + ": \"" + s.text + "\"");
    std::cout << shown.size() << " texts shown, " << bad.size() << " in English" << std::endl;
    return bad;
  }

  ScriptedOperator op_;
  std::unique_ptr<AppState> state_;
  std::string dir_, oldDir_;
};

std::string listed(const std::vector<std::string>& v) {
  std::string r;
  for (const auto& s : v) r += "\n  " + s;
  return r;
}

TEST_F(RussianLabels, MainWindowShowsEveryTextInRussian) {
  xMainForm form(kMainWindowW, kMainWindowH, nullptr, state_.get());
  // Start-up spoke Russian too: the address prompt and the port alert.
  ASSERT_FALSE(op_.prompts.empty());
  EXPECT_EQ(op_.prompts[0], "Введите адрес ТРК");
  ASSERT_FALSE(op_.alerts.empty());
  EXPECT_EQ(op_.alerts[0], "Не удалось открыть порт");

  std::vector<Shown> shown;
  for (int i = 0; i < form.children(); ++i) collect(form.child(i), "main", &shown);
  ASSERT_GT(shown.size(), 150u);
  auto bad = english(shown);
  EXPECT_TRUE(bad.empty()) << listed(bad);
  EXPECT_STREQ(form.address_box->label(), "Адрес ТРК 1");
}

TEST_F(RussianLabels, ChannelAndFactoryWindowsShowEveryTextInRussian) {
  xChanForm chan(359, 206, tr("Channel settings"));
  xFactorySet factory(707, 377, tr("Factory settings"));
  EXPECT_STREQ(chan.label(), "Настройки канала");
  EXPECT_STREQ(factory.label(), "Заводские настройки");
  std::vector<Shown> shown;
  for (int i = 0; i < chan.children(); ++i) collect(chan.child(i), "channel", &shown);
  for (int i = 0; i < factory.children(); ++i) collect(factory.child(i), "factory", &shown);
  ASSERT_GT(shown.size(), 30u);
  auto bad = english(shown);
  EXPECT_TRUE(bad.empty()) << listed(bad);
}

}  // namespace
