// Every action reaches the board the "Pump address" banner names, against korvane-sim with
// boards 1, 2 ('$') and 32: the extended firmware update changes nothing until the update
// runs, the bus scan gives the handle back to the banner's board, the banner repaints at
// once, and the Load tab sends nothing to a side the board does not have. The frames are
// checked byte by byte, bus address included.
#include "gui_test.h"

#include <FL/fl_draw.H>

#include "gui_events.h"
#include "settings/settings_records.h"
#include "ui/shortcuts.h"
#include "ui/window_links.h"

namespace {

using namespace guitest;
using Bytes = std::vector<uint8_t>;

// "Controller clear" (register 0x08 of the service space, 0x55) and the restart it is followed
// by (0x88FFFF of the data space, 0x55), each a header and a parameter group, to board 1 and 2.
const Bytes kClearAndRestart1 = {0x60, 0x01, 0x42, 0x7C, 0x00, 0x00, 0x00, 0x00,
                                 0x08, 0x55, 0x01, 0xE8, 0x60, 0x01, 0x40, 0x78,
                                 0x00, 0x00, 0xFF, 0x88, 0xFF, 0x55, 0x01, 0x20};
const Bytes kClearAndRestart2 = {0x60, 0x02, 0x42, 0x70, 0x00, 0x00, 0x00, 0x00,
                                 0x08, 0x55, 0x01, 0xE8, 0x60, 0x02, 0x40, 0x74,
                                 0x00, 0x00, 0xFF, 0x88, 0xFF, 0x55, 0x01, 0x20};

class BoardAddress : public WindowTest {
 protected:
  void TearDown() override {
    set_shortcut_hooks(ShortcutHooks{});
    catalog_unload();
    WindowTest::TearDown();
  }
  // Boards 1, 2 ('$') and 32 on one bus; the window starts at address 1.
  bool startBus() {
    if (!sim.start({"--listen", "127.0.0.1:0", "--board", "1", "--board", "2:$", "--board", "32"}))
      return false;
    writePrefs("TCPC_127.0.0.1:" + std::to_string(sim.listenPort()) + " 19200 8 N 1 38400");
    op->textAnswers = {"1"};
    build();
    connect_shortcuts(form.get(), nullptr);
    return state->port != 0 && state->session.kind != 0;
  }
  // Banner, stored address and handle.
  std::string agreement() const {
    return strprintf("%s / stored %d / handle %d", form->address_box->label(),
                     state->session.pumpAddress, state->dev->address);
  }
  std::string agreementOn(int a) const {
    return strprintf("Pump address %d / stored %d / handle %d", a, a, a);
  }
  // What "Controller clear", answered Yes, sends.
  Bytes controllerClear() {
    traceSent();
    op->confirmAnswers = {true};
    press(form->controller_clear);
    portSetTrace(nullptr);
    return sent;
  }
  // What the extended update sends for a typed address, with the chooser and the question
  // answered as given.
  Bytes extendedUpdate(const std::string& typed, const std::string& file, bool start) {
    traceSent();
    op->textAnswers = {typed};
    op->fileAnswers.clear();
    if (!file.empty()) op->fileAnswers = {file};
    op->confirmAnswers = {start};
    op->alerts.clear();
    press(form->ext_firmware_update);
    portSetTrace(nullptr);
    return sent;
  }
  // The pixels of the banner's place on the screen.
  std::vector<uint8_t> bannerPixels() {
    Fl::flush();
    form->make_current();
    Fl_Box* b = form->address_box;
    uchar* p = fl_read_image(nullptr, b->x(), b->y(), b->w(), b->h());
    std::vector<uint8_t> out(p, p + b->w() * b->h() * 3);
    delete[] p;
    return out;
  }
};

TEST_F(BoardAddress, TheBannerTheStoredAddressAndTheHandleAlwaysNameTheSameBoard) {
  ASSERT_TRUE(startBus());
  ASSERT_EQ(agreementOn(1), agreement());
  std::vector<uint8_t> image(3 * 272, 0x00);
  const std::string imagePath = dir_ + "/pcb_m7_v5_01.bin";
  testsupport::writeBytes(imagePath, image);

  // The extended update asks board 2, then the chooser is cancelled, or "Start updating?" is
  // answered No: nothing changes, and "Controller clear" still clears board 1.
  for (const std::string& file : {std::string(), imagePath}) {
    SCOPED_TRACE(file.empty() ? "chooser cancelled" : "not started");
    const Bytes asked = extendedUpdate("2", file, false);
    ASSERT_GE(asked.size(), 4u);
    EXPECT_EQ((Bytes{0x60, 0x02, 0x21, 0xB6}), Bytes(asked.begin(), asked.begin() + 4));
    EXPECT_EQ(agreementOn(1), agreement());
    EXPECT_EQ(kClearAndRestart1, controllerClear()) << hexOf(sent);
  }
  // The address is read as decimal or 0x-hex like every other: 12 is board 12 (nobody there),
  // not 18; 0x20 is board 32. Text that is no address is refused before anything is sent.
  EXPECT_EQ((Bytes{0x60, 0x0C, 0x21, 0x8E}), extendedUpdate("12", "", false));
  EXPECT_EQ(Strings{"No connection"}, op->alerts);
  const Bytes at32 = extendedUpdate("0x20", "", false);
  ASSERT_GE(at32.size(), 4u);
  EXPECT_EQ((Bytes{0x60, 0x20, 0x21, 0x3E}), Bytes(at32.begin(), at32.begin() + 4));
  EXPECT_EQ("32 32", addressesOf(at32));  // identify and the text identifier
  for (const char* bad : {"abc", "0", "256", "0x"}) {
    EXPECT_TRUE(extendedUpdate(bad, "", false).empty()) << bad;
    EXPECT_EQ(Strings{"Enter a bus address from 1 to 255 (decimal, or hexadecimal after 0x)"},
              op->alerts)
        << bad;
  }
  EXPECT_EQ(agreementOn(1), agreement());

  // The update runs: from then on the tool serves board 2, everywhere.
  op->log.clear();
  extendedUpdate("2", imagePath, true);
  EXPECT_NE(std::string::npos, op->log.find("Finished. Returning to a normal mode")) << op->log;
  EXPECT_EQ(agreementOn(2), agreement());
  EXPECT_EQ(kClearAndRestart2, controllerClear()) << hexOf(sent);

  // F1, then "Search pumps..": the scan asks every address up to 32, and gives the handle back
  // to the banner's board. A serial number written then goes to board 1, not to 32.
  ASSERT_EQ(1, sendKey(form.get(), FL_F + 1));
  ASSERT_EQ(agreementOn(1), agreement());
  traceSent();
  press(form->search_pumps);
  ASSERT_EQ(32u, frameHeaders(sent).size()) << addressesOf(sent);
  EXPECT_EQ(std::make_pair(32, 0x21), frameHeaders(sent).back());
  EXPECT_EQ(agreementOn(1), agreement());
  sent.clear();
  form->serial_input->value("12345678");
  op->confirmAnswers = {true};
  press(form->enter_serial);
  ASSERT_GE(sent.size(), 12u);
  EXPECT_EQ((Bytes{0x60, 0x01, 0x42, 0x7C, 0x00, 0x00, 0x00, 0x00, 0x07, 0x4E, 0x0E, 0xE2}),
            Bytes(sent.begin(), sent.begin() + 12));
  portSetTrace(nullptr);

  // F2 with the window on screen: the banner shows the new address at once, exactly as a
  // full repaint of the window draws it.
  form->show();
  pump(0.2);
  const std::vector<uint8_t> showing1 = bannerPixels();
  ASSERT_EQ(1, sendKey(form.get(), FL_F + 2));
  EXPECT_EQ(agreementOn(2), agreement());
  const std::vector<uint8_t> afterKey = bannerPixels();
  form->redraw();
  EXPECT_EQ(bannerPixels(), afterKey);
  EXPECT_NE(showing1, afterKey);
  screenshot(form.get(), "banner_after_f2");

  // The Load tab of board 1, which has one side (side B address 0): "Test prices" reaches
  // side A's two nozzles only, and nothing is ever sent to address 0.
  ASSERT_EQ(1, sendKey(form.get(), FL_F + 1));
  ASSERT_EQ(1u, state->settings.sideCount());
  ASSERT_EQ(0u, state->settings.readCopy.get(ms::side_addr1));
  ASSERT_EQ(2u, state->settings.nozzleCount());
  showTab(form->tab_load);
  traceSent();
  op->alerts.clear();
  press(form->test_prices);
  EXPECT_TRUE(sentContains(
      {0x60, 0x01, 0x51, 0x5A, 0x01, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00, 0x6B}))  // 1.00, nozzle 1
      << hexOf(sent);
  EXPECT_TRUE(sentContains(
      {0x60, 0x01, 0x52, 0x5C, 0x02, 0x00, 0x00, 0x02, 0x00, 0x01, 0x00, 0xDA}))  // 2.00, nozzle 2
      << hexOf(sent);
  for (const auto& h : frameHeaders(sent)) EXPECT_EQ(1, h.first) << addressesOf(sent);
  EXPECT_TRUE(op->alerts.empty()) << firstAlert();

  // "Side B": a fuelling command for it is refused with a message; the monitor stops polling.
  form->load_side_b->setonly();
  press(form->load_side_b);
  sent.clear();
  form->volume_input->value("1.00");
  press(form->load_volume);
  EXPECT_EQ(Strings{"This board has no side B"}, op->alerts);
  pump(0.3);
  for (const auto& h : frameHeaders(sent)) EXPECT_NE(0, h.first) << addressesOf(sent);
  EXPECT_STREQ("This board has no side B", form->state_field->value());
  // Side A again: the monitor follows it at once.
  form->load_side_a->setonly();
  press(form->load_side_a);
  sent.clear();
  pump(0.3);
  EXPECT_FALSE(frameHeaders(sent).empty());
  for (const auto& h : frameHeaders(sent)) EXPECT_EQ(1, h.first) << addressesOf(sent);
  showTab(form->tab_main);
  portSetTrace(nullptr);

  // The banner after F2 in Russian.
  ASSERT_EQ(1, catalog_load_path((testsupport::buildDir() + "/ru/korvane_v3.mo").c_str()));
  op->textAnswers = {"1"};
  rebuild();
  connect_shortcuts(form.get(), nullptr);
  form->show();
  pump(0.2);
  ASSERT_EQ(1, sendKey(form.get(), FL_F + 2));
  EXPECT_STREQ("Адрес ТРК 2", form->address_box->label());
  const std::vector<uint8_t> ruKey = bannerPixels();
  form->redraw();
  EXPECT_EQ(bannerPixels(), ruKey);
  screenshot(form.get(), "banner_after_f2_ru");
}

}  // namespace
