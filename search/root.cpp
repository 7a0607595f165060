// The traditional engine's root and the exact endgame root: both score a
// square as its weight less the search value of the position after it.
#include "search/root.h"

#include <memory>

#include "search/search.h"

namespace {

// The integer root: square s scores weight(s) - search(tables, copy, s,
// beta), the search run in the window (-kDeepInfinity, beta) with the
// thread's own table. Where only the move is wanted, beta proves a score
// below the best found so far (a value of beta or more). What the searches
// did goes to options.stats; the scores to options.all; the best is played.
template <typename Weight, typename Search>
int think_integer(SearchContext& ctx, const ThinkOptions& options, const Weight& weight,
                  const Search& search) {
  int32_t scores[64];
  const RootChoice choice = choose_parallel_with(
      *ctx.board, ctx.value, int32_t{kNoScore}, [&ctx] { return make_search_tables(ctx.stop); },
      [&](std::unique_ptr<SearchTables>& tables, Board& copy, int s, int32_t best) {
        const int w = weight(s);
        const bool bounded = options.all == nullptr && best != kNoScore;
        return w - search(*tables, copy, s, bounded ? w - best + 1 : kDeepInfinity);
      },
      [stats = options.stats](std::unique_ptr<SearchTables>& tables) {
        if (stats != nullptr) stats->nodes += tables->nodes;
      },
      options.all != nullptr ? scores : nullptr);
  if (stop_requested(ctx.stop)) return 0;
  report_root_scores(*ctx.board, scores, options.all, [](int32_t v) { return v; });
  return play_choice(*ctx.board, choice);
}

}  // namespace

int think_final(SearchContext& ctx, const ThinkOptions& options) {
  return think_integer(
      ctx, options, [](int) { return 0; },
      [](SearchTables& tables, const Board& b, int s, int beta) {
        return final_search_window(tables, b, square_row(s), square_col(s), -kDeepInfinity, beta);
      });
}

int think_traditional(SearchContext& ctx, const ThinkOptions& options) {
  if (endgame_due(*ctx.board)) return think_final(ctx, options);
  return think_integer(
      ctx, options, [](int s) { return square_weights[s]; },
      [](SearchTables& tables, const Board& b, int s, int beta) {
        return deep_search_window(tables, b, 0, square_row(s), square_col(s), -kDeepInfinity, beta);
      });
}
