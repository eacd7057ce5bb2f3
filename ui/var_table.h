// The channel variables table: a modal window with the 21 variables of all ten channel
// records side by side, read one channel per "Read" or continuously with "Periodic".
// At most one exists at a time; its timer never outlives it.
#pragma once
#include <FL/Fl_Button.H>
#include <FL/Fl_Check_Button.H>
#include <FL/Fl_Double_Window.H>

#include <functional>

#include "settings/channel_form.h"
#include "ui/Fl_StringTable.h"

class UTRKDevice;

constexpr double kPeriodicFirstDelaySec = 0.5;
constexpr double kPeriodicNextDelaySec = 0.1;

class ChanVarTable : public Fl_Double_Window {
 public:
  // claimBus, when given, is asked before each read (pauses the side monitor); false skips it.
  ChanVarTable(UTRKDevice* dev, ChannelCopies* copies, std::function<bool()> claimBus = {});
  ~ChanVarTable() override;

  // Alt+F11: builds the window, runs it modally until it is closed, then destroys it.
  // Does nothing while a table window is already open.
  static void open_modal(UTRKDevice* dev, ChannelCopies* copies,
                         std::function<bool()> claimBus = {});
  static bool is_open() { return open_; }
  // Channel that the next "Read" fills (0..9, kept for the whole run).
  static int next_channel() { return next_channel_; }

  // "Read": reads the next channel into its slot and fills its column (red on failure).
  void read_once();
  // "Periodic" set or cleared.
  void set_periodic(bool on);
  bool periodic() const { return !stop_; }

  Fl_StringTable* table;
  Fl_Button* read_button;
  Fl_Check_Button* periodic_button;

 private:
  static void read_cb(Fl_Widget*, void* self);
  static void periodic_cb(Fl_Widget*, void* self);
  static void tick_cb(void* self);
  void tick();

  UTRKDevice* dev_;
  ChannelCopies* copies_;
  std::function<bool()> claim_bus_;
  bool stop_ = true;

  static bool open_;
  static int next_channel_;
};
