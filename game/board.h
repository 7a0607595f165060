// The game record: a stack of 61 planes (one per move played), the side to
// move, the stone counts and the settings that travel with the game.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <type_traits>

// Bits of one cell of a plane.
inline constexpr int32_t kStoneMask = 3;    // bits 0-1: 0 empty, 1 or 2 a colour
inline constexpr int32_t kLegalMark = 4;    // bit 2: the side to move may play here
inline constexpr int32_t kChangedMark = 8;  // bit 3: differs from the previous plane
inline constexpr int32_t kLowBits = 15;     // the four bits under a plane record value
inline constexpr int kRecordShift = 4;      // plane record values are stored as value x 16

// Cells 0..6 of the top frame row hold the plane record.
inline constexpr int kRecMover = 0;       // side to move here; once played from, the side that played
inline constexpr int kRecRow = 1;         // row of the move played from this plane
inline constexpr int kRecCol = 2;         // column of that move
inline constexpr int kRecDirections = 3;  // directions in which that move flipped
inline constexpr int kRecOwnDiscs = 4;    // stones of the side to move
inline constexpr int kRecOtherDiscs = 5;  // stones of the other side
inline constexpr int kRecMoves = 6;       // legal moves of the side to move

inline constexpr int kPlaneCells = 100;
inline constexpr int kMaxPly = 60;  // the board is full after 60 moves
inline constexpr int kPlanes = kMaxPly + 1;

// Neighbour offsets, always walked in this order.
inline constexpr int kDirections[8] = {-11, -10, -9, -1, 1, 9, 10, 11};

struct Board {
  int32_t planes[kPlanes][kPlaneCells];  // plane k: the position after k moves
  int32_t ply;                           // moves played, 0..60 (passes not counted)
  int32_t side;                          // side to move, 1 or 2
  int32_t discs1;                        // stones of colour 1 on the current plane
  int32_t discs2;                        // stones of colour 2 on the current plane
  int32_t cursor_row;                    // row of the last move played, 1..8
  int32_t cursor_col;                    // column of the last move played, 1..8
  int32_t computer_colour;               // colour the computer plays, 1 or 2
  int32_t engine;                        // 1 neural engine, 0 traditional engine
  int32_t pass_flag;                     // 1 when the last check_end passed the turn
  int32_t colour_scheme;                 // window colour scheme, 0..3
};

static_assert(sizeof(Board) == 6110 * sizeof(int32_t), "Board is 6,110 ints");
static_assert(std::is_trivially_copyable_v<Board>);
static_assert(std::is_standard_layout_v<Board>);
static_assert(offsetof(Board, ply) == 6100 * sizeof(int32_t));
static_assert(offsetof(Board, colour_scheme) == 6109 * sizeof(int32_t));

// The other colour of 1 or 2.
constexpr int other_colour(int colour) { return 3 - colour; }

// Cell index of (row, column), both 0..9.
constexpr int cell_index(int row, int col) { return 10 * row + col; }
// Square number 0..63 of (row, column), both 1..8.
constexpr int square_of(int row, int col) { return 8 * (row - 1) + (col - 1); }
constexpr int square_row(int s) { return s / 8 + 1; }
constexpr int square_col(int s) { return s % 8 + 1; }

// A plane record value (cells 0..6 of a plane).
inline int record_get(const int32_t* plane, int cell) {
  return static_cast<int>(static_cast<uint32_t>(plane[cell]) >> kRecordShift);
}
inline void record_set(int32_t* plane, int cell, int value) {
  plane[cell] = (plane[cell] & kLowBits) | (value << kRecordShift);
}

inline int32_t* current_plane(Board& b) { return b.planes[b.ply]; }
inline const int32_t* current_plane(const Board& b) { return b.planes[b.ply]; }

// 1 when the side to move may put a stone on (row, column) of the current
// plane, else 0. Row and column are 1..8.
int can_place(const Board& b, int row, int col);

// Recomputes the legal-move and changed marks, the disc counts and the plane
// record (cells 0, 4, 5, 6) of the current plane in one pass; returns the
// number of legal moves of the side to move.
int mark_legal(Board& b);

// The start position at ply 0, colour 1 to move. Keeps computer_colour,
// engine, pass_flag and colour_scheme.
void new_game(Board& b);

// A game that starts from a given position: stones[s] is 0 (empty), 1 or 2
// for square s, and `side` is to move. The ply becomes the stone count minus
// 4, the moves a game from the usual start would have played, so that the
// board is full at ply 60 and the endgame begins at the same number of empty
// squares; the planes below hold the same stones with no move recorded.
// Keeps the settings like new_game. False, with the board unchanged, for
// fewer than 4 stones, a value out of range or a side other than 1 or 2.
bool new_game_from(Board& b, const int (&stones)[64], int side);

// Plays (row, column) for the side to move. The move must carry the legal
// mark of the last mark_legal. Returns the number of directions flipped
// (1..8), or 0 when refused (only the scratch plane above ply changes).
int play(Board& b, int row, int col);

// Passes the turn: the other side to move on the same plane. Returns the new side.
int hand_over(Board& b);

// The end-of-game test. Returns 1 when the game is over; otherwise 0 with the
// side to move able to move, after passing the turn once if needed (pass_flag 1).
int check_end(Board& b);

// Takes the last move back. Returns 1, or 0 at the start position.
int take_back(Board& b);

// The plane the last move was played from; ply must be at least 1.
inline int32_t* previous_plane(Board& b) { return b.planes[b.ply - 1]; }
inline const int32_t* previous_plane(const Board& b) { return b.planes[b.ply - 1]; }

// True when the current plane was reached by a move (the plane below records
// it). A game set up from a position has no move below its first plane.
inline bool has_last_move(const Board& b) { return b.ply > 0 && record_get(previous_plane(b), kRecRow) != 0; }

// True when the record is a game the rules can have played. The planes up
// to its first recorded move hold one position with no move recorded (plane
// 0 alone in a game from the usual start; more planes in a game set up from
// a position, see new_game_from), with at least that plane's ply + 4 stones
// when it is not plane 0, so that the ply never runs ahead of the stones by
// more than a start from an empty board would. Every later plane up to ply
// follows from the one before by the move recorded there, for the side to
// move or, after a pass the rules force, for the other side. The side to
// move at ply is the one the last move or a forced pass leaves, and discs1
// and discs2 count the stones of plane ply. Reads only the stones and the
// move records, so any values are safe to check; linear in ply.
bool record_replays(const Board& b);

// Leaf positions at the given depth. A forced pass counts as a ply; a finished
// game is one leaf.
uint64_t perft(Board& b, int depth);

// Checks the invariants of the current plane (stones never 3, clear frame,
// counts and marks equal to the rules). Returns the first that does not hold,
// named with its square or cell ("stones: stone 3 on h8"); empty when all hold.
std::string board_fault(const Board& b);
inline bool board_is_ok(const Board& b) { return board_fault(b).empty(); }

// Stops the program with file, line and the broken invariant when b breaks one.
void check_board(const Board& b, const char* file, int line);
// In builds with assertions, after every move and take-back.
#ifdef NDEBUG
#define TAVIMOR_CHECK_BOARD(b) ((void)0)
#else
#define TAVIMOR_CHECK_BOARD(b) check_board((b), __FILE__, __LINE__)
#endif
