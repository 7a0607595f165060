// Fuzzes the data-file loader. Each input edits a good data file (a game a
// few moves in, a zero network): byte 0 holds flags, bytes 1..3 an offset,
// the rest the bytes written there.
//   flag 1: make the checksum byte right again, so that the checks behind it
//           are reached
//   flag 2: write into the parameter block instead of the board record
//   flag 4: cut the file short right after the written bytes
// A file that loads must hold a game the rules can go on with.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "app/datafile.h"
#include "game/board.h"
#include "nn/neural_net.h"

namespace {

std::vector<unsigned char>* g_file;  // the good file, edited in place and restored
Board* g_board;
NeuralNet* g_net;

unsigned char xor_of(const unsigned char* p, std::size_t n) {
  unsigned char x = 0;
  for (std::size_t i = 0; i < n; ++i) x ^= p[i];
  return x;
}

[[noreturn]] void finding(const char* what) {
  std::fprintf(stderr, "finding: %s\n", what);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  g_board = new Board{};
  g_net = new NeuralNet{};
  new_game(*g_board);
  g_board->computer_colour = 2;
  g_board->engine = 1;
  const int line[][2] = {{4, 3}, {3, 3}, {3, 4}, {5, 3}};
  for (const auto& m : line) play(*g_board, m[0], m[1]);
  g_file = new std::vector<unsigned char>(kDataFileBytes);
  std::memcpy(g_file->data(), g_board, kBoardBytes);
  std::memcpy(g_file->data() + kBoardBytes, g_net->bias, kParamBytes);
  g_file->back() = data_checksum(*g_board, *g_net);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size < 4) return 0;
  const uint8_t flags = data[0];
  const std::size_t start = (flags & 2) ? kBoardBytes : 0;
  const std::size_t region = (flags & 2) ? kParamBytes : kBoardBytes;
  const std::size_t offset = (data[1] | data[2] << 8 | data[3] << 16) % region;
  const std::size_t n = std::min(size - 4, region - offset);
  unsigned char* at = g_file->data() + start + offset;

  const std::vector<unsigned char> saved(at, at + n);
  const unsigned char saved_sum = g_file->back();
  if (n > 0) std::memcpy(at, data + 4, n);
  if (flags & 1) g_file->back() = saved_sum ^ xor_of(saved.data(), n) ^ xor_of(at, n);
  const std::size_t length = (flags & 4) ? start + offset + n : kDataFileBytes;

  std::FILE* f = fmemopen(g_file->data(), length, "rb");
  if (f != nullptr) {
    Board& b = *g_board;
    if (load_data_stream(f, "tavimor.dat", b, *g_net) == DataFault::none) {
      if (!board_is_ok(b)) finding(board_fault(b).c_str());
      if (!params_are_finite(*g_net)) finding("non-finite parameters loaded");
      // The game plays to its end, each move a stone more, the ply never ahead of the stones.
      for (int s = 0; !check_end(b); s = 0) {
        while ((current_plane(b)[cell_index(square_row(s), square_col(s))] & kLegalMark) == 0) ++s;
        const int stones = b.discs1 + b.discs2;
        if (stones < b.ply || play(b, square_row(s), square_col(s)) == 0 || b.discs1 + b.discs2 != stones + 1)
          finding("the ply ahead of the stones, or a legal move refused or miscounted");
      }
      while (take_back(b) != 0) {
      }
      if (!board_is_ok(b)) finding(board_fault(b).c_str());
    }
    std::fclose(f);
  }
  if (n > 0) std::memcpy(at, saved.data(), n);
  g_file->back() = saved_sum;
  return 0;
}
