// xFactorySet: the "Factory settings" window. Collects pump type, side and nozzle counts,
// side addresses and AZT2.0 ("Nara") addresses, describes the pump type, and writes the
// factory preset through the settings core (which also restarts and identifies the board).
#pragma once
#include "settings/presets.h"

#include <FL/Fl_Box.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Choice.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_Group.H>
#include <FL/Fl_Int_Input.H>
#include <FL/Fl_Multiline_Input.H>
#include <FL/Fl_Progress.H>

#include <functional>

#include "ui/Fl_StringTable.h"

class xFactorySet : public Fl_Double_Window {
 public:
  xFactorySet(int w, int h, const char* label);
  ~xFactorySet() override;

  // What the preset write works on, set by main: the board session and the one settings
  // state of the program (its channel copies included). The preset sequence restarts and
  // identifies the board itself; the main window follows through the settings hooks.
  // "Apply" does nothing while session or settings is missing.
  BoardSession* session = nullptr;
  SettingsState* settings = nullptr;
  // Asked before the preset uses the bus (pauses the side monitor); false: send nothing.
  std::function<bool()> claimBus;
  void set_main_window(Fl_Window* main) { main_window_ = main; }

  // The main window's "Factory settings" button: resets and shows the window.
  void open();
  // Reactions of the controls (also called by tests as the engineer's clicks would).
  void pump_type_changed();
  void side_count_changed();
  void nozzle_count_changed();
  void apply();
  // Widgets <-> the preset form.
  PresetForm preset_form() const;
  void show_tables(const PresetForm& form);

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

  Fl_Window* main_window_ = nullptr;
};
