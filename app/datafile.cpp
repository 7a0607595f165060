#include "app/datafile.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>

#include "app/globals.h"
#include "nn/network.h"

#if defined(__unix__) || defined(__APPLE__)
#include <unistd.h>
#define TAVIMOR_SYNC(f) (fsync(fileno(f)) == 0)
#elif defined(_WIN32)
#include <io.h>
#define TAVIMOR_SYNC(f) (_commit(_fileno(f)) == 0)
#else
#define TAVIMOR_SYNC(f) true
#endif

static_assert(sizeof(Board) == kBoardBytes);
static_assert(kBoardBytes + kParamBytes + 1 == kDataFileBytes);

namespace {

uint64_t xor_words(const void* data, std::size_t n) {
  const unsigned char* p = static_cast<const unsigned char*>(data);
  uint64_t acc = 0;
  std::size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    uint64_t w;
    std::memcpy(&w, p + i, 8);
    acc ^= w;
  }
  for (; i < n; ++i) acc ^= p[i];
  return acc;
}

uint8_t fold(uint64_t acc) {
  acc ^= acc >> 32;
  acc ^= acc >> 16;
  acc ^= acc >> 8;
  return static_cast<uint8_t>(acc);
}

// Messages name the file, not the directory it lies in.
void print_path_error(const char* what, const char* path) {
  const char* slash = std::strrchr(path, '/');
  std::fprintf(stderr, "error: %s '%s'.\n", what, slash ? slash + 1 : path);
}

bool in_range(int v, int lo, int hi) { return v >= lo && v <= hi; }

}  // namespace

uint8_t data_checksum(const Board& board, const NeuralNet& net) {
  // The board is a multiple of 8 bytes, so both blocks fold on the same lanes.
  static_assert(kBoardBytes % 8 == 0);
  return fold(xor_words(&board, kBoardBytes) ^ xor_words(net.bias, kParamBytes));
}

bool board_is_possible(const Board& b) {
  if (!in_range(b.ply, 0, kMaxPly) || !in_range(b.side, 1, 2) || !in_range(b.computer_colour, 1, 2) ||
      !in_range(b.engine, 0, 1) || !in_range(b.colour_scheme, 0, 3) || !in_range(b.pass_flag, 0, 1) ||
      !in_range(b.cursor_row, 1, 8) || !in_range(b.cursor_col, 1, 8))
    return false;
  for (int k = 0; k < kPlanes; ++k) {
    const int32_t* p = b.planes[k];
    for (int c = 0; c < kPlaneCells; ++c) {
      const int row = c / 10, col = c % 10;
      const bool inner = row >= 1 && row <= 8 && col >= 1 && col <= 8;
      if (inner) {
        // A stone, the legal mark and the changed mark: nothing else.
        if ((p[c] & kStoneMask) == 3 || (p[c] & ~kLowBits) != 0) return false;
      } else if (c <= kRecMoves ? (p[c] & kLowBits) != 0 : p[c] != 0) {
        return false;  // the frame holds nothing but the plane record
      }
    }
    // take_back restores the side from the mover of each plane below ply.
    if (k < b.ply && !in_range(record_get(p, kRecMover), 1, 2)) return false;
  }
  return true;
}

const char* data_fault_text(DataFault fault) {
  switch (fault) {
    case DataFault::unreadable:
      return "cannot read from file";
    case DataFault::checksum:
      return "checksum error in";
    case DataFault::impossible:
      return "impossible game record in";
    default:
      return "";
  }
}

DataFault read_data_from(const char* path, Board& board, NeuralNet& net) {
  std::FILE* f = std::fopen(path, "rb");
  if (f == nullptr) return DataFault::unreadable;
  // A short file leaves the rest of each object as it was.
  const std::size_t got = std::fread(&board, 1, kBoardBytes, f);
  if (got == kBoardBytes) std::fread(net.bias, 1, kParamBytes, f);
  const uint8_t sum = data_checksum(board, net);
  const int stored = std::fgetc(f);
  std::fclose(f);
  if (stored == EOF || static_cast<uint8_t>(stored) != sum) return DataFault::checksum;
  if (!board_is_possible(board)) return DataFault::impossible;
  return DataFault::none;
}

bool load_data_from(const char* path, Board& board, NeuralNet& net) {
  const DataFault fault = read_data_from(path, board, net);
  if (fault != DataFault::none) {
    print_path_error(data_fault_text(fault), path);
    return false;
  }
  std::fputs("tavimor> datafile was loaded.\n", stderr);
  mark_legal(board);
  net_params_changed(net);
  return true;
}

bool save_data_to(const char* path, const Board& board, const NeuralNet& net) {
  const std::string tmp = std::string(path) + ".tmp";
  std::FILE* f = std::fopen(tmp.c_str(), "wb");
  if (f == nullptr) {
    print_path_error("cannot write to file", path);
    return false;
  }
  const uint8_t sum = data_checksum(board, net);
  bool ok = std::fwrite(&board, 1, kBoardBytes, f) == kBoardBytes &&
            std::fwrite(net.bias, 1, kParamBytes, f) == kParamBytes && std::fputc(sum, f) != EOF &&
            std::fflush(f) == 0 && TAVIMOR_SYNC(f);
  ok = std::fclose(f) == 0 && ok;
  // Replaces an existing file, on every platform (std::rename does not on all).
  std::error_code ec;
  if (ok) std::filesystem::rename(tmp, path, ec);
  ok = ok && !ec;
  if (!ok) {
    std::remove(tmp.c_str());
    print_path_error("cannot write to file", path);
    return false;
  }
  std::fputs("tavimor> datafile was saved.\n", stderr);
  return true;
}

bool load_data() { return load_data_from(kDataFileName, g_board, g_net); }
bool save_data() { return save_data_to(kDataFileName, g_board, g_net); }
