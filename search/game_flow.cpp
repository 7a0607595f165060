#include "search/engine.h"

int opponent_moves = 0;

void fresh_game(Board& b) {
  new_game(b);
  b.computer_colour = 2;
  set_engine(b, ThinkType::neuro);
  b.pass_flag = 0;
  b.colour_scheme = 0;
}

bool human_move(Board& b, int row, int col) {
  if (play(b, row, col) == 0) return false;
  ++opponent_moves;
  return true;
}

void count_opponent_move(const Board& b, int neural_colour) {
  if (neural_colour != 0 && record_get(previous_plane(b), kRecMover) != neural_colour) ++opponent_moves;
}

void forget_opponent_moves() { opponent_moves = 0; }

void next_game(Board& b) {
  new_game(b);
  b.computer_colour = other_colour(b.computer_colour);
}

void take_back_to_human(Board& b) {
  while (take_back(b) == 1 && b.side == b.computer_colour) continue;
}

std::string result_line(const Board& b, const char* me, const char* you) {
  const int d = b.discs1 - b.discs2;
  if (d == 0) return "GAME OVER. draw game...";
  return std::string("GAME OVER. ") + ((d > 0 ? 1 : 2) == b.computer_colour ? me : you) + " win " +
         std::to_string(d > 0 ? d : -d) + " points.";
}
