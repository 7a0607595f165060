#include "search/neuro.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "game/random.h"
#include "nn/network.h"
#include "search/engine.h"
#include "search/root.h"
#include "search/search.h"

namespace {

constexpr float kNoNeuroScore = -1.0e10f;  // no reply scored yet
constexpr int kNeuroDepth = 3;             // the root move and four plies below it
constexpr double kPlyFactor = 1.05;
constexpr double kPassFactor = -1.05;
constexpr float kWinScore = 0.1f;
constexpr float kValueScale = 50.0f;  // the reported value is trunc(best x 50)

}  // namespace

// The product is formed in single precision like the scores. The float
// sentinel times 50 fits no int, so no move reports the integer roots' one.
int32_t neuro_root_value(float best) {
  if (best == kNoNeuroScore) return kNoScore;
  const float v = std::trunc(best * kValueScale);
  if (!(v < 2147483648.0f)) return 2147483647;
  if (v < -2147483648.0f) return -2147483647 - 1;
  return static_cast<int32_t>(v);
}

int opponent_moves = 0;

// clang-format off
const float square_bias[64] = {
     0.5f, -0.2f, -0.1f, -0.1f, -0.1f, -0.1f, -0.2f,  0.5f,
    -0.2f, -0.2f,  0.0f,  0.0f,  0.0f,  0.0f, -0.2f, -0.2f,
    -0.1f,  0.0f,  0.0f,  0.0f,  0.0f,  0.0f,  0.0f, -0.1f,
    -0.1f,  0.0f,  0.0f,  0.0f,  0.0f,  0.0f,  0.0f, -0.1f,
    -0.1f,  0.0f,  0.0f,  0.0f,  0.0f,  0.0f,  0.0f, -0.1f,
    -0.1f,  0.0f,  0.0f,  0.0f,  0.0f,  0.0f,  0.0f, -0.1f,
    -0.2f, -0.2f,  0.0f,  0.0f,  0.0f,  0.0f, -0.2f, -0.2f,
     0.5f, -0.2f, -0.1f, -0.1f, -0.1f, -0.1f, -0.2f,  0.5f,
};
// clang-format on

void neuro_evaluate(SearchContext& ctx, const int32_t* plane, bool first_plane, float* scores) {
  if (!net_parallel_evaluations(*ctx.net)) {
    net_evaluate(*ctx.net, plane, first_plane, scores);  // one evaluation at a time
    return;
  }
  thread_local NetScratch scratch;
  net_evaluate_concurrent(*ctx.net, scratch, plane, first_plane, scores);
}

float neuro_search(SearchContext& ctx, Board& b, int depth, int row, int col) {
  if (play(b, row, col) == 0) {
    std::fputs("Error: unknown loop in deep...\n", stderr);
    return 0.0f;
  }
  // The replies are scored from the plane the move was just played from.
  float s[64];
  neuro_evaluate(ctx, previous_plane(b), b.ply == 1, s);

  float best = kNoNeuroScore;
  const auto score_replies = [&] {
    const int32_t* p = current_plane(b);
    for (int i = 0; i < 64; ++i) {
      const int r = square_row(i), c = square_col(i);
      if ((p[cell_index(r, c)] & kLegalMark) == 0) continue;
      float v = square_bias[i] + s[i];
      if (depth < kNeuroDepth) v = v - neuro_search(ctx, b, depth + 1, r, c);
      if (v > best) {
        best = v;
      } else if (v == best && tie_draw()) {
        best = v;
      }
    }
  };
  score_replies();

  if (best == kNoNeuroScore) {
    if (check_end(b)) {
      const int mine = b.side == 1 ? b.discs1 : b.discs2;
      const int theirs = b.side == 1 ? b.discs2 : b.discs1;
      best = mine > theirs ? kWinScore : -kWinScore;
    } else {
      // The turn came back to the mover: the same plane was played from, so
      // the same scores serve.
      score_replies();
      hand_over(b);
      best = static_cast<float>(static_cast<double>(best) * kPassFactor);
    }
  }
  take_back(b);
  return static_cast<float>(static_cast<double>(best) * kPlyFactor);
}

void learn_last_move(SearchContext& ctx) {
  if (ctx.board->ply == 0) return;
  net_learn(*ctx.net, previous_plane(*ctx.board), ctx.board->ply == 1);
}

int think_neuro(SearchContext& ctx, RootScores* all) {
  Board& live = *ctx.board;
  if (endgame_due(live)) return think_final(ctx, all);
  // The network's view of the root, from the plane the last move was played
  // from; before the first move of a game there is none and every square
  // scores 0.
  float out[64];
  if (has_last_move(live)) {
    net_evaluate(*ctx.net, previous_plane(live), live.ply == 1, out);
  } else {
    std::memset(out, 0, sizeof out);
  }
  const auto score_square = [&ctx, &out](Board& b, int s) {
    return out[s] + square_bias[s] - neuro_search(ctx, b, 0, square_row(s), square_col(s));
  };
  float best = kNoNeuroScore;
  float scores[64];
  float* const wanted = all != nullptr ? scores : nullptr;
  const RootChoice choice = net_parallel_evaluations(*ctx.net)
                                ? choose_parallel(live, best, kNoNeuroScore, score_square, wanted)
                                : choose_sequential(live, best, kNoNeuroScore, score_square, wanted);
  ctx.value = neuro_root_value(best);
  report_root_scores(live, scores, all, neuro_root_value);
  return play_choice(live, choice);
}
