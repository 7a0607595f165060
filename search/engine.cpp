// The traditional engine's root and the exact endgame root, and the faces
// that show how the computer rates its move.
#include "search/engine.h"

#include <algorithm>
#include <memory>

#include "game/board.h"
#include "game/random.h"
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

// Adds a thread's count of moves played to *stats.
auto count_nodes(SearchStats* stats) {
  return [stats](std::unique_ptr<SearchTables>& tables) {
    if (stats != nullptr) stats->nodes += tables->nodes;
  };
}

// The window on a root move's search value v when its score is w - v and
// only scores of at least `best` matter (no bound with the sentinel, or when
// every score is wanted): a value of beta or more proves the score below best.
int proof_beta(int w, int best, const ThinkOptions& options) {
  return options.all != nullptr || best == kNoScore ? kDeepInfinity : w - best + 1;
}

}  // namespace

int think_final(SearchContext& ctx, const ThinkOptions& options) {
  int32_t scores[64];
  const RootChoice choice = choose_parallel_with(
      *ctx.board, ctx.value, int32_t{kNoScore}, make_search_tables,
      [&options](std::unique_ptr<SearchTables>& tables, Board& copy, int s, int32_t best) {
        return -final_search_window(*tables, copy, square_row(s), square_col(s), -kDeepInfinity,
                                    proof_beta(0, best, options));
      },
      count_nodes(options.stats), options.all != nullptr ? scores : nullptr);
  report_root_scores(*ctx.board, scores, options.all, same_value);
  return play_choice(*ctx.board, choice);
}

int think_traditional(SearchContext& ctx, const ThinkOptions& options) {
  if (endgame_due(*ctx.board)) return think_final(ctx, options);
  int32_t scores[64];
  const RootChoice choice = choose_parallel_with(
      *ctx.board, ctx.value, int32_t{kNoScore}, make_search_tables,
      [&options](std::unique_ptr<SearchTables>& tables, Board& copy, int s, int32_t best) {
        const int w = square_weights[s];
        return w - deep_search_window(*tables, copy, 0, square_row(s), square_col(s), -kDeepInfinity,
                                      proof_beta(w, best, options));
      },
      count_nodes(options.stats), options.all != nullptr ? scores : nullptr);
  report_root_scores(*ctx.board, scores, options.all, same_value);
  return play_choice(*ctx.board, choice);
}

const EngineCalls kEngineCalls = {think_neuro, think_traditional, learn_last_move};

ComputerMove engine_move(SearchContext& ctx, EngineKind engine, RootScores* all, const EngineCalls& calls) {
  if (all != nullptr) all->count = 0;
  const int played =
      engine == EngineKind::neuro ? calls.think_neuro(ctx, {all}) : calls.think_traditional(ctx, {all});
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

RootScores rank_root_moves(SearchContext& ctx, EngineKind engine) {
  auto copy = std::make_unique<Board>(*ctx.board);
  SearchContext c{copy.get(), ctx.net, ctx.value};
  RootScores ranked;
  tie_draws_held().store(true);
  engine_move(c, engine, &ranked);
  tie_draws_held().store(false);
  std::stable_sort(ranked.moves, ranked.moves + ranked.count,
                   [](const RootMove& a, const RootMove& b) { return a.value > b.value; });
  return ranked;
}
