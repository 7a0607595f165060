// Uniform draws from 0..32767 with one generator state per thread (the
// classic C library generator). The main thread is seeded from the clock at
// start-up; other threads start from seed 1, as the C library's threads do.
// Keeping the state per thread means no lock is taken on a draw.
#pragma once

#include <atomic>
#include <cstdint>

inline uint32_t& rand15_state() {
  thread_local uint32_t state = 1;
  return state;
}

inline void rand15_seed(unsigned seed) { rand15_state() = seed; }

inline int rand15() {
  uint32_t& s = rand15_state();
  s = s * 1103515245u + 12345u;
  return static_cast<int>((s >> 16) & 0x7fff);
}

// While held, tie_draw draws nothing and keeps the first of equal scores, on
// every thread: scores wanted as hints leave each generator as the next move
// will find it. Held and released on the main thread, outside parallel loops.
inline std::atomic<bool>& tie_draws_held() {
  static std::atomic<bool> held{false};
  return held;
}

// The tie rule: a later equal score is taken one time in three.
inline bool tie_draw() { return !tie_draws_held().load(std::memory_order_relaxed) && rand15() % 3 == 0; }
