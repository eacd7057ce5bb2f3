// The "Channel settings" window: layout, copying between widgets and the form structure,
// and the four controls that share one handler (selector, load, save, status check list).
#include "ui/chan_form.h"

#include <FL/Fl.H>
#include <FL/fl_draw.H>

#include <algorithm>
#include <string>

#include "protocol/board_io.h"
#include "ui/settings_placement.h"
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

// One control of the window: its kind and caption from the control table, the rest from its
// placement.
Fl_Widget* make_chan_control(const ChanControlPlacement& p) {
  const ControlDesc& d = kChanControls[static_cast<size_t>(p.id)];
  const Placement& r = p.at;
  const char* caption = d.label[0] ? tr(d.label) : nullptr;
  if (p.captionBox.w > 0) {
    const Placement& b = p.captionBox;
    Fl_Box* box = new Fl_Box(b.x, b.y, b.w, b.h, caption);
    box->align(FL_ALIGN_LEFT | FL_ALIGN_INSIDE);
    box->labelsize(kLabelSize);
    caption = nullptr;
  }
  switch (d.kind) {
    case ControlKind::Input: {
      Fl_Input* in = (p.flags & kDecimal)
                         ? static_cast<Fl_Input*>(new Fl_Float_Input(r.x, r.y, r.w, r.h, caption))
                         : new Fl_Int_Input(r.x, r.y, r.w, r.h, caption);
      in->align(FL_ALIGN_TOP | FL_ALIGN_LEFT);
      in->labelsize(kLabelSize);
      in->textsize(kTextSize);
      in->value("0");
      return in;
    }
    case ControlKind::Choice: {
      Fl_Choice* c = plain_choice(r.x, r.y, r.w, r.h);
      for (int i = 0; i < p.items.count; ++i) add_plain_menu_item(c, tr(p.items.items[i]));
      return c;
    }
    case ControlKind::CheckList: {
      Fl_Check_Browser* b = check_list(r.x, r.y, r.w, r.h);
      for (int i = 0; i < p.items.count; ++i) b->add(tr(p.items.items[i]));
      return b;
    }
    default:
      return nullptr;  // the window has no other kind
  }
}

}  // namespace

xChanForm::xChanForm(int w, int h, const char* label) : Fl_Double_Window(w, h, label) {
  group = new Fl_Group(8, 8, 792, 560);
  selector = plain_choice(16, 16, 232, 24);
  for (const ChanControlPlacement& p : kChanPlacement)
    chan_ctl_[static_cast<size_t>(p.id)] = make_chan_control(p);
  // Ticking a status item rewrites "Hex status" at once.
  chan_control(ChanControl::StatusList)->when(FL_WHEN_CHANGED);
  load_button = new Fl_Button(240, 512, 296, 24, tr("Load settings"));
  load_button->labelsize(kLabelSize);
  save_button = new Fl_Button(240, 536, 296, 24, tr("Save settings"));
  save_button->labelsize(kLabelSize);
  // In keyboard order the buttons follow the lists, before the meter's variables.
  const int meterFirst = group->find(chan_control(ChanControl::MeterType));
  group->insert(*load_button, meterFirst);
  group->insert(*save_button, meterFirst + 1);
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
  else if (w == chan_control(ChanControl::StatusList))
    status_toggled();
}

void xChanForm::open() {
  Fl_Choice* state = chan_control<Fl_Choice>(ChanControl::State);
  state->clear();
  for (const char* t : kStateTexts) add_plain_menu_item(state, tr(t));
  fit_text_size(state);
  selector->clear();
  for (const std::string& e : channelSelectorEntries(noz_count_ ? noz_count_() : 0))
    add_plain_menu_item(selector, e.c_str());
  for (Fl_Widget* w : {static_cast<Fl_Widget*>(load_button), static_cast<Fl_Widget*>(save_button),
                       chan_control(ChanControl::StatusList), static_cast<Fl_Widget*>(selector)})
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
  auto* status_list = chan_control<Fl_Check_Browser>(ChanControl::StatusList);
  std::array<bool, kStatusItemCount> checks{};
  for (int k = 0; k < kStatusItemCount && k < status_list->nitems(); ++k)
    checks[k] = status_list->checked(k + 1) != 0;
  chan_control<Fl_Input>(ChanControl::HexStatus)->value(hexStatusFromChecks(checks).c_str());
}

ChannelForm xChanForm::collect_form() const {
  ChannelForm f;
  for (const ControlDesc& d : kChanControls)
    if (d.kind == ControlKind::Input)
      f.text[static_cast<size_t>(d.id)] =
          chan_control<Fl_Input>(static_cast<ChanControl>(d.id))->value();
  f.state = chan_control<Fl_Choice>(ChanControl::State)->value();
  f.phase = chan_control<Fl_Choice>(ChanControl::Phase)->value();
  auto* status_list = chan_control<Fl_Check_Browser>(ChanControl::StatusList);
  auto* flags_list = chan_control<Fl_Check_Browser>(ChanControl::FlagList);
  for (int k = 0; k < kStatusItemCount && k < status_list->nitems(); ++k)
    f.status[k] = status_list->checked(k + 1) != 0;
  for (int k = 0; k < kFlagItemCount && k < flags_list->nitems(); ++k)
    f.flags[k] = flags_list->checked(k + 1) != 0;
  return f;
}

void xChanForm::show_form(const ChannelForm& f) {
  for (const ControlDesc& d : kChanControls)
    if (d.kind == ControlKind::Input)
      chan_control<Fl_Input>(static_cast<ChanControl>(d.id))
          ->value(f.text[static_cast<size_t>(d.id)].c_str());
  select_entry(chan_control<Fl_Choice>(ChanControl::State), f.state);
  select_entry(chan_control<Fl_Choice>(ChanControl::Phase), f.phase);
  auto* status_list = chan_control<Fl_Check_Browser>(ChanControl::StatusList);
  auto* flags_list = chan_control<Fl_Check_Browser>(ChanControl::FlagList);
  for (int k = 0; k < kStatusItemCount && k < status_list->nitems(); ++k)
    status_list->checked(k + 1, f.status[k]);
  for (int k = 0; k < kFlagItemCount && k < flags_list->nitems(); ++k)
    flags_list->checked(k + 1, f.flags[k]);
  redraw();
}
