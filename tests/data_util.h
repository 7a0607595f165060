// Prepared data files for end-to-end tests.
#pragma once

#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/datafile.h"
#include "board_util.h"
#include "nn/neural_net.h"
#include "nn_util.h"

// Writes board and net as dir/tavimor.dat; true on success.
inline bool write_data_file(const std::filesystem::path& dir, const Board& board, const NeuralNet& net) {
  return save_data_to((dir / "tavimor.dat").string().c_str(), board, net);
}

// Reads dir/tavimor.dat into board and net; true on success.
inline bool read_data_file(const std::filesystem::path& dir, Board& board, NeuralNet& net) {
  return load_data_from((dir / "tavimor.dat").string().c_str(), board, net);
}

// The board of dir/tavimor.dat, read without a word; null when it does not load.
inline std::unique_ptr<Board> saved_board_in(const std::filesystem::path& dir) {
  auto b = std::make_unique<Board>();
  auto net = std::make_unique<NeuralNet>();
  const bool ok = read_data_from((dir / "tavimor.dat").string().c_str(), *b, *net) == DataFault::none;
  return ok ? std::move(b) : nullptr;
}

// Plays a fixed sequence of moves given as "d3c5..." (letter = row, digit =
// column, as the console names squares); false when one is refused.
inline bool play_line(Board& b, const std::string& moves) {
  for (std::size_t i = 0; i + 1 < moves.size(); i += 2) {
    if (play(b, moves[i] - 'a' + 1, moves[i + 1] - '0') == 0) return false;
    check_end(b);
  }
  return true;
}

// Plays the lowest-numbered legal square (passing where forced) until ply
// reaches target or the game ends; returns the ply reached.
inline int play_first_moves(Board& b, int target) {
  while (b.ply < target && !check_end(b)) {
    for (int s = 0; s < 64; ++s) {
      if (b.planes[b.ply][cell_index(square_row(s), square_col(s))] & kLegalMark) {
        play(b, square_row(s), square_col(s));
        break;
      }
    }
  }
  return b.ply;
}

// Files in dir other than the data file, its lock and the streams of the
// runs (*.out, *.err, stdin.txt ...): what a run must not leave behind.
inline std::vector<std::string> stray_files(const std::filesystem::path& dir) {
  std::vector<std::string> stray;
  for (const auto& e : std::filesystem::directory_iterator(dir)) {
    const std::string name = e.path().filename().string();
    const std::string ext = e.path().extension().string();
    if (name != "tavimor.dat" && name != "tavimor.dat.lock" && ext != ".out" && ext != ".err" &&
        ext != ".txt")
      stray.push_back(name);
  }
  return stray;
}
