// The "Factory settings" window: layout, Open's resets, the reactions of the pump type,
// side count and nozzle count choices, and the hand-over of the values to the preset write.
#include "ui/factory_form.h"

#include "ui/catalog.h"
#include "ui/chan_form.h"

namespace {

constexpr int kLabelSize = 12;
constexpr int kApplyLabelSize = 16;
constexpr int kNaraCellW = 20;
constexpr int kNaraCellH = 20;
constexpr int kMaxNozzles = 5;
constexpr int kAstraType = 3;

const char* const kPumpTypes[] = {"Shelf", "General pumps", "C4000", "Astra", "Tokheim"};
const char* const kPumpDescriptions[] = {
    "'Shelf' pump\n100 pulses/litre\n1-phase pulser (phase 1)\nInverted nozzle\nDisplay type: T209-17",
    "General pumps' pump\n80 pulses/litre\n2-phase pulser\nInverted nozzle\nDisplay type: MI-21",
    "RM STARK pump\nCNG dispenser, micromotion meters\n20mA pressure meters\nInverted nozzle\nDisplay type: MI-21 soft ",
    "Astron pump\nLPG dispenser\nInverted nozzle\nDisplay type: MI-21 i2c ",
    "'Tokheim' pump\n100 pulses/litre\n1-phase pulser (phase 1)\nnon-inverted LCD data pin\nDisplay type: Tokheim",
};
constexpr int kPumpTypeCount = 5;

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
  pump_type = choice(104, 40, 160, 24, {kPumpTypes[0], kPumpTypes[1], kPumpTypes[2], kPumpTypes[3], kPumpTypes[4]});

  side_count_group = framed_group(24, 88, 136, 40, "Side count");
  side_count = choice(32, 96, 120, 24, {"One side", "Two sides"});
  side_count_group->end();

  nozzle_count_group = framed_group(192, 88, 144, 40, "Nozzle count");
  nozzle_count = choice(240, 96, 64, 24, {"1", "2", "3", "4", "5"});
  nozzle_count_group->end();

  side_a_group = framed_group(24, 144, 136, 96, "Side A");
  side_a_address = new Fl_Int_Input(120, 152, 32, 24, tr("Side address"));
  side_a_address->labelsize(kLabelSize);
  side_a_address->textsize(kLabelSize);
  side_a_address->value("0");
  nara_a = nara_table(32, 200, 104, 24);
  side_a_group->end();

  side_b_group = framed_group(192, 144, 144, 96, "Side B");
  side_b_address = new Fl_Int_Input(296, 152, 32, 24, tr("Side address"));
  side_b_address->labelsize(kLabelSize);
  side_b_address->textsize(kLabelSize);
  side_b_address->value("0");
  nara_b = nara_table(200, 200, 104, 24);
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
  description->value("0");
  description_caption = new Fl_Box(483, 10, 96, 24, tr("Device parameters"));
  description_caption->labelsize(kLabelSize);
  right_group->end();
  end();

  for (Fl_Widget* w : {static_cast<Fl_Widget*>(pump_type), static_cast<Fl_Widget*>(side_count),
                       static_cast<Fl_Widget*>(nozzle_count), static_cast<Fl_Widget*>(apply_button)})
    w->callback(widget_cb, this);
}

xFactorySet::~xFactorySet() = default;

void xFactorySet::widget_cb(Fl_Widget* w, void* self) { static_cast<xFactorySet*>(self)->on_widget(w); }

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

void xFactorySet::set_columns(Fl_StringTable* t, int n, int first) {
  t->finish_editing();
  t->set_size(1, n);
  t->col_width_all(kNaraCellW);
  for (int c = 0; c < n; ++c) t->set_cell(c, 0, std::to_string(first + c).c_str());
  t->redraw();
}

void xFactorySet::open() {
  side_a_address->value("1");
  side_b_address->value("2");
  nozzle_count->value(0);
  set_columns(nara_a, 1, 1);
  set_columns(nara_b, 1, 2);
  side_count->value(1);
  // "Two sides" is chosen again, so the side B controls must be usable again too.
  side_b_group->activate();
  progress->value(0);
  pump_type_changed();
  show();
}

void xFactorySet::pump_type_changed() {
  int type = pump_type->value();
  if (type < 0 || type >= kPumpTypeCount) return;
  description->value(tr(kPumpDescriptions[type]));
  if (type == kAstraType) {
    // Selected without running the choices' reactions: tables and side B stay as they are.
    side_count->value(0);
    nozzle_count->value(0);
  }
}

void xFactorySet::side_count_changed() {
  if (side_count->value() == 1)
    side_b_group->activate();
  else
    side_b_group->deactivate();
}

void xFactorySet::nozzle_count_changed() {
  int n = nozzle_count->value() < 0 ? 0 : nozzle_count->value() + 1;
  set_columns(nara_a, n, 1);
  set_columns(nara_b, n, n + 1);
}

FactoryFormValues xFactorySet::values() const {
  FactoryFormValues v;
  v.pumpType = pump_type->value();
  v.sideChoice = side_count->value();
  v.nozzleChoice = nozzle_count->value();
  v.sideAddressA = side_a_address->value();
  v.sideAddressB = side_b_address->value();
  nara_a->finish_editing();
  nara_b->finish_editing();
  auto cells = [](Fl_StringTable* t) {
    std::vector<std::string> out;
    for (int c = 0; c < t->cols(); ++c) {
      const char* s = t->get_cell(c, 0);
      out.emplace_back(s ? s : "");
    }
    return out;
  };
  v.naraA = cells(nara_a);
  v.naraB = cells(nara_b);
  return v;
}

void xFactorySet::apply() {
  if (onApply) onApply(values());
}
