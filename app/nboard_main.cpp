// tavimor-nboard: tavimor's engines for the Othello GUIs, over the NBoard
// protocol on standard input and output, or the analysis of one game as CSV.
// It reads the network from the data file and never writes the file.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <system_error>

#include "app/datafile.h"
#include "app/globals.h"
#include "app/options.h"
#include "nn/network.h"
#include "ui/nboard.h"
#include "version.h"

namespace {

constexpr int kStopStatus = -1;  // a bad command line
constexpr int kGameStatus = 1;   // the game to analyse cannot be read

constexpr const char* kUsage =
    "usage: tavimor-nboard [option]\n"
    "option) -think   <TYPE> : TYPE = neuro*|traditional\n"
    "        -learn   <RULE> : RULE = imitation*|backprop|off\n"
    "        -analyze <GAME> : GAME = a GGF file or a move list such as f5d6c3\n";

// The network of the data file in the working directory, when there is a
// valid one (read only); otherwise random parameters. Says which on
// standard error.
void load_network(NeuralNet& net) {
  std::error_code ec;
  if (std::filesystem::exists(kDataFileName, ec)) {
    auto saved_game = std::make_unique<Board>();  // the engine plays the GUI's game, not this one
    if (load_data_from(kDataFileName, *saved_game, net)) {
      std::fprintf(stderr, "note: the neural engine uses the network of %s.\n", kDataFileName);
      return;
    }
  }
  net_init_random(net);
  std::fprintf(stderr, "note: no valid %s here: the neural engine uses a random network.\n", kDataFileName);
}

// A game from the command line: the text of the file it names, or the
// argument itself; a GGF record when it begins with '(', else a move list.
bool read_game(const char* arg, GameRecord& record) {
  std::string text = arg;
  std::error_code ec;
  if (std::filesystem::is_regular_file(arg, ec)) {
    std::ifstream f(arg, std::ios::binary);
    std::ostringstream content;
    content << f.rdbuf();
    if (!f) {
      std::fprintf(stderr, "error: cannot read from file '%s'.\n", arg);
      return false;
    }
    text = content.str();
  }
  std::string error;
  const std::size_t first = text.find_first_not_of(" \t\r\n");
  const bool ggf = first != std::string::npos && text[first] == '(';
  if (ggf ? parse_ggf(text, record, error) : parse_move_list(text, record, error)) return true;
  std::fprintf(stderr, "error: cannot read the game: %s.\n", error.c_str());
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  std::setvbuf(stderr, nullptr, _IONBF, 0);  // messages at once, also into a pipe
  std::fprintf(stderr, "Tavimor version %s, an engine for the Othello GUIs (NBoard protocol)\n", kVersion);
  ThinkType engine = ThinkType::neuro;
  const char* game = nullptr;
  for (int i = 1; i < argc; ++i) {
    const bool has_value = i + 1 < argc;
    if (has_value && std::strcmp(argv[i], "-think") == 0) {
      if (!parse_think(argv[++i], engine)) return kStopStatus;
    } else if (has_value && std::strcmp(argv[i], "-learn") == 0) {
      if (!parse_learn(argv[++i], g_net.learn_rule)) return kStopStatus;
    } else if (has_value && std::strcmp(argv[i], "-analyze") == 0) {
      game = argv[++i];
    } else {
      std::fputs(kUsage, stderr);
      return kStopStatus;
    }
  }
  std::fprintf(stderr, "note: %s plays.\n", engine_name(engine).c_str());
  if (engine == ThinkType::neuro) load_network(g_net);

  if (game != nullptr) {
    GameRecord record;
    if (!read_game(game, record)) return kGameStatus;
    return analyze_game(g_ctx, engine, record, stdout) ? 0 : kGameStatus;
  }
  NboardSession session = make_nboard_session(g_ctx, engine, stdout);
  run_nboard(session, stdin);
  return 0;
}
