// The computer's move as every front end asks for it, and the state the
// front ends share with the engines (whose roots are in search/root.h).
#pragma once

#include <cstdint>
#include <string>

#include "game/board.h"
#include "search/root.h"
#include "search/search_context.h"

// The engine that chooses a move; Board.engine keeps its value for the data
// file, read and set only by these two functions.
enum class ThinkType { traditional = 0, neuro = 1 };

inline ThinkType engine_of(const Board& b) {
  return b.engine == 1 ? ThinkType::neuro : ThinkType::traditional;
}
inline void set_engine(Board& b, ThinkType engine) { b.engine = static_cast<int32_t>(engine); }
// "neuro" or "traditional", as -think names it.
inline const char* engine_word(ThinkType e) { return e == ThinkType::neuro ? "neuro" : "traditional"; }

// One learning step on the plane of the last move; nothing at ply 0.
void learn_last_move(SearchContext& ctx);

// Moves of the neural engine's opponent since the neural engine last moved.
extern int opponent_moves;

// The game flow every front end shares (search/game_flow.cpp), the computer's
// turn apart (computer_move, below).
// A run's game without a data file: computer on colour 2, neural engine, no pass, scheme 0.
void fresh_game(Board& b);
// The human's move, played when legal (else false) and counted as the neural engine's opponent's.
bool human_move(Board& b, int row, int col);
// Counts the last move on b for the neural engine's learning unless
// `neural_colour` (its colour; 0: none yet, nothing counts) played it.
void count_opponent_move(const Board& b, int neural_colour);
// A session or game whose earlier moves teach nothing.
void forget_opponent_moves();
// The start position with the colours swapped.
void next_game(Board& b);
// Back to the last position with the human to move (none at the start).
void take_back_to_human(Board& b);
// "GAME OVER. `me` win N points." (the computer won), "... `you` win ..." or
// "GAME OVER. draw game...".
std::string result_line(const Board& b, const char* me, const char* you);

// The engine calls of a computer move (tests put stand-ins here).
struct EngineCalls {
  int (*think_neuro)(SearchContext&, const ThinkOptions&);
  int (*think_traditional)(SearchContext&, const ThinkOptions&);
  void (*learn_last_move)(SearchContext&);
};
// The program's engines.
extern const EngineCalls kEngineCalls;

// What a computer move did.
struct ComputerMove {
  int played;  // 1 when a move was played on the board, else 0
  int row;     // the move played; 0 and 0 when none
  int col;
  int32_t value;  // its score, as ctx.value holds it (the mood face's input)
};

// The computer's turn, the one way every front end asks for a move: when the
// neural engine is to move and its opponent has moved since its last move
// (opponent_moves is not 0), the counter is cleared and the network learns
// the opponent's last move; then `engine` chooses and plays its move on
// ctx.board. A learning step is never cut short: when a stop ends the search
// that follows it, the step stays in the network (it learned the opponent's
// move, which the board keeps; the counter is cleared, so it is not learned
// again). `all` as for the roots. The caller has run check_end, so
// the side to move has a legal move.
ComputerMove computer_move(SearchContext& ctx, ThinkType engine, RootScores* all,
                           const EngineCalls& calls = kEngineCalls);

// The engine's move without learning first (analysis and hints, which must
// not change the network).
ComputerMove engine_move(SearchContext& ctx, ThinkType engine, RootScores* all,
                         const EngineCalls& calls = kEngineCalls);

// Every legal move of the side to move on ctx.board with the engine's root
// score, as `all` lists them, best first (equal scores in square order); count
// 0 when the side to move has no move. What a hint shows, so it changes
// nothing the next move depends on: the engine thinks on a copy of the board,
// the network does not learn, ctx.value stays and no tie is drawn for. A
// stop (ctx.stop) ends it with count 0.
RootScores rank_root_moves(SearchContext& ctx, ThinkType engine);

// Faces by which the front ends show how the computer rates its move.
extern const char* const mood_faces[16];
// Index into mood_faces for a move score: (v >> 4) + 7 clamped to 0..15.
int mood_index(int value);
