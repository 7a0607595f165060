#include "search/neuro_position.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>

#include "search/bitboard.h"
#include "search/neuro_window.h"
#include "search/root.h"
#include "search/search.h"

namespace {

constexpr int kLimit = kNeuroDepth;  // nodes above the limit search their moves
constexpr int kFirst = 2;            // children evaluated before the first is searched

float end_value(const Node& n) {
  return times(count_of(n.x) > count_of(n.y) ? kWinScore : -kWinScore, kPlyFactor);
}

// The value of spot n at depth from the side that moved into it, within
// (alpha, beta), fail-soft; own: the evaluation of n's position.
float node_value(NeuroWorker& w, const Node& n, int depth, const float* own, float alpha, float beta) {
  if (n.over) return end_value(n);
  if (stop_requested(w.stop)) return 0.0f;  // abandoned: any value will do
  float c[64];
  move_values(own, c);
  float a = ply_at_most(alpha), b = ply_at_least(beta);
  if (n.pass) {  // the mover moves again: best = times(its best, -1.05)
    const float t = a;
    a = ply_at_most(-b);
    b = ply_at_least(-t);
  }
  float best = -kInfinity;
  if (depth >= kLimit) {
    for (uint64_t m = n.moves; m != 0; m &= m - 1) best = std::max(best, c[lowest_square(m)]);
  } else {
    // The moves, best scored first, and their positions.
    Node child[kMaxReplies];
    int square[kMaxReplies];
    const int count = children_best_first(n, c, child, square);
    float(*const scores)[64] = w.scores[depth];
    int evaluated = 0;
    const auto evaluate_up_to = [&](int upto) {
      int pending = 0;
      for (int k = evaluated; k < upto; ++k) {
        if (child[k].over) continue;
        w.pending[pending] = net_view(child[k]);
        w.pending_out[pending++] = &scores[k];
      }
      if (pending > 0) evaluate_pending(w, pending);
      evaluated = upto;
    };
    evaluate_up_to(std::min(count, kFirst));
    for (int k = 0; k < count && !stop_requested(w.stop); ++k) {
      if (k >= evaluated) evaluate_up_to(count);
      ++w.nodes;
      const float ck = c[square[k]];
      const float floor = std::max(best, a);
      const float v =
          ck - node_value(w, child[k], depth + 1, scores[k], minus_at_least(ck, b), minus_at_most(ck, floor));
      best = std::max(best, v);
      if (best >= b) break;
    }
  }
  if (n.pass) best = times(best, kPassFactor);
  return times(best, kPlyFactor);
}

// The same value, full width, one evaluation a position.
float reference_value(const NeuralNet& net, NetBatch& batch, const Node& n, int depth) {
  if (n.over) return end_value(n);
  const NetPosition p = net_view(n);
  float own[1][64];
  net_evaluate_batch(net, batch, &p, 1, own);
  float best = -kInfinity;
  const uint64_t me = n.mover, opp = (n.x | n.y) & ~n.mover;
  for (uint64_t m = n.moves; m != 0; m &= m - 1) {
    const int s = lowest_square(m);
    float v = square_bias[s] + own[0][s];
    if (depth < kLimit)
      v = v - reference_value(net, batch, node_after(me, opp, s, n.changed, n.moves), depth + 1);
    best = std::max(best, v);
  }
  if (n.pass) best = times(best, kPassFactor);
  return times(best, kPlyFactor);
}

Node root_spot(const Board& b, const NetPosition& root, int s) {
  const int32_t* plane = current_plane(b);
  return node_after(stones_of(plane, b.side), stones_of(plane, other_colour(b.side)), s, root.changed,
                    root.legal);
}

}  // namespace

bool neuro_searches_position(const NeuralNet& net) { return net.learn_rule != LearnRule::imitation; }

bool neuro_position_applies(const Board& b) {
  if (ply_may_run_out(b, kLimit + 1)) return false;
  const int32_t* plane = current_plane(b);
  const uint64_t me = stones_of(plane, b.side), opp = stones_of(plane, other_colour(b.side));
  for (int s = 0; s < 64; ++s)
    if (root_move_at(b, s) &&
        (playable_square(b, square_row(s), square_col(s)) < 0 || flips_of(me, opp, s) == 0))
      return false;
  return true;
}

float neuro_position_reference(const NeuralNet& net, const Board& b, int s) {
  const auto batch = make_net_batch();
  const NetPosition root = net_position(current_plane(b), b.ply == 0);
  return reference_value(net, *batch, root_spot(b, root, s), 0);
}

int think_neuro_position(SearchContext& ctx, const ThinkOptions& options) {
  Board& live = *ctx.board;
  const NeuralNet& net = *ctx.net;
  const NetPosition root = net_position(current_plane(live), live.ply == 0);
  float own[1][64];
  net_evaluate_batch(net, *make_net_batch(), &root, 1, own);
  float c[64];
  move_values(own[0], c);
  SearchStats* const stats = options.stats;
  if (stats != nullptr) {
    ++stats->evaluations;
    ++stats->batches;
  }
  float best = kNoNeuroScore;
  float scores[64];
  const RootChoice choice = choose_parallel_with(
      live, best, kNoNeuroScore, [&] { return make_neuro_worker(net, ctx.stop); },
      [&](std::unique_ptr<NeuroWorker>& w, Board& copy, int s, float best_now) {
        const Node n = root_spot(copy, root, s);
        ++w->nodes;
        float first[1][64] = {};
        if (!n.over) {
          w->pending[0] = net_view(n);
          w->pending_out[0] = &first[0];
          evaluate_pending(*w, 1);
        }
        // Only a score of best_now or more matters.
        const bool bounded = options.all == nullptr && best_now != kNoNeuroScore;
        const float beta = bounded ? minus_at_most(c[s], std::nextafter(best_now, -kInfinity)) : kInfinity;
        return c[s] - node_value(*w, n, 0, first[0], -kInfinity, beta);
      },
      add_worker_counts(stats), options.all != nullptr ? scores : nullptr);
  if (stop_requested(ctx.stop)) return 0;
  ctx.value = neuro_root_value(best);
  report_root_scores(live, scores, options.all, neuro_root_value);
  return play_choice(live, choice);
}
