// The vectorised kernels and the transposed copy of the weights.
//
// Every kernel keeps one running sum per receiving neuron in a vector lane
// and adds the rounded products to it in the order of the plain loop, so each
// lane computes exactly what the scalar code computes; only the neurons run
// side by side. The AVX2 forms are compiled for that instruction set alone
// (no FMA) and chosen at run time; the baseline forms use SSE2, which every
// x86-64 processor has.
#include <immintrin.h>

#include <cstring>

#include "nn/passes.h"

namespace {

// The templates below take and return no vectors (only pointers), so that
// they can be inlined into code built for any instruction set. Vectors are
// loaded and stored without alignment.
template <class V>
inline __attribute__((always_inline)) void set_all(V& v, float x) {
  for (int q = 0; q < static_cast<int>(sizeof(V) / sizeof(float)); ++q) v[q] = x;
}

// The sums of n neurons (n <= kSlots) over the rows of m, taken in order:
// the running sums stay in acc (in L1) while the rows stream past, four at a
// time, each row read once from start to end. Lane i adds row r's product
// before row r + 1's, as the plain loop does.
template <class V, int W>
inline __attribute__((always_inline)) void row_sums_t(const float* m, const float* x, int rows, float* out,
                                                      int n) {
  alignas(64) float acc[kSlots];
  const int nv = n / W * W;  // lanes in whole vectors
  for (int i = 0; i < n; ++i) acc[i] = 0.0f;
  int r = 0;
  for (; r + 4 <= rows; r += 4) {
    V x0, x1, x2, x3;
    set_all(x0, x[r]);
    set_all(x1, x[r + 1]);
    set_all(x2, x[r + 2]);
    set_all(x3, x[r + 3]);
    const float* m0 = m + static_cast<long>(r) * kSlots;
    const float* m1 = m0 + kSlots;
    const float* m2 = m1 + kSlots;
    const float* m3 = m2 + kSlots;
    for (int i = 0; i < nv; i += W) {
      V a, w0, w1, w2, w3;
      std::memcpy(&a, acc + i, sizeof a);
      std::memcpy(&w0, m0 + i, sizeof a);
      std::memcpy(&w1, m1 + i, sizeof a);
      std::memcpy(&w2, m2 + i, sizeof a);
      std::memcpy(&w3, m3 + i, sizeof a);
      a = a + w0 * x0;
      a = a + w1 * x1;
      a = a + w2 * x2;
      a = a + w3 * x3;
      std::memcpy(acc + i, &a, sizeof a);
    }
  }
  for (; r < rows; ++r) {
    V x0;
    set_all(x0, x[r]);
    const float* m0 = m + static_cast<long>(r) * kSlots;
    for (int i = 0; i < nv; i += W) {
      V a, w0;
      std::memcpy(&a, acc + i, sizeof a);
      std::memcpy(&w0, m0 + i, sizeof a);
      a = a + w0 * x0;
      std::memcpy(acc + i, &a, sizeof a);
    }
  }
  for (int i = nv; i < n; ++i) {
    float a = 0.0f;
    for (int k = 0; k < rows; ++k) a = a + m[static_cast<long>(k) * kSlots + i] * x[k];
    acc[i] = a;
  }
  std::memcpy(out, acc, sizeof(float) * n);
}

// The sums of the neurons j0 .. j0 + NV W - 1 for P positions: NV vectors
// of running sums per position stay in registers while the rows of the
// panels stream past, each row's NV vectors loaded once and multiplied by
// every position's input. Lane j of position p adds row k's product before
// row k + 1's, as the plain loop does. P x NV is 6 to 12: enough independent
// sums to hide the adds' latency.
template <class V, int W, int P, int NV>
inline __attribute__((always_inline)) void panel_block(const float* t, const float* const* x, int rows,
                                                       float* const* out, int j0) {
  V acc[P][NV] = {};
  const float* col[NV];
#pragma GCC unroll 8
  for (int v = 0; v < NV; ++v) col[v] = t + panel_index(0, j0 + v * W);
  for (int k = 0; k < rows; ++k) {
    V w[NV];
#pragma GCC unroll 8
    for (int v = 0; v < NV; ++v) std::memcpy(&w[v], col[v] + k * kPanel, sizeof(V));
#pragma GCC unroll 6
    for (int p = 0; p < P; ++p) {
      const float xk = x[p][k];
#pragma GCC unroll 8
      for (int v = 0; v < NV; ++v) acc[p][v] = acc[p][v] + w[v] * xk;
    }
  }
  for (int p = 0; p < P; ++p)
    for (int v = 0; v < NV; ++v) std::memcpy(out[p] + j0 + v * W, &acc[p][v], sizeof(V));
}

// Neurons j0 .. j1 - 1 of P positions: blocks of NV vectors, then of two,
// then one neuron at a time.
template <class V, int W, int P, int NV>
inline __attribute__((always_inline)) void panel_range(const float* t, const float* const* x, int rows,
                                                       float* const* out, int j0, int j1) {
  for (; j0 + NV * W <= j1; j0 += NV * W) panel_block<V, W, P, NV>(t, x, rows, out, j0);
  if constexpr (NV > 2) {
    for (; j0 + 2 * W <= j1; j0 += 2 * W) panel_block<V, W, P, 2>(t, x, rows, out, j0);
  }
  for (; j0 < j1; ++j0) {
    for (int p = 0; p < P; ++p) {
      float a = 0.0f;
      for (int k = 0; k < rows; ++k) a = a + t[panel_index(k, j0)] * x[p][k];
      out[p][j0] = a;
    }
  }
}

// One or two positions run over all neurons with eight or four vectors of
// sums each. More run in groups of three to six, as even as possible, one
// panel at a time, so that every group after the first reads the panel from
// the closest cache.
template <class V, int W>
inline __attribute__((always_inline)) void panel_sums_t(const float* t, const float* const* x, int rows,
                                                        float* const* out, int n, int count) {
  if (count == 1) return panel_range<V, W, 1, 8>(t, x, rows, out, 0, n);
  if (count == 2) return panel_range<V, W, 2, 4>(t, x, rows, out, 0, n);
  constexpr int kGroup = 6;
  const int groups = (count + kGroup - 1) / kGroup;
  int first[kGroup + 1];
  first[0] = 0;
  for (int g = 0; g < groups; ++g) first[g + 1] = first[g] + (count - first[g]) / (groups - g);
  for (int j0 = 0; j0 < n; j0 += kPanel) {
    const int j1 = j0 + kPanel < n ? j0 + kPanel : n;
    for (int g = 0; g < groups; ++g) {
      const float* const* xg = x + first[g];
      float* const* og = out + first[g];
      switch (first[g + 1] - first[g]) {
        case 3:
          panel_range<V, W, 3, 2>(t, xg, rows, og, j0, j1);
          break;
        case 4:
          panel_range<V, W, 4, 2>(t, xg, rows, og, j0, j1);
          break;
        case 5:
          panel_range<V, W, 5, 2>(t, xg, rows, og, j0, j1);
          break;
        default:
          panel_range<V, W, 6, 2>(t, xg, rows, og, j0, j1);
          break;
      }
    }
  }
}

template <class FV, class DV, int W>
inline __attribute__((always_inline)) void update_row_t(float* w, const double* ar, double d, int n) {
  int l = 0;
  DV dv;
  for (int q = 0; q < W; ++q) dv[q] = d;
  for (; l + W <= n; l += W) {
    DV a;
    FV f;
    std::memcpy(&a, ar + l, sizeof a);
    std::memcpy(&f, w + l, sizeof f);
    const DV sum = a * dv + __builtin_convertvector(f, DV);
    f = __builtin_convertvector(sum, FV);
    std::memcpy(w + l, &f, sizeof f);
  }
  for (; l < n; ++l) w[l] = static_cast<float>(ar[l] * d + static_cast<double>(w[l]));
}

typedef float f4 __attribute__((vector_size(16)));
typedef float f8 __attribute__((vector_size(32)));
typedef float f2 __attribute__((vector_size(8)));
typedef double d2 __attribute__((vector_size(16)));
typedef double d4 __attribute__((vector_size(32)));

void row_sums_sse2(const float* m, const float* x, int rows, float* out, int n) {
  row_sums_t<f4, 4>(m, x, rows, out, n);
}
__attribute__((target("avx2"))) void row_sums_avx2(const float* m, const float* x, int rows, float* out,
                                                   int n) {
  row_sums_t<f8, 8>(m, x, rows, out, n);
}
void panel_sums_sse2(const float* t, const float* const* x, int rows, float* const* out, int n, int count) {
  panel_sums_t<f4, 4>(t, x, rows, out, n, count);
}
__attribute__((target("avx2"))) void panel_sums_avx2(const float* t, const float* const* x, int rows,
                                                     float* const* out, int n, int count) {
  panel_sums_t<f8, 8>(t, x, rows, out, n, count);
}
void update_row_sse2(float* w, const double* ar, double d, int n) { update_row_t<f2, d2, 2>(w, ar, d, n); }
__attribute__((target("avx2"))) void update_row_avx2(float* w, const double* ar, double d, int n) {
  update_row_t<f4, d4, 4>(w, ar, d, n);
}

// t[panel_index(k, j)] = w[j][k]. Blocks of 4 x 4 (or 8 x 8) are turned in
// registers; each stores a row of the block into its panel.
void transpose_sse2(const float (*w)[kSlots], float* t) {
  for (int j0 = 0; j0 < kSlots; j0 += 4) {
    for (int k0 = 0; k0 < kSlots; k0 += 4) {
      __m128 r0 = _mm_loadu_ps(&w[j0][k0]), r1 = _mm_loadu_ps(&w[j0 + 1][k0]);
      __m128 r2 = _mm_loadu_ps(&w[j0 + 2][k0]), r3 = _mm_loadu_ps(&w[j0 + 3][k0]);
      _MM_TRANSPOSE4_PS(r0, r1, r2, r3);
      _mm_storeu_ps(t + panel_index(k0, j0), r0);
      _mm_storeu_ps(t + panel_index(k0 + 1, j0), r1);
      _mm_storeu_ps(t + panel_index(k0 + 2, j0), r2);
      _mm_storeu_ps(t + panel_index(k0 + 3, j0), r3);
    }
  }
}

__attribute__((target("avx2"))) void transpose8(const float (*w)[kSlots], float* t, int j0, int k0) {
  __m256 r[8], u[8];
  for (int i = 0; i < 8; ++i) r[i] = _mm256_loadu_ps(&w[j0 + i][k0]);
  for (int i = 0; i < 8; i += 2) {
    u[i] = _mm256_unpacklo_ps(r[i], r[i + 1]);
    u[i + 1] = _mm256_unpackhi_ps(r[i], r[i + 1]);
  }
  for (int i = 0; i < 8; i += 4) {
    r[i] = _mm256_shuffle_ps(u[i], u[i + 2], 0x44);
    r[i + 1] = _mm256_shuffle_ps(u[i], u[i + 2], 0xEE);
    r[i + 2] = _mm256_shuffle_ps(u[i + 1], u[i + 3], 0x44);
    r[i + 3] = _mm256_shuffle_ps(u[i + 1], u[i + 3], 0xEE);
  }
  // r[0..3] hold columns 0, 1, 2, 3 of rows 0..3 (low lanes) and columns 4..7
  // (high lanes); r[4..7] the same for rows 4..7.
  for (int c = 0; c < 4; ++c) {
    _mm256_storeu_ps(t + panel_index(k0 + c, j0), _mm256_permute2f128_ps(r[c], r[c + 4], 0x20));
    _mm256_storeu_ps(t + panel_index(k0 + c + 4, j0), _mm256_permute2f128_ps(r[c], r[c + 4], 0x31));
  }
}

__attribute__((target("avx2"))) void transpose_avx2(const float (*w)[kSlots], float* t) {
  for (int j0 = 0; j0 < kSlots; j0 += 8)
    for (int k0 = 0; k0 < kSlots; k0 += 8) transpose8(w, t, j0, k0);
}

}  // namespace

bool simd_supported(Simd simd) {
  if (simd == Simd::baseline) return true;
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2");
}

Simd simd_best() {
  static const Simd best = simd_supported(Simd::avx2) ? Simd::avx2 : Simd::baseline;
  return best;
}

void row_sums(const float* m, const float* x, int rows, float* out, int n, Simd simd) {
  if (simd == Simd::avx2)
    row_sums_avx2(m, x, rows, out, n);
  else
    row_sums_sse2(m, x, rows, out, n);
}

void panel_sums(const float* t, const float* const* x, int rows, float* const* out, int n, int count,
                Simd simd) {
  if (simd == Simd::avx2)
    panel_sums_avx2(t, x, rows, out, n, count);
  else
    panel_sums_sse2(t, x, rows, out, n, count);
}

void update_row(float* w, const double* ar, double d, int n, Simd simd) {
  if (simd == Simd::avx2)
    update_row_avx2(w, ar, d, n);
  else
    update_row_sse2(w, ar, d, n);
}

void transpose_weights(const float (*w)[kSlots], float* t, Simd simd) {
  if (simd == Simd::avx2)
    transpose_avx2(w, t);
  else
    transpose_sse2(w, t);
}

const float* transposed_weights(const NeuralNet& net, int layer) {
  return net.transposed.valid ? net.transposed.t[layer] : nullptr;
}

void refresh_transposed(NeuralNet& net, int layer) {
  if (net.transposed.valid) transpose_weights(net.weight[layer], net.transposed.t[layer], simd_best());
}

void net_params_changed(NeuralNet& net) {
  for (int L = 0; L < kLayers - 1; ++L) transpose_weights(net.weight[L], net.transposed.t[L], simd_best());
  net.transposed.valid = 1;
}
