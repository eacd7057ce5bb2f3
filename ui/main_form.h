// xMainForm: the main window — the pump address banner and the five tabs ("Main", the three
// settings tabs and "Load") — with its start-up sequence, the port button, the log and the
// copying between the settings tabs' widgets and their plain form structures.
#pragma once
#include "settings/settings_form.h"
#include "settings/side_nozzle.h"
#include "ui/app_state.h"

#include <FL/Fl_Box.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Check_Browser.H>
#include <FL/Fl_Check_Button.H>
#include <FL/Fl_Choice.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_Float_Input.H>
#include <FL/Fl_Group.H>
#include <FL/Fl_Input.H>
#include <FL/Fl_Input_Choice.H>
#include <FL/Fl_Int_Input.H>
#include <FL/Fl_Light_Button.H>
#include <FL/Fl_Multiline_Input.H>
#include <FL/Fl_Output.H>
#include <FL/Fl_Progress.H>
#include <FL/Fl_Round_Button.H>
#include <FL/Fl_Tabs.H>
#include <FL/Fl_Text_Display.H>

#include <array>
#include <memory>
#include <string>

#include "ui/Fl_StringTable.h"
#include "ui/log_sink.h"
#include "ui/password_field.h"

class Operator;
enum class BootTarget;
class TrafficWindow;

constexpr int kMainWindowW = 996;
constexpr int kMainWindowH = 615;
constexpr int kMeterRows = 10;
// The log's height on the "Main" tab, and with the firmware progress shown under it.
constexpr int kLogFullHeight = 478;
constexpr int kLogShortHeight = 384;

class xMainForm : public Fl_Double_Window, public LogSink {
 public:
  // Builds every widget, then runs init_main_window. The title is not used: the window's
  // label is the build banner.
  xMainForm(int w, int h, const char* title = nullptr, AppState* state = nullptr);
  ~xMainForm() override;

  // The one callback shared by almost every control.
  static void main_action_callback(Fl_Widget* w, void*);
  // Runs the action of the control that fired (actions.cpp).
  void dispatch_action(Fl_Widget* w);

  void log_line(const char* text) override;
  // Logs why a port did not open (the OS error text for a serial device).
  void log_open_failure(const char* name, int result);
  // Says why a port did not open, or refused its rate (then it was closed again), in the
  // log and an alert. True when it opened.
  bool report_port_outcome(const PortOpenOutcome& out);
  void log_append(const char* text) override;
  void log_replace_tail(size_t count, const char* text) override;
  void log_clear() override;
  void set_pump_address(int a);
  void enable_settings_tabs(bool on);
  // The port button: closes the open port, or opens the port named in the port field.
  void toggle_port();
  // Escape or the close box: asks "Quit Korvane v3?"; on Yes every window of the program is
  // hidden, so the event loop ends. Nothing happens while a scan or an update runs. Returns
  // true when the program is quitting.
  bool request_quit();
  // "Bus traffic.." and Ctrl+T: shows the traffic window (built on first use).
  void open_traffic_window();
  TrafficWindow* traffic_window() const { return traffic_.get(); }
  // The firmware bar under the log: percent, bytes and time left while an update runs; the
  // end state ("Done" or "Stopped") after it, until the next action hides it.
  void show_firmware_progress(uint64_t done, uint64_t total, uint32_t elapsedMs, bool ended,
                              bool ok = false);
  void hide_firmware_progress();

  // Nozzles per side of the identified board (main settings as last read).
  int nozzle_count_of_board() const { return static_cast<int>(app.settings.nozzleCount()); }
  int side_count_of_board() const { return static_cast<int>(app.settings.sideCount()); }
  // The window the "Factory settings" button opens.
  void set_factory_window(Fl_Window* w) { factory_window_ = w; }

  // Before a request on the bus that is not the side monitor's own: brings the monitor to
  // idle between exchanges. It keeps running only while "Load" is the current tab (its one
  // timer re-armed); otherwise its timer is dropped. Returns false while a long action
  // (bus scan, firmware update) owns the bus: the caller must then send nothing.
  bool claim_bus();
  // A long action that repaints the window while it runs (bus scan, firmware update).
  bool busy() const { return app.busy; }
  // The side monitor's timer is pending (tests check there is one only while it should run).
  bool monitor_timer_pending() const;

  // Where serial ports are looked up at start-up (tests point it at a fake sysfs tree).
  static const char* serial_sys_root;

  // The banner text built at compile time ("Korvane v3 " + build date).
  static std::string build_banner();

  // Settings tabs <-> their form structures.
  void show_main_form(const MainSettingsForm& f);
  MainSettingsForm read_main_form() const;
  void show_extra_form(const ExtraSettingsForm& f);
  ExtraSettingsForm read_extra_form() const;
  Fl_Widget* main_control(MainControl c) const { return main_ctl_[static_cast<size_t>(c)]; }
  // The control as the widget its kind makes (Fl_Int_Input, Fl_Choice, Fl_Round_Button, ...);
  // nullptr when it is not one.
  template <class W>
  W* main_control(MainControl c) const {
    return dynamic_cast<W*>(main_control(c));
  }
  Fl_Widget* extra_control(ExtraControl c) const { return extra_ctl_[static_cast<size_t>(c)]; }

  AppState& app;

  // ---- above the tabs ----
  Fl_Box* address_box = nullptr;
  Fl_Tabs* tabs = nullptr;
  Fl_Group* tab_main = nullptr;
  Fl_Group* tab_main_settings = nullptr;
  Fl_Group* tab_extra = nullptr;
  Fl_Group* tab_sides = nullptr;
  Fl_Group* tab_load = nullptr;

  // ---- "Main" ----
  Fl_Input_Choice* port_choice = nullptr;
  Fl_Input_Choice* baud_choice = nullptr;
  Fl_Button* port_button = nullptr;
  Fl_Text_Display* log_view = nullptr;
  Fl_Progress* fw_progress = nullptr;
  Fl_Box* fw_progress_text = nullptr;
  Fl_Group* command_panel = nullptr;
  Fl_Button* firmware_update = nullptr;
  Fl_Int_Input* max_baud = nullptr;
  Fl_Button* leave_bootloader = nullptr;
  Fl_Button* ext_firmware_update = nullptr;
  Fl_Button* read_diagnostics = nullptr;
  Fl_Button* show_totals = nullptr;
  Fl_Button* restart = nullptr;
  Fl_Group* display_test = nullptr;
  Fl_Round_Button* disp_standard = nullptr;
  Fl_Round_Button* disp_totals = nullptr;
  Fl_Round_Button* disp_performance = nullptr;
  Fl_Round_Button* disp_test = nullptr;
  Fl_Round_Button* disp_test09 = nullptr;
  Fl_Button* get_identifier = nullptr;
  Fl_Button* controller_clear = nullptr;
  Fl_Button* factory_settings = nullptr;
  Fl_Button* broadcast_search = nullptr;
  Fl_Button* search_pumps = nullptr;
  Fl_Button* read_image = nullptr;
  Fl_Button* write_image = nullptr;
  Fl_Button* traffic_button = nullptr;
  PasswordField* admin_password = nullptr;
  Fl_Button* admin_password_change = nullptr;
  PasswordField* calib_password = nullptr;
  Fl_Button* calib_password_change = nullptr;
  Fl_Button* enter_serial = nullptr;
  Fl_Int_Input* serial_input = nullptr;
  Fl_Light_Button* imitator = nullptr;

  // ---- "Main settings" ----
  // Its controls are reached through main_control.
  Fl_Button* ms_read = nullptr;
  Fl_Button* ms_save = nullptr;

  // ---- "Extra settings" ----
  Fl_Choice* massmeter_type = nullptr;
  Fl_Check_Browser* mass_flags = nullptr;
  Fl_Button* es_read = nullptr;
  Fl_Button* es_save = nullptr;

  // ---- "Side and nozzle settings" ----
  struct SideGroup {
    Fl_Group* group = nullptr;
    Fl_Int_Input* active_nozzle = nullptr;
    Fl_Int_Input* calibration_count = nullptr;
    Fl_Int_Input* delivery_count = nullptr;
    Fl_Int_Input* wrong_clear_count = nullptr;
    Fl_Input* calibration_date = nullptr;
    Fl_Button* clear = nullptr;
  };
  std::array<SideGroup, 2> sides{};
  std::array<Fl_Int_Input*, kMeterRows> meter_type{};
  std::array<Fl_Choice*, kMeterRows> meter_phase{};
  std::array<Fl_Output*, kMeterRows> meter_calibration{};
  std::array<Fl_Output*, kMeterRows> meter_coefficient{};
  Fl_Button* sn_read = nullptr;
  Fl_Button* sn_write = nullptr;

  // ---- "Load" ----
  Fl_Round_Button* load_side_a = nullptr;
  Fl_Round_Button* load_side_b = nullptr;
  Fl_Float_Input* volume_input = nullptr;
  Fl_Button* load_volume = nullptr;
  Fl_Float_Input* amount_input = nullptr;
  Fl_Button* load_amount = nullptr;
  Fl_Button* fulltank = nullptr;
  Fl_Choice* load_nozzle = nullptr;
  Fl_Button* set_price = nullptr;
  Fl_Float_Input* price_input = nullptr;
  Fl_Button* finish = nullptr;
  Fl_Button* suspend = nullptr;
  Fl_Button* continue_ = nullptr;
  Fl_Button* test_prices = nullptr;
  Fl_Input* state_field = nullptr;
  Fl_Input* performance_field = nullptr;
  Fl_Multiline_Input* counters = nullptr;
  Fl_Button* sip_diag = nullptr;
  Fl_Button* sip_set_address = nullptr;
  Fl_Multiline_Input* sip_diag_text = nullptr;
  std::array<std::array<Fl_Check_Button*, 6>, 2> indicators{};

 private:
  void build_main_tab();
  void build_main_settings_tab();
  void build_extra_tab();
  void build_sides_tab();
  void build_load_tab();
  void init_main_window();
  // The stored rate in the baud choice and the stored maximum in "Max baud rate".
  void show_stored_line();
  void attach_callbacks();
  void fill_port_choice();
  void on_leave_bootloader();
  void on_modes2_changed();
  // A start or count radio, or the slow start or overfill buffer field, changed: its
  // partners follow. False for any other control.
  bool on_coupled_control(MainControl c);
  // The "Main settings" control the widget is, NoControl for any other widget.
  MainControl main_control_of(const Fl_Widget* w) const;
  void on_tab_changed();
  void on_load_action(Fl_Widget* w);
  // Reads both sides' channel records and shows their totals in "Counters".
  void show_counters();
  static void counters_cb(void* self);
  void wire_side_monitor();
  void run_firmware_update();
  void run_extended_firmware_update();
  void start_update(const std::string& path, BootTarget target, uint8_t address);
  void show_service_values();
  void show_side_nozzle();
  SideNozzleForm read_side_nozzle_form() const;
  void focus_main_control(MainControl c);
  static void leave_bootloader_cb(Fl_Widget*, void* self);
  static void close_cb(Fl_Widget*, void* self);
  static void modes2_cb(Fl_Widget*, void* self);

  // Marks a long action for its whole run; the tab shown when it started stays in front.
  class BusyScope;
  bool is_load_control(const Fl_Widget* w) const;
  void run_bus_scan();

  std::unique_ptr<Operator> own_op_;
  Fl_Window* factory_window_ = nullptr;
  Fl_Widget* busy_tab_ = nullptr;
  std::unique_ptr<MonitorTimer> monitor_timer_;
  std::unique_ptr<TrafficWindow> traffic_;
  std::string banner_;
  std::string address_label_;
  std::string fw_progress_label_;
  uint64_t fw_done_ = 0, fw_total_ = 0;
  std::array<Fl_Widget*, kMainControlCount> main_ctl_{};
  std::array<Fl_Widget*, kExtraControlCount> extra_ctl_{};
};
