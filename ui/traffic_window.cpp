// The traffic window: chunk lines from the port layer's trace hook, kept in a ring of lines
// and moved into the view in batches by a short timer.
#include "ui/traffic_window.h"

#include <FL/Fl.H>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "link/port.h"
#include "util/catalog.h"
#include "util/files.h"
#include "util/operator.h"

namespace {

constexpr int kWindowW = 760, kWindowH = 480;
constexpr int kMargin = 8;
constexpr int kButtonW = 120, kButtonH = 28;
constexpr int kTextSize = 12;
// "HH:MM:SS.mmm >> ": what stands before the bytes of a chunk's first line.
constexpr size_t kPrefixChars = 16;

}  // namespace

std::vector<std::string> trafficLines(std::time_t seconds, int millis, bool sent,
                                      const uint8_t* data, size_t n) {
  std::vector<std::string> lines;
  std::tm local{};
  // The traffic hook runs on the window's thread only: the shared result of localtime is safe.
  if (const std::tm* t = std::localtime(&seconds)) local = *t;
  char prefix[32];
  std::snprintf(prefix, sizeof prefix, "%02d:%02d:%02d.%03d %s ", local.tm_hour, local.tm_min,
                local.tm_sec, millis, sent ? ">>" : "<<");
  for (size_t at = 0; at < n || (n == 0 && lines.empty()); at += kTrafficBytesPerLine) {
    std::string line = lines.empty() ? std::string(prefix) : std::string(kPrefixChars, ' ');
    std::string chars;
    const size_t end = std::min(n, at + kTrafficBytesPerLine);
    for (size_t i = at; i < end; ++i) {
      char hex[4];
      std::snprintf(hex, sizeof hex, "%02X ", data[i]);
      line += hex;
      chars += data[i] >= 32 && data[i] < 127 ? static_cast<char>(data[i]) : '.';
    }
    line.append((kTrafficBytesPerLine - (end - at)) * 3, ' ');
    line += ' ';
    line += chars;
    lines.push_back(line);
    if (n == 0) break;
  }
  return lines;
}

TrafficWindow::TrafficWindow(Operator* op)
    : Fl_Double_Window(kWindowW, kWindowH, tr("Bus traffic")),
      op_(op),
      buffer_(std::make_unique<Fl_Text_Buffer>()) {
  const int viewH = kWindowH - 3 * kMargin - kButtonH;
  view = new Fl_Text_Display(kMargin, kMargin, kWindowW - 2 * kMargin, viewH);
  view->textfont(FL_COURIER);
  view->textsize(kTextSize);
  view->buffer(buffer_.get());
  const int by = kMargin + viewH + kMargin;
  pause_button = new Fl_Light_Button(kMargin, by, kButtonW, kButtonH, tr("Pause"));
  pause_button->labelsize(kTextSize);
  pause_button->callback(pause_cb, this);
  clear_button =
      new Fl_Button(kMargin + kButtonW + kMargin, by, kButtonW, kButtonH, tr("Clear lines"));
  clear_button->labelsize(kTextSize);
  clear_button->callback(clear_cb, this);
  save_button =
      new Fl_Button(kMargin + 2 * (kButtonW + kMargin), by, kButtonW, kButtonH, tr("Save.."));
  save_button->labelsize(kTextSize);
  save_button->callback(save_cb, this);
  const int sx = kMargin + 3 * (kButtonW + kMargin);
  status = new Fl_Box(sx, by, kWindowW - kMargin - sx, kButtonH);
  status->labelsize(kTextSize);
  status->align(FL_ALIGN_LEFT | FL_ALIGN_INSIDE | FL_ALIGN_CLIP);
  end();
  resizable(view);
  show_status();
}

TrafficWindow::~TrafficWindow() {
  // The base class hides the window without our hide(): the hook must not outlive us.
  if (listening_) portSetTrace(nullptr);
  Fl::remove_timeout(flush_cb, this);
  view->buffer(nullptr);
}

void TrafficWindow::show() {
  if (!listening_) {
    portSetTrace(
        [this](uint16_t, bool sent, const uint8_t* data, size_t n) { add_chunk(sent, data, n); });
    listening_ = true;
  }
  Fl_Double_Window::show();
}

void TrafficWindow::hide() {
  if (listening_) {
    portSetTrace(nullptr);
    listening_ = false;
  }
  Fl::remove_timeout(flush_cb, this);
  Fl_Double_Window::hide();
}

void TrafficWindow::add_chunk(bool sent, const uint8_t* data, size_t n) {
  using namespace std::chrono;
  const auto now = system_clock::now();
  const auto ms = duration_cast<milliseconds>(now.time_since_epoch()).count();
  const std::time_t seconds = static_cast<std::time_t>(ms / 1000);
  for (std::string& line : trafficLines(seconds, static_cast<int>(ms % 1000), sent, data, n))
    waiting_.push_back(std::move(line));
  while (waiting_.size() > kTrafficMaxLines) waiting_.pop_front();
  if (!Fl::has_timeout(flush_cb, this)) Fl::add_timeout(kTrafficFlushDelaySec, flush_cb, this);
}

void TrafficWindow::flush_cb(void* self) { static_cast<TrafficWindow*>(self)->flush_lines(); }

void TrafficWindow::flush_lines() {
  Fl::remove_timeout(flush_cb, this);
  if (!paused_ && !waiting_.empty()) {
    std::string text;
    for (const std::string& line : waiting_) {
      text += line;
      text += '\n';
    }
    shown_ += waiting_.size();
    waiting_.clear();
    buffer_->append(text.c_str());
    // The ring: the oldest lines go once the view holds more than it keeps.
    if (shown_ > kTrafficMaxLines) {
      const size_t excess = shown_ - kTrafficMaxLines;
      buffer_->remove(0, buffer_->skip_lines(0, static_cast<int>(excess)));
      shown_ = kTrafficMaxLines;
    }
    view->insert_position(buffer_->length());
    view->show_insert_position();
  }
  show_status();
}

void TrafficWindow::set_paused(bool on) {
  paused_ = on;
  pause_button->value(on ? 1 : 0);
  flush_lines();
}

void TrafficWindow::clear_lines() {
  waiting_.clear();
  buffer_->text("");
  shown_ = 0;
  show_status();
}

std::string TrafficWindow::text() const {
  char* shown = buffer_->text();
  std::string all = shown ? shown : "";
  std::free(shown);
  for (const std::string& line : waiting_) {
    all += line;
    all += '\n';
  }
  return all;
}

bool TrafficWindow::save_to(const std::string& path) {
  FILE* f = fileOpen(path, "w");
  if (!f) return false;
  const std::string all = text();
  const bool written = std::fwrite(all.data(), 1, all.size(), f) == all.size();
  const int err = errno;
  const bool closed = std::fclose(f) == 0;
  if (!written) errno = err;
  return written && closed;
}

void TrafficWindow::pause_cb(Fl_Widget* w, void* self) {
  static_cast<TrafficWindow*>(self)->set_paused(static_cast<Fl_Light_Button*>(w)->value() != 0);
}

void TrafficWindow::clear_cb(Fl_Widget*, void* self) {
  static_cast<TrafficWindow*>(self)->clear_lines();
}

void TrafficWindow::save_cb(Fl_Widget*, void* self) {
  static_cast<TrafficWindow*>(self)->on_save();
}

void TrafficWindow::on_save() {
  if (!op_) return;
  std::string path;
  if (!op_->chooseFile(tr("Save the traffic"), "Text\t*.txt\n", true, &path)) return;
  if (path.find(".txt") == std::string::npos) path += ".txt";
  if (!save_to(path)) {
    const int err = errno;
    op_->alert(strprintf(tr("Cannot write %s: %s"), path.c_str(), std::strerror(err)));
    return;
  }
  status_text_ = strprintf(tr("Saved to %s"), path.c_str());
  status->copy_label(status_text_.c_str());
  damage(FL_DAMAGE_ALL, status->x(), status->y(), status->w(), status->h());
}

void TrafficWindow::show_status() {
  if (paused_)
    status_text_ =
        strprintf(tr("Paused; new lines waiting: %u"), static_cast<unsigned>(waiting_.size()));
  else
    status_text_ = strprintf(tr("Lines: %u"), static_cast<unsigned>(shown_));
  status->copy_label(status_text_.c_str());
  // A label on no box: the place it takes is drawn again, background first.
  damage(FL_DAMAGE_ALL, status->x(), status->y(), status->w(), status->h());
}
