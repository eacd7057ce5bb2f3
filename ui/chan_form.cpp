// The "Channel settings" window: layout, copying between widgets and the form structure,
// and the four controls that share one handler (selector, load, save, status check list).
#include "ui/chan_form.h"

#include <FL/Fl.H>
#include <FL/fl_draw.H>

#include <algorithm>
#include <string>

#include "protocol/board_io.h"
#include "util/catalog.h"
#include "util/operator.h"

// From the toolkit's platform header, which would bring X11's macros in with it.
void fl_open_display();

namespace {

constexpr int kLabelSize = 12;
constexpr int kTextSize = 12;
constexpr int kMinFittedTextSize = 10;
constexpr int kChoiceArrowMaxW = 20;  // the toolkit's arrow box at the right of a choice
constexpr int kChoiceTextIndent = 3;  // the shown item starts this far in

template <class Input>
Input* labelled_input(int x, int y, int w, int h, const char* label) {
  Input* in = new Input(x, y, w, h, tr(label));
  in->align(FL_ALIGN_TOP | FL_ALIGN_LEFT);
  in->labelsize(kLabelSize);
  in->textsize(kTextSize);
  in->value("0");
  return in;
}

Fl_Choice* plain_choice(int x, int y, int w, int h) {
  Fl_Choice* c = new Fl_Choice(x, y, w, h);
  c->labelsize(kLabelSize);
  c->textsize(kTextSize);
  return c;
}

Fl_Check_Browser* check_list(int x, int y, int w, int h) {
  Fl_Check_Browser* b = new Fl_Check_Browser(x, y, w, h);
  b->labelsize(kLabelSize);
  b->textsize(kTextSize);
  return b;
}

// Fl_Menu_::value(int) does not range-check; -1 or a stale index clears the selection.
void select_entry(Fl_Choice* c, int entry) {
  if (entry >= 0 && entry < c->size() - 1)
    c->value(entry);
  else
    c->value(static_cast<const Fl_Menu_Item*>(nullptr));
}

// The list keeps its width; its text is set one or two points smaller when the longest
// entry (in the catalog's language) would otherwise be cut at the arrow.
void fit_text_size(Fl_Choice* c) {
  fl_open_display();
  const int arrow = std::min(c->h() - Fl::box_dh(FL_DOWN_BOX), kChoiceArrowMaxW);
  const int room = c->w() - arrow - kChoiceTextIndent;
  int size = kTextSize;
  for (; size > kMinFittedTextSize; --size) {
    fl_font(c->textfont(), size);
    bool fits = true;
    for (int i = 0; i < c->size() - 1 && fits; ++i)
      if (const char* t = c->menu()[i].label()) fits = fl_width(t) <= room;
    if (fits) break;
  }
  c->textsize(size);
}

}  // namespace

xChanForm::xChanForm(int w, int h, const char* label) : Fl_Double_Window(w, h, label) {
  group = new Fl_Group(8, 8, 792, 560);
  selector = plain_choice(16, 16, 232, 24);
  load_vol = labelled_input<Fl_Float_Input>(16, 64, 96, 24, "Loaded volume");
  set_vol = labelled_input<Fl_Float_Input>(152, 64, 96, 24, "Volume set");
  vol_end = labelled_input<Fl_Float_Input>(288, 64, 96, 24, "Slow end volume");
  s_count = labelled_input<Fl_Float_Input>(424, 64, 96, 24, "Summ counter");
  load_vol_lo = labelled_input<Fl_Int_Input>(16, 112, 96, 24, "Loaded vol lo");
  set_summ = labelled_input<Fl_Float_Input>(152, 112, 96, 24, "Summ set");
  d_count = labelled_input<Fl_Float_Input>(288, 112, 96, 24, "Delta counter");
  b_count = labelled_input<Fl_Float_Input>(424, 112, 96, 24, "BMU total");
  k_vol = labelled_input<Fl_Float_Input>(16, 160, 96, 24, "Left volume");
  last_vol = labelled_input<Fl_Float_Input>(152, 160, 96, 24, "Last volume");
  grand_total = labelled_input<Fl_Float_Input>(288, 160, 96, 24, "Grand total");
  m_count = labelled_input<Fl_Float_Input>(424, 160, 96, 24, "Calibration total");
  k_vol_lo = labelled_input<Fl_Int_Input>(16, 208, 96, 24, "Left volume lo");
  vol_start = labelled_input<Fl_Float_Input>(152, 208, 96, 24, "Slow start volume");
  // Hundredths like the other counters, so the decimal point must be typeable.
  l_count = labelled_input<Fl_Float_Input>(288, 208, 96, 24, "Volume counter");
  cal_count = labelled_input<Fl_Int_Input>(424, 208, 96, 24, "Calibration count");
  price = labelled_input<Fl_Float_Input>(16, 256, 96, 24, "Price");
  state = plain_choice(152, 256, 240, 24);
  base_price = labelled_input<Fl_Float_Input>(16, 304, 96, 24, "Base Price");
  hex_status = labelled_input<Fl_Int_Input>(152, 304, 96, 24, "Hex status");
  status_list = check_list(424, 240, 344, 264);
  for (const char* t : kStatusTexts) status_list->add(tr(t));
  status_list->when(FL_WHEN_CHANGED);
  flags_list = check_list(16, 344, 376, 160);
  for (const char* t : kFlagTexts) flags_list->add(tr(t));
  load_button = new Fl_Button(240, 512, 296, 24, tr("Load settings"));
  load_button->labelsize(kLabelSize);
  save_button = new Fl_Button(240, 536, 296, 24, tr("Save settings"));
  save_button->labelsize(kLabelSize);
  meter_type = labelled_input<Fl_Int_Input>(560, 64, 152, 24, "Meter type (custom)");
  phase_caption = new Fl_Box(560, 96, 144, 16, tr("Phase count (custom)"));
  phase_caption->align(FL_ALIGN_LEFT | FL_ALIGN_INSIDE);
  phase_caption->labelsize(kLabelSize);
  phase = plain_choice(560, 112, 152, 24);
  for (const char* t : kPhaseTexts) add_plain_menu_item(phase, tr(t));
  impulse_weight = labelled_input<Fl_Int_Input>(560, 160, 152, 24, "Impulse weight, hex");
  group->end();
  end();
}

xChanForm::~xChanForm() = default;

void xChanForm::attach(BoardSession* session, ChannelCopies* copies,
                       std::function<int()> nozCount) {
  session_ = session;
  copies_ = copies;
  noz_count_ = std::move(nozCount);
}

void xChanForm::handler_cb(Fl_Widget* w, void* self) {
  static_cast<xChanForm*>(self)->on_widget(w);
}

void xChanForm::on_widget(Fl_Widget* w) {
  if (w == selector || w == load_button)
    load_channel();
  else if (w == save_button)
    save_channel();
  else if (w == status_list)
    status_toggled();
}

void xChanForm::open() {
  state->clear();
  for (const char* t : kStateTexts) add_plain_menu_item(state, tr(t));
  fit_text_size(state);
  selector->clear();
  for (const std::string& e : channelSelectorEntries(noz_count_ ? noz_count_() : 0))
    add_plain_menu_item(selector, e.c_str());
  for (Fl_Widget* w : {static_cast<Fl_Widget*>(load_button), static_cast<Fl_Widget*>(save_button),
                       static_cast<Fl_Widget*>(status_list), static_cast<Fl_Widget*>(selector)})
    w->callback(handler_cb, this);
  if (selector->size() > 1) {  // size() counts the menu's terminator
    selector->value(0);
    load_channel();
  }
  show();
}

void xChanForm::load_channel() {
  int i = channel();
  if (!channelIndexValid(i) || session_ == nullptr || session_->dev == nullptr ||
      copies_ == nullptr)
    return;
  if (claimBus && !claimBus()) return;
  int r = loadChannel(*session_->dev, *copies_, i);
  if (r == kResultDone) {
    show_form(channelFormFromRecords(copies_->channels[i], copies_->meters[i]));
  } else if (session_->op) {
    // The form still shows another channel's values; saving them here would copy them over.
    session_->op->alert(strprintf(tr("Channel read error result=%d"), r));
  }
}

void xChanForm::save_channel() {
  int i = channel();
  if (!channelIndexValid(i) || session_ == nullptr || session_->dev == nullptr ||
      copies_ == nullptr)
    return;
  if (claimBus && !claimBus()) return;
  channelFormToRecords(collect_form(), &copies_->channels[i], &copies_->meters[i]);
  int r = saveChannel(*session_, *copies_, i);
  if (session_->op == nullptr || r == 0) return;  // 0: the log-in said why already
  if (r == kResultDone)
    session_->op->alert(tr("Write ok"));
  else
    session_->op->alert(writeFailureText(*session_));
}

void xChanForm::status_toggled() {
  std::array<bool, kStatusItemCount> checks{};
  for (int k = 0; k < kStatusItemCount && k < status_list->nitems(); ++k)
    checks[k] = status_list->checked(k + 1) != 0;
  hex_status->value(hexStatusFromChecks(checks).c_str());
}

ChannelForm xChanForm::collect_form() const {
  ChannelForm f;
  f.loadVol = load_vol->value();
  f.setVol = set_vol->value();
  f.volEnd = vol_end->value();
  f.sCount = s_count->value();
  f.loadVolLo = load_vol_lo->value();
  f.setSumm = set_summ->value();
  f.dCount = d_count->value();
  f.bCount = b_count->value();
  f.kVol = k_vol->value();
  f.lastVol = last_vol->value();
  f.grandTotal = grand_total->value();
  f.mCount = m_count->value();
  f.kVolLo = k_vol_lo->value();
  f.volStart = vol_start->value();
  f.lCount = l_count->value();
  f.calCount = cal_count->value();
  f.price = price->value();
  f.basePrice = base_price->value();
  f.hexStatus = hex_status->value();
  f.meterType = meter_type->value();
  f.impulseWeight = impulse_weight->value();
  f.state = state->value();
  f.phase = phase->value();
  for (int k = 0; k < kStatusItemCount && k < status_list->nitems(); ++k)
    f.status[k] = status_list->checked(k + 1) != 0;
  for (int k = 0; k < kFlagItemCount && k < flags_list->nitems(); ++k)
    f.flags[k] = flags_list->checked(k + 1) != 0;
  return f;
}

void xChanForm::show_form(const ChannelForm& f) {
  load_vol->value(f.loadVol.c_str());
  set_vol->value(f.setVol.c_str());
  vol_end->value(f.volEnd.c_str());
  s_count->value(f.sCount.c_str());
  load_vol_lo->value(f.loadVolLo.c_str());
  set_summ->value(f.setSumm.c_str());
  d_count->value(f.dCount.c_str());
  b_count->value(f.bCount.c_str());
  k_vol->value(f.kVol.c_str());
  last_vol->value(f.lastVol.c_str());
  grand_total->value(f.grandTotal.c_str());
  m_count->value(f.mCount.c_str());
  k_vol_lo->value(f.kVolLo.c_str());
  vol_start->value(f.volStart.c_str());
  l_count->value(f.lCount.c_str());
  cal_count->value(f.calCount.c_str());
  price->value(f.price.c_str());
  base_price->value(f.basePrice.c_str());
  hex_status->value(f.hexStatus.c_str());
  meter_type->value(f.meterType.c_str());
  impulse_weight->value(f.impulseWeight.c_str());
  select_entry(state, f.state);
  select_entry(phase, f.phase);
  for (int k = 0; k < kStatusItemCount && k < status_list->nitems(); ++k)
    status_list->checked(k + 1, f.status[k]);
  for (int k = 0; k < kFlagItemCount && k < flags_list->nitems(); ++k)
    flags_list->checked(k + 1, f.flags[k]);
  redraw();
}
