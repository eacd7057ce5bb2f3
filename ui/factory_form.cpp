// The "Factory settings" window: layout, Open's resets, the reactions of the pump type,
// side count and nozzle count choices, and the hand-over of the values to the preset write.
#include "ui/factory_form.h"

#include <FL/Fl.H>

#include <string>

#include "ui/chan_form.h"
#include "util/catalog.h"

namespace {

constexpr int kLabelSize = 12;
constexpr int kApplyLabelSize = 16;
// Wide enough for every address (1..210) at the normal size; longer texts are drawn smaller.
constexpr int kNaraCellW = 32;
constexpr int kNaraCellH = 20;
constexpr int kNaraTableW = 5 * kNaraCellW + 4;
constexpr int kMaxNozzles = 5;
constexpr double kProgressDone = 100;
constexpr Fl_Color kSelectedCellColor = 50;  // light grey, as the main window's address editors

Fl_Group* framed_group(int x, int y, int w, int h, const char* label) {
  Fl_Group* g = new Fl_Group(x, y, w, h, label ? tr(label) : nullptr);
  g->box(FL_ENGRAVED_FRAME);
  g->labelsize(kLabelSize);
  // Above the frame: inside it the label would sit under the controls.
  g->align(FL_ALIGN_TOP | FL_ALIGN_LEFT);
  return g;
}

Fl_Choice* choice(int x, int y, int w, int h, std::initializer_list<const char*> items) {
  Fl_Choice* c = new Fl_Choice(x, y, w, h);
  c->labelsize(kLabelSize);
  c->textsize(kLabelSize);
  for (const char* t : items) add_plain_menu_item(c, tr(t));
  return c;
}

Fl_StringTable* nara_table(int x, int y, int w, int h) {
  Fl_StringTable* t = new Fl_StringTable(x, y, w, h, tr("Nara addresses"));
  t->labelsize(kLabelSize);
  t->align(FL_ALIGN_TOP | FL_ALIGN_LEFT);
  // The first cell counts as selected from the start; blue would hide its text.
  t->cell_selected_bg = kSelectedCellColor;
  t->row_header(0);
  t->col_header(0);
  t->set_size(1, kMaxNozzles);
  t->row_height_all(kNaraCellH);
  t->col_width_all(kNaraCellW);
  t->end();
  return t;
}

}  // namespace

xFactorySet::xFactorySet(int w, int h, const char* label) : Fl_Double_Window(w, h, label) {
  left_group = new Fl_Group(8, 8, 344, 352);
  pump_type_caption = new Fl_Box(104, 16, 152, 24, tr("Pump type"));
  pump_type_caption->labelsize(kLabelSize);
  pump_type_caption->align(FL_ALIGN_LEFT | FL_ALIGN_INSIDE);
  pump_type = choice(104, 40, 160, 24, {});
  for (const char* t : kPumpTypeItems) add_plain_menu_item(pump_type, tr(t));

  // The side groups are wider than the nominal 136 and 144 so that five address cells of
  // three digits fit, and the translated "Side address" label stays inside its frame.
  side_count_group = framed_group(16, 88, 144, 40, "Side count");
  side_count = choice(32, 96, 120, 24, {kPresetSideItems[0], kPresetSideItems[1]});
  side_count_group->end();

  nozzle_count_group = framed_group(192, 88, 144, 40, "Nozzle count");
  nozzle_count = choice(240, 96, 64, 24, {"1", "2", "3", "4", "5"});
  nozzle_count_group->end();

  side_a_group = framed_group(12, 144, 168, 96, "Side A");
  side_a_address = new Fl_Int_Input(140, 152, 32, 24, tr("Side address"));
  side_a_address->labelsize(kLabelSize);
  side_a_address->textsize(kLabelSize);
  side_a_address->value("0");
  nara_a = nara_table(14, 200, kNaraTableW, 24);
  side_a_group->end();

  side_b_group = framed_group(184, 144, 168, 96, "Side B");
  side_b_address = new Fl_Int_Input(312, 152, 32, 24, tr("Side address"));
  side_b_address->labelsize(kLabelSize);
  side_b_address->textsize(kLabelSize);
  side_b_address->value("0");
  nara_b = nara_table(186, 200, kNaraTableW, 24);
  side_b_group->end();

  progress = new Fl_Progress(24, 256, 312, 24);
  progress->maximum(100);
  progress->minimum(0);
  progress->value(0);
  apply_button = new Fl_Button(80, 296, 208, 32, tr("Factory settings"));
  apply_button->labelsize(kApplyLabelSize);
  left_group->end();

  right_group = new Fl_Group(360, 8, 344, 352);
  description = new Fl_Multiline_Input(368, 32, 328, 320);
  description->textsize(kLabelSize);
  description->value("");
  description_caption = new Fl_Box(483, 10, 96, 24, tr("Device parameters"));
  description_caption->labelsize(kLabelSize);
  right_group->end();
  end();

  for (Fl_Widget* w :
       {static_cast<Fl_Widget*>(pump_type), static_cast<Fl_Widget*>(side_count),
        static_cast<Fl_Widget*>(nozzle_count), static_cast<Fl_Widget*>(apply_button)})
    w->callback(widget_cb, this);
}

xFactorySet::~xFactorySet() = default;

void xFactorySet::widget_cb(Fl_Widget* w, void* self) {
  static_cast<xFactorySet*>(self)->on_widget(w);
}

void xFactorySet::on_widget(Fl_Widget* w) {
  if (w == pump_type)
    pump_type_changed();
  else if (w == side_count)
    side_count_changed();
  else if (w == nozzle_count)
    nozzle_count_changed();
  else if (w == apply_button)
    apply();
}

PresetForm xFactorySet::preset_form() const {
  PresetForm f;
  f.pumpType = pump_type->value();
  f.sideChoice = side_count->value();
  f.nozzleChoice = nozzle_count->value();
  f.sideA = side_a_address->value();
  f.sideB = side_b_address->value();
  nara_a->finish_editing();
  nara_b->finish_editing();
  f.columns = nara_a->cols();
  for (int c = 0; c < kMaxNozzles; ++c) {
    const char* a = nara_a->get_cell(c, 0);
    const char* b = nara_b->get_cell(c, 0);
    f.aztA[c] = a ? a : "";
    f.aztB[c] = b ? b : "";
  }
  return f;
}

void xFactorySet::show_tables(const PresetForm& f) {
  for (Fl_StringTable* t : {nara_a, nara_b}) {
    t->finish_editing();
    t->set_size(1, f.columns);
    t->col_width_all(kNaraCellW);
    const auto& cells = t == nara_a ? f.aztA : f.aztB;
    for (int c = 0; c < f.columns && c < kMaxNozzles; ++c) t->set_cell(c, 0, cells[c].c_str());
    t->redraw();
  }
}

void xFactorySet::open() {
  side_a_address->value("1");
  side_b_address->value("2");
  nozzle_count->value(0);
  side_count->value(1);
  PresetForm reset;  // one column each, "1" and "2"
  show_tables(reset);
  // "Two sides" is chosen again, so the side B controls must be usable again too.
  side_b_group->activate();
  progress->value(0);
  pump_type_changed();
  if (pump_type->value() < 0) description->value("");
  show();
}

void xFactorySet::pump_type_changed() {
  PresetForm f = preset_form();
  if (f.pumpType < 0) return;
  description->value(tr(describePumpType(&f)));
  // "Astra" chooses one side and one nozzle without running the choices' reactions: the
  // tables and the side B group stay as they are.
  if (f.pumpType == kPumpAstra) {
    side_count->value(f.sideChoice);
    nozzle_count->value(f.nozzleChoice);
  }
}

void xFactorySet::side_count_changed() {
  if (side_count->value() == 1)
    side_b_group->activate();
  else
    side_b_group->deactivate();
}

void xFactorySet::nozzle_count_changed() {
  PresetForm f = preset_form();
  onPresetNozzlesChosen(&f);
  show_tables(f);
}

void xFactorySet::apply() {
  if (session == nullptr || settings == nullptr) return;
  if (claimBus && !claimBus()) return;
  progress->value(0);
  PresetForm f = preset_form();
  // The bar moves while the writes run; the window is drawn, but no event is handled, so
  // nothing else can start on the bus meanwhile.
  const int r = applyPreset(*session, *settings, f, [this](int percent) {
    progress->value(static_cast<float>(percent));
    progress->redraw();
    Fl::flush();
  });
  if (r == 1) progress->value(kProgressDone);
}
