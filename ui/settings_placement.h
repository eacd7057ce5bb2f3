// Where the settings controls sit. The control tables (settings/settings_controls.h) say what
// each control is and its caption; the tables here say where its widget goes and how it is
// dressed. The windows create the widgets in table order, and keyboard navigation follows
// that order.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>

#include "settings/settings_controls.h"

constexpr int kRowH = 22;        // height of a one-line input, choice or button
constexpr int kLabelLineH = 14;  // one line of a size-12 label

// How a placement's x and y are read.
enum class Anchor : uint8_t {
  Window,     // pixels in the window
  Grid,       // x is a column, y a row of the numeric fields' grid (kMainGrid)
  UnderGrid,  // x in pixels; y counts down from the line under the grid's last row
};

struct Placement {
  Anchor anchor;
  int x, y, w, h;
};

// The numeric fields of the "Main settings" tab, two to a row. A caption that wraps onto a
// second line starts its row lower by a line.
struct GridPlacement {
  int top;
  std::array<int, 2> columnX;
  int columnW;
  int rowGap;  // under an input, besides one caption line
};
extern const GridPlacement kMainGrid;

// The groups of the "Main settings" tab: a framed one has a caption, a plain one only holds
// its radio buttons together.
enum class MainGroup : uint8_t { NoGroup, BaudRates, StartMode, CountMode, PriceDot, BmuPasswords };
struct MainGroupPlacement {
  MainGroup id;
  const char* caption;  // untranslated; nullptr for a plain group
  Placement at;
};
extern const std::array<MainGroupPlacement, 5> kMainGroups;

enum PlacementFlag : uint8_t {
  kCaptionWraps = 1,  // a caption wider than its input wraps onto the next line
  kStartsAtZero = 2,  // the input shows "0" until a board's settings are read
  kDecimal = 4,       // the input takes a decimal point (hundredths), not digits alone
};

// The items of a choice or a check list (untranslated), and the one item shown as it is
// (-1: all go through the catalog).
struct ItemList {
  const char* const* items;
  int count;
  int untranslated;
};
template <size_t N>
constexpr ItemList itemList(const char* const (&items)[N], int untranslated = -1) {
  return {items, static_cast<int>(N), untranslated};
}

struct MainControlPlacement {
  MainControl id;
  MainGroup group;
  Placement at;
  uint8_t flags;
  ItemList items;
  const char* tooltip;  // untranslated; nullptr for none
};
extern const std::array<MainControlPlacement, kMainControlCount> kMainPlacement;

// "Channel settings": every input shows "0" until a channel is loaded. A control with a
// caption box has its caption drawn in that box instead of as its own label.
struct ChanControlPlacement {
  ChanControl id;
  Placement at;
  uint8_t flags;
  ItemList items;        // the state list is filled when the window opens, in the language then
  Placement captionBox;  // w 0: none
};
extern const std::array<ChanControlPlacement, kChanControlCount> kChanPlacement;
