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

// Adds a thread's count of moves played to *stats.
auto count_nodes(SearchStats* stats) {
  return [stats](std::unique_ptr<SearchTables>& tables) {
    if (stats != nullptr) stats->nodes += tables->nodes;
  };
}

int final_root(SearchContext& ctx, SearchStats* stats) {
  const RootChoice choice = choose_parallel_with(
      *ctx.board, ctx.value, int32_t{kNoScore}, make_search_tables,
      [](std::unique_ptr<SearchTables>& tables, Board& copy, int s) {
        return -final_search_window(*tables, copy, square_row(s), square_col(s), -kDeepInfinity,
                                    kDeepInfinity);
      },
      count_nodes(stats));
  return play_choice(*ctx.board, choice);
}

int traditional_root(SearchContext& ctx, SearchStats* stats) {
  if (endgame_due(*ctx.board)) return final_root(ctx, stats);
  const RootChoice choice = choose_parallel_with(
      *ctx.board, ctx.value, int32_t{kNoScore}, make_search_tables,
      [](std::unique_ptr<SearchTables>& tables, Board& copy, int s) {
        return square_weights[s] - deep_search_window(*tables, copy, 0, square_row(s), square_col(s),
                                                      -kDeepInfinity, kDeepInfinity);
      },
      count_nodes(stats));
  return play_choice(*ctx.board, choice);
}

}  // namespace

int think_final(SearchContext& ctx) { return final_root(ctx, nullptr); }
int think_final(SearchContext& ctx, SearchStats& stats) { return final_root(ctx, &stats); }
int think_traditional(SearchContext& ctx) { return traditional_root(ctx, nullptr); }
int think_traditional(SearchContext& ctx, SearchStats& stats) { return traditional_root(ctx, &stats); }
