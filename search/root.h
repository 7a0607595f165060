// The root move choice shared by the engines: every legal square of the
// side to move is scored, the best score wins and an equal later score
// replaces the choice one time in three.
//
// The loops take the score type (int for the traditional and endgame roots,
// float for the neural one) and a scoring function
//   Score score_square(Board& board, int square)
// that scores square 0..63 of `board` for the side to move and leaves the
// board's position as it found it.
#pragma once

#include <memory>

#include "game/board.h"
#include "game/random.h"
#include "search/engine.h"

// The chosen square; row and column both 0 while nothing is chosen.
struct RootChoice {
  int row = 0;
  int col = 0;
};

// The update rule of the root: a better score is taken, an equal one when
// tie_draw() says so (the draw is made only for an equal score).
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

// The same without working state: Score score_square(Board& board, int square).
template <typename Score, typename ScoreSquare>
RootChoice choose_parallel(const Board& live, Score& best, Score sentinel, const ScoreSquare& score_square,
                           Score* scores = nullptr) {
  return choose_parallel_with(
      live, best, sentinel, [] { return 0; },
      [&score_square](int& /*none*/, Board& board, int s, Score /*best*/) { return score_square(board, s); },
      [](int&) {}, scores);
}

// The sequential root, for scoring functions that must run on one thread (the
// network on the GPU): squares in order 0..63, each scored on `live` itself.
// `scores` as for choose_parallel.
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
