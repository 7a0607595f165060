// Stands in for tavimor in the training runner's tests, so that every game is
// short: moves the game in tavimor.dat on to ply 52 (the lowest legal square
// each time; the colours and the network kept), then runs the real program
// with the same arguments and returns its status. With a file "damage-after"
// holding k in the folder, it changes one byte of the network in tavimor.dat
// after the k-th game and keeps a copy of the damaged file as "damaged.dat".
#include <filesystem>
#include <fstream>

#include "../data_util.h"
#include "../exe_runner.h"

namespace fs = std::filesystem;

namespace {

constexpr int kLatePly = 52;

int read_number(const char* path) {
  std::ifstream f(path);
  int n = 0;
  f >> n;
  return n;
}

}  // namespace

int main(int argc, char** argv) {
  auto board = fresh_board();
  auto net = zero_net();
  if (read_data_file(".", *board, *net)) {
    play_first_moves(*board, kLatePly);
    if (!write_data_file(".", *board, *net)) return 1;
  }
  std::string command = shell_quote(TAVIMOR_EXE);
  for (int i = 1; i < argc; ++i) command.append(" ").append(shell_quote(argv[i]));
  const int raw = std::system(command.c_str());
  const int status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);

  const int games = read_number("games-played") + 1;
  std::ofstream("games-played") << games;
  if (games == read_number("damage-after")) {
    std::fstream f("tavimor.dat", std::ios::binary | std::ios::in | std::ios::out);
    f.seekg(kBoardBytes + 1000);
    const char byte = static_cast<char>(f.get());
    f.seekp(kBoardBytes + 1000);
    f.put(static_cast<char>(byte ^ 0x40));
    f.close();
    fs::copy_file("tavimor.dat", "damaged.dat", fs::copy_options::overwrite_existing);
  }
  return status;
}
