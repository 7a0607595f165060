// The engines' entry points and the state the front ends share with them.
#pragma once

#include <cstdint>

#include "search/search_context.h"

// What an engine call's searches did: the moves they played and the
// positions the network evaluated (for benchmarks).
struct SearchStats {
  uint64_t nodes = 0;
  uint64_t evaluations = 0;
  uint64_t batches = 0;  // calls of the batched evaluation
};

// How an engine call runs.
struct ThinkOptions {
  // Every legal root move is scored exactly. Otherwise a root move that
  // provably scores less than the best found before it (never one that may
  // equal it) is left with a bound: the same move is played with the same
  // score, and the tie draws are the same.
  bool exact_scores = false;
  SearchStats* stats = nullptr;  // added to when given
};

// Traditional engine: plays the best move on ctx.board (deep search up to
// ply 48, exact endgame after). 1 when a move was played, else 0.
int think_traditional(SearchContext& ctx);
// Neural engine: the same, scored by the network up to ply 48.
int think_neuro(SearchContext& ctx);
// The exact endgame root used by both engines past ply 48.
int think_final(SearchContext& ctx);
// The same with options.
int think_traditional(SearchContext& ctx, const ThinkOptions& options);
int think_neuro(SearchContext& ctx, const ThinkOptions& options);
int think_final(SearchContext& ctx, const ThinkOptions& options);

// One learning step on the plane of the last move; nothing at ply 0.
void learn_last_move(SearchContext& ctx);

// Moves of the neural engine's opponent since the neural engine last moved.
extern int opponent_moves;

// Faces by which the front ends show how the computer rates its move.
extern const char* const mood_faces[16];
// Index into mood_faces for a move score: (v >> 4) + 7 clamped to 0..15.
int mood_index(int value);
