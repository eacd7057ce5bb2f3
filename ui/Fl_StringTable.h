// Fl_StringTable: a grid of text cells (with optional row and column headers) on top of
// Fl_Table, edited in place through a yellow Fl_Input laid over the cell. The widget owns
// copies of every cell text and header name.
#pragma once
#include <FL/Enumerations.H>
#include <FL/Fl_Input.H>
#include <FL/Fl_Table.H>

#include <optional>
#include <string>
#include <vector>

class Fl_StringTable : public Fl_Table {
 public:
  Fl_StringTable(int x, int y, int w, int h, const char* label = nullptr);
  ~Fl_StringTable() override;

  // Resizes both dimensions. Cells and names that fall outside are dropped; cells of the
  // overlapping area keep their row and column. Returns 1, or 0 when storage could not be
  // allocated (counts and contents then stay as they were).
  int set_size(int rows, int cols);
  void rows(int n) override;
  void cols(int n) override;
  int rows() { return Fl_Table::rows(); }
  int cols() { return Fl_Table::cols(); }
  // Drops every cell and name; the in-place editor survives (the base class would delete it).
  void clear() override;
  // Keys the grid has no use for (function keys, Escape, Tab, keys with Ctrl or Alt) are not
  // taken: they stay the program's shortcuts and the window's focus keys.
  int handle(int event) override;

  // Column first, then row. Stores a copy and returns it, or nullptr when out of range.
  // Neither call redraws.
  const char* set_cell(int col, int row, const char* text);
  // The stored text; nullptr when the cell is empty or out of range.
  const char* get_cell(int col, int row) const;

  void row_name(int row, const char* text);
  void col_name(int col, const char* text);
  const char* row_name(int row) const;
  const char* col_name(int col) const;

  // State of the in-place editor (for the windows that use the widget, and for tests).
  bool editing() const { return editor_->visible() != 0; }
  int edit_row() const { return edit_row_; }
  int edit_col() const { return edit_col_; }
  Fl_Input* editor() { return editor_; }
  // Writes the editor's text back to its cell if an edit is open.
  void finish_editing();
  void start_editing(int row, int col, bool select_all);

  // The size a cell text is drawn at in a cell of the given width: cell_size when it fits,
  // else the largest smaller size (down to 8) at which it does, so no number is cut.
  int fitted_text_size(const char* text, int cellWidth) const;

  // Drawing style; users change these directly.
  Fl_Font col_header_font = FL_HELVETICA_BOLD;
  int col_header_size = 14;
  Fl_Color col_header_textcolor = FL_BLACK;
  Fl_Align col_header_align = FL_ALIGN_CENTER;
  Fl_Font row_header_font = FL_HELVETICA_BOLD;
  int row_header_size = 14;
  Fl_Color row_header_textcolor = FL_BLACK;
  Fl_Align row_header_align = FL_ALIGN_CENTER;
  Fl_Color cell_selected_bg = FL_BLUE;
  Fl_Color cell_bg = FL_WHITE;
  Fl_Color cell_textcolor = FL_BLACK;
  Fl_Font cell_font = FL_HELVETICA;
  int cell_size = 12;
  Fl_Align cell_align = FL_ALIGN_LEFT;

 protected:
  void draw_cell(TableContext context, int row = 0, int col = 0, int x = 0, int y = 0, int w = 0,
                 int h = 0) override;

 private:
  using Text = std::optional<std::string>;

  bool resize_storage(int rows, int cols);
  void commit();
  void on_event();
  static void event_cb(Fl_Widget*, void* self);
  static void commit_cb(Fl_Widget*, void* self);
  static const char* text_of(const Text& t) { return t ? t->c_str() : nullptr; }

  std::vector<Text> cells_;  // rows x cols, row-major
  Fl_Input* editor_ = nullptr;
  int edit_row_ = 0;
  int edit_col_ = 0;
  std::vector<Text> row_names_;
  std::vector<Text> col_names_;
};
