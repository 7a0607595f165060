// The engine for the Othello GUIs: the NBoard protocol (version 2) on the
// console streams, and the analysis of a whole game as CSV.
//
// Every line the engine sends goes to the session's output and is flushed at
// once; nothing else is written there. Notes go to standard error.
#pragma once

#include <cstdio>
#include <memory>
#include <string>

#include "game/board.h"
#include "search/engine.h"
#include "ui/game_record.h"

struct NboardSession {
  SearchContext* ctx;           // ctx->board is the position every command relates to
  ThinkType engine;             // the engine that thinks
  int engine_colour;            // the colour of the last "go"; 0 before the first
  std::unique_ptr<Board> work;  // where moves are checked and the engine thinks
  std::FILE* out;               // the lines to the GUI
};

// A session on ctx, whose board is taken to hold the position to start from.
NboardSession make_nboard_session(SearchContext& ctx, ThinkType engine, std::FILE* out);

// Handles one command line (without its newline). Returns false after "quit".
bool nboard_command(NboardSession& s, const std::string& line);

// Reads command lines from in until "quit" or the end of the input.
void run_nboard(NboardSession& s, std::FILE* in);

// The name the engine gives itself: "tavimor-neuro" or "tavimor-traditional".
std::string engine_name(ThinkType engine);

// Writes the analysis of a game as CSV to out: a header, then one line for
// each move played (passes have none) with the ply, the mover ("black" or
// "white"), the move, the engine's root score of that move, the engine's
// choice in that position and its score, both seen from the mover. The
// network does not learn. False, with a note on standard error and nothing
// written, when the record does not replay.
bool analyze_game(SearchContext& ctx, ThinkType engine, const GameRecord& record, std::FILE* out);
