// Where things of the window's scene land on the screen, worked out from the
// camera (field of view 28 degrees, eye at (0, 120, 170) looking at the
// origin), and what a screenshot shows there.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

#include "game/board.h"
#include "ui/cube_font.h"
#include "x_display.h"

struct Pixel {
  double x;  // from the left edge
  double y;  // from the top edge
};

// The window pixel of the world point (px, py, pz) in a width x height window.
inline Pixel project(double px, double py, double pz, double width, double height) {
  const double eye[3] = {0.0, 120.0, 170.0};
  double f[3] = {-eye[0], -eye[1], -eye[2]};
  const double fl = std::sqrt(f[0] * f[0] + f[1] * f[1] + f[2] * f[2]);
  for (double& v : f) v /= fl;
  // side = f x up with up = (0, 1, 0); then the true up = side x f
  double s[3] = {-f[2], 0.0, f[0]};
  const double sl = std::sqrt(s[0] * s[0] + s[2] * s[2]);
  for (double& v : s) v /= sl;
  const double u[3] = {s[1] * f[2] - s[2] * f[1], s[2] * f[0] - s[0] * f[2], s[0] * f[1] - s[1] * f[0]};
  const double d[3] = {px - eye[0], py - eye[1], pz - eye[2]};
  const double xe = s[0] * d[0] + s[1] * d[1] + s[2] * d[2];
  const double ye = u[0] * d[0] + u[1] * d[1] + u[2] * d[2];
  const double depth = f[0] * d[0] + f[1] * d[1] + f[2] * d[2];
  const double focal = 1.0 / std::tan(14.0 * M_PI / 180.0);
  const double nx = focal * height / width * xe / depth;
  const double ny = focal * ye / depth;
  return Pixel{(nx + 1.0) * 0.5 * width, height - (ny + 1.0) * 0.5 * height};
}

// The centre of square (row, column) on the board, in world units.
inline double square_x(int row) { return (row - 4.5) * 12.0; }
inline double square_z(int col) { return (col - 4.5) * 12.0; }

enum class Hue { black, dark, light, grey, blue, red, green, yellow, other };

// The scheme colours as hues: blue, red, green, yellow.
inline Hue scheme_hue(int k) {
  static const Hue hues[4] = {Hue::blue, Hue::red, Hue::green, Hue::yellow};
  return hues[((k % 4) + 4) % 4];
}

inline Hue hue_of(Rgb c) {
  const int mx = std::max({c.r, c.g, c.b});
  const int mn = std::min({c.r, c.g, c.b});
  if (mx < 25) return Hue::black;
  if (mx - mn <= std::max(12, mx / 6)) return mn >= 150 ? Hue::light : mx <= 110 ? Hue::dark : Hue::grey;
  if (c.b > 1.4 * std::max(c.r, c.g)) return Hue::blue;
  if (c.r > 1.4 * std::max(c.g, c.b)) return Hue::red;
  if (c.g > 1.4 * std::max(c.r, c.b)) return Hue::green;
  if (std::min(c.r, c.g) > 1.4 * c.b && std::abs(c.r - c.g) < 0.3 * std::max(c.r, c.g)) return Hue::yellow;
  return Hue::other;
}

inline const char* hue_name(Hue h) {
  static const char* names[] = {"black", "dark", "light", "grey", "blue", "red", "green", "yellow", "other"};
  return names[static_cast<int>(h)];
}

// What the shot shows at a world point.
inline Rgb colour_at(const Image& img, double x, double y, double z) {
  const Pixel p = project(x, y, z, img.width, img.height);
  return img.at(static_cast<int>(p.x), static_cast<int>(p.y));
}
inline Hue hue_at(const Image& img, double x, double y, double z) { return hue_of(colour_at(img, x, y, z)); }

// The hue most of the 3 x 3 pixels around a world point show, or other.
inline Hue patch_hue(const Image& img, double x, double y, double z) {
  const Pixel p = project(x, y, z, img.width, img.height);
  int counts[9] = {};
  for (int dy = -1; dy <= 1; ++dy)
    for (int dx = -1; dx <= 1; ++dx)
      ++counts[static_cast<int>(hue_of(img.at(static_cast<int>(p.x) + dx, static_cast<int>(p.y) + dy)))];
  for (int h = 0; h < 9; ++h)
    if (counts[h] >= 7) return static_cast<Hue>(h);
  return Hue::other;
}

struct ScreenBox {
  double x0, y0, x1, y1;
  bool contains(Pixel p) const { return p.x >= x0 && p.x <= x1 && p.y >= y0 && p.y <= y1; }
};

// The screen box of the world box [x0, x1] x [y0, y1] x [z0, z1].
inline ScreenBox screen_box(const Image& img, double x0, double x1, double y0, double y1, double z0,
                            double z1) {
  ScreenBox b{1e9, 1e9, -1e9, -1e9};
  for (double x : {x0, x1})
    for (double y : {y0, y1})
      for (double z : {z0, z1}) {
        const Pixel p = project(x, y, z, img.width, img.height);
        b.x0 = std::min(b.x0, p.x);
        b.y0 = std::min(b.y0, p.y);
        b.x1 = std::max(b.x1, p.x);
        b.y1 = std::max(b.y1, p.y);
      }
  return b;
}

// Where the cursor spindle and the turn ball of square (row, column) may cover other things.
inline ScreenBox cursor_box(const Image& img, int row, int col) {
  ScreenBox b = screen_box(img, square_x(row) - 2.5, square_x(row) + 2.5, -1.5, 12.5, square_z(col) - 2.5,
                           square_z(col) + 2.5);
  b.x0 -= 3;
  b.y0 -= 3;
  b.x1 += 3;
  b.y1 += 3;
  return b;
}

// A point on the top of a disc lying on (row, column), a little towards the
// viewer so that the cursor of the square itself never covers it.
inline Pixel disc_point(const Image& img, int row, int col) {
  return project(square_x(row), 2.0, square_z(col) + 2.0, img.width, img.height);
}

// The board as the shot shows it, row 1 first as in set_position: 'O' a dark
// disc, 'X' a light disc, '.' the board's colour, '?' anything else or a
// square the cursor of (cursor_row, cursor_col) may cover (0: no cursor).
inline std::string read_board(const Image& img, int cursor_row = 0, int cursor_col = 0) {
  std::string s;
  const bool cursor = cursor_row != 0;
  const ScreenBox box = cursor ? cursor_box(img, cursor_row, cursor_col) : ScreenBox{0, 0, -1, -1};
  for (int sq = 0; sq < 64; ++sq) {
    const int row = square_row(sq), col = square_col(sq);
    if (cursor && box.contains(disc_point(img, row, col))) {
      s.push_back('?');
      continue;
    }
    const Hue h = patch_hue(img, square_x(row), 2.0, square_z(col) + 2.0);
    s.push_back(h == Hue::dark                         ? 'O'
                : h == Hue::light                      ? 'X'
                : (h >= Hue::blue && h <= Hue::yellow) ? '.'
                                                       : '?');
  }
  return s;
}

// The stones of the current plane in the same form.
inline std::string board_stones(const Board& b) {
  std::string s;
  for (int sq = 0; sq < 64; ++sq) {
    const int stone = current_plane(b)[cell_index(square_row(sq), square_col(sq))] & kStoneMask;
    s.push_back(stone == 1 ? 'O' : stone == 2 ? 'X' : '.');
  }
  return s;
}

// True when the reading agrees with the stones wherever it could see.
inline bool reading_matches(const std::string& reading, const std::string& stones) {
  if (reading.size() != stones.size()) return false;
  for (std::size_t i = 0; i < reading.size(); ++i)
    if (reading[i] != '?' && reading[i] != stones[i]) return false;
  return std::count(reading.begin(), reading.end(), '?') <= 3;
}

// Dots of a line of cube text: a lit dot is a light pixel, a dark dot
// leaves the black background. Counts the dots that show otherwise.
struct TextCheck {
  int dots = 0;
  int wrong = 0;
};
inline TextCheck check_text(const Image& img, const std::string& text) {
  TextCheck t;
  const int n = static_cast<int>(text.size());
  const int x0 = kGlyphAdvance * static_cast<int>(-0.5 * n);
  const double s60 = std::sin(M_PI / 3), c60 = std::cos(M_PI / 3);
  for (int p = 0; p < n; ++p) {
    const char* at = std::strchr(kGlyphString, text[p]);
    if (text[p] == '\0' || at == nullptr) continue;
    const int g = static_cast<int>(at - kGlyphString);
    for (int k = 0; k < kGlyphDots; ++k) {
      // The face of the dot's cube that looks at the viewer.
      const double lx = x0 + kGlyphAdvance * p + k % 5, ly = 0.5, lz = k / 5;
      const double y = ly * c60 - lz * s60, z = ly * s60 + lz * c60;
      const Hue h = hue_at(img, 0.5 * lx, 2.0 * (20.0 + y), z - 10.0);
      const bool lit = h == Hue::light || h == Hue::grey;
      ++t.dots;
      if (lit != (glyph_bitmaps[g][k] != 0)) ++t.wrong;
    }
  }
  return t;
}
inline bool shows_text(const Image& img, const std::string& text) {
  const TextCheck t = check_text(img, text);
  return t.dots > 0 && t.wrong * 50 <= t.dots;
}

// Light pixels where the line of text goes (none: no message is shown).
inline int text_band_pixels(const Image& img) {
  const ScreenBox b = screen_box(img, -45, 45, 2.0 * (20.0 - 4.5), 2.0 * 20.5, -10.5, -7.0);
  int n = 0;
  for (int y = static_cast<int>(b.y0); y <= static_cast<int>(b.y1); ++y)
    for (int x = static_cast<int>(b.x0); x <= static_cast<int>(b.x1); ++x) {
      const Hue h = hue_of(img.at(x, y));
      if (h == Hue::light || h == Hue::grey) ++n;
    }
  return n;
}

// Edges of the engine icon at the left rear: neighbouring pixels of which
// exactly one has the icon's hue. The sponge, full of holes, has many more
// than the single tetrahedron.
inline int icon_edges(const Image& img, Hue hue) {
  const ScreenBox b = screen_box(img, -80, -40, -5, 30, -80, -40);
  int n = 0;
  for (int y = static_cast<int>(b.y0); y <= static_cast<int>(b.y1); ++y)
    for (int x = static_cast<int>(b.x0); x <= static_cast<int>(b.x1); ++x) {
      const bool here = hue_of(img.at(x, y)) == hue;
      n += here != (hue_of(img.at(x + 1, y)) == hue);
      n += here != (hue_of(img.at(x, y + 1)) == hue);
    }
  return n;
}

// How strongly a pixel shows the hue of a scheme colour: its own channels
// above the others (the accent spindle is translucent, so its pixels carry
// some of what lies behind it).
inline int dominance(Rgb c, Hue hue) {
  switch (hue) {
    case Hue::blue:
      return c.b - std::max(c.r, c.g);
    case Hue::red:
      return c.r - std::max(c.g, c.b);
    case Hue::green:
      return c.g - std::max(c.r, c.b);
    case Hue::yellow:
      return std::min(c.r, c.g) - c.b;
    default:
      return 0;
  }
}

// Points of the cursor spindle of (row, column) that show the given colour:
// Hue::light for the opaque light spindle of a legal square, else the
// accent's hue. Taken on the lit side of the spindle, between the disc tops
// and the turn ball.
inline int spindle_samples(const Image& img, int row, int col, Hue hue) {
  int n = 0;
  for (double y = 3.0; y <= 7.0; y += 1.0) {
    const Rgb c = colour_at(img, square_x(row) + 0.3, y, square_z(col));
    const Hue h = hue_of(c);
    if (hue == Hue::light ? (h == Hue::light || h == Hue::grey) : dominance(c, hue) >= 30) ++n;
  }
  return n;
}
