// The engines' roots and the move choice they share: every legal square of
// the side to move is scored, the best score wins and an equal later score
// replaces the choice one time in three.
//
// The loops take the score type (int for the traditional and endgame roots,
// float for the neural one) and a scoring function
//   Score score_square(Board& board, int square)
// that scores square 0..63 of `board` for the side to move and leaves the
// board's position as it found it.
#pragma once

#include <cstdint>
#include <memory>

#include "game/board.h"
#include "game/random.h"
#include "search/search_context.h"

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

// The chosen square; row and column both 0 while nothing is chosen.
struct RootChoice {
  int row = 0;
  int col = 0;
};

// The update rule of the roots and of the references' inner nodes: a better
// score is taken, an equal one when tie_draw() says so (the draw is made only
// for an equal score).
template <typename Score>
bool root_takes(Score score, Score best) {
  return score > best || (score == best && tie_draw());
}

// True when square s of the current plane carries the legal-move mark.
inline bool root_move_at(const Board& b, int s) {
  return (current_plane(b)[cell_index(square_row(s), square_col(s))] & kLegalMark) != 0;
}

// The parallel root: the squares are handed out one at a time to the worker
// threads, each square scored on its own heap copy of `live`, which is only
// read. `best` starts at `sentinel`; the best score and the chosen square are
// updated together under one lock. Each thread first makes its own working
// state with make_worker() (a search table, network scratch) and hands it to
//   Score score_square(Worker& worker, Board& board, int square, Score best)
// which runs on several threads at once; `best` is the best score when the
// square was handed out (the sentinel while there is none), and a score
// below it need only be a bound: it cannot be chosen and draws nothing. When
// its squares are done, each thread hands its worker to
// finish_worker(worker), one thread at a time. The tie draws are made on the
// thread that finished the square. When `scores` is given, scores[i]
// receives the score of every legal square i.
template <typename Score, typename MakeWorker, typename ScoreSquare, typename FinishWorker>
RootChoice choose_parallel_with(const Board& live, Score& best, Score sentinel, const MakeWorker& make_worker,
                                const ScoreSquare& score_square, const FinishWorker& finish_worker,
                                Score* scores = nullptr) {
  best = sentinel;
  RootChoice choice;
#pragma omp parallel
  {
    auto worker = make_worker();
#pragma omp for schedule(dynamic, 1)
    for (int i = 0; i < 64; ++i) {
      if (!root_move_at(live, i)) continue;
      const auto copy = std::make_unique<Board>(live);  // 24,440 bytes: never on the stack
      Score best_now;
#pragma omp critical(root_choice)
      best_now = best;
      const Score score = score_square(worker, *copy, i, best_now);
      if (scores != nullptr) scores[i] = score;  // each square has one thread
#pragma omp critical(root_choice)
      {
        if (root_takes(score, best)) {
          best = score;
          choice = RootChoice{square_row(i), square_col(i)};
        }
      }
    }
#pragma omp critical(root_workers)
    finish_worker(worker);
  }
  return choice;
}

// The sequential root, for scoring functions that must run on one thread (the
// network on the GPU): squares in order 0..63, each scored on `live` itself.
// `scores` as for choose_parallel_with.
template <typename Score, typename ScoreSquare>
RootChoice choose_sequential(Board& live, Score& best, Score sentinel, const ScoreSquare& score_square,
                             Score* scores = nullptr) {
  best = sentinel;
  RootChoice choice;
  for (int i = 0; i < 64; ++i) {
    if (!root_move_at(live, i)) continue;
    const Score score = score_square(live, i);
    if (scores != nullptr) scores[i] = score;
    if (root_takes(score, best)) {
      best = score;
      choice = RootChoice{square_row(i), square_col(i)};
    }
  }
  return choice;
}

// Lists every legal square of `live` with value_of(scores[square]) in `all`,
// in square order; nothing when `all` is null. Call before the chosen move is
// played, while `live` still shows the root.
template <typename Score, typename ValueOf>
void report_root_scores(const Board& live, const Score* scores, RootScores* all, const ValueOf& value_of) {
  if (all == nullptr) return;
  all->count = 0;
  for (int i = 0; i < 64; ++i)
    if (root_move_at(live, i))
      all->moves[all->count++] = RootMove{square_row(i), square_col(i), value_of(scores[i])};
}

// Plays the chosen square on the live board: 1 when it was played, 0 when
// nothing was chosen or the play was refused.
inline int play_choice(Board& live, RootChoice choice) {
  if (choice.row == 0 || choice.col == 0) return 0;
  return play(live, choice.row, choice.col) != 0 ? 1 : 0;
}
