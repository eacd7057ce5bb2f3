// Draws the program icon pixel by pixel into an RGBA image: a rounded green tile with a
// white fuel drop, so every window of the program carries the same mark.
#include "ui/program_icon.h"

#include <cmath>

namespace {
struct Rgba {
  unsigned char r, g, b, a;
};

Rgba pixel_at(int x, int y) {
  const double cx = x + 0.5, cy = y + 0.5;
  const double n = kIconSizePx;
  // Rounded tile with a 5 px corner radius.
  const double rad = 5.0;
  const double qx = std::fmax(std::fmax(rad - cx, cx - (n - rad)), 0.0);
  const double qy = std::fmax(std::fmax(rad - cy, cy - (n - rad)), 0.0);
  if (qx * qx + qy * qy > rad * rad) return {0, 0, 0, 0};
  // Drop: a circle at the bottom and a point at the top.
  const double dx = cx - n / 2, dy = cy - n * 0.62;
  const double r = n * 0.24;
  const bool inCircle = dx * dx + dy * dy <= r * r;
  const double top = n * 0.14;
  bool inPoint = false;
  if (cy >= top && cy <= n * 0.62) {
    const double half = r * (cy - top) / (n * 0.62 - top);
    inPoint = std::fabs(dx) <= half;
  }
  if (inCircle || inPoint) return {255, 255, 255, 255};
  return {0x1d, 0x7a, 0x3c, 255};
}
}  // namespace

const Fl_RGB_Image* program_icon() {
  static unsigned char data[kIconSizePx * kIconSizePx * 4];
  static Fl_RGB_Image* image = nullptr;
  if (!image) {
    for (int y = 0; y < kIconSizePx; ++y)
      for (int x = 0; x < kIconSizePx; ++x) {
        const Rgba p = pixel_at(x, y);
        unsigned char* d = &data[(y * kIconSizePx + x) * 4];
        d[0] = p.r;
        d[1] = p.g;
        d[2] = p.b;
        d[3] = p.a;
      }
    image = new Fl_RGB_Image(data, kIconSizePx, kIconSizePx, 4);
  }
  return image;
}
