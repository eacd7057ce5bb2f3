// Keys and controls as the engineer uses them, through real toolkit events against
// korvane-sim: shortcuts whatever has the focus (a string table too), a display-test mode
// pressed again, the SIP diagnosis from its first line, the factory window's refusals, its
// question and its moving bar, address cells that show every value, prompts with their
// default selected and passwords hidden, a read-only log, the diagnostics in Russian, the
// counters after a delivery, and quitting only when asked.
#include "gui_test.h"

#include <FL/Fl_Multiline_Input.H>
#include <FL/fl_draw.H>

#include <functional>
#include <set>

#include "gui_events.h"
#include "settings/presets.h"
#include "ui/chan_form.h"
#include "ui/factory_form.h"
#include "ui/fltk_operator.h"
#include "ui/prompt_dialog.h"
#include "ui/shortcuts.h"
#include "ui/var_table.h"
#include "ui/window_links.h"

namespace {

using namespace guitest;

// The log operator that can look at the windows when an alert comes up.
class AlertWatch : public WindowLogOperator {
 public:
  std::function<void(const std::string&)> onAlert;
  void alert(const std::string& text) override {
    if (onAlert) onAlert(text);
    WindowLogOperator::alert(text);
  }
};

class KeysControls : public WindowTest {
 protected:
  void TearDown() override {
    set_shortcut_hooks(ShortcutHooks{});
    catalog_unload();
    WindowTest::TearDown();
  }
  bool logHas(const std::string& s) const { return op->log.find(s) != std::string::npos; }
  int banner() const { return state->session.pumpAddress; }
};

// Types text and Enter into the prompt dialog once it is up.
struct Typing {
  std::string text;
  int key = FL_Enter;
  bool secret = false;
};
void typeIntoPrompt(void* data) {
  auto* t = static_cast<Typing*>(data);
  Fl_Input* in = current_prompt_input();
  if (!in) return Fl::repeat_timeout(0.05, typeIntoPrompt, data);
  t->secret = in->input_type() == FL_SECRET_INPUT;
  for (char c : t->text) sendKey(in->window(), c, 0, std::string(1, c).c_str());
  sendKey(in->window(), t->key);
}

TEST_F(KeysControls, ShortcutsControlsPromptsAndTheLogWorkAsTheEngineerExpects) {
  AlertWatch& watch = useOperator<AlertWatch>();
  ASSERT_TRUE(startWithBoard({"--board", "3", "--flow", "120"}));
  xChanForm chan(811, 568, "Channel settings");
  xFactorySet factory(707, 377, "Factory settings");
  link_windows(form.get(), &chan, &factory);
  form->show();
  pump(0.2);

  // Diagnostics in Russian: every line the log shows is the catalog's.
  ASSERT_EQ(1, catalog_load_path((testsupport::buildDir() + "/ru/korvane_v3.mo").c_str()));
  op->log.clear();
  press(form->read_diagnostics);
  const Strings lines = op->logLines();
  ASSERT_EQ(22u, lines.size()) << op->log;
  for (const std::string& l : lines) EXPECT_EQ(std::string::npos, l.find("val=")) << l;
  EXPECT_EQ(0u, lines[3].rfind("$35 знач=$", 0)) << lines[3];
  EXPECT_EQ(0u, lines[4].rfind("$22 знач=$", 0)) << lines[4];
  EXPECT_EQ(0u, lines[10].rfind("[0]: А=", 0)) << lines[10];
  catalog_unload();

  // A display-test mode pressed twice is sent twice (register 0x25, mode 3), each logged.
  traceSent();
  op->log.clear();
  click(form->disp_totals);
  click(form->disp_totals);
  const Strings logged = op->logLines();
  EXPECT_EQ(2, std::count(logged.begin(), logged.end(), std::string("Display mode result=1")))
      << op->log;
  const std::vector<uint8_t> mode3 = {0x60, 0x03, 0x42, 0x74, 0x00, 0x00,
                                      0x00, 0x00, 0x25, 0x03, 0x01, 0xD8};
  std::vector<uint8_t> twice = mode3;
  twice.insert(twice.end(), mode3.begin(), mode3.end());
  EXPECT_EQ(twice, sent) << hexOf(sent);
  portSetTrace(nullptr);

  // "SIP diag" shows the block from its first line; after a delivery the counters are read
  // again as soon as the monitor sees it end.
  showTab(form->tab_load);
  press(form->sip_diag);
  EXPECT_EQ(0u, std::string(form->sip_diag_text->value()).rfind("0 - ", 0));
  EXPECT_EQ(0, form->sip_diag_text->position());
  const std::string before = form->counters->value();
  form->volume_input->value("0.50");
  op->alerts.clear();
  press(form->load_volume);
  ASSERT_EQ(Strings{"Ok"}, op->alerts);
  std::string after = before;
  for (const uint32_t until = nowMs() + 8000; !deadlineReached(until) && after == before;) {
    Fl::wait(0.02);
    after = form->counters->value();
  }
  EXPECT_NE(std::string::npos, std::string(form->state_field->value()).find("Finished"));
  // "Side 1\n<whole>.<hundredths> l\n": half a litre more than before.
  const auto litres = [](const std::string& t) {
    const size_t at = t.find('\n') + 1;
    return std::stod(t.substr(at, t.find(" l", at) - at));
  };
  EXPECT_NEAR(litres(before) + 0.50, litres(after), 0.001) << before << " / " << after;
  showTab(form->tab_main);

  // F-keys, Alt+F-keys and Escape while a string table has the focus (after Enter committed a
  // cell it keeps it): the main window's AZT grid, the factory window's Nara grid and the
  // channel variables table.
  form->tabs->value(form->tab_main_settings);
  form->main_control<Fl_StringTable>(MainControl::AztSideA)->start_editing(0, 0, true);
  ASSERT_EQ(1, sendKey(form.get(), FL_Enter));
  ASSERT_EQ(form->main_control<Fl_StringTable>(MainControl::AztSideA), Fl::focus());
  EXPECT_EQ(1, sendKey(form.get(), FL_F + 2));
  EXPECT_EQ(2, banner());
  factory.show();
  pump(0.1);
  factory.nara_a->take_focus();
  ASSERT_EQ(factory.nara_a, Fl::focus());
  EXPECT_EQ(1, sendKey(&factory, FL_F + kBoardAddress));
  EXPECT_EQ(kBoardAddress, banner());
  EXPECT_EQ(1, sendKey(&factory, FL_Escape));
  EXPECT_FALSE(factory.shown());
  {
    ChanVarTable table(state->dev.get(), &state->channels);
    table.show();
    pump(0.1);
    table.table->take_focus();
    ASSERT_EQ(table.table, Fl::focus());
    EXPECT_EQ(1, sendKey(&table, FL_F + 1));
    EXPECT_EQ(1, banner());
    EXPECT_EQ(1, sendKey(&table, FL_Escape));
    EXPECT_FALSE(table.shown());
  }
  form->set_pump_address(kBoardAddress);

  // The factory window opens with no pump type and an empty description; "Apply" without a
  // type is refused; the controller clear is asked first; the bar moves while it writes.
  press(form->factory_settings);
  EXPECT_EQ(-1, factory.pump_type->value());
  EXPECT_STREQ("", factory.description->value());
  pump(0.1);
  screenshot(&factory, "factory_on_open");
  factory.side_a_address->value(std::to_string(kBoardAddress).c_str());  // the board stays
  traceSent();
  op->alerts.clear();
  factory.apply_button->do_callback();
  EXPECT_EQ(Strings{"Choose the pump type"}, op->alerts);
  factory.pump_type->value(kPumpShelf);
  factory.pump_type->do_callback();
  op->questions.clear();
  op->confirmAnswers = {false};
  factory.apply_button->do_callback();
  EXPECT_EQ(Strings{"This will set all pump totals to 0"}, op->questions);
  EXPECT_TRUE(sent.empty()) << hexOf(sent);
  std::vector<int> barAtWrite;
  portSetTrace([&](uint16_t, bool out, const uint8_t*, size_t) {
    if (out) barAtWrite.push_back(static_cast<int>(factory.progress->value()));
  });
  double barAtAllOk = -1;
  watch.onAlert = [&](const std::string& t) {
    if (t == "All ok") barAtAllOk = factory.progress->value();
  };
  op->confirmAnswers = {true};
  factory.apply_button->do_callback();
  watch.onAlert = nullptr;
  portSetTrace(nullptr);
  EXPECT_EQ(100, barAtAllOk);
  ASSERT_FALSE(barAtWrite.empty());
  EXPECT_TRUE(std::is_sorted(barAtWrite.begin(), barAtWrite.end()));
  std::set<int> between;
  for (int v : barAtWrite)
    if (v > 0 && v < 100) between.insert(v);
  EXPECT_GE(between.size(), 3u);
  factory.hide();

  // Every valid AZT address is drawn whole (210 at the normal size, a typed 65535 smaller).
  for (Fl_StringTable* t :
       {form->main_control<Fl_StringTable>(MainControl::AztSideA), factory.nara_a}) {
    const int cell = t->col_width(0);
    for (const char* v : {"210", "255", "65535"}) {
      const int size = t->fitted_text_size(v, cell);
      fl_font(t->cell_font, size);
      EXPECT_LE(fl_width(v), cell - 6) << v;
      EXPECT_GE(size, 8) << v;
      if (std::strlen(v) == 3) {
        EXPECT_EQ(t->cell_size, size) << v;
      }
    }
  }

  // Prompts: the default comes selected, so typing replaces it; a password is typed hidden;
  // Escape cancels.
  FltkOperator dialogs(form.get());
  std::string answer;
  Typing two{"2"};
  Fl::add_timeout(0.1, typeIntoPrompt, &two);
  ASSERT_TRUE(dialogs.askText("Enter pump address", "1", &answer));
  EXPECT_EQ("2", answer);
  EXPECT_FALSE(two.secret);
  Typing password{"4321"};
  Fl::add_timeout(0.1, typeIntoPrompt, &password);
  ASSERT_TRUE(dialogs.askPassword("Please enter admin password", &answer));
  EXPECT_EQ("4321", answer);
  EXPECT_TRUE(password.secret);
  Typing cancelled{"7", FL_Escape};
  Fl::add_timeout(0.1, typeIntoPrompt, &cancelled);
  EXPECT_FALSE(dialogs.askText("Enter device address", "", &answer));
  EXPECT_EQ("4321", answer);
  // The new password typed on the Main tab is hidden too; the status shows until then.
  form->tabs->value(form->tab_main);
  EXPECT_STREQ("Not set", form->admin_password->value());
  form->admin_password->take_focus();
  sendKey(form.get(), '9', 0, "9");
  EXPECT_STREQ("9", form->admin_password->value());
  EXPECT_EQ(FL_SECRET_INPUT, form->admin_password->input_type());

  // The log takes no typing, but its text can be selected and copied.
  op->log.clear();
  press(form->get_identifier);
  // The buffer hands out a copy the caller frees.
  const auto textOf = [](Fl_Text_Buffer* b) {
    std::unique_ptr<char, decltype(&std::free)> t(b->text(), &std::free);
    return std::string(t.get());
  };
  const std::string logText = textOf(state->log.get());
  ASSERT_FALSE(logText.empty());
  form->log_view->take_focus();
  sendKey(form.get(), 'x', 0, "x");
  sendKey(form.get(), FL_BackSpace);
  EXPECT_EQ(logText, textOf(state->log.get()));
  sendKey(form.get(), 'a', FL_CTRL);
  sendKey(form.get(), 'c', FL_CTRL);
  Fl_Multiline_Input pasted(0, 0, 10, 10);
  Fl::paste(pasted, 1);
  EXPECT_EQ(logText, pasted.value());

  // Escape in the main window asks first; "No" keeps everything; "Yes" closes every window,
  // so the program does not live on without its main window.
  chan.show();
  pump(0.1);
  form->tabs->value(form->tab_main_settings);
  form->main_control<Fl_StringTable>(MainControl::AztSideB)->take_focus();
  op->questions.clear();
  op->confirmAnswers = {false};
  EXPECT_EQ(1, sendKey(form.get(), FL_Escape));
  EXPECT_EQ(Strings{"Quit Korvane v3?"}, op->questions);
  EXPECT_TRUE(form->shown() && chan.shown());
  op->confirmAnswers = {true};
  EXPECT_EQ(1, sendKey(form.get(), FL_Escape));
  EXPECT_FALSE(form->shown());
  EXPECT_FALSE(chan.shown());
  EXPECT_EQ(nullptr, Fl::first_window());
}

}  // namespace
