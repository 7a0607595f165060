// What the two neural searches share: their depth, the fixed square bias,
// their nodes and line values. A line is worth (bias + score) - (the reply's
// value), times 1.05 a ply, -1.05 through a pass and +-0.1 at the end. Each
// step is monotone, so alpha-beta applies with every window edge carried
// through the float rounding on the safe side.
#pragma once

#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>

#include "nn/network.h"
#include "search/bitboard.h"
#include "search/root.h"
#include "search/search.h"

// The searches recurse while depth < kNeuroDepth: the root move and four plies.
inline constexpr int kNeuroDepth = 3;
inline constexpr int kMaxReplies = 64;

// Fixed bias added to the network's score of each square.
// clang-format off
inline constexpr float square_bias[64] = {
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

// The values of a position's moves: c = bias + the scores it was given.
inline void move_values(const float* scores, float* c) {
  for (int i = 0; i < 64; ++i) c[i] = square_bias[i] + scores[i];
}

inline constexpr float kNoNeuroScore = -1.0e10f;  // no reply scored yet
inline constexpr double kPlyFactor = 1.05;
inline constexpr double kPassFactor = -1.05;
inline constexpr float kWinScore = 0.1f;
inline constexpr float kInfinity = std::numeric_limits<float>::infinity();

// The value the neural root reports for its best score: trunc(best x 50),
// the product formed in single precision like the scores. With no move
// chosen (best still the sentinel, which times 50 fits no int) it is kNoScore.
inline int32_t neuro_root_value(float best) {
  if (best == kNoNeuroScore) return kNoScore;
  const float v = std::trunc(best * 50.0f);
  if (!(v < 2147483648.0f)) return 2147483647;
  if (v < -2147483648.0f) return -2147483647 - 1;
  return static_cast<int32_t>(v);
}

inline float times(float x, double factor) { return static_cast<float>(static_cast<double>(x) * factor); }

// Some a with times(a, 1.05) <= t, and some b with times(b, 1.05) >= t: the
// quotient, stepped outwards until it holds (a step or two at most).
inline float ply_at_most(float t) {
  float a = static_cast<float>(static_cast<double>(t) / kPlyFactor);
  while (times(a, kPlyFactor) > t) a = std::nextafter(a, -kInfinity);
  return a;
}
inline float ply_at_least(float t) {
  float b = static_cast<float>(static_cast<double>(t) / kPlyFactor);
  while (times(b, kPlyFactor) < t) b = std::nextafter(b, kInfinity);
  return b;
}

// Some y with c - y <= t, and some y with c - y >= t (float subtraction).
inline float minus_at_most(float c, float t) {
  float y = c - t;
  while (c - y > t) y = std::nextafter(y, kInfinity);
  return y;
}
inline float minus_at_least(float c, float t) {
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

inline Node node_after(uint64_t me, uint64_t opp, int sq, uint64_t before_changed, uint64_t before_legal) {
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
inline NetPosition net_view(const Node& n) {
  const uint64_t other = (n.x | n.y) & ~n.mover;
  return NetPosition{n.mover, other, ~(n.x | n.y), n.changed, n.moves, n.before_changed, n.before_legal};
}

// The children of n, best scored by c first (equal scores in square order),
// with their squares; returns how many.
inline int children_best_first(const Node& n, const float* c, Node* child, int* square) {
  const uint64_t me = n.mover, opp = (n.x | n.y) & ~n.mover;
  int count = 0;
  for (uint64_t m = n.moves; m != 0; m &= m - 1) {
    const int s = lowest_square(m);
    int k = count++;
    for (; k > 0 && c[square[k - 1]] < c[s]; --k) {
      square[k] = square[k - 1];
      child[k] = child[k - 1];
    }
    square[k] = s;
    child[k] = node_after(me, opp, s, n.changed, n.moves);
  }
  return count;
}

// Working state of the fast search on one thread: batch scratch for the
// network, the scores of the positions being searched, and counters.
// Processor only. Both neural searches run on it.
struct NeuroWorker {
  const NeuralNet* net;
  std::unique_ptr<NetBatch> batch = make_net_batch();
  uint64_t nodes = 0;                          // moves played
  uint64_t evaluations = 0;                    // positions evaluated
  uint64_t batches = 0;                        // calls of the batched evaluation
  const std::atomic<int>* stop = nullptr;      // the engine call's stop (SearchContext.stop)
  float own[kNeuroDepth][64];                  // a node's own evaluation, when it makes it
  float scores[kNeuroDepth][kMaxReplies][64];  // its children's, at each depth
  NetPosition pending[kMaxReplies + 1];        // a batch being gathered
  float (*pending_out[kMaxReplies + 1])[64];   // and where its scores go
};
inline std::unique_ptr<NeuroWorker> make_neuro_worker(const NeuralNet& net,
                                                      const std::atomic<int>* stop = nullptr) {
  auto w = std::make_unique<NeuroWorker>();
  w->net = &net;
  w->stop = stop;
  return w;
}

// Evaluates the first `count` of w.pending into their destinations, counted.
inline void evaluate_pending(NeuroWorker& w, int count) {
  float results[kMaxReplies + 1][64];
  net_evaluate_batch(*w.net, *w.batch, w.pending, count, results);
  for (int k = 0; k < count; ++k) std::memcpy(*w.pending_out[k], results[k], sizeof results[k]);
  w.evaluations += static_cast<uint64_t>(count);
  ++w.batches;
}

// What a root adds up from each of its workers when it is given stats.
inline auto add_worker_counts(SearchStats* stats) {
  return [stats](std::unique_ptr<NeuroWorker>& w) {
    if (stats == nullptr) return;
    stats->nodes += w->nodes;
    stats->evaluations += w->evaluations;
    stats->batches += w->batches;
  };
}
