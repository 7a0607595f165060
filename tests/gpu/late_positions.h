// Positions with two legal moves and few empty squares, whose neural trees
// take 7 to 15 evaluations: small enough for the PTX interpreter. They are
// put on a board at ply 30, so that the neural root searches them (the
// endgame search would take over after ply 48).
#pragma once

#include <memory>

#include "board_util.h"
#include "data_util.h"

struct LatePosition {
  const char* stones;  // row 1 first: '.' empty, 'O' colour 1, 'X' colour 2
  int side;            // to move
};

inline constexpr LatePosition kLatePositions[] = {
    {"OOOOOOO.OOOOOOOXOOOOOOXXOOOOOXOXOOOOXOOXOOOXXXXXOOXO.XXX.XXXXX.X", 1},
    {"OOOOOXXXOXOOOOOOOOOOXOOOOOOXOOOOOOOOXXOOOOOXXXOOO.XXX.XO..XXXXXX", 1},
    {".OOOOXX.OOOOOXXXOOOOXXXXOOOOXXXXOOOOOXXXOXOOXOXX.OOOOXOO.OOOOOOO", 1},
    {"XOOXXXX.XXOOXXO.XOOOOOOOXOXXOXOOXXOOXXOOXOOOXOOO.OOXXXOO.OOOOOOO", 2},
};

inline std::unique_ptr<Board> late_board(const LatePosition& p) {
  auto b = fresh_board();
  play_first_moves(*b, 30);
  set_position(*b, p.stones, p.side);
  return b;
}

// The same game set up at ply 30 from its position (no move below it), as a
// data file may hold it: late_board's planes below do not lead to it.
inline std::unique_ptr<Board> late_setup(const LatePosition& p) {
  int stones[64];
  for (int s = 0; s < 64; ++s) stones[s] = p.stones[s] == 'O' ? 1 : p.stones[s] == 'X' ? 2 : 0;
  auto b = fresh_board();
  new_game_from(*b, stones, p.side);
  b->ply = 30;
  mark_legal(*b);
  return b;
}
