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

int think_final(SearchContext& ctx) {
  const RootChoice choice =
      choose_parallel_with(*ctx.board, ctx.value, int32_t{kNoScore}, make_search_tables,
                           [](std::unique_ptr<SearchTables>& tables, Board& copy, int s) {
                             return -final_search_window(*tables, copy, square_row(s), square_col(s),
                                                         -kDeepInfinity, kDeepInfinity);
                           });
  return play_choice(*ctx.board, choice);
}

int think_traditional(SearchContext& ctx) {
  if (endgame_due(*ctx.board)) return think_final(ctx);
  const RootChoice choice = choose_parallel_with(
      *ctx.board, ctx.value, int32_t{kNoScore}, make_search_tables,
      [](std::unique_ptr<SearchTables>& tables, Board& copy, int s) {
        return square_weights[s] - deep_search_window(*tables, copy, 0, square_row(s), square_col(s),
                                                      -kDeepInfinity, kDeepInfinity);
      });
  return play_choice(*ctx.board, choice);
}
