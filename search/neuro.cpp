#include "search/neuro.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "game/random.h"
#include "nn/network.h"
#include "search/bitboard.h"
#include "search/neuro_position.h"
#include "search/neuro_window.h"
#include "search/root.h"
#include "search/search.h"

void neuro_evaluate(SearchContext& ctx, const int32_t* plane, bool first_plane, float* scores) {
  thread_local NetScratch scratch;
  net_evaluate(*ctx.net, scratch, plane, first_plane, scores);
}

float neuro_search_reference(SearchContext& ctx, Board& b, int depth, int row, int col) {
  // An abandoned engine call evaluates no more (on the GPU: launches no more
  // kernels) and leaves b as given; any value will do.
  if (stop_requested(ctx.stop)) return 0.0f;
  if (play(b, row, col) == 0) {
    search_message(SearchMessage::deep);
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
      if (depth < kNeuroDepth) v = v - neuro_search_reference(ctx, b, depth + 1, r, c);
      if (root_takes(v, best)) best = v;
    }
  };
  score_replies();

  if (best == kNoNeuroScore) {
    if (check_end(b)) {
      const int lead = b.side == 1 ? b.discs1 - b.discs2 : b.discs2 - b.discs1;  // the mover's
      best = lead > 0 ? kWinScore : -kWinScore;
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

namespace {

// ---- The fast search: the same values over square sets, with pruning. ----
//
// The scores a node gives its replies come from the evaluation of the plane
// the move into it was played from, and that evaluation reads nothing of the
// move played (only the plane, its marks and its mover, and the marks of the
// plane before). So all the replies of one position share one evaluation:
// each node below the depth limit is evaluated once, for all its replies,
// instead of once per reply. The children of a node are evaluated together
// (net_evaluate_batch). Its value is times(best, 1.05), best the greatest
// (bias + score) - (reply's value): each step is monotone, so alpha-beta
// (fail-soft) applies, with every window edge carried through the rounding
// by a float on the safe side (search/neuro_window.h).

// Children evaluated before the first of them is searched: a node that cuts
// off needs only its first few; one that does not then evaluates the rest
// together. A second position costs a batch little more than the first (the
// weights stream past once either way).
constexpr int kFirstBatch = 2;

float neuro_node(NeuroWorker& w, const Node& n, int depth, const float* c, const float* own, float alpha,
                 float beta);

// The best reply of node n (replies scored by c = bias + the scores of the
// plane moved from) within (a, b), fail-soft. Below the depth limit the
// replies' own replies are scored by `own`, the evaluation of n's plane;
// null when it has not been made yet.
float neuro_replies(NeuroWorker& w, const Node& n, int depth, const float* c, const float* own, float a,
                    float b) {
  if (stop_requested(w.stop)) return 0.0f;  // the engine call is abandoned: any value will do
  if (depth >= kNeuroDepth) {
    float best = -kInfinity;
    for (uint64_t m = n.moves; m != 0; m &= m - 1) best = std::max(best, c[lowest_square(m)]);
    return best;
  }
  // The replies, best scored first.
  Node child[kMaxReplies];
  int square[kMaxReplies];
  const int count = children_best_first(n, c, child, square);
  // The evaluations: n's own (when not yet made) and those of the children
  // that have replies to score below the limit, in two batches.
  const bool children_evaluate = depth + 1 < kNeuroDepth;
  float(*const scores)[64] = w.scores[depth];
  int evaluated = 0;
  const auto evaluate_up_to = [&](int upto) {
    int pending = 0;
    if (own == nullptr) {
      w.pending[pending] = net_view(n);
      w.pending_out[pending++] = &w.own[depth];
    }
    if (children_evaluate) {
      for (int k = evaluated; k < upto; ++k) {
        if (child[k].over) continue;
        w.pending[pending] = net_view(child[k]);
        w.pending_out[pending++] = &scores[k];
      }
    }
    evaluated = upto;
    if (pending > 0) evaluate_pending(w, pending);
    if (own == nullptr) own = w.own[depth];
  };
  evaluate_up_to(count < kFirstBatch ? count : kFirstBatch);
  float child_c[64];
  move_values(own, child_c);

  float best = -kInfinity;
  for (int k = 0; k < count && !stop_requested(w.stop); ++k) {
    if (k >= evaluated) evaluate_up_to(count);
    ++w.nodes;
    const float ck = c[square[k]];
    const float floor = best > a ? best : a;
    const float v = ck - neuro_node(w, child[k], depth + 1, child_c, children_evaluate ? scores[k] : nullptr,
                                    minus_at_least(ck, b), minus_at_most(ck, floor));
    if (v > best) best = v;
    if (best >= b) break;
  }
  return best;
}

// The value of node n at `depth` within (alpha, beta), fail-soft: what
// neuro_search returns for the move into n. c scores n's replies.
float neuro_node(NeuroWorker& w, const Node& n, int depth, const float* c, const float* own, float alpha,
                 float beta) {
  if (n.over) return times(count_of(n.x) > count_of(n.y) ? kWinScore : -kWinScore, kPlyFactor);
  const float a = ply_at_most(alpha), b = ply_at_least(beta);
  float best;
  if (!n.pass) {
    best = neuro_replies(w, n, depth, c, own, a, b);
  } else {
    // The mover moves again with the same scores; best = times(its best, -1.05).
    best = times(neuro_replies(w, n, depth, c, own, ply_at_most(-b), ply_at_least(-a)), kPassFactor);
  }
  return times(best, kPlyFactor);
}

// The value of the move sq of b's side to move at `depth`, within (alpha,
// beta), fail-soft; c scores the replies (bias + the evaluation of b's
// current plane).
float neuro_move(NeuroWorker& w, const Board& b, const NetPosition& root, int depth, int sq, const float* c,
                 float alpha, float beta) {
  const int32_t* plane = current_plane(b);
  const Node n = node_after(stones_of(plane, b.side), stones_of(plane, other_colour(b.side)), sq,
                            root.changed, root.legal);
  ++w.nodes;
  return neuro_node(w, n, depth, c, nullptr, alpha, beta);
}

// True when the fast search can score (row, col) of b at depth: otherwise
// the reference does, printing what it prints.
bool fast_neuro_applies(const Board& b, int depth, int row, int col) {
  const int sq = playable_square(b, row, col);
  if (sq < 0 || ply_may_run_out(b, depth < kNeuroDepth ? kNeuroDepth - depth : 0)) return false;
  const int32_t* plane = current_plane(b);
  return flips_of(stones_of(plane, b.side), stones_of(plane, other_colour(b.side)), sq) != 0;
}

// What the root scores its moves with: scores[1], the network's scores of
// them (from the plane the last move was played from; all 0 before the first
// move of a game), and for the fast search the root's view and c = bias +
// scores[0], the scores of the replies (from the root plane).
struct NeuroRoot {
  NetPosition view;
  float scores[2][64];
  float c[64];
};

// The root's evaluations: out alone, through the back end, when they must
// run one at a time; else out and c in one batch.
NeuroRoot neuro_root(SearchContext& ctx, bool side_by_side, SearchStats* stats) {
  const Board& live = *ctx.board;
  const bool last_move = has_last_move(live);
  NeuroRoot r{};
  if (!side_by_side) {
    if (last_move) net_evaluate(*ctx.net, previous_plane(live), live.ply == 1, r.scores[1]);
    return r;
  }
  r.view = net_position(current_plane(live), live.ply == 0);
  NetPosition views[2] = {r.view, {}};
  if (last_move) views[1] = net_position(previous_plane(live), live.ply == 1);
  net_evaluate_batch(*ctx.net, *make_net_batch(), views, last_move ? 2 : 1, r.scores);
  if (stats != nullptr) {
    stats->evaluations += last_move ? 2 : 1;
    ++stats->batches;
  }
  move_values(r.scores[0], r.c);
  return r;
}

// The score of root move s on b (the live board, or a copy of it): its own
// score less the value of the move, by w's fast search, or by the reference
// where there is no worker (the network on the GPU) or the fast search cannot
// score it. Only a score of best_now or more matters (any while it is the
// no-score sentinel): a search value of beta or more proves the score below it.
float neuro_root_move(SearchContext& ctx, const NeuroRoot& root, NeuroWorker* w, Board& b, int s,
                      float best_now) {
  const int row = square_row(s), col = square_col(s);
  const float own = root.scores[1][s] + square_bias[s];
  if (w == nullptr || !fast_neuro_applies(b, 0, row, col))
    return own - neuro_search_reference(ctx, b, 0, row, col);
  const float beta =
      best_now != kNoNeuroScore ? minus_at_most(own, std::nextafter(best_now, -kInfinity)) : kInfinity;
  return own - neuro_move(*w, b, root.view, 0, s, root.c, -kInfinity, beta);
}

}  // namespace

float neuro_search_window(NeuroWorker& w, const Board& b, int depth, int row, int col, float alpha,
                          float beta) {
  if (!fast_neuro_applies(b, depth, row, col)) {
    const auto copy = std::make_unique<Board>(b);
    SearchContext ctx{copy.get(), const_cast<NeuralNet*>(w.net), 0, w.stop};
    return neuro_search_reference(ctx, *copy, depth, row, col);
  }
  const NetPosition root = net_position(current_plane(b), b.ply == 0);
  float s[64];
  net_evaluate_batch(*w.net, *w.batch, &root, 1, &s);
  ++w.evaluations;
  ++w.batches;
  float c[64];
  move_values(s, c);
  return neuro_move(w, b, root, depth, square_of(row, col), c, alpha, beta);
}

float neuro_search(SearchContext& ctx, Board& b, int depth, int row, int col) {
  if (!net_parallel_evaluations(*ctx.net))
    return neuro_search_reference(ctx, b, depth, row, col);  // one evaluation at a time
  const auto w = make_neuro_worker(*ctx.net);
  return neuro_search_window(*w, b, depth, row, col, -kInfinity, kInfinity);
}

void learn_last_move(SearchContext& ctx) {
  if (ctx.board->ply == 0) return;
  net_learn(*ctx.net, previous_plane(*ctx.board), ctx.board->ply == 1);
}

// The root asks the back end once whether evaluations may run side by side:
// then the moves are searched on copies, in parallel, each thread with a
// worker of its own; else one after the other on the live board.
int think_neuro(SearchContext& ctx, const ThinkOptions& options) {
  Board& live = *ctx.board;
  if (endgame_due(live)) return think_final(ctx, options);
  if (neuro_searches_position(*ctx.net) && neuro_position_applies(live))
    return think_neuro_position(ctx, options);
  const bool side_by_side = net_parallel_evaluations(*ctx.net);
  const NeuroRoot root = neuro_root(ctx, side_by_side, options.stats);
  float best = kNoNeuroScore;
  float scores[64];
  float* const wanted = options.all != nullptr ? scores : nullptr;  // every move's exact score
  const RootChoice choice =
      side_by_side
          ? choose_parallel_with(
                live, best, kNoNeuroScore, [&ctx] { return make_neuro_worker(*ctx.net, ctx.stop); },
                [&](std::unique_ptr<NeuroWorker>& w, Board& b, int s, float best_now) {
                  return neuro_root_move(ctx, root, w.get(), b, s, wanted ? kNoNeuroScore : best_now);
                },
                add_worker_counts(options.stats), wanted)
          : choose_sequential(
                live, best, kNoNeuroScore,
                [&](Board& b, int s) { return neuro_root_move(ctx, root, nullptr, b, s, kNoNeuroScore); },
                wanted);
  if (stop_requested(ctx.stop)) return 0;
  ctx.value = neuro_root_value(best);
  report_root_scores(live, scores, options.all, neuro_root_value);
  return play_choice(live, choice);
}
