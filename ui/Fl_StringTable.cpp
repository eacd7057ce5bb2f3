// Fl_StringTable: owned cell texts and header names on an Fl_Table, with the in-place
// editor that opens on a click, on Enter or on a typed character and writes back on Enter
// or when it loses the focus.
#include "ui/Fl_StringTable.h"

#include <FL/Fl.H>
#include <FL/Fl_Window.H>
#include <FL/fl_draw.H>

#include <algorithm>
#include <cstring>
#include <new>
#include <stdexcept>

namespace {
// Cell texts are drawn this far inside the cell's box.
constexpr int kCellTextInsetPx = 3;
// The smallest size a cell text is shrunk to so that it fits its cell.
constexpr int kMinFittedCellSize = 8;
}  // namespace

Fl_StringTable::Fl_StringTable(int x, int y, int w, int h, const char* label)
    : Fl_Table(x, y, w, h, label) {
  callback(&Fl_StringTable::event_cb, this);
  when(when() | FL_WHEN_NOT_CHANGED);
  editor_ = new Fl_Input(w / 2, h / 2, 0, 0);
  editor_->hide();
  editor_->callback(&Fl_StringTable::commit_cb, this);
  editor_->when(FL_WHEN_ENTER_KEY_ALWAYS | FL_WHEN_RELEASE);
  editor_->color(FL_YELLOW);
  end();
  set_selection(0, 0, 0, 0);
}

// The editor is a child of the table and is deleted by the base class.
Fl_StringTable::~Fl_StringTable() = default;

bool Fl_StringTable::resize_storage(int nrows, int ncols) {
  const int orows = Fl_Table::rows();
  const int ocols = Fl_Table::cols();
  try {
    std::vector<Text> cells(static_cast<size_t>(nrows) * static_cast<size_t>(ncols));
    const int keepr = std::min(orows, nrows);
    const int keepc = std::min(ocols, ncols);
    for (int r = 0; r < keepr; ++r)
      for (int c = 0; c < keepc; ++c)
        cells[static_cast<size_t>(r) * ncols + c] =
            std::move(cells_[static_cast<size_t>(r) * ocols + c]);
    std::vector<Text> rnames = row_names_;
    std::vector<Text> cnames = col_names_;
    rnames.resize(static_cast<size_t>(nrows));
    cnames.resize(static_cast<size_t>(ncols));
    cells_.swap(cells);
    row_names_.swap(rnames);
    col_names_.swap(cnames);
  } catch (const std::bad_alloc&) {
    return false;
  } catch (const std::length_error&) {
    return false;
  }
  return true;
}

int Fl_StringTable::set_size(int nrows, int ncols) {
  if (nrows < 0 || ncols < 0) return 0;
  if (!resize_storage(nrows, ncols)) return 0;
  Fl_Table::rows(nrows);
  Fl_Table::cols(ncols);
  return 1;
}

void Fl_StringTable::rows(int n) { set_size(n, Fl_Table::cols()); }

void Fl_StringTable::cols(int n) { set_size(Fl_Table::rows(), n); }

void Fl_StringTable::clear() {
  editor_->hide();
  set_size(0, 0);
}

const char* Fl_StringTable::set_cell(int col, int row, const char* text) {
  if (col < 0 || row < 0 || col >= Fl_Table::cols() || row >= Fl_Table::rows()) return nullptr;
  Text& cell = cells_[static_cast<size_t>(row) * Fl_Table::cols() + col];
  if (text)
    cell = std::string(text);
  else
    cell.reset();
  return text_of(cell);
}

const char* Fl_StringTable::get_cell(int col, int row) const {
  Fl_StringTable* self = const_cast<Fl_StringTable*>(this);
  if (col < 0 || row < 0 || col >= self->Fl_Table::cols() || row >= self->Fl_Table::rows())
    return nullptr;
  return text_of(cells_[static_cast<size_t>(row) * self->Fl_Table::cols() + col]);
}

void Fl_StringTable::row_name(int row, const char* text) {
  if (row < 0 || static_cast<size_t>(row) >= row_names_.size()) return;
  if (text)
    row_names_[row] = std::string(text);
  else
    row_names_[row].reset();
}

void Fl_StringTable::col_name(int col, const char* text) {
  if (col < 0 || static_cast<size_t>(col) >= col_names_.size()) return;
  if (text)
    col_names_[col] = std::string(text);
  else
    col_names_[col].reset();
}

const char* Fl_StringTable::row_name(int row) const {
  if (row < 0 || static_cast<size_t>(row) >= row_names_.size()) return nullptr;
  return text_of(row_names_[row]);
}

const char* Fl_StringTable::col_name(int col) const {
  if (col < 0 || static_cast<size_t>(col) >= col_names_.size()) return nullptr;
  return text_of(col_names_[col]);
}

void Fl_StringTable::start_editing(int row, int col, bool select_all) {
  edit_row_ = row;
  edit_col_ = col;
  set_selection(row, col, row, col);
  int X = 0, Y = 0, W = 0, H = 0;
  find_cell(CONTEXT_CELL, row, col, X, Y, W, H);
  editor_->resize(X, Y, W, H);
  const char* text = get_cell(col, row);
  editor_->value(text ? text : "");
  if (select_all && text)
    editor_->position(0, static_cast<int>(std::strlen(text)));
  else
    editor_->position(editor_->size());
  editor_->show();
  editor_->take_focus();
  redraw();
}

void Fl_StringTable::finish_editing() {
  if (editor_->visible()) commit();
}

void Fl_StringTable::commit() {
  // A size change while editing may have removed the edit cell; its text is then dropped.
  set_cell(edit_col_, edit_row_, editor_->value());
  editor_->hide();
  if (window()) window()->cursor(FL_CURSOR_DEFAULT);
  take_focus();
  redraw();
}

int Fl_StringTable::handle(int event) {
  if (event == FL_KEYBOARD) {
    const int key = Fl::event_key();
    const bool fn = key > FL_F && key <= FL_F_Last;
    // Fl_Table hands every key it does not move the cursor with to the callback and reports
    // it used; so F1..F12, Alt+F11, Ctrl+T and Escape would never reach the shortcut handler.
    if (fn || key == FL_Escape || key == FL_Tab ||
        (Fl::event_state() & (FL_CTRL | FL_ALT | FL_META)))
      return 0;
  }
  return Fl_Table::handle(event);
}

void Fl_StringTable::commit_cb(Fl_Widget*, void* self) {
  static_cast<Fl_StringTable*>(self)->commit();
}

void Fl_StringTable::event_cb(Fl_Widget*, void* self) {
  static_cast<Fl_StringTable*>(self)->on_event();
}

void Fl_StringTable::on_event() {
  const int R = callback_row();
  const int C = callback_col();
  switch (callback_context()) {
    case CONTEXT_ROW_HEADER:
    case CONTEXT_COL_HEADER:
    case CONTEXT_TABLE:
      finish_editing();
      return;
    case CONTEXT_CELL:
      break;
    default:
      return;
  }
  if (R < 0 || C < 0 || R >= Fl_Table::rows() || C >= Fl_Table::cols()) return;
  switch (Fl::event()) {
    case FL_PUSH:
      finish_editing();
      start_editing(R, C, true);
      return;
    case FL_KEYBOARD: {
      int del = 0;
      const char* typed = Fl::event_text();
      if (Fl::compose(del) && typed && Fl::event_length() > 0 &&
          static_cast<unsigned char>(typed[0]) >= 32 && typed[0] != 127) {
        set_cell(C, R, typed);
        start_editing(R, C, false);
      } else if (Fl::event_key() == FL_Enter || Fl::event_key() == FL_KP_Enter) {
        start_editing(R, C, true);
      }
      return;
    }
    default:
      return;
  }
}

int Fl_StringTable::fitted_text_size(const char* text, int cellWidth) const {
  // A text wider than its cell is drawn smaller rather than cut: a cut number ("21" of "210")
  // would read as another value.
  const int room = cellWidth - 2 * kCellTextInsetPx;
  int size = cell_size;
  for (fl_font(cell_font, size); size > kMinFittedCellSize && text && fl_width(text) > room;)
    fl_font(cell_font, --size);
  return size;
}

void Fl_StringTable::draw_cell(TableContext context, int R, int C, int X, int Y, int W, int H) {
  switch (context) {
    case CONTEXT_ROW_HEADER:
      fl_font(row_header_font, row_header_size);
      fl_push_clip(X, Y, W, H);
      fl_draw_box(FL_THIN_UP_BOX, X, Y, W, H, row_header_color());
      fl_color(row_header_textcolor);
      if (const char* name = row_name(R)) fl_draw(name, X, Y, W, H, row_header_align);
      fl_pop_clip();
      return;
    case CONTEXT_COL_HEADER:
      fl_font(col_header_font, col_header_size);
      fl_push_clip(X, Y, W, H);
      fl_draw_box(FL_THIN_UP_BOX, X, Y, W, H, col_header_color());
      fl_color(col_header_textcolor);
      if (const char* name = col_name(C)) fl_draw(name, X, Y, W, H, col_header_align);
      fl_pop_clip();
      return;
    case CONTEXT_CELL: {
      if (R == edit_row_ && C == edit_col_ && editor_->visible()) return;
      fl_draw_box(FL_THIN_UP_BOX, X, Y, W, H, is_selected(R, C) ? cell_selected_bg : cell_bg);
      const int ix = X + kCellTextInsetPx, iy = Y + kCellTextInsetPx;
      const int iw = W - 2 * kCellTextInsetPx, ih = H - 2 * kCellTextInsetPx;
      if (iw <= 0 || ih <= 0) return;
      fl_push_clip(ix, iy, iw, ih);
      if (const char* text = get_cell(C, R)) {
        fl_color(cell_textcolor);
        fl_font(cell_font, fitted_text_size(text, W));
        fl_draw(text, ix, iy, iw, ih, cell_align);
      }
      fl_pop_clip();
      return;
    }
    case CONTEXT_RC_RESIZE:
      if (editor_->visible()) {
        int ex = 0, ey = 0, ew = 0, eh = 0;
        find_cell(CONTEXT_TABLE, edit_row_, edit_col_, ex, ey, ew, eh);
        editor_->resize(ex, ey, ew, eh);
        init_sizes();
      }
      return;
    default:
      return;
  }
}
