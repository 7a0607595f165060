// Fixed positions for the search benchmarks, as the move lines that reach
// them from the start (so that every plane of the record is a real game's).
// The lines are one game of the traditional engine against itself; moves are
// written as in the text front end: the letter names the row, the digit the
// column.
#pragma once

#include <cstring>
#include <memory>

#include "game/board.h"

struct BenchPosition {
  const char* name;
  int ply;  // moves of the line below that are played
};

// One self-play game of the traditional engine, 49 moves.
inline constexpr const char* kBenchGame =
    "c4c3d3e3d2e1f4d6c2f3f2b3e2d1c1f1g1g3c5b5h3g4a4a3a2g2b4b2d7a5a6e6c6c7c8b6f5e7h4d8f7h5g5h6f6h2a7b1h1";

inline constexpr BenchPosition kBenchOpening{"opening", 4};
inline constexpr BenchPosition kBenchMiddle{"middle", 20};
inline constexpr BenchPosition kBenchLate{"late", 40};
inline constexpr BenchPosition kBenchEndgame{"endgame", 49};  // 11 empty squares
inline constexpr BenchPosition kBenchPositions[] = {kBenchOpening, kBenchMiddle, kBenchLate, kBenchEndgame};

// The board after the first `ply` moves of the game, the computer to move
// (passes are made as the game made them). Null if the line does not replay.
inline std::unique_ptr<Board> bench_board(const BenchPosition& position) {
  auto b = std::make_unique<Board>();
  new_game(*b);
  b->computer_colour = 2;
  b->engine = 0;
  if (2 * static_cast<size_t>(position.ply) > std::strlen(kBenchGame)) return nullptr;
  for (int k = 0; k < position.ply; ++k) {
    if (check_end(*b)) return nullptr;
    const int row = kBenchGame[2 * k] - 'a' + 1, col = kBenchGame[2 * k + 1] - '0';
    if (play(*b, row, col) == 0) return nullptr;
  }
  if (check_end(*b)) return nullptr;
  b->computer_colour = b->side;
  return b;
}
