// xFactorySet: the "Factory settings" window. Collects pump type, side and nozzle counts,
// side addresses and AZT2.0 ("Nara") addresses, describes the pump type, and writes the
// factory preset through the settings core; "Restart" and "Get identifier" of the main
// window run through hooks.
#pragma once
#include <FL/Fl_Box.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Choice.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_Group.H>
#include <FL/Fl_Int_Input.H>
#include <FL/Fl_Multiline_Input.H>
#include <FL/Fl_Progress.H>

#include <functional>
#include <string>
#include <vector>

#include "ui/Fl_StringTable.h"

struct BoardSession;
struct ChannelCopies;

// What the window holds when the preset is applied (choice indexes -1 when none).
struct FactoryFormValues {
  int pumpType = -1;
  int sideChoice = -1;      // 0 "One side", 1 "Two sides"
  int nozzleChoice = -1;    // item index: nozzle count - 1
  std::string sideAddressA, sideAddressB;
  std::vector<std::string> naraA, naraB;   // the tables' cells, column order
};

class xFactorySet : public Fl_Double_Window {
 public:
  xFactorySet(int w, int h, const char* label);
  ~xFactorySet() override;

  // Hooks to the rest of the program, set by main.
  BoardSession* session = nullptr;
  ChannelCopies* channels = nullptr;
  std::function<void()> onRestart;        // the main window's "Restart" action
  std::function<void()> onGetIdentifier;  // the main window's "Get identifier" action
  // Runs the preset write for the values; set by default to the settings core's sequence.
  std::function<void(const FactoryFormValues&)> onApply;
  void set_main_window(Fl_Window* main) { main_window_ = main; }

  // The main window's "Factory settings" button: resets and shows the window.
  void open();
  // Reactions of the controls (also called by tests as the engineer's clicks would).
  void pump_type_changed();
  void side_count_changed();
  void nozzle_count_changed();
  void apply();
  FactoryFormValues values() const;

  Fl_Group* left_group;
  Fl_Box* pump_type_caption;
  Fl_Choice* pump_type;
  Fl_Group* side_count_group;
  Fl_Choice* side_count;
  Fl_Group* nozzle_count_group;
  Fl_Choice* nozzle_count;
  Fl_Group* side_a_group;
  Fl_Int_Input* side_a_address;
  Fl_StringTable* nara_a;
  Fl_Group* side_b_group;
  Fl_Int_Input* side_b_address;
  Fl_StringTable* nara_b;
  Fl_Progress* progress;
  Fl_Button* apply_button;
  Fl_Group* right_group;
  Fl_Multiline_Input* description;
  Fl_Box* description_caption;

 private:
  static void widget_cb(Fl_Widget* w, void* self);
  void on_widget(Fl_Widget* w);
  void set_columns(Fl_StringTable* t, int n, int first);

  Fl_Window* main_window_ = nullptr;
};
