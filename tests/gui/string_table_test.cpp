// The string grid widget in a real window: storage across size changes, the in-place editor's
// open/commit cycle driven through the table's own event callback, and drawing.
#include <gtest/gtest.h>

#include <FL/Fl.H>
#include <FL/Fl_Double_Window.H>
#include <FL/fl_draw.H>

#include <cstring>
#include <memory>
#include <string>

#include "ui/Fl_StringTable.h"

namespace {

class StringTableTest : public ::testing::Test {
 protected:
  void SetUp() override {
    win = std::make_unique<Fl_Double_Window>(0, 0, 400, 300);
    table = new Fl_StringTable(10, 10, 380, 280);
    table->row_height_all(24);
    table->col_width_all(60);
    win->end();
  }
  void showAndFlush() {
    win->show();
    for (int i = 0; i < 20; ++i) Fl::wait(0.01);
    Fl::flush();
  }
  // Replays an event as the table reports it to its callback.
  void cellEvent(int event, int row, int col, Fl_Table::TableContext ctx = Fl_Table::CONTEXT_CELL) {
    Fl::e_number = event;
    table->do_callback(ctx, row, col);
  }
  void typeKey(int row, int col, int key, const char* text) {
    static char buf[8];
    snprintf(buf, sizeof buf, "%s", text);
    Fl::e_state = 0;
    Fl::e_keysym = key;
    Fl::e_text = buf;
    Fl::e_length = static_cast<int>(strlen(buf));
    cellEvent(FL_KEYBOARD, row, col);
  }
  void commit(const char* text) {
    table->editor()->value(text);
    table->editor()->do_callback();  // Enter in the editor
  }

  std::unique_ptr<Fl_Double_Window> win;
  Fl_StringTable* table = nullptr;
};

TEST_F(StringTableTest, CellsAreAddressedColumnFirstAndKeptAcrossSizeChanges) {
  ASSERT_EQ(1, table->set_size(21, 10));
  EXPECT_EQ(21, table->rows());
  EXPECT_EQ(10, table->cols());
  ASSERT_NE(nullptr, table->set_cell(3, 20, "x"));
  EXPECT_STREQ("x", table->get_cell(3, 20));
  EXPECT_EQ(nullptr, table->get_cell(20, 3));
  for (const auto& cr : {std::make_pair(10, 0), std::make_pair(0, 21), std::make_pair(-1, 0),
                         std::make_pair(0, -1)}) {
    EXPECT_EQ(nullptr, table->set_cell(cr.first, cr.second, "x")) << cr.first << "," << cr.second;
    EXPECT_EQ(nullptr, table->get_cell(cr.first, cr.second)) << cr.first << "," << cr.second;
  }
  std::string text = "abc";  // the widget keeps its own copy
  table->set_cell(0, 0, text.c_str());
  text[0] = 'z';
  EXPECT_STREQ("abc", table->get_cell(0, 0));
  EXPECT_EQ(nullptr, table->set_cell(0, 0, nullptr));
  EXPECT_EQ(nullptr, table->get_cell(0, 0));

  // Growing keeps cells and names in place; new ones are empty.
  ASSERT_EQ(1, table->set_size(1, 5));
  const char* texts[] = {"a0", "a1", "a2", "a3", "a4"};
  for (int c = 0; c < 5; ++c) {
    table->set_cell(c, 0, texts[c]);
    table->col_name(c, texts[c]);
  }
  table->row_name(0, "R0");
  ASSERT_EQ(1, table->set_size(2, 6));
  for (int c = 0; c < 5; ++c) {
    EXPECT_STREQ(texts[c], table->get_cell(c, 0)) << c;
    EXPECT_STREQ(texts[c], table->col_name(c)) << c;
    EXPECT_EQ(nullptr, table->get_cell(c, 1)) << c;
  }
  EXPECT_EQ(nullptr, table->get_cell(5, 0));
  EXPECT_EQ(nullptr, table->col_name(5));
  EXPECT_STREQ("R0", table->row_name(0));
  EXPECT_EQ(nullptr, table->row_name(1));
  // Shrinking one dimension drops its cells and names: they come back empty.
  table->set_size(1, 5);
  table->cols(3);
  EXPECT_EQ(1, table->rows());
  EXPECT_EQ(3, table->cols());
  table->cols(5);
  EXPECT_STREQ("a2", table->get_cell(2, 0));
  EXPECT_STREQ("a2", table->col_name(2));
  EXPECT_EQ(nullptr, table->get_cell(3, 0));
  EXPECT_EQ(nullptr, table->col_name(3));
  table->rows(0);
  table->rows(1);
  EXPECT_EQ(nullptr, table->get_cell(0, 0));
  EXPECT_EQ(nullptr, table->row_name(0));
  EXPECT_EQ(0, table->set_size(-1, 3));
  EXPECT_EQ(1, table->rows());
}

TEST_F(StringTableTest, TypingEnterAndClicksOpenTheEditorAndCommitWritesBack) {
  table->set_size(2, 5);
  table->col_header(1);
  table->row_header(1);
  table->set_cell(2, 0, "123");
  showAndFlush();
  EXPECT_FALSE(table->editing());
  // A typed character replaces the text, nothing selected.
  typeKey(0, 2, '7', "7");
  ASSERT_TRUE(table->editing());
  EXPECT_STREQ("7", table->get_cell(2, 0));
  EXPECT_STREQ("7", table->editor()->value());
  EXPECT_EQ(table->editor()->position(), table->editor()->mark());
  EXPECT_EQ(0, table->edit_row());
  EXPECT_EQ(2, table->edit_col());
  commit("789");
  EXPECT_FALSE(table->editing());
  EXPECT_STREQ("789", table->get_cell(2, 0));
  // Enter opens it with the old text selected; a control key neither edits nor changes.
  typeKey(0, 2, FL_Enter, "\r");
  ASSERT_TRUE(table->editing());
  EXPECT_STREQ("789", table->editor()->value());
  EXPECT_EQ(3, std::abs(table->editor()->position() - table->editor()->mark()));
  table->finish_editing();
  typeKey(0, 1, FL_Left, "");
  EXPECT_FALSE(table->editing());
  EXPECT_EQ(nullptr, table->get_cell(1, 0));

  // A click edits the cell; a click on another commits the first and edits the second.
  cellEvent(FL_PUSH, 0, 2);
  ASSERT_TRUE(table->editing());
  EXPECT_TRUE(table->is_selected(0, 2));
  EXPECT_STREQ("789", table->editor()->value());
  table->editor()->value("new");
  cellEvent(FL_PUSH, 1, 4);
  EXPECT_STREQ("new", table->get_cell(2, 0));
  ASSERT_TRUE(table->editing());
  EXPECT_EQ(1, table->edit_row());
  EXPECT_EQ(4, table->edit_col());
  EXPECT_STREQ("", table->editor()->value());
  // Header clicks commit and close the editor; a release is no edit request.
  for (auto ctx : {Fl_Table::CONTEXT_COL_HEADER, Fl_Table::CONTEXT_ROW_HEADER}) {
    cellEvent(FL_PUSH, 1, 4);
    table->editor()->value("b");
    cellEvent(FL_PUSH, ctx == Fl_Table::CONTEXT_ROW_HEADER ? 1 : -1,
              ctx == Fl_Table::CONTEXT_COL_HEADER ? 1 : -1, ctx);
    EXPECT_FALSE(table->editing());
    EXPECT_STREQ("b", table->get_cell(4, 1));
    table->set_cell(4, 1, nullptr);
  }
  cellEvent(FL_RELEASE, 1, 1);
  EXPECT_FALSE(table->editing());
}

TEST_F(StringTableTest, EditCellRemovedWhileEditingAndClearKeepTheEditorUsable) {
  table->set_size(3, 3);
  showAndFlush();
  cellEvent(FL_PUSH, 2, 2);
  ASSERT_TRUE(table->editing());
  table->editor()->value("lost");
  table->set_size(1, 1);  // the edit cell no longer exists
  table->finish_editing();
  EXPECT_FALSE(table->editing());
  EXPECT_EQ(nullptr, table->get_cell(0, 0));
  table->clear();
  EXPECT_EQ(0, table->rows());
  EXPECT_EQ(0, table->cols());
  table->set_size(1, 2);
  cellEvent(FL_PUSH, 0, 1);
  ASSERT_TRUE(table->editing());
  commit("ok");
  EXPECT_STREQ("ok", table->get_cell(1, 0));
}

// Counts the pixels of one colour the window shows inside a rectangle.
int countPixels(Fl_Window* w, int x, int y, int cw, int ch, uchar r, uchar g, uchar b) {
  w->make_current();
  std::unique_ptr<uchar[]> img(fl_read_image(nullptr, x, y, cw, ch));
  int n = 0;
  for (int i = 0; i < cw * ch; ++i)
    n += img[i * 3] == r && img[i * 3 + 1] == g && img[i * 3 + 2] == b;
  return n;
}

TEST_F(StringTableTest, EmptyCellDrawsOnlyItsBox) {
  table->set_size(1, 2);
  table->col_width_all(100);
  table->cell_textcolor = FL_RED;
  table->cell_size = 18;
  table->set_cell(0, 0, "WWWW");
  table->set_selection(-1, -1, -1, -1);
  showAndFlush();
  // Cell rectangles relative to the window: red glyphs in the filled one, none in the empty
  // one next to it, which still shows its white box.
  const int X = table->x() + 1, Y = table->y() + 1, W = 100, H = 24;
  EXPECT_GT(countPixels(win.get(), X, Y, W, H, 255, 0, 0), 20);
  EXPECT_EQ(0, countPixels(win.get(), X + W, Y, W, H, 255, 0, 0));
  EXPECT_GT(countPixels(win.get(), X + W + 4, Y + 4, W - 8, H - 8, 255, 255, 255),
            (W - 8) * (H - 8) / 2);
}

}  // namespace
