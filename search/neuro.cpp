#include "search/neuro.h"

#include <cstdio>

#include "game/random.h"
#include "nn/network.h"
#include "search/engine.h"

namespace {

constexpr float kNoScore = -1.0e10f;
constexpr int kNeuroDepth = 3;  // the root move and four plies below it
constexpr double kPlyFactor = 1.05;
constexpr double kPassFactor = -1.05;
constexpr float kWinScore = 0.1f;

}  // namespace

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

void neuro_evaluate(SearchContext& ctx, const int32_t* plane, float* scores) {
  if (ctx.net->gpu_on) {
    net_evaluate(*ctx.net, plane, scores);  // the GPU path runs on one thread
    return;
  }
  thread_local NetScratch scratch;
  net_evaluate_concurrent(*ctx.net, scratch, plane, scores);
}

float neuro_search(SearchContext& ctx, Board& b, int depth, int row, int col) {
  if (play(b, row, col) == 0) {
    std::fputs("Error: unknown loop in deep...\n", stderr);
    return 0.0f;
  }
  // The replies are scored from the plane the move was just played from.
  float s[64];
  neuro_evaluate(ctx, previous_plane(b), s);

  float best = kNoScore;
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

  if (best == kNoScore) {
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
  net_learn(*ctx.net, previous_plane(*ctx.board));
}
