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
#include "search/engine.h"
#include "search/neuro_position.h"
#include "search/root.h"
#include "search/search.h"

namespace {

constexpr float kNoNeuroScore = -1.0e10f;  // no reply scored yet
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
// by a float on the safe side (the helpers below).

constexpr float kInfinity = std::numeric_limits<float>::infinity();

float times(float x, double factor) { return static_cast<float>(static_cast<double>(x) * factor); }

// Some a with times(a, 1.05) <= t, and some b with times(b, 1.05) >= t: the
// quotient, stepped outwards until it holds (a step or two at most).
float ply_at_most(float t) {
  float a = static_cast<float>(static_cast<double>(t) / kPlyFactor);
  while (times(a, kPlyFactor) > t) a = std::nextafter(a, -kInfinity);
  return a;
}
float ply_at_least(float t) {
  float b = static_cast<float>(static_cast<double>(t) / kPlyFactor);
  while (times(b, kPlyFactor) < t) b = std::nextafter(b, kInfinity);
  return b;
}

// Some y with c - y <= t, and some y with c - y >= t (float subtraction).
float minus_at_most(float c, float t) {
  float y = c - t;
  while (c - y > t) y = std::nextafter(y, kInfinity);
  return y;
}
float minus_at_least(float c, float t) {
  float y = c - t;
  while (c - y < t) y = std::nextafter(y, -kInfinity);
  return y;
}

// The position after a move, as a node of the search.
struct Node {
  uint64_t x, y;                          // stones of the side to move and of the player who moved
  uint64_t mover;                         // stones of the side that moves from here (y after a pass)
  uint64_t moves;                         // that side's moves: the legal marks of the plane
  uint64_t changed;                       // the placed and the turned stones: the changed marks
  uint64_t before_changed, before_legal;  // the marks of the plane moved from
  bool pass;                              // x cannot move and y moves again
  bool over;                              // neither side can move
};

Node node_after(uint64_t me, uint64_t opp, int sq, uint64_t before_changed, uint64_t before_legal) {
  const uint64_t placed = flips_of(me, opp, sq) | uint64_t{1} << sq;
  Node n{};
  n.x = opp & ~placed;
  n.y = me | placed;
  n.changed = placed;
  n.before_changed = before_changed;
  n.before_legal = before_legal;
  n.mover = n.x;
  n.moves = legal_moves(n.x, n.y);
  if (n.moves == 0) {
    n.pass = true;
    n.mover = n.y;
    n.moves = legal_moves(n.y, n.x);
    n.over = n.moves == 0;
  }
  return n;
}

// The network's view of a node's plane: what its children's replies are scored by.
NetPosition net_view(const Node& n) {
  const uint64_t other = (n.x | n.y) & ~n.mover;
  return NetPosition{n.mover, other, ~(n.x | n.y), n.changed, n.moves, n.before_changed, n.before_legal};
}

// Children evaluated before the first of them is searched: a node that cuts
// off needs only its first few; one that does not then evaluates the rest
// together. A second position costs a batch little more than the first (the
// weights stream past once either way).
constexpr int kFirstBatch = 2;

float neuro_node(NeuroWorker& w, const Node& n, int depth, const float* c, const float* own, float alpha,
                 float beta);

// Evaluates the first `count` of w.pending into their destinations.
void evaluate_pending(NeuroWorker& w, int count) {
  float results[kMaxReplies + 1][64];
  net_evaluate_batch(*w.net, *w.batch, w.pending, count, results);
  for (int k = 0; k < count; ++k) std::memcpy(*w.pending_out[k], results[k], sizeof results[k]);
  w.evaluations += static_cast<uint64_t>(count);
  ++w.batches;
}

// The best reply of node n (replies scored by c = bias + the scores of the
// plane moved from) within (a, b), fail-soft. Below the depth limit the
// replies' own replies are scored by `own`, the evaluation of n's plane;
// null when it has not been made yet.
float neuro_replies(NeuroWorker& w, const Node& n, int depth, const float* c, const float* own, float a,
                    float b) {
  uint64_t moves = n.moves;
  const uint64_t me = n.mover, opp = (n.x | n.y) & ~n.mover;
  if (stop_requested(w.stop)) return 0.0f;  // the engine call is abandoned: any value will do
  if (depth >= kNeuroDepth) {
    float best = -kInfinity;
    for (; moves != 0; moves &= moves - 1) best = std::max(best, c[lowest_square(moves)]);
    return best;
  }
  // The replies, best scored first.
  Node child[kMaxReplies];
  int square[kMaxReplies];
  int count = 0;
  for (; moves != 0; moves &= moves - 1) {
    const int s = lowest_square(moves);
    int k = count++;
    for (; k > 0 && c[square[k - 1]] < c[s]; --k) {
      square[k] = square[k - 1];
      child[k] = child[k - 1];
    }
    square[k] = s;
    child[k] = node_after(me, opp, s, n.changed, n.moves);
  }
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
  for (int i = 0; i < 64; ++i) child_c[i] = square_bias[i] + own[i];

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

}  // namespace

std::unique_ptr<NeuroWorker> make_neuro_worker(const NeuralNet& net, const std::atomic<int>* stop) {
  auto w = std::make_unique<NeuroWorker>();
  w->net = &net;
  w->stop = stop;
  return w;
}

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
  for (int i = 0; i < 64; ++i) c[i] = square_bias[i] + s[i];
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

int think_neuro(SearchContext& ctx, const ThinkOptions& options) {
  Board& live = *ctx.board;
  if (endgame_due(live)) return think_final(ctx, options);
  if (neuro_searches_position(*ctx.net) && neuro_position_applies(live))
    return think_neuro_position(ctx, options);
  SearchStats* const stats = options.stats;
  RootScores* const all = options.all;
  float best = kNoNeuroScore;
  float scores[64];
  float* const wanted = all != nullptr ? scores : nullptr;
  // The network's view of the root, from the plane the last move was played
  // from; before the first move of a game there is none and every square
  // scores 0.
  const bool last_move = has_last_move(live);
  if (!net_parallel_evaluations(*ctx.net)) {
    // The GPU holds one set of buffers: its evaluations are issued one at a
    // time, by the reference search on the live board.
    float out[64];
    if (last_move) {
      net_evaluate(*ctx.net, previous_plane(live), live.ply == 1, out);
    } else {
      std::memset(out, 0, sizeof out);
    }
    const RootChoice choice = choose_sequential(
        live, best, kNoNeuroScore,
        [&ctx, &out](Board& b, int s) {
          return out[s] + square_bias[s] - neuro_search_reference(ctx, b, 0, square_row(s), square_col(s));
        },
        wanted);
    if (stop_requested(ctx.stop)) return 0;
    ctx.value = neuro_root_value(best);
    report_root_scores(live, scores, all, neuro_root_value);
    return play_choice(live, choice);
  }
  // Two evaluations serve every root move: the network's view of the root
  // (out) and the scores of the root's replies (from the root plane, which
  // every root move is played from).
  const NetPosition root = net_position(current_plane(live), live.ply == 0);
  NetPosition views[2] = {root, {}};
  if (last_move) views[1] = net_position(previous_plane(live), live.ply == 1);
  float evaluated[2][64] = {};
  net_evaluate_batch(*ctx.net, *make_net_batch(), views, last_move ? 2 : 1, evaluated);
  if (stats != nullptr) {
    stats->evaluations += last_move ? 2 : 1;
    ++stats->batches;
  }
  const float* out = evaluated[1];
  float c[64];
  for (int i = 0; i < 64; ++i) c[i] = square_bias[i] + evaluated[0][i];
  const RootChoice choice = choose_parallel_with(
      live, best, kNoNeuroScore, [&ctx] { return make_neuro_worker(*ctx.net, ctx.stop); },
      [&](std::unique_ptr<NeuroWorker>& w, Board& copy, int s, float best_now) {
        const int row = square_row(s), col = square_col(s);
        const float own = out[s] + square_bias[s];
        if (!fast_neuro_applies(copy, 0, row, col))
          return own - neuro_search_reference(ctx, copy, 0, row, col);
        // Only a score of best_now or more matters: a search value of beta or
        // more proves the score below it.
        const bool bounded = all == nullptr && best_now != kNoNeuroScore;
        const float beta = bounded ? minus_at_most(own, std::nextafter(best_now, -kInfinity)) : kInfinity;
        return own - neuro_move(*w, copy, root, 0, s, c, -kInfinity, beta);
      },
      [stats](std::unique_ptr<NeuroWorker>& w) {
        if (stats == nullptr) return;
        stats->nodes += w->nodes;
        stats->evaluations += w->evaluations;
        stats->batches += w->batches;
      },
      wanted);
  if (stop_requested(ctx.stop)) return 0;
  ctx.value = neuro_root_value(best);
  report_root_scores(live, scores, all, neuro_root_value);
  return play_choice(live, choice);
}
