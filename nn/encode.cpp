// The input encoding of a position and the folding of the outputs into
// square scores.
#include <climits>

#include "game/board.h"
#include "nn/passes.h"

namespace {

inline float sign_of(bool b) { return b ? 1.0f : -1.0f; }

}  // namespace

int encode_position(ScratchView s, const int32_t* plane, bool first_plane) {
  float* in = s.act[0];
  float* target = s.delta[4];
  // The plane before: its changed and legal marks fill input planes 0 and 1.
  // Plane 0 has none, and reads as a plane without marks (all -1).
  const int32_t* before = first_plane ? nullptr : plane - kPlaneCells;
  const int mover = record_get(plane, kRecMover);
  const int other = other_colour(mover);
  // Formed wide: a damaged record cannot overflow it.
  const long long square =
      8LL * record_get(plane, kRecRow) + static_cast<long long>(record_get(plane, kRecCol)) - 9;
  for (int sq = 0; sq < 64; ++sq) {
    const int c = cell_index(square_row(sq), square_col(sq));
    const int32_t x = plane[c];
    const int32_t e = before != nullptr ? before[c] : 0;
    const int stone = x & kStoneMask;
    in[sq] = sign_of((e & kChangedMark) != 0);
    in[64 + sq] = sign_of((e & kLegalMark) != 0);
    in[128 + sq] = sign_of(stone == mover);
    in[192 + sq] = sign_of(stone == other);
    in[256 + sq] = sign_of(stone == 0);
    in[320 + sq] = sign_of((x & kChangedMark) != 0);
    in[384 + sq] = sign_of((x & kLegalMark) != 0);
    in[448 + sq] = static_cast<float>(static_cast<int>(stone == mover) - static_cast<int>(stone == other));
    target[sq] = sq == square ? 1.0f : (x & kLegalMark) != 0 ? -1.0f : 0.0f;
  }
  return square >= INT_MIN && square <= INT_MAX ? static_cast<int>(square) : -9;
}

NetPosition net_position(const int32_t* plane, bool first_plane) {
  const int32_t* before = first_plane ? nullptr : plane - kPlaneCells;
  const int mover = record_get(plane, kRecMover);
  NetPosition p{};
  for (int sq = 0; sq < 64; ++sq) {
    const int c = cell_index(square_row(sq), square_col(sq));
    const int32_t x = plane[c];
    const int32_t e = before != nullptr ? before[c] : 0;
    const int stone = x & kStoneMask;
    const uint64_t bit = uint64_t{1} << sq;
    if (stone == mover) p.mine |= bit;
    if (stone == other_colour(mover)) p.theirs |= bit;
    if (stone == 0) p.empty |= bit;
    if (x & kChangedMark) p.changed |= bit;
    if (x & kLegalMark) p.legal |= bit;
    if (e & kChangedMark) p.before_changed |= bit;
    if (e & kLegalMark) p.before_legal |= bit;
  }
  return p;
}

void encode_net_position(const NetPosition& p, float* in) {
  for (int sq = 0; sq < 64; ++sq) {
    const auto has = [sq](uint64_t set) { return (set >> sq & 1) != 0; };
    in[sq] = sign_of(has(p.before_changed));
    in[64 + sq] = sign_of(has(p.before_legal));
    in[128 + sq] = sign_of(has(p.mine));
    in[192 + sq] = sign_of(has(p.theirs));
    in[256 + sq] = sign_of(has(p.empty));
    in[320 + sq] = sign_of(has(p.changed));
    in[384 + sq] = sign_of(has(p.legal));
    in[448 + sq] = static_cast<float>(static_cast<int>(has(p.mine)) - static_cast<int>(has(p.theirs)));
  }
}

void fold_scores(const float* out, float* scores) {
  for (int s = 0; s < 64; ++s) {
    const float* a = out + s;
    scores[s] = a[0] * 0.125f - a[64] * 0.125f + a[128] * 0.125f - a[192] * 0.125f + a[256] * 0.125f -
                a[320] * 0.125f + a[384] * 0.125f - a[448] * 0.125f;
  }
}

int net_encode(NeuralNet& net, const int32_t* plane, bool first_plane) {
  return encode_position(scratch_of(net), plane, first_plane);
}
