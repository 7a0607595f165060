// tavimor-train: plays demo games one after another, each a run of the real
// program on the data file of the working directory, checks the file after
// every game, records each game in a CSV file and draws the learning curve
// with gnuplot at the end. The decisions live in app/train.cpp; this file
// holds the processes, the files and the terminal.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "app/datafile.h"
#include "app/options.h"
#include "app/output_files.h"
#include "app/platform.h"
#include "app/teach.h"
#include "app/train.h"
#include "game/board.h"
#include "nn/neural_net.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kGameOut = "train.out";  // the last game's standard output
constexpr const char* kGameErr = "train.err";  // and its standard error
constexpr int kMaxGames = 1000000;
constexpr int kFailed = 1;
constexpr int kUsage = 2;
constexpr int kInterrupted = 130;

const char* const kUsageText =
    "usage: tavimor-train GAMES [-cuda N] [-program PATH] [-learn RULE]\n"
    "  plays GAMES demo games (0: only draws the picture) on 'tavimor.dat' in this\n"
    "  folder, each a run of 'PATH -mode demo -dump' (PATH: the tavimor beside this\n"
    "  program; RULE: imitation*|backprop|off), and records them in 'train.csv' and\n"
    "  'train.png'\n"
    "usage: tavimor-train -teach N [-passes P] [-replies] [-deeper D] [-exact E] [-own]\n"
    "  teaches the network of 'tavimor.dat' the traditional engine's moves in N\n"
    "  positions of its games (P = 8*, 0: only measures; -replies: its replies to\n"
    "  them, as the plane search asks; D = 0*..2: its search D plies deeper;\n"
    "  E = 36..48*: the exact endgame past ply E; -own: games in which the network\n"
    "  plays one side, added to the earlier rounds' and taught with the engine's),\n"
    "  and records each pass in 'teach.csv' and 'teach.png'\n";

struct Args {
  int games = 0;
  std::string program;
  std::string cuda;   // the GPU ordinal passed on, or empty
  std::string learn;  // the learning rule passed on, or empty
};

// A text file, its line ends as the system writes them read as newlines.
std::string read_text(const char* path) {
  std::ifstream f(path);
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

bool parse_args(int argc, char** argv, Args& args) {
  if (argc < 2) return false;
  char* end = nullptr;
  const long n = std::strtol(argv[1], &end, 10);
  if (argv[1][0] < '0' || argv[1][0] > '9' || *end != '\0' || n > kMaxGames) return false;
  args.games = static_cast<int>(n);
  args.program = program_beside_this("tavimor", argv[0]);
  for (int i = 2; i < argc; i += 2) {
    if (i + 1 >= argc) return false;
    if (std::strcmp(argv[i], "-program") == 0)
      args.program = argv[i + 1];
    else if (std::strcmp(argv[i], "-cuda") == 0)
      args.cuda = argv[i + 1];
    else if (LearnRule rule; std::strcmp(argv[i], "-learn") == 0 && learn_rule_named(argv[i + 1], rule))
      args.learn = argv[i + 1];
    else
      return false;
  }
  return true;
}

// The text of an existing record (empty when there is none) and its rows;
// false when something else than a record of training games is there. The
// text ends with what must come before the next row: the header for a new
// record, a newline after a cut last line.
bool read_record(std::vector<GameRow>& rows, std::string& text) {
  PathKind kind = PathKind::missing;
  std::FILE* f = open_regular_file(kRecordName, kind);
  if (f == nullptr) {
    text = record_header();
    return kind == PathKind::missing;
  }
  char buf[4096];
  text.clear();
  for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;) text.append(buf, n);
  const bool read = std::ferror(f) == 0;
  std::fclose(f);
  if (!read) return false;
  if (text.empty()) {
    text = record_header();
    return true;
  }
  std::istringstream in(text);
  std::string line;
  std::getline(in, line);
  if (line + "\n" != record_header()) return false;
  for (int number = 2; std::getline(in, line); ++number) {
    GameRow row;
    if (parse_record_line(line, row))
      rows.push_back(row);
    else if (!line.empty())
      std::fprintf(stderr, "note: line %d of '%s' is not a game's row; it is left out.\n", number,
                   kRecordName);
  }
  if (text.back() != '\n') text += '\n';
  return true;
}

bool draw_picture(const std::vector<GameRow>& rows) {
  if (rows.empty()) {
    std::fprintf(stderr, "error: no games in '%s' to draw.\n", kRecordName);
    return false;
  }
  if (!write_anew(kPlotName, plot_script(rows, kPictureName), false)) {
    std::fprintf(stderr, "error: cannot write to file '%s'.\n", kPlotName);
    return false;
  }
  if (!draw_with_gnuplot(kPlotName, kPictureName)) {
    std::fprintf(stderr, "error: gnuplot could not draw '%s' from '%s' (is it installed?).\n", kPictureName,
                 kPlotName);
    return false;
  }
  std::fprintf(stderr, "note: the learning curve of %zu games is in '%s'.\n", rows.size(), kPictureName);
  return true;
}

// One game: the program's run with its output in fresh files, read back and
// then renamed to train.out and train.err. False when the files cannot be
// made (nothing ran then).
bool play_game(const std::vector<std::string>& command, ProgramEnd& end, std::string& out, std::string& err) {
  const std::string out_name = temporary_name(kGameOut), err_name = temporary_name(kGameErr);
  std::FILE* out_file = create_fresh(out_name);
  std::FILE* err_file = out_file == nullptr ? nullptr : create_fresh(err_name);
  const bool made = out_file != nullptr && err_file != nullptr;
  if (made) end = run_program(command, out_file, err_file);
  if (out_file != nullptr) std::fclose(out_file);
  if (err_file != nullptr) std::fclose(err_file);
  out = read_text(out_name.c_str());
  err = read_text(err_name.c_str());
  if (!made || !replace_file(out_name.c_str(), kGameOut)) std::remove(out_name.c_str());
  if (!made || !replace_file(err_name.c_str(), kGameErr)) std::remove(err_name.c_str());
  return made;
}

// Ends the run as the stop signal ends a process, once the game's run has
// ended; game is the one it stopped in, or 0 between games.
[[noreturn]] void end_stopped(int sig, int game) {
  say_stopped(sig);
  if (game > 0)
    std::fprintf(stderr, "note: stopped during game %d; '%s' holds what the program saved last.\n", game,
                 kDataFileName);
  end_by_signal(sig);
}

// The progress line: rewritten in place on a terminal, one line per game
// otherwise.
struct ProgressLine {
  bool terminal = false;
  std::size_t shown = 0;  // length of the line on the terminal
  void show(const std::string& text) {
    if (!terminal) {
      std::fprintf(stderr, "%s\n", text.c_str());
      return;
    }
    const std::size_t pad = shown > text.size() ? shown - text.size() : 0;
    std::fprintf(stderr, "\r%s%*s", text.c_str(), static_cast<int>(pad), "");
    shown = text.size();
  }
  // Ends the line in place before other messages.
  void close() {
    if (terminal && shown > 0) std::fputc('\n', stderr);
    shown = 0;
  }
};

// A run of games: what it plays, its scratch records for checking the data
// file, and what it goes on from and keeps up to date: the record (rows and
// text), whether a data file is there and the neural engine's next colour.
struct Run {
  const Args& args;
  std::vector<std::string> command{};
  std::unique_ptr<Board> board{};
  std::unique_ptr<NeuralNet> net{};
  std::vector<GameRow> record{};
  std::string record_text{};
  int first = 1;  // the number of the run's first game
  bool had_file = false;
  int colour = 2;  // the neural engine's colour after a reset
  ProgressLine progress{};
};

// Looks at the data file before the first game and writes the record anew
// (it may have had a cut last line); false, with the message, when the run
// cannot start.
bool start_run(Run& run) {
  run.first = run.record.empty() ? 1 : run.record.back().game + 1;
  run.board = std::make_unique<Board>();
  run.net = std::make_unique<NeuralNet>();
  // A file that does not load would be replaced by a fresh network: stop
  // before the program does that.
  std::error_code ec;
  run.had_file = fs::exists(kDataFileName, ec);
  if (run.had_file) {
    const DataState start = inspect_data_file(kDataFileName, *run.board, *run.net);
    if (!start.fault.empty()) {
      std::fprintf(stderr, "error: before game %d: %s.\nnote: nothing was played; '%s' is kept as it was.\n",
                   run.first, start.fault.c_str(), kDataFileName);
      return false;
    }
    run.colour = start.computer_colour;
  } else {
    std::fprintf(stderr, "note: no '%s' here: game %d starts a fresh network.\n", kDataFileName, run.first);
  }
  if (!run.record.empty())
    std::fprintf(stderr, "note: '%s' holds %zu games; this run goes on from game %d.\n", kRecordName,
                 run.record.size(), run.first);
  if (!write_anew(kRecordName, run.record_text, true)) {
    std::fprintf(stderr, "error: cannot write to file '%s'.\n", kRecordName);
    return false;
  }
  run.command = {run.args.program, "-mode", "demo", "-dump"};
  if (!run.args.cuda.empty()) run.command.insert(run.command.end(), {"-cuda", run.args.cuda});
  if (!run.args.learn.empty()) run.command.insert(run.command.end(), {"-learn", run.args.learn});
  return true;
}

// What went wrong in a game whose run ended as `status` (made: its output
// files were made), or "": its run, its output, the data file it saved, and
// the record with its row added.
std::string game_fault(Run& run, bool made, const ProgramEnd& status, const std::string& out,
                       const std::string& err, GameRow& row) {
  if (!made) return std::string("cannot write to file '") + kGameOut + "' or '" + kGameErr + "'";
  if (!status.started) return "the program '" + run.args.program + "' could not be started";
  if (status.signal != 0) return "the program was ended by signal " + std::to_string(status.signal);
  if (status.code != 0) return "the program ended with status " + std::to_string(status.code);
  std::string fault = read_game_output(out, err, run.had_file, row);
  if (fault.empty())
    fault = after_game_fault(inspect_data_file(kDataFileName, *run.board, *run.net), run.colour);
  if (fault.empty() && !write_anew(kRecordName, run.record_text + record_line(row), true))
    fault = std::string("cannot write to file '") + kRecordName + "'";
  return fault;
}

double seconds_since(std::chrono::steady_clock::time_point t) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t).count();
}

// Plays game number row.game and records it: 0 when it went well, else the
// run's status, its messages printed (a stop by signal ends the process).
int play_and_record(Run& run, GameRow& row) {
  row.neuro_colour = run.colour;
  const auto game_start = std::chrono::steady_clock::now();
  std::string out, err;
  ProgramEnd status;
  const bool made = play_game(run.command, status, out, err);
  row.seconds = seconds_since(game_start);
  const bool finished = made && status.started && status.signal == 0 && status.code == 0;
  if (status.stopped || (stop_signal() != 0 && !finished)) {
    run.progress.close();
    if (stop_signal() != 0) end_stopped(stop_signal(), row.game);
    std::fprintf(stderr, "note: stopped during game %d; '%s' holds what the program saved last.\n", row.game,
                 kDataFileName);
    return kInterrupted;
  }
  if (const std::string fault = game_fault(run, made, status, out, err, row); !fault.empty()) {
    run.progress.close();
    std::fprintf(stderr,
                 "error: game %d: %s.\nnote: the run stopped; '%s' is kept as the game left it, and the "
                 "game's output is in '%s' and '%s'.\n",
                 row.game, fault.c_str(), kDataFileName, kGameOut, kGameErr);
    return kFailed;
  }
  run.record_text += record_line(row);
  run.had_file = true;
  run.colour = other_colour(run.colour);
  run.record.push_back(row);
  return 0;
}

int train(const Args& args) {
  Run run{args};
  if (!read_record(run.record, run.record_text)) {
    std::fprintf(stderr, "error: '%s' is not a record of training games; move it away to start a new one.\n",
                 kRecordName);
    return kFailed;
  }
  if (args.games == 0) return draw_picture(run.record) ? 0 : kFailed;
  if (!start_run(run)) return kFailed;
  run.progress.terminal = stderr_is_terminal();
  std::vector<GameRow> played;
  const auto start = std::chrono::steady_clock::now();
  if (run.progress.terminal) run.progress.show(progress_text(played, args.games, 0.0));
  for (int i = 0; i <= args.games; ++i) {
    if (stop_signal() != 0) {
      run.progress.close();
      end_stopped(stop_signal(), 0);
    }
    if (i == args.games) break;
    GameRow row;
    row.game = run.first + i;
    if (const int status = play_and_record(run, row); status != 0) return status;
    played.push_back(row);
    run.progress.show(progress_text(played, args.games, seconds_since(start)));
  }
  run.progress.close();
  return draw_picture(run.record) ? 0 : kFailed;
}

}  // namespace

int main(int argc, char** argv) {
  std::setvbuf(stderr, nullptr, _IONBF, 0);  // messages at once, also into a pipe
  if (argc >= 2 && std::strcmp(argv[1], "-teach") == 0) {
    TeachArgs teach;
    if (parse_teach_args(argc, argv, teach)) return run_teaching(teach, stderr_is_terminal());
    std::fputs(kUsageText, stderr);
    return kUsage;
  }
  Args args;
  if (!parse_args(argc, argv, args)) {
    std::fputs(kUsageText, stderr);
    return kUsage;
  }
  // A stop is passed on to the game's run, which saves; this run then ends
  // as the signal ends a process.
  install_stop_signals();
  const int status = train(args);
  if (stop_signal() != 0) end_stopped(stop_signal(), 0);  // during the picture, say
  return status;
}
