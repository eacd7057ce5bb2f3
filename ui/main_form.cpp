// The main window: hand-written layout of the banner and the five tabs, the start-up
// sequence that opens the saved port and identifies the board, the port button, the log,
// and the copying between the settings tabs and their form structures.
#include "ui/main_form.h"

#include <FL/Fl.H>
#include <FL/fl_ask.H>
#include <FL/fl_draw.H>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "link/port.h"
#include "link/serial_discovery.h"
#include "link/tick.h"
#include "settings/service_actions.h"
#include "settings/settings_records.h"
#include "settings/settings_sequences.h"
#include "ui/fltk_operator.h"
#include "ui/menu_item.h"
#include "ui/settings_placement.h"
#include "ui/shortcuts.h"
#include "ui/traffic_window.h"
#include "util/catalog.h"
#include "util/number_text.h"

// From the toolkit's platform header, which would bring X11's macros in with it.
void fl_open_display();

namespace {

constexpr int kLabelSize = 12;
constexpr int kButtonH = 24;
constexpr int kTabTop = 57;  // first free line inside a tab
constexpr const char* kBaudItemsShown[] = {"4800", "9600", "19200", "38400"};
// The log under the port row; it gives up its lower part to the firmware progress.
constexpr int kLogTop = 122, kLogW = 272;
// A password field whose entry the board locks turns red; otherwise it keeps the background.
constexpr Fl_Color kPasswordLockedColour = FL_RED;
constexpr Fl_Color kPasswordNormalColour = FL_BACKGROUND_COLOR;
constexpr int kProgressBarH = 48, kProgressLabelSize = 28;
constexpr int kProgressTextH = 38, kProgressTextSize = 14;

void add_item(Fl_Choice* c, const char* text) { add_plain_menu_item(c, text); }

// Lines a label takes when wrapped to the given width (the translation decides).
int label_lines(const char* text, int width) {
  fl_open_display();
  fl_font(FL_HELVETICA, kLabelSize);
  int w = width, h = 0;
  fl_measure(text, w, h, 0);
  return std::max(1, (h + fl_height() / 2) / fl_height());
}

// The label-above-input pattern used throughout the window.
template <class W>
W* above(int x, int y, int w, int h, const char* label) {
  W* wd = new W(x, y, w, h, label ? tr(label) : nullptr);
  wd->align(FL_ALIGN_TOP_LEFT);
  wd->labelsize(kLabelSize);
  return wd;
}

template <class W>
W* button(int x, int y, int w, int h, const char* label) {
  W* b = new W(x, y, w, h, tr(label));
  b->labelsize(kLabelSize);
  return b;
}

Fl_Group* framed_group(int x, int y, int w, int h, const char* label) {
  Fl_Group* g = above<Fl_Group>(x, y, w, h, label);
  g->box(FL_ENGRAVED_FRAME);
  return g;
}

Fl_Group* plain_group(int x, int y, int w, int h) {
  Fl_Group* g = new Fl_Group(x, y, w, h);
  g->box(FL_NO_BOX);
  return g;
}

Fl_Round_Button* radio(int x, int y, int w, const char* label) {
  Fl_Round_Button* r = button<Fl_Round_Button>(x, y, w, kRowH, label);
  r->type(FL_RADIO_BUTTON);
  r->down_box(FL_ROUND_DOWN_BOX);
  return r;
}

Fl_Check_Browser* check_list(int x, int y, int w, int h, const char* const* items, int n,
                             const char* label = nullptr) {
  Fl_Check_Browser* b = above<Fl_Check_Browser>(x, y, w, h, label);
  b->textsize(kLabelSize);
  for (int i = 0; i < n; ++i) b->add(tr(items[i]));
  return b;
}

Fl_Choice* choice_with(int x, int y, int w, const char* label, const char* const* items, int n,
                       int untranslated = -1) {
  Fl_Choice* c = above<Fl_Choice>(x, y, w, kRowH, label);
  c->textsize(kLabelSize);
  for (int i = 0; i < n; ++i) add_item(c, i == untranslated ? items[i] : tr(items[i]));
  return c;
}

bool is_single_line_input(Fl_Widget* w) {
  Fl_Input_* in = dynamic_cast<Fl_Input_*>(w);
  if (!in) return false;
  const int t = in->input_type();
  return t != FL_MULTILINE_INPUT && !in->readonly();
}

bool takes_action_callback(Fl_Widget* w) {
  return dynamic_cast<Fl_Button*>(w) || dynamic_cast<Fl_Choice*>(w) ||
         dynamic_cast<Fl_Check_Browser*>(w) || is_single_line_input(w);
}

void set_text(Fl_Widget* w, const std::string& text) {
  if (auto* in = dynamic_cast<Fl_Input_*>(w)) in->value(text.c_str());
}

std::string text_of(const Fl_Widget* w) {
  auto* in = dynamic_cast<const Fl_Input_*>(w);
  return in && in->value() ? in->value() : "";
}

// -1 clears the selection; an item beyond the list leaves the choice as it is.
void set_choice(Fl_Choice* c, int item) {
  if (item < 0)
    c->value(-1);
  else if (item < c->size() - 1)
    c->value(item);
}

}  // namespace

xMainForm::xMainForm(int w, int h, const char* /*title*/, AppState* state)
    : Fl_Double_Window(w, h), app(state ? *state : app_state()) {
  banner_ = build_banner();
  label(banner_.c_str());
  // Wide enough for the longest banner ("Pump address 240" in either language): a label
  // drawn past its box is not repainted with it.
  address_box = new Fl_Box(8, 0, 400, 32, tr("Pump address"));
  address_box->labelfont(FL_TIMES);
  address_box->labelsize(19);
  address_box->align(FL_ALIGN_LEFT | FL_ALIGN_INSIDE);

  tabs = new Fl_Tabs(0, 32, 992, 576);
  build_main_tab();
  build_main_settings_tab();
  build_extra_tab();
  build_sides_tab();
  build_load_tab();
  tabs->end();
  tabs->value(tab_main);
  end();
  // Escape and the close box ask first, and leave no other window behind.
  callback(&xMainForm::close_cb, this);
  init_main_window();
}

void xMainForm::open_traffic_window() {
  if (!traffic_) traffic_ = std::make_unique<TrafficWindow>(app.op);
  traffic_->show();
}

void xMainForm::close_cb(Fl_Widget*, void* self) { static_cast<xMainForm*>(self)->request_quit(); }

bool xMainForm::request_quit() {
  // A scan or an update owns the bus and the window; stopping it halfway could leave a board
  // in its boot loader.
  if (app.busy) return false;
  if (!app.op->confirm(tr("Quit Korvane v3?"))) return false;
  // The other windows go with the main one, so the event loop ends with the process.
  std::vector<Fl_Window*> others;
  for (Fl_Window* w = Fl::first_window(); w; w = Fl::next_window(w))
    if (w != this) others.push_back(w);
  for (Fl_Window* w : others) w->hide();
  hide();
  return true;
}

xMainForm::~xMainForm() {
  app.closePort();
  traffic_.reset();  // it listens to the port layer while shown
  portSetPeerHook(nullptr);
  Fl::remove_handler(global_shortcut_handler);
  set_shortcut_hooks(ShortcutHooks{});
  if (monitor_timer_) monitor_timer_->cancel();
  Fl::remove_timeout(&xMainForm::counters_cb, this);
  app.monitor.timer = nullptr;
  app.monitor.view = SideMonitorView{};
  app.session.onForgetBoard = nullptr;
  app.session.onPumpAddress = nullptr;
  app.settings.onTabsEnabled = nullptr;
  app.settings.onMainRead = nullptr;
  app.settings.onExtraRead = nullptr;
  app.settings.onServiceValues = nullptr;
  app.settings.onSideNozzleRead = nullptr;
  if (own_op_ && app.op == own_op_.get()) app.op = nullptr;
  if (app.session.op == own_op_.get()) app.session.op = nullptr;
  // The editor lets go of the log buffer, which belongs to AppState and outlives us.
  log_view->buffer(nullptr);
}

std::string xMainForm::build_banner() { return std::string("Korvane v3 ") + __DATE__; }

void xMainForm::build_main_tab() {
  tab_main = new Fl_Group(0, kTabTop, 992, 551, tr("Main"));
  tab_main->labelsize(kLabelSize);
  // The port field takes any name portOpen takes (typed: TCPC_host:port, TCPS_port, a device
  // path) and offers the serial ports found; it shows the name of the port that is open.
  port_choice = new Fl_Input_Choice(8, 66, 272, kRowH);
  port_choice->textsize(kLabelSize);
  port_choice->tooltip(
      tr("Port: a serial device (ttyUSB0 or /dev/ttyUSB0), TCPC_address:port (the tool "
         "connects), TCPS_port or TCPS_address:port (the tool listens), or STUB"));
  baud_choice = new Fl_Input_Choice(8, 92, 86, kRowH);
  baud_choice->textsize(kLabelSize);
  port_button = button<Fl_Button>(100, 91, 180, kButtonH, "Open port");

  // Read-only: the engineer selects and copies lines, but cannot type into the record.
  log_view = new Fl_Text_Display(8, kLogTop, kLogW, kLogFullHeight);
  log_view->textsize(kLabelSize);
  log_view->buffer(app.log.get());
  // The firmware update's progress, under the log and large enough to read from afar; shown
  // while an update runs and until the next action.
  fw_progress = new Fl_Progress(8, kLogTop + kLogShortHeight + 6, kLogW, kProgressBarH);
  fw_progress->minimum(0);
  fw_progress->maximum(100);
  fw_progress->selection_color(FL_DARK_GREEN);
  fw_progress->labelsize(kProgressLabelSize);
  fw_progress->labelfont(FL_HELVETICA_BOLD);
  fw_progress->labelcolor(FL_BLACK);
  fw_progress->hide();
  fw_progress_text = new Fl_Box(8, fw_progress->y() + kProgressBarH + 2, kLogW, kProgressTextH);
  fw_progress_text->labelsize(kProgressTextSize);
  fw_progress_text->labelfont(FL_HELVETICA_BOLD);
  fw_progress_text->align(FL_ALIGN_CENTER | FL_ALIGN_INSIDE);
  fw_progress_text->hide();

  command_panel = new Fl_Group(287, 64, 500, 511);
  const int lx = 295, rx = 545, cw = 235;
  firmware_update = button<Fl_Button>(lx, 84, 160, kButtonH, "Firmware update");
  max_baud = above<Fl_Int_Input>(lx + 168, 84, 150, kButtonH, "Max baud rate");
  max_baud->value("38400");
  leave_bootloader =
      button<Fl_Button>(lx + 326, 84, rx + cw - lx - 326, kButtonH, "Leave bootloader");

  ext_firmware_update = button<Fl_Button>(lx, 124, cw, kButtonH, "Extended firmware update");
  read_diagnostics = button<Fl_Button>(lx, 154, cw, kButtonH, "Read diagnostics");
  show_totals = button<Fl_Button>(lx, 184, cw, kButtonH, "Show totals");
  restart = button<Fl_Button>(lx, 214, cw, kButtonH, "Restart");
  display_test = framed_group(lx, 264, cw, 140, "Display test");
  disp_standard = radio(lx + 10, 270, cw - 20, "Standard mode");
  disp_totals = radio(lx + 10, 296, cw - 20, "Totals");
  disp_performance = radio(lx + 10, 322, cw - 20, "Performance");
  disp_test = radio(lx + 10, 348, cw - 20, "Test");
  disp_test09 = radio(lx + 10, 374, cw - 20, "Test 0..9");
  display_test->end();

  get_identifier = button<Fl_Button>(rx, 124, cw, kButtonH, "Get identifier");
  controller_clear = button<Fl_Button>(rx, 154, cw, kButtonH, "Controller clear");
  factory_settings = button<Fl_Button>(rx, 184, cw, kButtonH, "Factory settings");
  broadcast_search = button<Fl_Button>(rx, 214, cw, kButtonH, "Broadcast search");
  search_pumps = button<Fl_Button>(rx, 244, cw, kButtonH, "Search pumps..");
  read_image = button<Fl_Button>(rx, 274, cw, kButtonH, "Read image to file..");
  write_image = button<Fl_Button>(rx, 304, cw, kButtonH, "Write image from file..");
  traffic_button = button<Fl_Button>(rx, 334, cw, kButtonH, "Bus traffic..");
  traffic_button->tooltip(tr("Every byte sent and received on the open port (Ctrl+T)"));

  // The password inputs as wide as their captions; "Change" needs less.
  admin_password = above<PasswordField>(lx, 436, 160, kButtonH, "Admin password");
  admin_password_change = button<Fl_Button>(lx + 165, 436, cw - 165, kButtonH, "Change");
  calib_password = above<PasswordField>(rx, 436, 160, kButtonH, "Calibration password");
  calib_password_change = button<Fl_Button>(rx + 165, 436, cw - 165, kButtonH, "Change");

  enter_serial = button<Fl_Button>(lx, 478, cw, kButtonH, "Enter serial number");
  serial_input = new Fl_Int_Input(rx, 478, 160, kButtonH);
  serial_input->tooltip(tr("Enter here serial number"));
  imitator = button<Fl_Light_Button>(lx, 520, cw, kButtonH, "Imitator");
  command_panel->end();
  tab_main->end();
}

namespace {

// The grid rows' tops: a row starts lower by a line for each line its longest caption takes
// beyond the first. Also gives the line under the last row.
struct GridRows {
  std::vector<int> top;
  int end = 0;
};

GridRows lay_out_grid() {
  std::vector<int> lines;
  for (const MainControlPlacement& p : kMainPlacement) {
    if (p.at.anchor != Anchor::Grid) continue;
    const size_t row = static_cast<size_t>(p.at.y);
    if (lines.size() <= row) lines.resize(row + 1, 1);
    const char* caption = tr(kMainControls[static_cast<size_t>(p.id)].label);
    lines[row] = std::max(lines[row], label_lines(caption, p.at.w));
  }
  GridRows rows;
  int y = kMainGrid.top;
  for (int n : lines) {
    y += (n - 1) * kLabelLineH;
    rows.top.push_back(y);
    y += kRowH + kLabelLineH + kMainGrid.rowGap;
  }
  rows.end = y;
  return rows;
}

struct Rect {
  int x, y, w, h;
};

Rect resolve(const Placement& p, const GridRows& grid) {
  switch (p.anchor) {
    case Anchor::Grid:
      return {kMainGrid.columnX[static_cast<size_t>(p.x)], grid.top[static_cast<size_t>(p.y)], p.w,
              p.h};
    case Anchor::UnderGrid:
      return {p.x, grid.end + p.y, p.w, p.h};
    case Anchor::Window:
      break;
  }
  return {p.x, p.y, p.w, p.h};
}

Fl_Group* open_group(MainGroup id, const GridRows& grid) {
  for (const MainGroupPlacement& g : kMainGroups) {
    if (g.id != id) continue;
    const Rect r = resolve(g.at, grid);
    return g.caption ? framed_group(r.x, r.y, r.w, r.h, g.caption)
                     : plain_group(r.x, r.y, r.w, r.h);
  }
  return nullptr;
}

// One control of the "Main settings" tab: its kind and caption from the control table, the
// rest from its placement.
Fl_Widget* make_main_control(const MainControlPlacement& p, const Rect& r) {
  const ControlDesc& d = kMainControls[static_cast<size_t>(p.id)];
  const char* caption = d.label[0] ? d.label : nullptr;
  Fl_Widget* w = nullptr;
  switch (d.kind) {
    case ControlKind::Choice:
      w = choice_with(r.x, r.y, r.w, caption, p.items.items, p.items.count, p.items.untranslated);
      break;
    case ControlKind::Input:
      w = above<Fl_Int_Input>(r.x, r.y, r.w, r.h, caption);
      break;
    case ControlKind::MultiLine:
      w = above<Fl_Multiline_Input>(r.x, r.y, r.w, r.h, caption);
      static_cast<Fl_Multiline_Input*>(w)->textsize(kLabelSize);
      break;
    case ControlKind::Radio:
      w = radio(r.x, r.y, r.w, caption);
      break;
    case ControlKind::Check:
      w = button<Fl_Check_Button>(r.x, r.y, r.w, r.h, caption);
      static_cast<Fl_Check_Button*>(w)->down_box(FL_DOWN_BOX);
      break;
    case ControlKind::Table: {
      Fl_StringTable* t = above<Fl_StringTable>(r.x, r.y, r.w, r.h, caption);
      t->set_size(1, kAztColumns);
      t->row_header(0);
      t->col_header(0);
      t->col_width_all((r.w - 4) / kAztColumns);
      t->row_height_all(20);
      t->cell_selected_bg = 50;
      t->end();
      w = t;
      break;
    }
    case ControlKind::CheckList:
      w = check_list(r.x, r.y, r.w, r.h, p.items.items, p.items.count, caption);
      break;
  }
  if (p.flags & kCaptionWraps) w->align(FL_ALIGN_TOP_LEFT | FL_ALIGN_WRAP);
  if (p.flags & kStartsAtZero) static_cast<Fl_Input_*>(w)->value("0");
  if (p.tooltip) w->tooltip(tr(p.tooltip));
  return w;
}

}  // namespace

void xMainForm::build_main_settings_tab() {
  tab_main_settings = new Fl_Group(0, kTabTop, 992, 551, tr("Main settings"));
  tab_main_settings->labelsize(kLabelSize);
  const GridRows grid = lay_out_grid();
  MainGroup groupId = MainGroup::NoGroup;
  Fl_Group* group = nullptr;
  for (const MainControlPlacement& p : kMainPlacement) {
    if (p.group != groupId) {
      if (group) group->end();
      groupId = p.group;
      group = open_group(groupId, grid);
    }
    main_ctl_[static_cast<size_t>(p.id)] = make_main_control(p, resolve(p.at, grid));
  }
  if (group) group->end();
  ms_read =
      button<Fl_Button>(kMainGrid.columnX[1], 532, kMainGrid.columnW, kButtonH, "Read settings");
  ms_save =
      button<Fl_Button>(kMainGrid.columnX[1], 564, kMainGrid.columnW, kButtonH, "Save settings");
  // In keyboard order the buttons follow the satellite channels, before the numeric fields.
  const int firstField = tab_main_settings->find(main_control(MainControl::SlowStart));
  tab_main_settings->insert(*ms_read, firstField);
  tab_main_settings->insert(*ms_save, firstField + 1);
  tab_main_settings->end();
}

void xMainForm::build_extra_tab() {
  tab_extra = new Fl_Group(0, kTabTop, 992, 551, tr("Extra settings"));
  tab_extra->labelsize(kLabelSize);
  // Integer fields, then decimal fields, then the network addresses: a 3 x 9 grid of inputs
  // as wide as the longest caption ("Heater turn off temperature" in Russian).
  constexpr int kExtraInputW = 224, kExtraGap = 6;
  int i = 0;
  for (const ControlDesc& d : kExtraControls) {
    if (d.kind != ControlKind::Input) continue;
    const auto id = static_cast<ExtraControl>(d.id);
    const int col = i / 9, row = i % 9;
    const int x = 10 + col * (kExtraInputW + kExtraGap), y = 82 + row * 44;
    Fl_Input* in;
    if (id >= ExtraControl::FailPressure && id <= ExtraControl::HeaterOffTemp)
      in = above<Fl_Float_Input>(x, y, kExtraInputW, kRowH, d.label);
    else if (id >= ExtraControl::TcpIp && id <= ExtraControl::TcpGateway)
      in = above<Fl_Input>(x, y, kExtraInputW, kRowH, d.label);
    else
      in = above<Fl_Int_Input>(x, y, kExtraInputW, kRowH, d.label);
    extra_ctl_[static_cast<size_t>(id)] = in;
    ++i;
  }
  constexpr int kSideX = 10 + 3 * (kExtraInputW + kExtraGap) + 4, kSideW = 986 - kSideX;
  massmeter_type = choice_with(kSideX, 82, 200, "Massmeter type", kMassmeterTypeItems, 4);
  mass_flags = check_list(kSideX, 120, kSideW, 164, kMassFlagItems, 8);
  extra_ctl_[static_cast<size_t>(ExtraControl::MassmeterType)] = massmeter_type;
  extra_ctl_[static_cast<size_t>(ExtraControl::MassFlagList)] = mass_flags;
  es_read = button<Fl_Button>(kSideX, 300, 200, kButtonH, "Read settings");
  es_save = button<Fl_Button>(kSideX, 332, 200, kButtonH, "Save settings");
  tab_extra->end();
}

void xMainForm::build_sides_tab() {
  tab_sides = new Fl_Group(0, kTabTop, 992, 551, tr("Side and nozzle settings"));
  tab_sides->labelsize(kLabelSize);
  for (int s = 0; s < 2; ++s) {
    SideGroup& g = sides[s];
    const int y = 82 + s * 170;
    g.group = framed_group(10, y, 340, 150, s == 0 ? "Side A" : "Side B");
    g.active_nozzle = above<Fl_Int_Input>(20, y + 22, 140, kRowH, "Active nozzle");
    g.calibration_count = above<Fl_Int_Input>(168, y + 22, 174, kRowH, "Calibration count");
    g.delivery_count = above<Fl_Int_Input>(20, y + 66, 140, kRowH, "Delivery count");
    g.wrong_clear_count = above<Fl_Int_Input>(168, y + 66, 174, kRowH, "Wrong clear count");
    g.calibration_date = above<Fl_Input>(20, y + 110, 140, kRowH, "Calibration date");
    g.clear = button<Fl_Button>(168, y + 109, 174, kButtonH, "Clear");
    g.group->end();
  }
  sn_read = button<Fl_Button>(10, 440, 150, kButtonH, "Read settings");
  sn_write = button<Fl_Button>(170, 440, 150, kButtonH, "Write settings");
  for (int k = 0; k < kMeterRows; ++k) {
    const int y = 82 + k * 52;
    char text[64];
    snprintf(text, sizeof text, "Meter %d type", k + 1);
    meter_type[k] = above<Fl_Int_Input>(360, y, 140, kRowH, nullptr);
    meter_type[k]->copy_label(tr(text));
    snprintf(text, sizeof text, "Meter %d phase", k + 1);
    meter_phase[k] = above<Fl_Choice>(510, y, 140, kRowH, nullptr);
    meter_phase[k]->copy_label(tr(text));
    meter_phase[k]->textsize(kLabelSize);
    snprintf(text, sizeof text, "Calibration %d count", k + 1);
    meter_calibration[k] = above<Fl_Output>(660, y, 140, kRowH, nullptr);
    meter_calibration[k]->copy_label(tr(text));
    meter_coefficient[k] = above<Fl_Output>(810, y, 170, kRowH, "Coefficient");
  }
  tab_sides->end();
}

void xMainForm::build_load_tab() {
  tab_load = new Fl_Group(0, kTabTop, 992, 551, tr("Load"));
  tab_load->labelsize(kLabelSize);
  // The two side buttons are the tab's only radio buttons, so they form one radio set.
  load_side_a = radio(10, 78, 110, "Side A");
  load_side_b = radio(130, 78, 110, "Side B");
  load_side_a->setonly();
  volume_input = new Fl_Float_Input(10, 112, 120, kButtonH);
  load_volume = button<Fl_Button>(140, 112, 140, kButtonH, "Load Volume");
  amount_input = new Fl_Float_Input(10, 146, 120, kButtonH);
  load_amount = button<Fl_Button>(140, 146, 140, kButtonH, "Load Amount");
  fulltank = button<Fl_Button>(140, 180, 140, kButtonH, "Fulltank");
  static const char* const kNozzleItems[] = {"1", "2", "3", "4", "5"};
  load_nozzle = choice_with(300, 112, 80, "Nozzle", kNozzleItems, 5);
  load_nozzle->value(0);
  price_input = new Fl_Float_Input(10, 224, 120, kButtonH);
  set_price = button<Fl_Button>(140, 224, 140, kButtonH, "Set price");
  finish = button<Fl_Button>(300, 146, 140, kButtonH, "Finish");
  suspend = button<Fl_Button>(300, 180, 140, kButtonH, "Suspend");
  continue_ = button<Fl_Button>(300, 214, 140, kButtonH, "Continue");
  test_prices = button<Fl_Button>(300, 248, 140, kButtonH, "Test prices");
  // The input/output indicators, from 36 px below the price input.
  for (int r = 0; r < 2; ++r)
    for (int c = 0; c < 6; ++c) {
      Fl_Check_Button* b = new Fl_Check_Button(10 + c * 24, 224 + 36 + r * 24, 16, 16);
      b->down_box(FL_DOWN_BOX);
      indicators[r][c] = b;
    }
  state_field = above<Fl_Input>(470, 82, 260, kButtonH, "State");
  performance_field = above<Fl_Input>(470, 128, 260, kButtonH, "Performance");
  // Room for both sides of a mass-metered board (ten lines) without scrolling.
  counters = above<Fl_Multiline_Input>(470, 174, 260, 190, "Counters");
  sip_diag = button<Fl_Button>(10, 340, 140, kButtonH, "SIP diag");
  sip_set_address = button<Fl_Button>(160, 340, 160, kButtonH, "SIP set address");
  sip_diag_text = above<Fl_Multiline_Input>(10, 390, 450, 206, "SIP diag");
  sip_diag_text->textfont(FL_COURIER);
  sip_diag_text->textsize(kLabelSize);
  tab_load->end();
}

const char* xMainForm::serial_sys_root = kSerialPortSource;

void xMainForm::fill_port_choice() {
  SerialPortList list{};
  discoverSerialPorts(&list, serial_sys_root);
  for (int i = 0; i < list.count && i < kSerialPortListSize; ++i) {
    char name[kSerialPortNameSize];
    memcpy(name, list.names[i], sizeof name);
    name[kSerialPortNameSize - 1] = '\0';
    port_choice->add(plain_menu_text(name).c_str());
  }
}

void xMainForm::attach_callbacks() {
  // Direct children only: controls inside nested groups are wired one by one below.
  auto wire = [](Fl_Group* g, bool nullData) {
    for (int i = 0; i < g->children(); ++i) {
      Fl_Widget* c = g->child(i);
      if (!takes_action_callback(c)) continue;
      if (nullData)
        c->callback(&xMainForm::main_action_callback, nullptr);
      else
        c->callback(&xMainForm::main_action_callback);
    }
  };
  wire(tab_main, true);
  wire(command_panel, true);
  wire(tab_main_settings, false);
  wire(tab_extra, false);
  wire(tab_sides, false);
  wire(tab_load, false);

  for (Fl_Widget* w :
       {static_cast<Fl_Widget*>(disp_standard), static_cast<Fl_Widget*>(disp_totals),
        static_cast<Fl_Widget*>(disp_performance), static_cast<Fl_Widget*>(disp_test),
        static_cast<Fl_Widget*>(disp_test09), main_control(MainControl::ImmediateStart),
        main_control(MainControl::Start20ml), main_control(MainControl::NoCounting),
        main_control(MainControl::Count3Seconds), static_cast<Fl_Widget*>(sides[0].clear),
        static_cast<Fl_Widget*>(sides[1].clear), static_cast<Fl_Widget*>(tabs)})
    w->callback(&xMainForm::main_action_callback);

  // Pressing the mode already shown sends it again: the board's display may have changed
  // meanwhile, and every press is answered in the log.
  for (Fl_Round_Button* r : {disp_standard, disp_totals, disp_performance, disp_test, disp_test09})
    r->when(FL_WHEN_RELEASE_ALWAYS);
  main_control(MainControl::SlowStart)->when(FL_WHEN_CHANGED);
  main_control(MainControl::OverfillBuffer)->when(FL_WHEN_CHANGED);
  Fl_Widget* modes2 = main_control(MainControl::ModeList2);
  modes2->callback(&xMainForm::modes2_cb, this);
  modes2->when(FL_WHEN_CHANGED);
}

void xMainForm::init_main_window() {
  if (!app.op) {
    own_op_ = std::make_unique<FltkOperator>(this);
    app.op = own_op_.get();
  }
  Operator& op = *app.op;

  // Dialog buttons speak the catalog's language before the first question is asked.
  translate_dialog_buttons();

  // The baud, port and meter phase lists.
  for (const char* b : kBaudItemsShown) baud_choice->add(b);
  baud_choice->value(0);
  fill_port_choice();
  for (Fl_Choice* c : meter_phase)
    for (const char* item : kPhaseItems) add_item(c, tr(item));

  // The device handle, bound to no port yet, and the hooks through which the core
  // updates this window.
  app.attach(&op);
  // Forgetting the settings copies closes the tabs through onTabsEnabled below.
  app.session.onForgetBoard = [this] { forgetBoardSettings(&app.settings); };
  SettingsState& st = app.settings;
  st.onTabsEnabled = [this](bool on) { enable_settings_tabs(on); };
  st.onMainRead = [this] {
    MainSettingsForm f = read_main_form();
    displayMainSettings(app.settings.readCopy, &f);
    show_main_form(f);
  };
  st.onExtraRead = [this] {
    ExtraSettingsForm f = read_extra_form();
    displayExtraSettings(app.settings.extra, app.settings.rawPressure, &f);
    show_extra_form(f);
  };
  st.onServiceValues = [this] { show_service_values(); };
  st.onSideNozzleRead = [this] { show_side_nozzle(); };
  app.session.onPumpAddress = [this](uint8_t a) { set_pump_address(a); };
  // A listening port names every peer that joins or leaves the bus.
  portSetPeerHook([this](uint16_t, const char* peer, bool connected) {
    if (app.op)
      app.op->logLine(strprintf(tr(connected ? "Peer %s connected" : "Peer %s left"), peer));
  });

  // Settings tabs stay closed until a board's settings are read; the preferences name the
  // port and its line.
  enable_settings_tabs(false);
  loadPreferences(&app.prefs);

  // Controls, the global shortcut keys and the "Leave bootloader" button answer from here.
  attach_callbacks();
  Fl::remove_handler(global_shortcut_handler);  // a window built again must not add it twice
  Fl::add_handler(global_shortcut_handler);
  leave_bootloader->callback(&xMainForm::leave_bootloader_cb, this);

  // The engineer names the pump address the tool serves.
  std::string answer;
  int address = 1;
  if (op.askText(tr("Enter pump address"), "1", &answer))
    address = static_cast<int>(parseLeadingInt(answer) & 0xFF);
  set_pump_address(address);

  // The stored port opens at the stored rate. The field names the stored port whether or
  // not it opens, so that a wrong name can be mended where it shows.
  port_choice->value(app.prefs.portName.c_str());
  tickStart();
  portTableInit();
  const PortOpenOutcome opened =
      app.openPort(app.prefs.portName, static_cast<uint32_t>(app.prefs.baud), false);
  if (opened.result != PortOpenResult::CannotOpen) show_stored_line();
  if (!report_port_outcome(opened)) return;

  // The port can no longer be changed until it closes.
  port_button->label(tr("Close Port"));
  port_choice->deactivate();
  baud_choice->deactivate();

  // The board at the pump address is identified and, outside its boot loader, read.
  app.identifyAndRefresh(app.session.pumpAddress);
}

void xMainForm::main_action_callback(Fl_Widget* w, void*) {
  // The window is found from the widget, so the controls need no user data.
  if (auto* form = dynamic_cast<xMainForm*>(w->window() ? w->window() : w->top_window()))
    form->dispatch_action(w);
}

void xMainForm::leave_bootloader_cb(Fl_Widget*, void* self) {
  static_cast<xMainForm*>(self)->on_leave_bootloader();
}

void xMainForm::modes2_cb(Fl_Widget*, void* self) {
  static_cast<xMainForm*>(self)->on_modes2_changed();
}

void xMainForm::on_modes2_changed() {
  Fl_Check_Browser* modes2 = main_control<Fl_Check_Browser>(MainControl::ModeList2);
  std::array<bool, 11> m{};
  for (int i = 0; i < 11; ++i) m[i] = modes2->checked(i + 1) != 0;
  applyExclusiveOptions(&m);
  for (int i = 0; i < 11; ++i)
    if ((modes2->checked(i + 1) != 0) != m[i]) modes2->checked(i + 1, m[i]);
}

void xMainForm::log_line(const char* text) {
  app.log->append(text);
  app.log->append("\n");
  fputs(text, stdout);
  fputc('\n', stdout);
  fflush(stdout);
  if (log_view) {
    log_view->insert_position(app.log->length());
    log_view->show_insert_position();
  }
}

void xMainForm::log_append(const char* text) {
  app.log->append(text);
  fputs(text, stdout);
  fflush(stdout);
  if (log_view) {
    log_view->insert_position(app.log->length());
    log_view->show_insert_position();
  }
}

void xMainForm::log_replace_tail(size_t count, const char* text) {
  const int len = app.log->length();
  const int from = count >= static_cast<size_t>(len) ? 0 : len - static_cast<int>(count);
  app.log->replace(from, len, text);
  if (log_view) {
    log_view->insert_position(app.log->length());
    log_view->show_insert_position();
  }
}

void xMainForm::log_clear() { app.log->text(""); }

void xMainForm::set_pump_address(int a) {
  app.session.pumpAddress = static_cast<uint8_t>(a);
  if (app.dev) app.dev->address = static_cast<uint8_t>(a);
  address_label_ = strprintf(tr("Pump address %d"), a);
  address_box->copy_label(address_label_.c_str());
  // The banner is a label on no box: redrawing the box alone would draw the new text over
  // the old one, so the window repaints the place it takes (background first).
  damage(FL_DAMAGE_ALL, address_box->x(), address_box->y(), address_box->w(), address_box->h());
}

void xMainForm::enable_settings_tabs(bool on) {
  app.settingsEnabled = on;
  for (Fl_Group* t : {tab_main_settings, tab_extra, tab_sides}) {
    if (on)
      t->activate();
    else
      t->deactivate();
  }
  tabs->redraw();
}

void xMainForm::log_open_failure(const char* name, int result) {
  // The alert alone does not tell a missing device from a permission problem; the log does.
  app.op->logLine(portOpenFailureText(name, result));
}

void xMainForm::show_stored_line() {
  // The baud choice shows the stored rate (typed in when it is not one of the list), and
  // the "Max baud rate" field its stored value.
  bool listed = false;
  for (int i = 0; i < 4; ++i)
    if (parseLeadingInt(kBaudItemsShown[i]) == app.prefs.baud) {
      baud_choice->value(i);
      listed = true;
    }
  if (!listed) baud_choice->value(strprintf("%d", app.prefs.baud).c_str());
  max_baud->value(strprintf("%d", app.prefs.maxBaud).c_str());
}

bool xMainForm::report_port_outcome(const PortOpenOutcome& out) {
  if (out.ok()) return true;
  // The log says why (a missing device or a permission problem, or the rate the line
  // refused); a port that refused its rate was closed again.
  app.op->logLine(out.text);
  app.op->alert(out.result == PortOpenResult::CannotOpen
                    ? std::string(tr("Cannot open serial port"))
                    : out.text);
  return false;
}

void xMainForm::toggle_port() {
  if (app.port) {
    app.closePort();
    port_button->label(tr("Open Port"));
    port_choice->activate();
    baud_choice->activate();
    enable_settings_tabs(false);
    command_panel->deactivate();
    return;
  }
  // The name as typed or picked from the list, without the spaces around it.
  std::string name = port_choice->value() ? port_choice->value() : "";
  const size_t first = name.find_first_not_of(" \t");
  name = first == std::string::npos ? ""
                                    : name.substr(first, name.find_last_not_of(" \t") - first + 1);
  if (name.empty()) {
    app.op->alert(tr("Cannot open serial port"));
    return;
  }
  const int baud =
      static_cast<int>(parseLeadingInt(baud_choice->value() ? baud_choice->value() : ""));
  const PortOpenOutcome opened = app.openPort(name, static_cast<uint32_t>(baud), false);
  if (!report_port_outcome(opened)) return;  // a refused rate is not kept
  port_choice->value(name.c_str());
  std::string why;
  if (!app.rememberPort(
          name, baud, static_cast<int>(parseLeadingInt(max_baud->value() ? max_baud->value() : "")),
          &why)) {
    // The port stays open with these settings for this run; say why they are not kept.
    app.op->logLine(why);
  }
  port_button->label(tr("Close Port"));
  port_choice->deactivate();
  baud_choice->deactivate();
  command_panel->activate();
}

// ---- settings tabs <-> forms ----

void xMainForm::show_main_form(const MainSettingsForm& f) {
  for (const ControlDesc& d : kMainControls) {
    const auto id = static_cast<MainControl>(d.id);
    Fl_Widget* w = main_control(id);
    if (!w) continue;
    switch (d.kind) {
      case ControlKind::Choice:
        set_choice(static_cast<Fl_Choice*>(w), f.choiceOf(id));
        break;
      case ControlKind::Input:
      case ControlKind::MultiLine:
        set_text(w, f.textOf(id));
        break;
      case ControlKind::Radio:
      case ControlKind::Check:
        static_cast<Fl_Button*>(w)->value(f.onOf(id) ? 1 : 0);
        break;
      case ControlKind::Table: {
        auto* t = static_cast<Fl_StringTable*>(w);
        const auto& cells = id == MainControl::AztSideA ? f.aztA : f.aztB;
        for (int c = 0; c < kAztColumns; ++c)
          t->set_cell(c, 0, cells[c].empty() ? nullptr : cells[c].c_str());
        t->redraw();
        break;
      }
      case ControlKind::CheckList: {
        auto* b = static_cast<Fl_Check_Browser*>(w);
        if (id == MainControl::ModeList)
          for (size_t i = 0; i < f.modes.size(); ++i)
            b->checked(static_cast<int>(i) + 1, f.modes[i]);
        else
          for (size_t i = 0; i < f.modes2.size(); ++i)
            b->checked(static_cast<int>(i) + 1, f.modes2[i]);
        break;
      }
    }
  }
  tab_main_settings->redraw();
}

MainSettingsForm xMainForm::read_main_form() const {
  MainSettingsForm f;
  for (const ControlDesc& d : kMainControls) {
    const auto id = static_cast<MainControl>(d.id);
    Fl_Widget* w = main_control(id);
    if (!w) continue;
    switch (d.kind) {
      case ControlKind::Choice:
        f.choiceOf(id) = static_cast<Fl_Choice*>(w)->value();
        break;
      case ControlKind::Input:
      case ControlKind::MultiLine:
        f.textOf(id) = text_of(w);
        break;
      case ControlKind::Radio:
      case ControlKind::Check:
        f.onOf(id) = static_cast<Fl_Button*>(w)->value() != 0;
        break;
      case ControlKind::Table: {
        auto* t = static_cast<Fl_StringTable*>(w);
        auto& cells = id == MainControl::AztSideA ? f.aztA : f.aztB;
        for (int c = 0; c < kAztColumns; ++c) {
          const char* s = t->get_cell(c, 0);
          cells[c] = s ? s : "";
        }
        break;
      }
      case ControlKind::CheckList: {
        auto* b = static_cast<Fl_Check_Browser*>(w);
        if (id == MainControl::ModeList)
          for (size_t i = 0; i < f.modes.size(); ++i)
            f.modes[i] = b->checked(static_cast<int>(i) + 1) != 0;
        else
          for (size_t i = 0; i < f.modes2.size(); ++i)
            f.modes2[i] = b->checked(static_cast<int>(i) + 1) != 0;
        break;
      }
    }
  }
  return f;
}

void xMainForm::show_extra_form(const ExtraSettingsForm& f) {
  for (const ControlDesc& d : kExtraControls)
    if (d.kind == ControlKind::Input)
      set_text(extra_control(static_cast<ExtraControl>(d.id)),
               f.textOf(static_cast<ExtraControl>(d.id)));
  set_choice(massmeter_type, f.massmeterType);
  for (size_t i = 0; i < f.massFlags.size(); ++i)
    mass_flags->checked(static_cast<int>(i) + 1, f.massFlags[i]);
  tab_extra->redraw();
}

ExtraSettingsForm xMainForm::read_extra_form() const {
  ExtraSettingsForm f;
  for (const ControlDesc& d : kExtraControls)
    if (d.kind == ControlKind::Input)
      f.textOf(static_cast<ExtraControl>(d.id)) =
          text_of(extra_control(static_cast<ExtraControl>(d.id)));
  f.massmeterType = massmeter_type->value();
  for (size_t i = 0; i < f.massFlags.size(); ++i)
    f.massFlags[i] = mass_flags->checked(static_cast<int>(i) + 1) != 0;
  return f;
}

// ---- service values and the side and nozzle tab ----

void xMainForm::show_service_values() {
  PasswordStatus st;
  st.bytes[0] = app.session.login.status[0];
  st.bytes[1] = app.session.login.status[1];
  const PasswordView views[2] = {passwordView(st, false), passwordView(st, true)};
  PasswordField* inputs[2] = {admin_password, calib_password};
  for (int i = 0; i < 2; ++i) {
    const char* text = views[i].text;
    inputs[i]->show_status(std::strcmp(text, "****") == 0 ? text : tr(text));
    inputs[i]->color(views[i].locked ? kPasswordLockedColour : kPasswordNormalColour);
    inputs[i]->redraw();
  }
  if (app.settings.imitatorActive)
    imitator->activate();
  else
    imitator->deactivate();
  imitator->value(imitatorOn(app.settings) ? 1 : 0);
  imitator->redraw();
}

void xMainForm::show_side_nozzle() {
  SideNozzleForm f;
  displaySideNozzle(app.settings, &f);
  for (int s = 0; s < 2; ++s) {
    const SideGroupForm& g = f.sides[s];
    sides[s].active_nozzle->value(g.activeNozzle.c_str());
    sides[s].calibration_count->value(g.calibrationCount.c_str());
    sides[s].calibration_date->value(g.calibrationDate.c_str());
    sides[s].delivery_count->value(g.deliveryCount.c_str());
    sides[s].wrong_clear_count->value(g.wrongClearCount.c_str());
  }
  for (int k = 0; k < kMeterRows; ++k) {
    const MeterRowForm& r = f.rows[k];
    Fl_Widget* row[4] = {meter_type[k], meter_phase[k], meter_calibration[k], meter_coefficient[k]};
    if (!r.shown) {
      for (Fl_Widget* w : row) w->hide();
      continue;
    }
    meter_type[k]->copy_label(r.typeLabel.c_str());
    meter_phase[k]->copy_label(r.phaseLabel.c_str());
    meter_calibration[k]->copy_label(r.calibrationLabel.c_str());
    meter_type[k]->value(r.type.c_str());
    set_choice(meter_phase[k], r.phase);
    meter_calibration[k]->value(r.calibration.c_str());
    meter_coefficient[k]->value(r.coefficient.c_str());
    for (Fl_Widget* w : row) w->show();
  }
  tab_sides->redraw();
}

SideNozzleForm xMainForm::read_side_nozzle_form() const {
  SideNozzleForm f;
  displaySideNozzle(app.settings, &f);  // row layout (shown rows and their channels)
  for (int k = 0; k < kMeterRows; ++k) {
    if (!f.rows[k].shown) continue;
    f.rows[k].type = meter_type[k]->value() ? meter_type[k]->value() : "";
    f.rows[k].phase = meter_phase[k]->value();
  }
  return f;
}

MainControl xMainForm::main_control_of(const Fl_Widget* w) const {
  const auto at = std::find(main_ctl_.begin(), main_ctl_.end(), w);
  return w && at != main_ctl_.end() ? static_cast<MainControl>(at - main_ctl_.begin())
                                    : MainControl::NoControl;
}

void xMainForm::focus_main_control(MainControl c) {
  if (Fl_Widget* w = main_control(c)) {
    tabs->value(tab_main_settings);
    w->take_focus();
  }
}
