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
