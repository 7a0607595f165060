// Games written as text: GGF game records and move lists such as
// "f5d6c3d3c4", read into a start position and its moves, and replayed on
// the game record with the rules' passes.
//
// Squares are written letter then digit ("f5", "F5"): the letter is the
// Board's row and the digit its column, as the console shows them. Black
// ('*' in GGF, B[..]) is colour 1, which moves first from the usual start;
// white ('O', W[..]) is colour 2. A pass is written "PA".
#pragma once

#include <string>

#include "game/board.h"

// Moves and passes a record may hold: 60 moves and a pass before each.
inline constexpr int kMaxRecordMoves = 120;

struct RecordMove {
  int colour;  // 1 or 2; 0 when the text does not say (a move list)
  int row;     // 1..8; 0 and 0 for a pass
  int col;
};

struct GameRecord {
  int stones[64];  // the start position by square number: 0 empty, 1 or 2
  int side;        // to move at the start
  int count;
  RecordMove moves[kMaxRecordMoves];
};

// The usual start position and no moves.
GameRecord standard_record();

// Reads a square ("f5", "F5") or a pass ("PA", "pa") from the first two
// characters of text; a pass gives row and column 0. False otherwise.
bool parse_square(const char* text, int& row, int& col);
// "F5" (upper case) or "f5"; "PA" or "pa" for row 0.
std::string square_name(int row, int col, bool upper);

// Reads the first game of a GGF text: "(;", properties NAME[value], ";)".
// BO[8 <64 squares: '-', '*', 'O'> <side: '*' or 'O'>] gives the start
// (the usual start when absent), B[..] and W[..] the moves in order, each
// with an optional "/eval/time" after the square. GM other than Othello and
// a board size other than 8 are refused; other properties are ignored.
// False with `error` saying what is wrong; the moves are not checked
// against the rules here (see replay_move).
bool parse_ggf(const std::string& text, GameRecord& record, std::string& error);

// Reads a move list from the usual start: squares and passes one after the
// other, blanks and '-' between them allowed ("f5d6c3", "F5 D6 PA").
bool parse_move_list(const std::string& text, GameRecord& record, std::string& error);

// Sets b to the record's start position (new_game_from). False when that
// position cannot be held (fewer than 4 stones).
bool start_record(Board& b, const GameRecord& record);

// Plays one move of a record on b, after the pass the rules force when the
// side to move has no move: a square must be legal for the side then to
// move, a pass ("PA", row 0) is accepted only when the rules forced it, and
// a colour other than 0 must be the mover's. False when the move cannot
// follow (b may then be changed: replay on a copy).
bool replay_move(Board& b, const RecordMove& m);
