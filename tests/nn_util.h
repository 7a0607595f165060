// Helpers for the network's tests: networks on the heap, parameters from a
// seeded generator, positions from random games.
#pragma once

#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "game/board.h"
#include "nn/network.h"

// A zero-filled network on the heap (4 MB each).
inline std::unique_ptr<NeuralNet> zero_net() { return std::make_unique<NeuralNet>(); }

// Every bias uniform in [-spread, spread] and every weight in
// [-weight_spread, weight_spread] (the same spread unless given), then the
// derived copy refreshed.
inline void random_params(NeuralNet& net, std::mt19937& rng, float spread, float weight_spread = 0.0f) {
  std::uniform_real_distribution<float> u(-spread, spread);
  std::uniform_real_distribution<float> w(-(weight_spread > 0.0f ? weight_spread : spread),
                                          weight_spread > 0.0f ? weight_spread : spread);
  for (auto& layer : net.bias)
    for (float& v : layer) v = u(rng);
  for (auto& block : net.weight)
    for (auto& row : block)
      for (float& v : row) v = w(rng);
  net_params_changed(net);
}

// The start position with (row 4, column 3) played by colour 1. Plane 0 then
// holds colour 1 on squares 28 and 35, colour 2 on 27 and 36, the legal
// marks 19, 26, 37 and 44, and the move to square 26.
inline std::unique_ptr<Board> after_first_move() {
  auto b = std::make_unique<Board>();
  new_game(*b);
  play(*b, 4, 3);
  return b;
}

// The -nnc header line, newline included.
inline std::string csv_header() {
  std::string h;
  for (int i = 0; i < 512; ++i) h += "x__" + std::to_string(i) + ":d" + std::to_string(i) + ",";
  for (int i = 0; i < 512; ++i)
    h += "y__" + std::to_string(i) + ":b" + std::to_string(i) + (i < 511 ? "," : "\n");
  return h;
}

// A board after `moves` random legal moves from the start (fewer when the
// game ends first), passes taken as the rules take them.
inline std::unique_ptr<Board> random_game(std::mt19937& rng, int moves) {
  auto b = std::make_unique<Board>();
  new_game(*b);
  for (int n = 0; n < moves; ++n) {
    if (check_end(*b)) break;
    std::vector<int> legal;
    for (int s = 0; s < 64; ++s)
      if (b->planes[b->ply][cell_index(square_row(s), square_col(s))] & kLegalMark) legal.push_back(s);
    const int s = legal[std::uniform_int_distribution<size_t>(0, legal.size() - 1)(rng)];
    play(*b, square_row(s), square_col(s));
  }
  return b;
}

// Random games of at least one move: positions as the searches pass them.
inline std::vector<std::unique_ptr<Board>> random_positions(std::mt19937& rng, int count) {
  std::vector<std::unique_ptr<Board>> out;
  while (static_cast<int>(out.size()) < count) {
    auto b = random_game(rng, std::uniform_int_distribution<int>(1, 60)(rng));
    if (b->ply >= 1) out.push_back(std::move(b));
  }
  return out;
}

inline bool same_bits(const void* a, const void* b, std::size_t bytes) {
  return std::memcmp(a, b, bytes) == 0;
}

// Bit for bit, except that any two non-numbers count as equal (the
// processor keeps either operand's payload when two meet).
inline bool same_floats(const float* a, const float* b, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    if (a[i] != a[i] && b[i] != b[i]) continue;
    if (std::memcmp(a + i, b + i, sizeof(float)) != 0) return false;
  }
  return true;
}
template <class T>
inline bool same_floats(const T& a, const T& b) {
  static_assert(sizeof(T) % sizeof(float) == 0);
  return same_floats(reinterpret_cast<const float*>(&a), reinterpret_cast<const float*>(&b),
                     sizeof(T) / sizeof(float));
}
