// xChanForm: the "Channel settings" window. Shows one channel's record and meter record as
// editable fields, loads them from the board and saves them back (admin log-in first).
// The board is reached only through the BoardSession and the host copies handed to attach().
#pragma once
#include <FL/Fl_Box.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Check_Browser.H>
#include <FL/Fl_Choice.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_Float_Input.H>
#include <FL/Fl_Group.H>
#include <FL/Fl_Int_Input.H>

#include <array>
#include <functional>

#include "protocol/board.h"
#include "settings/channel_form.h"
#include "ui/menu_item.h"

class xChanForm : public Fl_Double_Window {
 public:
  xChanForm(int w, int h, const char* label);
  ~xChanForm() override;

  // The board, the host copies of the ten channels and the source of noz_count (the main
  // settings as last read). Must be set before open().
  void attach(BoardSession* session, ChannelCopies* copies, std::function<int()> nozCount);
  void set_main_window(Fl_Window* main) { main_window_ = main; }
  // Asked before each load or save (pauses the side monitor); false: send nothing.
  std::function<bool()> claimBus;

  // Alt+F12: rebuild the state list and the channel selector, load the first channel, show.
  void open();
  // Selected channel index, -1 when none.
  int channel() const { return selector->value(); }
  // Load or save the selected channel; nothing while no channel is selected.
  void load_channel();
  void save_channel();
  // The status check list changed: "Hex status" from the checked items.
  void status_toggled();

  // Widgets <-> form.
  ChannelForm collect_form() const;
  void show_form(const ChannelForm& form);

  // Controls (public so that tests drive them as the engineer would).
  Fl_Group* group;
  Fl_Choice* selector;
  Fl_Button* load_button;
  Fl_Button* save_button;
  // The controls showing the channel's variables.
  Fl_Widget* chan_control(ChanControl c) const { return chan_ctl_[static_cast<size_t>(c)]; }
  // The control as the widget its kind makes (Fl_Float_Input, Fl_Choice, ...); nullptr when
  // it is not one.
  template <class W>
  W* chan_control(ChanControl c) const {
    return dynamic_cast<W*>(chan_control(c));
  }

 private:
  static void handler_cb(Fl_Widget* w, void* self);
  void on_widget(Fl_Widget* w);

  BoardSession* session_ = nullptr;
  ChannelCopies* copies_ = nullptr;
  std::function<int()> noz_count_;
  Fl_Window* main_window_ = nullptr;
  std::array<Fl_Widget*, kChanControlCount> chan_ctl_{};
};
