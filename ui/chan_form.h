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
  Fl_Float_Input* load_vol;
  Fl_Float_Input* set_vol;
  Fl_Float_Input* vol_end;
  Fl_Float_Input* s_count;
  Fl_Int_Input* load_vol_lo;
  Fl_Float_Input* set_summ;
  Fl_Float_Input* d_count;
  Fl_Float_Input* b_count;
  Fl_Float_Input* k_vol;
  Fl_Float_Input* last_vol;
  Fl_Float_Input* grand_total;
  Fl_Float_Input* m_count;
  Fl_Int_Input* k_vol_lo;
  Fl_Float_Input* vol_start;
  Fl_Float_Input* l_count;
  Fl_Int_Input* cal_count;
  Fl_Float_Input* price;
  Fl_Choice* state;
  Fl_Float_Input* base_price;
  Fl_Int_Input* hex_status;
  Fl_Check_Browser* status_list;
  Fl_Check_Browser* flags_list;
  Fl_Button* load_button;
  Fl_Button* save_button;
  Fl_Int_Input* meter_type;
  Fl_Box* phase_caption;
  Fl_Choice* phase;
  Fl_Int_Input* impulse_weight;

 private:
  static void handler_cb(Fl_Widget* w, void* self);
  void on_widget(Fl_Widget* w);

  BoardSession* session_ = nullptr;
  ChannelCopies* copies_ = nullptr;
  std::function<int()> noz_count_;
  Fl_Window* main_window_ = nullptr;
};
