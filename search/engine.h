// The computer's move as every front end asks for it, and the state the
// front ends share with the engines (whose roots are in search/root.h).
#pragma once

#include <cstdint>

#include "game/board.h"
#include "search/root.h"
#include "search/search_context.h"

// The engine that chooses a move; the values are those of Board.engine.
enum class EngineKind { traditional = 0, neuro = 1 };

// The engine the board's settings select.
inline EngineKind engine_of(const Board& b) {
  return b.engine == 1 ? EngineKind::neuro : EngineKind::traditional;
}

// One learning step on the plane of the last move; nothing at ply 0.
void learn_last_move(SearchContext& ctx);

// Moves of the neural engine's opponent since the neural engine last moved.
extern int opponent_moves;

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
