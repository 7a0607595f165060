// The window's font: 47 glyphs of 5 x 5 dots, each dot drawn as a small cube.
#pragma once

inline constexpr int kGlyphCount = 47;
inline constexpr int kGlyphDots = 25;     // 5 lines of 5 dots, top line first
inline constexpr int kGlyphAdvance = 6;   // units from one character to the next
inline constexpr int kGlyphLineDots = 5;  // dots per line

// The characters that have a glyph, in the order of glyph_bitmaps.
inline constexpr char kGlyphString[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789._:;-<>o/'^";
static_assert(sizeof(kGlyphString) == kGlyphCount + 1);

// Entry 5 x line + column of glyph g is 1 where a dot is lit.
extern const int glyph_bitmaps[kGlyphCount][kGlyphDots];

// Index of c in kGlyphString, or -1 for a character without a glyph (it
// still takes a character cell).
int glyph_index(char c);

// Where a line of n characters starts, before the horizontal scale: half the
// length truncated toward zero, in character cells.
int text_origin(int n);
