// The training runner's decisions, free of processes and terminals: what one
// demo game's output reports, whether the data file it saved holds up, the
// record of the games (one CSV row each), the progress line and the plot.
#pragma once

#include <string>
#include <vector>

struct Board;
struct NeuralNet;

inline constexpr const char* kRecordName = "train.csv";
inline constexpr const char* kPictureName = "train.png";
inline constexpr const char* kPlotName = "train.gp";
inline constexpr int kShareWindow = 20;  // games in the mean of the disc share
// Rows of the -dump parameter tables that the record keeps: the biases of
// layers 0..4 ("s0".."s4"), then the weights of layers 0..3 ("n0".."n3").
inline constexpr int kStatRows = 9;
inline constexpr int kBiasRows = 5;

// One finished game, as its row of the record holds it.
struct GameRow {
  int game = 0;          // 1, 2, ... over the whole record
  int neuro_colour = 0;  // the colour the neural engine played
  int neuro_discs = 0;
  int trady_discs = 0;
  int result = 0;        // the neural engine's disc difference, from the result line
  double seconds = 0.0;  // wall time of the game's run
  double ave[kStatRows] = {};
  double sd[kStatRows] = {};
};

// The neural engine's share of the discs on the final board.
double disc_share(const GameRow& row);

// Reads what one run of the program in demo mode with -dump wrote (standard
// output, standard error) into the counts, result and parameter statistics
// of row. had_file says whether a data file was there to load. Returns "" or
// what is wrong with the output.
std::string read_game_output(const std::string& out, const std::string& err, bool had_file, GameRow& row);

// The data file as the runner sees it: fault is "" when it loads and every
// parameter is a number; then the neural engine's colour and the ply of the
// stored game.
struct DataState {
  std::string fault;
  int computer_colour = 0;
  int ply = 0;
};
// Reads path into the scratch records board and net (net is 4 MB: the
// caller's heap) and checks it without printing anything.
DataState inspect_data_file(const char* path, Board& board, NeuralNet& net);
// "" or the first parameter that is not a finite number.
std::string params_fault(const NeuralNet& net);
// "" or what is wrong with the data file saved by a game in which the neural
// engine played colour.
std::string after_game_fault(const DataState& saved, int colour);

// The record's first line, one game's line (newline included) and the
// reverse; parse_record_line is false for a line that is not a game's.
std::string record_header();
std::string record_line(const GameRow& row);
bool parse_record_line(const std::string& line, GameRow& row);

// The progress line (no newline): games done of total, the time spent and
// the time left, the neural engine's wins, draws and losses in this run and
// its mean disc share over the run's last kShareWindow games.
std::string progress_text(const std::vector<GameRow>& run, int total, double elapsed_s);

// A gnuplot script that draws the whole record to png (or to the file that
// a variable picture set before it names): the disc share per
// game with its moving mean over kShareWindow games, and below it the
// standard deviations of the weight layers.
std::string plot_script(const std::vector<GameRow>& rows, const std::string& png);
