// The engines' entry points and the state the front ends share with them.
#pragma once

#include <cstdint>
#include <string>

#include "game/board.h"
#include "search/search_context.h"

// The engine that chooses a move; Board.engine keeps its value for the data
// file, read and set only by these two functions.
enum class EngineKind { traditional = 0, neuro = 1 };

inline EngineKind engine_of(const Board& b) {
  return b.engine == 1 ? EngineKind::neuro : EngineKind::traditional;
}
inline void set_engine(Board& b, EngineKind engine) { b.engine = static_cast<int32_t>(engine); }
// "neuro" or "traditional", as -think names it.
inline const char* engine_word(EngineKind e) { return e == EngineKind::neuro ? "neuro" : "traditional"; }

// A legal root move and the engine's own score of it, seen from the side to
// move, in the units of SearchContext.value: square-weight sums for the
// traditional engine, trunc(50 x the network line score) for the neural one,
// and past ply 48 the final disc difference under best play.
struct RootMove {
  int row;  // 1..8
  int col;  // 1..8
  int32_t value;
};

// Every legal root move of a position with its score, in square order.
struct RootScores {
  int count;
  RootMove moves[64];
};

// What an engine call's searches did: the moves they played and the
// positions the network evaluated (for benchmarks).
struct SearchStats {
  uint64_t nodes = 0;
  uint64_t evaluations = 0;
  uint64_t batches = 0;  // calls of the batched evaluation
};

// How an engine call runs: `all` as for the roots below (null: only the move
// is wanted), and what its searches did added to *stats when given.
struct ThinkOptions {
  RootScores* all = nullptr;
  SearchStats* stats = nullptr;
};

// Traditional engine: plays the best move on ctx.board (deep search up to
// ply 48, exact endgame after). 1 when a move was played, else 0.
int think_traditional(SearchContext& ctx, const ThinkOptions& options = {});
// Neural engine: the same, scored by the network up to ply 48.
int think_neuro(SearchContext& ctx, const ThinkOptions& options = {});
// The exact endgame root used by both engines past ply 48.
int think_final(SearchContext& ctx, const ThinkOptions& options = {});
// The contract on options.all:
// - null: only the move is wanted. The root may stop refining a move's score
//   once that move provably cannot be chosen, and reports no scores: a move
//   that provably scores below the best found before it (never one that may
//   equal it) is left at a bound, so that the same move is played with the
//   same score and the same tie draws.
// - not null: every legal root move is scored exactly and listed in `all`
//   (count 0 when there is none); the move played has the highest value.
// Either way the move played has the best score of the position, equal best
// scores are drawn for at random, and ctx.value holds its score afterwards.
// Once ctx.stop is set the call ends within one search node or one network
// evaluation and returns 0: no move is played, the board is as it was, `all`
// is not filled and ctx.value is left undefined. A search that is not
// stopped counts, scores and draws exactly as without the stop.

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
// again). `all` as for the roots above. The caller has run check_end, so
// the side to move has a legal move.
ComputerMove computer_move(SearchContext& ctx, EngineKind engine, RootScores* all,
                           const EngineCalls& calls = kEngineCalls);

// The engine's move without learning first (analysis and hints, which must
// not change the network).
ComputerMove engine_move(SearchContext& ctx, EngineKind engine, RootScores* all,
                         const EngineCalls& calls = kEngineCalls);

// Every legal move of the side to move on ctx.board with the engine's root
// score, as `all` lists them, best first (equal scores in square order); count
// 0 when the side to move has no move. What a hint shows, so it changes
// nothing the next move depends on: the engine thinks on a copy of the board,
// the network does not learn, ctx.value stays and no tie is drawn for. A
// stop (ctx.stop) ends it with count 0.
RootScores rank_root_moves(SearchContext& ctx, EngineKind engine);

// Faces by which the front ends show how the computer rates its move.
extern const char* const mood_faces[16];
// Index into mood_faces for a move score: (v >> 4) + 7 clamped to 0..15.
int mood_index(int value);
