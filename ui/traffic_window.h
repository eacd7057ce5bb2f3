// The traffic window: every chunk sent and received on the open port, one line a chunk (long
// chunks continue on further lines), with the time to the millisecond, the direction, the
// bytes in hex and as characters. It keeps the last kTrafficMaxLines lines, can be paused,
// cleared and saved to a text file. It listens to the port layer's trace hook only while it
// is shown, so a closed window costs nothing.
#pragma once
#include <FL/Fl_Box.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_Light_Button.H>
#include <FL/Fl_Text_Buffer.H>
#include <FL/Fl_Text_Display.H>

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <deque>
#include <memory>
#include <string>
#include <vector>

class Operator;

constexpr size_t kTrafficMaxLines = 5000;
constexpr size_t kTrafficBytesPerLine = 16;
// New lines reach the view at most this often, in one piece.
constexpr double kTrafficFlushDelaySec = 0.05;

// The lines of one chunk: "HH:MM:SS.mmm >> 60 03 42 BD ...  |`.B.|", ">>" sent, "<<"
// received; the lines after the first are indented under the first one's bytes.
std::vector<std::string> trafficLines(std::time_t seconds, int millis, bool sent,
                                      const uint8_t* data, size_t n);

class TrafficWindow : public Fl_Double_Window {
 public:
  // op asks for the file to save to and reports a failed save.
  explicit TrafficWindow(Operator* op);
  ~TrafficWindow() override;

  void show() override;  // starts listening to the port layer
  void hide() override;  // stops listening

  // One chunk as the port layer reports it.
  void add_chunk(bool sent, const uint8_t* data, size_t n);
  // Moves the lines waiting into the view now (otherwise a timer does it).
  void flush_lines();
  void set_paused(bool on);
  bool paused() const { return paused_; }
  void clear_lines();
  // Writes every line kept (those waiting while paused included). false with errno set.
  bool save_to(const std::string& path);

  // Lines in the view, and lines kept but not yet shown.
  size_t lines_shown() const { return shown_; }
  size_t lines_waiting() const { return waiting_.size(); }
  std::string text() const;

  Fl_Text_Display* view;
  Fl_Light_Button* pause_button;
  Fl_Button* clear_button;
  Fl_Button* save_button;
  Fl_Box* status;

 private:
  static void pause_cb(Fl_Widget*, void* self);
  static void clear_cb(Fl_Widget*, void* self);
  static void save_cb(Fl_Widget*, void* self);
  static void flush_cb(void* self);
  void on_save();
  void show_status();

  Operator* op_;
  std::unique_ptr<Fl_Text_Buffer> buffer_;
  std::deque<std::string> waiting_;  // at most kTrafficMaxLines
  size_t shown_ = 0;
  bool paused_ = false;
  bool listening_ = false;
  std::string status_text_;
};
