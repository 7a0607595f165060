// Uniform draws from 0..32767 with one generator state per thread (the
// classic C library generator). The main thread is seeded from the clock at
// start-up; other threads start from seed 1, as the C library's threads do.
// Keeping the state per thread means no lock is taken on a draw.
#pragma once

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

// The tie rule: a later equal score is taken one time in three.
inline bool tie_draw() { return rand15() % 3 == 0; }
