// Fuzzes the text dialogue with arbitrary input: over-long lines, NUL bytes,
// carriage returns, no final newline. The human plays both sides (the
// engines, far too slow for a fuzzer, have tests of their own). Byte 0 picks
// the game: flag 1 a position six moves before the end, where passes and the
// end come quickly; otherwise the start position. The rest is standard input.
#include <cstdint>
#include <cstdio>

#include "app/globals.h"
#include "ui/console.h"

namespace {

Board* g_late;  // six moves before the end

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  g_late = new Board{};
  new_game(*g_late);
  while (g_late->ply < 54 && check_end(*g_late) == 0) {
    for (int s = 0; s < 64; ++s) {
      if (current_plane(*g_late)[cell_index(square_row(s), square_col(s))] & kLegalMark) {
        play(*g_late, square_row(s), square_col(s));
        break;
      }
    }
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size < 2) return 0;  // an empty stream cannot be opened
  Board& b = g_board;
  if (data[0] & 1) {
    b = *g_late;
  } else {
    new_game(b);
  }
  b.computer_colour = 0;  // no side is the computer's, even after "new"
  std::FILE* in = fmemopen(const_cast<uint8_t*>(data + 1), size - 1, "rb");
  if (in == nullptr) return 0;
  ConsoleState state = make_console_state();
  run_text(state, g_ctx, in);
  std::fclose(in);
  if (!board_is_ok(b)) __builtin_trap();
  return 0;
}
