// The traditional engine's root and the exact endgame root, and the faces
// that show how the computer rates its move.
#include "search/engine.h"

#include "game/board.h"
#include "search/root.h"
#include "search/search.h"

const char* const mood_faces[16] = {
    "<;o;>", ";o;", "<;_;>", ";_;", "<;.;>", ";.;", "-.-;", "-.-",
    "-_-;",  "-_-", "^_^;",  "^_^", "^.^;",  "^.^", "^o^",  "^o^/",
};

int mood_index(int value) {
  const int index = (value >> 4) + 7;
  return index < 0 ? 0 : index > 15 ? 15 : index;
}

namespace {

int32_t same_value(int32_t v) { return v; }

}  // namespace

int think_final(SearchContext& ctx, RootScores* all) {
  int32_t scores[64];
  const RootChoice choice = choose_parallel(
      *ctx.board, ctx.value, int32_t{kNoScore},
      [&ctx](Board& copy, int s) { return -final_search(ctx, copy, square_row(s), square_col(s)); },
      all != nullptr ? scores : nullptr);
  report_root_scores(*ctx.board, scores, all, same_value);
  return play_choice(*ctx.board, choice);
}

int think_traditional(SearchContext& ctx, RootScores* all) {
  if (endgame_due(*ctx.board)) return think_final(ctx, all);
  int32_t scores[64];
  const RootChoice choice = choose_parallel(
      *ctx.board, ctx.value, int32_t{kNoScore},
      [&ctx](Board& copy, int s) {
        return square_weights[s] - deep_search(ctx, copy, 0, square_row(s), square_col(s));
      },
      all != nullptr ? scores : nullptr);
  report_root_scores(*ctx.board, scores, all, same_value);
  return play_choice(*ctx.board, choice);
}

int think_final(SearchContext& ctx) { return think_final(ctx, nullptr); }
int think_traditional(SearchContext& ctx) { return think_traditional(ctx, nullptr); }
int think_neuro(SearchContext& ctx) { return think_neuro(ctx, nullptr); }

const EngineCalls kEngineCalls = {think_neuro, think_traditional, learn_last_move};

ComputerMove engine_move(SearchContext& ctx, EngineKind engine, RootScores* all, const EngineCalls& calls) {
  if (all != nullptr) all->count = 0;
  const int played =
      engine == EngineKind::neuro ? calls.think_neuro(ctx, all) : calls.think_traditional(ctx, all);
  ComputerMove m{played != 0 ? 1 : 0, 0, 0, ctx.value};
  if (m.played != 0) {
    // The plane the move was played from records it.
    m.row = record_get(previous_plane(*ctx.board), kRecRow);
    m.col = record_get(previous_plane(*ctx.board), kRecCol);
  }
  return m;
}

ComputerMove computer_move(SearchContext& ctx, EngineKind engine, RootScores* all, const EngineCalls& calls) {
  if (engine == EngineKind::neuro && opponent_moves != 0) {
    opponent_moves = 0;
    calls.learn_last_move(ctx);
  }
  return engine_move(ctx, engine, all, calls);
}
