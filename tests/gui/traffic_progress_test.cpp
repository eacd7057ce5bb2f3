// The traffic window and the firmware progress bar against korvane-sim: Ctrl+T opens the
// window, a bus scan shows in it chunk by chunk (time, direction, hex, characters), pause,
// the ring of lines, saving and clearing work, and a closed window hears nothing; a firmware
// update moves a large bar with the bytes sent and the time left, and leaves the end state.
#include "gui_test.h"

#include <functional>
#include <regex>

#include "gui_events.h"
#include "ui/shortcuts.h"
#include "ui/traffic_window.h"
#include "ui/window_links.h"

namespace {

using namespace guitest;

// Looks at the windows each time a long action lets them repaint.
class RepaintWatch : public WindowLogOperator {
 public:
  std::function<void()> duringRepaint;
  void repaint() override {
    WindowLogOperator::repaint();
    if (duringRepaint) duringRepaint();
  }
};

class TrafficProgress : public WindowTest {
 protected:
  void TearDown() override {
    set_shortcut_hooks(ShortcutHooks{});
    catalog_unload();
    WindowTest::TearDown();
  }
  TrafficWindow* openTraffic() {
    connect_shortcuts(form.get(), nullptr);
    EXPECT_EQ(1, sendKey(form.get(), 't', FL_CTRL));
    TrafficWindow* t = form->traffic_window();
    if (t) pump(0.1);
    return t;
  }
  // A scan with a picture of the traffic window when it is a third of the way.
  void scanWithShot(RepaintWatch& watch, TrafficWindow* t, const std::string& shot) {
    int repaints = 0;
    watch.duringRepaint = [&] {
      if (++repaints != 12) return;
      t->show();  // in front of the main window, which it overlaps on this screen
      screenshot(t, shot);
    };
    press(form->search_pumps);
    watch.duringRepaint = nullptr;
    t->flush_lines();
  }
  // A firmware update of the board with pictures and the bar's states while it runs.
  void updateWithShot(RepaintWatch& watch, const std::string& shot, Strings* texts,
                      std::vector<float>* values) {
    const std::string image = dir_ + "/pcb_m7_01.bin";
    testsupport::writeBytes(image, std::vector<uint8_t>(kImageBytes, 0x5A));
    bool shotTaken = false;
    watch.duringRepaint = [&] {
      if (!form->fw_progress->visible()) return;
      values->push_back(form->fw_progress->value());
      texts->push_back(form->fw_progress_text->label() ? form->fw_progress_text->label() : "");
      if (!shotTaken && form->fw_progress->value() >= 50) {
        shotTaken = true;
        screenshot(form.get(), shot);
      }
    };
    op->fileAnswers = {image};
    op->confirmAnswers = {true};
    press(form->firmware_update);
    watch.duringRepaint = nullptr;
  }
  static constexpr size_t kImageBytes = 40 * 272 - 100;  // the last record is short
};

TEST_F(TrafficProgress, TheTrafficWindowShowsEveryChunkAndTheFirmwareBarMovesAsBlocksGo) {
  RepaintWatch& watch = useOperator<RepaintWatch>();
  ASSERT_TRUE(startWithBoard());
  form->show();
  pump(0.2);
  TrafficWindow* traffic = openTraffic();
  ASSERT_NE(nullptr, traffic);
  ASSERT_TRUE(traffic->shown());
  scanWithShot(watch, traffic, "traffic_window_during_scan");

  // Every identification of the scan sent, one line each, and the board's answer received:
  // the time to the millisecond, the direction, the bytes in hex, then as characters.
  Strings rest;  // each line without its time
  const std::regex timed("(\\d\\d:\\d\\d:\\d\\d\\.\\d{3}) (.*)");
  std::smatch m;
  const std::string text = traffic->text();
  for (size_t at = 0; at < text.size();) {
    const size_t end = text.find('\n', at);
    const std::string line = text.substr(at, end - at);
    at = end == std::string::npos ? text.size() : end + 1;
    ASSERT_TRUE(std::regex_match(line, m, timed)) << line;
    rest.push_back(m[2]);
  }
  const std::string pad(37, ' ');
  EXPECT_EQ(">> 60 01 21 BA " + pad + "`.!.", rest.at(0));
  EXPECT_TRUE(contains(rest, ">> 60 05 21 AA " + pad + "`.!."));
  EXPECT_TRUE(contains(rest, ">> 60 20 21 3E " + pad + "` !>"));
  EXPECT_TRUE(contains(rest, "<< 03 23 03 6D " + pad + ".#.m")) << listed(rest);
  EXPECT_EQ(32u + 1u, traffic->lines_shown());

  // Paused, the view stands still and the new lines wait; resumed, they come in.
  click(traffic->pause_button);
  ASSERT_TRUE(traffic->paused());
  press(form->get_identifier);
  traffic->flush_lines();
  EXPECT_EQ(33u, traffic->lines_shown());
  EXPECT_GT(traffic->lines_waiting(), 0u);
  EXPECT_EQ(strprintf("Paused; new lines waiting: %u", unsigned(traffic->lines_waiting())),
            traffic->status->label());
  const size_t waited = traffic->lines_waiting();
  click(traffic->pause_button);
  EXPECT_EQ(33u + waited, traffic->lines_shown());
  EXPECT_EQ(0u, traffic->lines_waiting());

  // Saved to a text file as shown (".txt" added), or an alert says why not.
  op->fileAnswers = {dir_ + "/traffic"};
  click(traffic->save_button);
  EXPECT_EQ(traffic->text(), testsupport::readText(dir_ + "/traffic.txt"));
  op->alerts.clear();
  op->fileAnswers = {"/nonexistent-dir/traffic.txt"};
  click(traffic->save_button);
  EXPECT_EQ(Strings{"Cannot write /nonexistent-dir/traffic.txt: No such file or directory"},
            op->alerts);

  // The ring keeps the last 5000 lines: of 6000 chunks, the first 1000 are gone.
  click(traffic->clear_button);
  EXPECT_EQ(0u, traffic->lines_shown());
  for (int i = 0; i < 6000; ++i) {
    const uint8_t two[2] = {static_cast<uint8_t>(i >> 8), static_cast<uint8_t>(i)};
    traffic->add_chunk(i % 2 == 0, two, 2);
    if (i % 700 == 0) traffic->flush_lines();  // batches of lines, as the timer takes them
  }
  traffic->flush_lines();
  EXPECT_EQ(kTrafficMaxLines, traffic->lines_shown());
  const std::string ring = traffic->text();
  EXPECT_TRUE(std::regex_search(ring.substr(0, ring.find('\n')), std::regex(">> 03 E8 ")))
      << ring.substr(0, 100);                                                // chunk 1000
  EXPECT_TRUE(std::regex_search(ring, std::regex("<< 17 6F {44}\\.o\n$")));  // chunk 5999

  // Closed, it hears nothing.
  click(traffic->clear_button);
  traffic->hide();
  press(form->get_identifier);
  pump(0.1);
  EXPECT_EQ(0u, traffic->lines_shown() + traffic->lines_waiting());

  // The firmware update's bar: it moves block by block with the bytes sent and the time
  // left, and stays with the end state until the next action.
  Strings texts;
  std::vector<float> values;
  updateWithShot(watch, "firmware_progress_mid_update", &texts, &values);
  ASSERT_FALSE(values.empty());
  EXPECT_TRUE(std::is_sorted(values.begin(), values.end()));
  EXPECT_EQ(0, values.front());
  const std::regex midText("(\\d+) of 10780 bytes\n\\d+:\\d\\d left");
  int mid = 0;
  for (const std::string& t : texts) mid += std::regex_match(t, midText);
  EXPECT_GE(mid, 30) << listed(texts);
  EXPECT_EQ(100, form->fw_progress->value());
  EXPECT_STREQ("100%", form->fw_progress->label());
  EXPECT_STREQ("10780 of 10780 bytes\nDone", form->fw_progress_text->label());
  EXPECT_EQ(kLogShortHeight, form->log_view->h());
  press(form->get_identifier);
  EXPECT_FALSE(form->fw_progress->visible());
  EXPECT_EQ(kLogFullHeight, form->log_view->h());

  // The same in Russian.
  ASSERT_EQ(1, catalog_load_path((testsupport::buildDir() + "/ru/korvane_v3.mo").c_str()));
  op->textAnswers = {std::to_string(kBoardAddress)};
  rebuild();
  form->show();
  pump(0.2);
  traffic = openTraffic();
  ASSERT_NE(nullptr, traffic);
  EXPECT_STREQ("Трафик шины", traffic->label());
  scanWithShot(watch, traffic, "traffic_window_during_scan_ru");
  traffic->hide();
  texts.clear();
  values.clear();
  updateWithShot(watch, "firmware_progress_mid_update_ru", &texts, &values);
  EXPECT_STREQ("10780 из 10780 байт\nГотово", form->fw_progress_text->label());
}

}  // namespace
