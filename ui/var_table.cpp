// The channel variables table window: reads, periodic timer and the modal open.
#include "ui/var_table.h"

#include <FL/Fl.H>

#include "protocol/utrk_device.h"
#include "util/catalog.h"

bool ChanVarTable::open_ = false;
int ChanVarTable::next_channel_ = 0;

namespace {
constexpr int kTableFontSize = 9;
constexpr int kRowHeaderWidth = 64;
constexpr Fl_Color kSelectedCellColor = 50;  // light grey: blue would hide the first cell's text
}  // namespace

ChanVarTable::ChanVarTable(UTRKDevice* dev, ChannelCopies* copies, std::function<bool()> claimBus)
    : Fl_Double_Window(359, 206, tr("Channel settings")),
      dev_(dev),
      copies_(copies),
      claim_bus_(std::move(claimBus)) {
  resize(259, 66, 911, 668);
  table = new Fl_StringTable(1, 1, 905, 630);
  table->row_header(1);
  table->col_header(1);
  table->set_size(kChannelFieldCount, kChannelCount);
  table->row_header_width(kRowHeaderWidth);
  table->cell_size = kTableFontSize;
  table->row_header_size = kTableFontSize;
  table->col_header_size = kTableFontSize;
  table->row_header_font = FL_HELVETICA;
  table->cell_selected_bg = kSelectedCellColor;
  for (int r = 0; r < kChannelFieldCount; ++r) table->row_name(r, kChannelFields[r].name);
  for (int c = 0; c < kChannelCount; ++c) table->col_name(c, channelColumnName(c).c_str());
  table->end();
  read_button = new Fl_Button(20, 640, 120, 20, tr("Read"));
  read_button->callback(read_cb, this);
  periodic_button = new Fl_Check_Button(220, 640, 120, 20, tr("Periodic"));
  periodic_button->callback(periodic_cb, this);
  end();
}

ChanVarTable::~ChanVarTable() {
  // A pending tick would read into a destroyed table.
  stop_ = true;
  Fl::remove_timeout(tick_cb, this);
}

void ChanVarTable::open_modal(UTRKDevice* dev, ChannelCopies* copies,
                              std::function<bool()> claimBus) {
  if (open_) return;
  open_ = true;
  ChanVarTable* w = new ChanVarTable(dev, copies, std::move(claimBus));
  w->set_modal();
  w->show();
  while (w->shown()) Fl::wait();
  delete w;
  open_ = false;
}

void ChanVarTable::read_cb(Fl_Widget*, void* self) {
  static_cast<ChanVarTable*>(self)->read_once();
}

void ChanVarTable::periodic_cb(Fl_Widget* w, void* self) {
  static_cast<ChanVarTable*>(self)->set_periodic(static_cast<Fl_Check_Button*>(w)->value() != 0);
}

void ChanVarTable::tick_cb(void* self) { static_cast<ChanVarTable*>(self)->tick(); }

void ChanVarTable::read_once() {
  if (claim_bus_ && !claim_bus_()) return;
  int c = next_channel_;
  int r = dev_ && copies_ ? readChannelRecord(*dev_, *copies_, c) : kResultRefused;
  table->cell_textcolor = r == kResultDone ? FL_BLACK : FL_RED;
  if (copies_) {
    std::vector<std::string> column = channelTableColumn(copies_->channels[c]);
    for (int row = 0; row < static_cast<int>(column.size()); ++row)
      table->set_cell(c, row, column[row].c_str());
  }
  table->redraw();
  next_channel_ = (c + 1) % kChannelCount;
}

void ChanVarTable::set_periodic(bool on) {
  Fl::remove_timeout(tick_cb, this);  // never two chains at once
  stop_ = !on;
  if (on) Fl::add_timeout(kPeriodicFirstDelaySec, tick_cb, this);
}

void ChanVarTable::tick() {
  if (stop_) return;
  read_once();
  if (!stop_) Fl::add_timeout(kPeriodicNextDelaySec, tick_cb, this);
}
