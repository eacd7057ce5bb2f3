// "Write image from file.." against korvane-sim: the fields the import will change are in the
// window's log, board value → file value, while "Start writing?" is on screen; "No" sends no
// write; a file equal to the board says "No values changed" and still asks; "Yes" writes the
// listed values and nothing else.
#include "gui_test.h"

#include "protocol/board_io.h"
#include "settings/settings_json.h"
#include "settings/settings_sequences.h"
#include "ui/fltk_operator.h"

namespace {

using namespace guitest;

// The program's own dialogs, with the file given by the test.
class DialogOperator : public FltkOperator {
 public:
  DialogOperator(xMainForm* form, std::string path) : FltkOperator(form), path_(std::move(path)) {}
  bool chooseFile(const std::string&, const std::string&, bool, std::string* path) override {
    *path = path_;
    return true;
  }

 private:
  std::string path_;
};

// Remembers the log as it stood when the question was asked.
class QuestionLogOperator : public WindowLogOperator {
 public:
  std::string logAtQuestion;
  bool confirm(const std::string& q) override {
    logAtQuestion = log;
    return WindowLogOperator::confirm(q);
  }
};

// While the question is up: the log's text, a photograph of the screen once the dialog has
// been drawn, then "No".
struct QuestionWatch {
  xMainForm* form = nullptr;
  std::string log;
  int seen = 0;
};
void answerNo(void* data) {
  Fl_Window* m = Fl::modal();
  if (!m) return Fl::repeat_timeout(0.05, answerNo, data);
  auto* w = static_cast<QuestionWatch*>(data);
  if (w->seen++ == 0) {
    char* text = w->form->log_view->buffer()->text();
    w->log = text;
    free(text);
    return Fl::repeat_timeout(0.4, answerNo, data);  // let the dialog draw itself
  }
  if (const char* dir = std::getenv("KORVANE_SHOTS")) {
    Fl::flush();
    EXPECT_EQ(0, std::system(strprintf("import -window root '%s/import_changes_before_start_"
                                       "writing.png'",
                                       dir)
                                 .c_str()));
  }
  m->hide();
}

class ImportChanges : public WindowTest {
 protected:
  // The board's records as they are now.
  void readBoard(MainSettings* m, ExtraSettings* e) {
    ASSERT_EQ(kResultDone, readBlockPolled(state->session, kMainSettingsAddress, kBankData,
                                           kMainSettingsSize, m->data(), kCheckCrc));
    ASSERT_EQ(kResultDone, readBlockPolled(state->session, kExtraSettingsAddress, kBankData,
                                           kExtraSettingsSize, e->data(), kCheckCrc));
  }
  bool sentAWrite() const {
    for (size_t i = 0; i + 4 <= sent.size(); ++i)
      if (sent[i] == 0x60 && frameChecksum(&sent[i], 3) == sent[i + 3] &&
          (sent[i + 2] & 0xF8) == 0x40)
        return true;
    return false;
  }
};

TEST_F(ImportChanges, TheLogListsWhatChangesBeforeStartWritingAndNoSendsNothing) {
  ASSERT_TRUE(startWithBoard());
  form->show();
  pump(0.2);
  MainSettings main;
  ExtraSettings extra;
  readBoard(&main, &extra);
  // Two fields changed in the file: a 1-byte main field and a 2-byte extra field.
  MainSettings fileMain = main;
  ExtraSettings fileExtra = extra;
  fileMain.set(ms::slow_start, main.get(ms::slow_start) + 3);
  fileExtra.set(es::w_port, 8502);
  const std::string path = dir_ + "/edited.json";
  ASSERT_EQ(kJsonOk, saveSettingsFile(path, fileMain, fileExtra));
  press(form->get_identifier);  // the log as the engineer has it before the import

  DialogOperator dialogs(form.get(), path);
  state->session.op = &dialogs;
  traceSent();
  QuestionWatch watch;
  watch.form = form.get();
  Fl::add_timeout(0.3, answerNo, &watch);
  press(form->write_image);
  Fl::remove_timeout(answerNo, &watch);
  state->session.op = op;
  ASSERT_EQ(2, watch.seen);
  const std::string expected = strprintf(
      "Values that change (board \xE2\x86\x92 file):\n"
      "  slow_start: %u \xE2\x86\x92 %u\n"
      "  w_port: %u \xE2\x86\x92 8502\n",
      main.get(ms::slow_start), main.get(ms::slow_start) + 3, extra.get(es::w_port));
  EXPECT_NE(watch.log.find(expected), std::string::npos) << watch.log;
  EXPECT_FALSE(sentAWrite());
  MainSettings mainAfter;
  ExtraSettings extraAfter;
  readBoard(&mainAfter, &extraAfter);
  EXPECT_EQ(main, mainAfter);
  EXPECT_EQ(extra, extraAfter);
}

TEST_F(ImportChanges, NoValuesChangedStillAsksAndYesWritesTheListedValues) {
  auto& ask = useOperator<QuestionLogOperator>();
  ASSERT_TRUE(startWithBoard());
  MainSettings main;
  ExtraSettings extra;
  readBoard(&main, &extra);
  const std::string same = dir_ + "/same.json", edited = dir_ + "/edited.json";
  ASSERT_EQ(kJsonOk, saveSettingsFile(same, main, extra));
  ask.fileAnswers = {same};
  press(form->write_image);
  EXPECT_EQ(Strings{"Start writing?"}, ask.questions);
  EXPECT_TRUE(ask.logAtQuestion.size() >= 18 &&
              ask.logAtQuestion.compare(ask.logAtQuestion.size() - 18, 18, "No values changed\n") ==
                  0)
      << ask.logAtQuestion;

  // The file's keyed values over the board's own: a bus address has no key, so it stays.
  MainSettings fileMain = main;
  fileMain.set(ms::pb_timeout, main.get(ms::pb_timeout) ^ 0x11);
  fileMain.set(ms::side_addr0, 9);
  ASSERT_EQ(kJsonOk, saveSettingsFile(edited, fileMain, extra));
  ask.fileAnswers = {edited};
  ask.confirmAnswers = {true};
  ask.log.clear();
  press(form->write_image);
  EXPECT_EQ(strprintf("Values that change (board \xE2\x86\x92 file):\n"
                      "  pb_timeout: %u \xE2\x86\x92 %u\n",
                      main.get(ms::pb_timeout), fileMain.get(ms::pb_timeout)),
            ask.logAtQuestion);
  EXPECT_TRUE(contains(ask.alerts, "Write ok")) << listed(ask.alerts);
  MainSettings mainAfter;
  ExtraSettings extraAfter;
  readBoard(&mainAfter, &extraAfter);
  MainSettings expected = main;
  expected.set(ms::pb_timeout, fileMain.get(ms::pb_timeout));
  EXPECT_EQ(expected, mainAfter);
  EXPECT_EQ(extra, extraAfter);
  EXPECT_EQ(kBoardAddress, state->session.pumpAddress);
}

}  // namespace
