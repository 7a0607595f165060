// The computer's move, the hint's ranking, and the faces that show how the
// computer rates its move.
#include "search/engine.h"

#include <algorithm>
#include <memory>

#include "game/board.h"
#include "game/random.h"

const char* const mood_faces[16] = {
    "<;o;>", ";o;", "<;_;>", ";_;", "<;.;>", ";.;", "-.-;", "-.-",
    "-_-;",  "-_-", "^_^;",  "^_^", "^.^;",  "^.^", "^o^",  "^o^/",
};

int mood_index(int value) {
  const int index = (value >> 4) + 7;
  return index < 0 ? 0 : index > 15 ? 15 : index;
}

const EngineCalls kEngineCalls = {think_neuro, think_traditional, learn_last_move};

ComputerMove engine_move(SearchContext& ctx, ThinkType engine, RootScores* all, const EngineCalls& calls) {
  if (all != nullptr) all->count = 0;
  const int played =
      engine == ThinkType::neuro ? calls.think_neuro(ctx, {all}) : calls.think_traditional(ctx, {all});
  ComputerMove m{played != 0 ? 1 : 0, 0, 0, ctx.value};
  if (m.played != 0) {
    // The plane the move was played from records it.
    m.row = record_get(previous_plane(*ctx.board), kRecRow);
    m.col = record_get(previous_plane(*ctx.board), kRecCol);
  }
  return m;
}

ComputerMove computer_move(SearchContext& ctx, ThinkType engine, RootScores* all, const EngineCalls& calls) {
  if (engine == ThinkType::neuro && opponent_moves != 0) {
    opponent_moves = 0;
    calls.learn_last_move(ctx);
  }
  return engine_move(ctx, engine, all, calls);
}

RootScores rank_root_moves(SearchContext& ctx, ThinkType engine) {
  auto copy = std::make_unique<Board>(*ctx.board);
  SearchContext c{copy.get(), ctx.net, ctx.value, ctx.stop};  // a stop ends it too, with no moves
  RootScores ranked;
  tie_draws_held().store(true);
  engine_move(c, engine, &ranked);
  tie_draws_held().store(false);
  std::stable_sort(ranked.moves, ranked.moves + ranked.count,
                   [](const RootMove& a, const RootMove& b) { return a.value > b.value; });
  return ranked;
}
