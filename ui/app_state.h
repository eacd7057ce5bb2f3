// AppState: the process-wide state every window and action of the program shares — the
// service session (open port, device handle, preferences, board session, settings copies,
// side monitor) and the message log. Lives from start-up to exit.
#pragma once
#include "protocol/board.h"
#include "session/service_session.h"
#include "settings/channel_record.h"
#include "settings/settings_records.h"

#include <FL/Fl_Text_Buffer.H>

#include <cstdint>
#include <memory>

constexpr int kLogBufferInitialBytes = 1024;
constexpr int kLogBufferGrowBytes = 1024;

// The window's face of the service session: the session itself (port, device, preferences,
// board session, settings copies, side monitor, operator) and what only the window keeps.
struct AppState : ServiceSession {
  // The three settings tabs are active only while set.
  bool settingsEnabled = false;

  // The host copies of the ten channel and meter records: not a second copy but the one the
  // settings sequences fill (totals, meter types, presets), seen by the channel windows.
  ChannelCopies& channels = settings.records;

  // The message log shown on the "Main" tab.
  std::unique_ptr<Fl_Text_Buffer> log =
      std::make_unique<Fl_Text_Buffer>(kLogBufferInitialBytes, kLogBufferGrowBytes);
};

// The process-wide instance.
AppState& app_state();
