// AppState: the process-wide state every window and action of the program shares — the open
// port, the one device handle, the preferences, the board session, the settings and channel
// copies, the Load tab's selection and the message log. Lives from start-up to exit.
#pragma once
#include "protocol/board.h"
#include "protocol/side_monitor.h"
#include "protocol/utrk_device.h"
#include "settings/channel_record.h"
#include "settings/preferences.h"
#include "settings/settings_records.h"
#include "settings/settings_state.h"
#include "util/operator.h"

#include <FL/Fl_Text_Buffer.H>

#include <cstdint>
#include <memory>

constexpr int kLogBufferInitialBytes = 1024;
constexpr int kLogBufferGrowBytes = 1024;

struct AppState {
  // Handle of the open port in the port table; 0 while no port is open.
  uint16_t port = 0;
  // The one device handle; created by init_main_window, re-pointed at every opened port.
  std::unique_ptr<UTRKDevice> dev;
  // Port name, line settings and maximum baud rate of korvane_v3.ini.
  Preferences prefs;
  // Current pump address, boot-mode flag, text identifier, cached admin password.
  BoardSession session;
  // The three settings tabs are active only while set.
  bool settingsEnabled = false;

  // Settings copies (main read and write copies, extra record, service values, channel and
  // meter record copies, side data) and the window hooks the settings sequences call.
  SettingsState settings;
  // The host copies of the ten channel and meter records: not a second copy but the one the
  // settings sequences fill (totals, meter types, presets), seen by the channel windows.
  ChannelCopies& channels = settings.records;

  // The side monitor of the "Load" tab; it also holds the tab's side address and nozzle.
  SideMonitor monitor;

  // The message log shown on the "Main" tab.
  std::unique_ptr<Fl_Text_Buffer> log =
      std::make_unique<Fl_Text_Buffer>(kLogBufferInitialBytes, kLogBufferGrowBytes);

  // How logic reaches the engineer: the FLTK dialogs normally, a scripted one in tests.
  Operator* op = nullptr;

  uint8_t pumpAddress() const { return session.pumpAddress; }
  bool bootMode() const { return session.bootMode; }
};

// The process-wide instance.
AppState& app_state();
