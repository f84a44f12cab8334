#include "win_icons.hpp"

#include <cmath>
#include <cstdint>
#include <vector>

namespace falcet::win {
namespace {

struct Canvas {
  int size;
  std::vector<std::uint32_t> pixels;  // premultiplied BGRA, top row first
  explicit Canvas(int s) : size(s), pixels(static_cast<std::size_t>(s * s), 0) {}
  void fill(double x0, double y0, double x1, double y1, std::uint32_t bgr) {
    for (int y = 0; y < size; ++y)
      for (int x = 0; x < size; ++x) {
        const double fx = (x + 0.5) / size, fy = (y + 0.5) / size;
        if (fx >= x0 && fx < x1 && fy >= y0 && fy < y1) pixels[static_cast<std::size_t>(y * size + x)] = 0xFF000000u | bgr;
      }
  }
  // A triangle pointing right (dir 1) or left (-1), centred at (cx, cy), of half-height h.
  void arrowHead(double cx, double cy, double h, int dir, std::uint32_t bgr) {
    for (int y = 0; y < size; ++y)
      for (int x = 0; x < size; ++x) {
        const double fx = (x + 0.5) / size, fy = (y + 0.5) / size;
        const double along = (fx - cx) * dir;  // 0 at the base, h at the tip
        if (along >= 0 && along <= h && std::fabs(fy - cy) <= h - along)
          pixels[static_cast<std::size_t>(y * size + x)] = 0xFF000000u | bgr;
      }
  }
};

constexpr std::uint32_t kPaper = 0xF4F4F4, kFrame = 0x505050, kSky = 0xE0B070, kHill = 0x4C9A3C, kSun = 0x30C0F0;
constexpr std::uint32_t kGreen = 0x30A030, kBlue = 0xC06020;

// A small framed picture (a hill under the sky and a sun) in the given part of the icon.
void picture(Canvas& c, double x0, double y0, double x1, double y1) {
  c.fill(x0, y0, x1, y1, kFrame);
  const double b = (x1 - x0) * 0.08;
  c.fill(x0 + b, y0 + b, x1 - b, y1 - b, kSky);
  c.fill(x0 + b, y0 + (y1 - y0) * 0.62, x1 - b, y1 - b, kHill);
  c.fill(x1 - (x1 - x0) * 0.38, y0 + (y1 - y0) * 0.2, x1 - (x1 - x0) * 0.2, y0 + (y1 - y0) * 0.38, kSun);
}

}  // namespace

HICON makeIcon(IconKind kind, int size) {
  Canvas c(size);
  switch (kind) {
    case IconKind::Window:
      c.fill(0.06, 0.06, 0.94, 0.94, kPaper);
      picture(c, 0.12, 0.18, 0.88, 0.82);
      break;
    case IconKind::Export:  // a picture with an arrow leaving it
      picture(c, 0.04, 0.16, 0.6, 0.72);
      c.fill(0.45, 0.62, 0.72, 0.76, kGreen);
      c.arrowHead(0.72, 0.69, 0.22, 1, kGreen);
      break;
    case IconKind::Import:  // an arrow going into a picture
      picture(c, 0.4, 0.16, 0.96, 0.72);
      c.fill(0.28, 0.62, 0.55, 0.76, kBlue);
      c.arrowHead(0.28, 0.69, 0.22, -1, kBlue);
      break;
  }
  BITMAPV5HEADER h{};
  h.bV5Size = sizeof h;
  h.bV5Width = size;
  h.bV5Height = -size;  // top row first
  h.bV5Planes = 1;
  h.bV5BitCount = 32;
  h.bV5Compression = BI_BITFIELDS;
  h.bV5RedMask = 0x00FF0000;
  h.bV5GreenMask = 0x0000FF00;
  h.bV5BlueMask = 0x000000FF;
  h.bV5AlphaMask = 0xFF000000;
  void* bits = nullptr;
  HDC screen = ::GetDC(nullptr);
  HBITMAP color = ::CreateDIBSection(screen, reinterpret_cast<BITMAPINFO*>(&h), DIB_RGB_COLORS, &bits, nullptr, 0);
  ::ReleaseDC(nullptr, screen);
  if (!color || !bits) return nullptr;
  std::copy(c.pixels.begin(), c.pixels.end(), static_cast<std::uint32_t*>(bits));
  HBITMAP mask = ::CreateBitmap(size, size, 1, 1, nullptr);
  ICONINFO info{};
  info.fIcon = TRUE;
  info.hbmMask = mask;
  info.hbmColor = color;
  HICON icon = ::CreateIconIndirect(&info);
  ::DeleteObject(color);
  ::DeleteObject(mask);
  return icon;
}

}  // namespace falcet::win
