#include "app/datafile.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>

#include "app/globals.h"
#include "nn/network.h"

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

constexpr int kTempAttempts = 100;   // names tried for a save's temporary file
constexpr int kKeepAttempts = 1000;  // names tried for a file kept aside

// Messages name the file, not the directory it lies in.
const char* file_name(const char* path) {
  const char* slash = std::strrchr(path, '/');
  return slash ? slash + 1 : path;
}

void print_path_error(const char* what, const char* path) {
  std::fprintf(stderr, "error: %s '%s'.\n", what, file_name(path));
}

// Why a path that open_regular_file did not open cannot load.
DataFault unopened_fault(PathKind kind) {
  switch (kind) {
    case PathKind::missing:
      return DataFault::missing;
    case PathKind::file:
    case PathKind::unknown:
      return DataFault::unreadable;
    default:
      return DataFault::not_a_file;
  }
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
  // A game no search can finish (a ply ahead of its stones, say) never loads.
  return record_replays(b);
}

bool params_are_finite(const NeuralNet& net) {
  // A float is a non-number or an infinity when all its exponent bits are set.
  constexpr uint32_t kExponent = 0x7f800000u;
  const unsigned char* p = reinterpret_cast<const unsigned char*>(net.bias);
  for (std::size_t i = 0; i < kParamBytes; i += sizeof(uint32_t)) {
    uint32_t bits;
    std::memcpy(&bits, p + i, sizeof bits);
    if ((bits & kExponent) == kExponent) return false;
  }
  return true;
}

const char* data_fault_text(DataFault fault) {
  switch (fault) {
    case DataFault::missing:
    case DataFault::unreadable:
      return "cannot read from file";
    case DataFault::not_a_file:
      return "no regular file at";
    case DataFault::checksum:
      return "checksum error in";
    case DataFault::impossible:
      return "impossible game record in";
    case DataFault::non_finite:
      return "non-finite network parameters in";
    case DataFault::none:
      break;
  }
  return "";
}

DataFault read_data(std::FILE* f, Board& board, NeuralNet& net) {
  // A short file leaves the rest of each object as it was.
  const std::size_t got = std::fread(&board, 1, kBoardBytes, f);
  if (got == kBoardBytes) std::fread(net.bias, 1, kParamBytes, f);
  const uint8_t sum = data_checksum(board, net);
  const int stored = std::fgetc(f);
  if (stored == EOF || static_cast<uint8_t>(stored) != sum) return DataFault::checksum;
  if (!board_is_possible(board)) return DataFault::impossible;
  if (!params_are_finite(net)) return DataFault::non_finite;
  return DataFault::none;
}

DataFault read_data_from(const char* path, Board& board, NeuralNet& net) {
  PathKind kind = PathKind::unknown;
  std::FILE* f = open_regular_file(path, kind);
  if (f == nullptr) return unopened_fault(kind);
  const DataFault fault = read_data(f, board, net);
  std::fclose(f);
  return fault;
}

DataFault load_data_stream(std::FILE* f, const char* name, Board& board, NeuralNet& net) {
  const DataFault fault = read_data(f, board, net);
  if (fault != DataFault::none) {
    print_path_error(data_fault_text(fault), name);
    return fault;
  }
  std::fputs("tavimor> datafile was loaded.\n", stderr);
  mark_legal(board);
  net_params_changed(net);
  return DataFault::none;
}

DataFault load_data_file(const char* path, Board& board, NeuralNet& net) {
  PathKind kind = PathKind::unknown;
  std::FILE* f = open_regular_file(path, kind);
  if (f == nullptr) {
    const DataFault fault = unopened_fault(kind);
    if (fault == DataFault::not_a_file) {
      std::fprintf(stderr, "error: '%s' is %s, not a data file.\n", file_name(path), path_kind_name(kind));
    } else {
      print_path_error(data_fault_text(fault), path);
    }
    return fault;
  }
  const DataFault fault = load_data_stream(f, path, board, net);
  std::fclose(f);
  return fault;
}

bool load_data_from(const char* path, Board& board, NeuralNet& net) {
  return load_data_file(path, board, net) == DataFault::none;
}

std::string data_temp_path(const char* path, int attempt) {
  return std::string(path) + "." + std::to_string(process_number()) + "-" + std::to_string(attempt) + ".tmp";
}

namespace {

// True when name is one of data_temp_path's names for file_name: file_name,
// a dot, digits, a hyphen, digits, ".tmp".
bool is_temp_name(const std::string& name, const std::string& file_name) {
  const std::string tail = ".tmp";
  if (name.size() <= file_name.size() + 1 + tail.size() ||
      name.compare(0, file_name.size(), file_name) != 0 || name[file_name.size()] != '.' ||
      !name.ends_with(tail))
    return false;
  const std::string numbers =
      name.substr(file_name.size() + 1, name.size() - file_name.size() - 1 - tail.size());
  const std::size_t hyphen = numbers.find('-');
  const auto digits = [](const std::string& d) {
    return !d.empty() && d.find_first_not_of("0123456789") == std::string::npos;
  };
  return hyphen != std::string::npos && digits(numbers.substr(0, hyphen)) &&
         digits(numbers.substr(hyphen + 1));
}

}  // namespace

int remove_stale_temp_files(const char* path) {
  namespace fs = std::filesystem;
  const fs::path data(path);
  const fs::path folder = data.has_parent_path() ? data.parent_path() : fs::path(".");
  const std::string file_name = data.filename().string();
  int removed = 0;
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    std::error_code e;
    // Regular files only: a link of that name is not a save's.
    if (!is_temp_name(name, file_name) ||
        fs::symlink_status(it->path(), e).type() != fs::file_type::regular || !fs::remove(it->path(), e))
      continue;
    std::fprintf(stderr, "note: '%s', left by an earlier run, is removed.\n", name.c_str());
    ++removed;
  }
  return removed;
}

bool save_data_to(const char* path, const Board& board, const NeuralNet& net) {
  if (!params_are_finite(net)) {
    std::fprintf(stderr, "error: non-finite network parameters. '%s' is left as it was.\n", file_name(path));
    return false;
  }
  // A name of this process's own, created new: never an old file, never a link.
  std::string tmp;
  std::FILE* f = nullptr;
  for (int attempt = 0; attempt < kTempAttempts && f == nullptr; ++attempt) {
    tmp = data_temp_path(path, attempt);
    // Named before it exists, so that an immediate end never leaves it behind.
    set_unfinished_file(tmp.c_str());
    bool taken = false;
    f = create_new_file(tmp.c_str(), taken);
    if (f == nullptr) set_unfinished_file(nullptr);
    if (f == nullptr && !taken) break;
  }
  if (f == nullptr) {
    print_path_error("cannot write to file", path);
    return false;
  }
  const uint8_t sum = data_checksum(board, net);
  bool ok = std::fwrite(&board, 1, kBoardBytes, f) == kBoardBytes &&
            std::fwrite(net.bias, 1, kParamBytes, f) == kParamBytes && std::fputc(sum, f) != EOF &&
            sync_file(f);
  ok = std::fclose(f) == 0 && ok;
  ok = ok && replace_file(tmp.c_str(), path);
  if (!ok) std::remove(tmp.c_str());
  set_unfinished_file(nullptr);
  if (!ok) {
    print_path_error("cannot write to file", path);
    return false;
  }
  sync_folder_of(path);
  std::fputs("tavimor> datafile was saved.\n", stderr);
  return true;
}

bool load_data() { return load_data_from(kDataFileName, g_board, g_net); }

bool save_data() {
  if (!params_are_finite(g_net)) renew_network(kDataFileName, g_net);
  return save_data_to(kDataFileName, g_board, g_net);
}

void renew_network(const char* path, NeuralNet& net) {
  std::fputs(
      "note: the network's parameters are no longer all finite. a fresh random network takes its place.\n",
      stderr);
  net_init_random(net);
  PathKind kind = PathKind::unknown;
  if (std::FILE* f = open_regular_file(path, kind)) std::fclose(f);
  if (kind == PathKind::missing) return;
  std::string kept;
  if (keep_aside(path, kept)) {
    std::fprintf(stderr, "note: the old datafile is kept as '%s'.\n", file_name(kept.c_str()));
  } else {
    std::fputs("note: the old datafile cannot be kept aside. the save replaces it.\n", stderr);
  }
}

LockResult lock_data_file(const char* path, PathKind& kind) {
  return lock_exclusively((std::string(path) + ".lock").c_str(), kind);
}

bool keep_aside(const char* path, std::string& kept_as) {
  for (int n = 1; n <= kKeepAttempts; ++n) {
    kept_as = std::string(path) + ".bad" + (n == 1 ? "" : std::to_string(n));
    bool taken = false;
    if (move_without_replacing(path, kept_as.c_str(), taken)) return true;
    if (!taken) return false;
  }
  return false;
}

bool take_data_file_lock(const char* path) {
  PathKind kind = PathKind::unknown;
  switch (lock_data_file(path, kind)) {
    case LockResult::busy:
      std::fprintf(stderr, "error: '%s' is in use by another run of tavimor.\n", path);
      return false;
    case LockResult::read_only:
      std::fprintf(stderr, "note: '%s' cannot be locked. runs at the same time are not kept apart.\n", path);
      return true;
    case LockResult::not_a_file:
      std::fprintf(stderr, "error: '%s.lock' is %s, not a lock file. the run stops.\n", path,
                   path_kind_name(kind));
      return false;
    case LockResult::failed:
      std::fprintf(stderr, "error: '%s.lock' cannot be locked. the run stops.\n", path);
      return false;
    case LockResult::taken:
      remove_stale_temp_files(path);  // no save of another run is under way
      return true;
  }
  return false;
}
