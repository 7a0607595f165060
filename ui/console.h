// The console front ends: the text dialogue and the engine-versus-engine demo.
#pragma once

#include <cstdio>
#include <string>

#include "game/board.h"
#include "search/search_context.h"

struct ConsoleState {
  int move_row;  // coordinates of the last move line typed
  int move_col;
  int result;  // discs1 - discs2 of the finished game
  // The stop signal received so far (0: none), asked at every safe point;
  // null where nothing stops the front end.
  int (*stop_signal)();
};

// A fresh state; also clears the counter of the opponent's moves.
ConsoleState make_console_state(int (*stop_signal)() = nullptr);

// The board as the console shows it: rows a..h across, columns 1..8 down,
// then the side to move and the counts.
std::string board_text(const Board& board);

// The face for the score the engine left in ctx.value.
const char* mood_face(const SearchContext& ctx);

// Runs the dialogue on ctx's board, reading commands from in, until the game
// is over, "quit" or "exit", the end of the input, or an overlong line.
void run_text(ConsoleState& state, SearchContext& ctx, std::FILE* in);

// Plays one game of the neural engine (on computer_colour) against the
// traditional engine; returns the disc difference seen from the neural engine.
int run_demo(ConsoleState& state, int diag_mode, SearchContext& ctx);
