// The teaching run (tavimor-train -teach N): the network of the data file
// learns the traditional engine's moves in positions of its own games, with
// the backprop rule's gradient in minibatches, pass after pass.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "nn/network.h"

inline constexpr const char* kTeachRecordName = "teach.csv";
inline constexpr const char* kTeachPictureName = "teach.png";
inline constexpr const char* kTeachPlotName = "teach.gp";
inline constexpr const char* kTeachCacheName = "teach.pos";
inline constexpr const char* kTeachRepliesCacheName = "teach-replies.pos";

// How the teacher labels (and plays) its moves: its deep search `deeper`
// plies deeper than the engine plays, and the exact endgame past ply `exact`
// (the engine's own: 0 and 48).
// With a network, the games are the network's own: it plays one colour of
// each game (drawn) with the neural engine's search and -learn off, the
// teacher the other, and every position is labelled by the teacher.
struct TeacherLevel {
  int deeper = 0;
  int exact = 48;
  const NeuralNet* network = nullptr;
};

struct TeachArgs {
  long positions = 0;    // N
  int passes = 8;        // 0: only measures the network of the data file
  bool replies = false;  // teach the replies (see TaughtPosition)
  TeacherLevel level;
  bool own = false;  // games of the network of the data file, added to earlier rounds
};
// "-teach N [-passes P] [-replies] [-deeper D] [-exact E] [-own]" (D 0..2,
// E 36..48); false for anything else.
bool parse_teach_args(int argc, char** argv, TeachArgs& args);

// A position of a teacher's game as the network reads it (the plane of the
// side to move, as the learning step reads the plane the move was played
// from) and every move the teacher scored best in it.
// With replies, the moves are those of the teacher's next move in the game
// (the other side's reply, among the squares legal then): what the neural
// search asks of the network, which scores the replies to a move from the
// plane that move was played from.
// Also how the game ended, the final disc difference for the colour to
// move, and that colour. The cache holds these records as they are.
struct TaughtPosition {
  NetPosition position;
  uint64_t best;
  uint64_t legal;  // the squares the choice is among
  int32_t outcome = 0;
  int32_t side = 0;
};
static_assert(sizeof(TaughtPosition) == sizeof(NetPosition) + 24, "no padding in a cached record");

// Positions of the traditional engine's games, and those of every 20th game
// held out of the teaching.
struct TeachSet {
  std::vector<TaughtPosition> taught;
  std::vector<TaughtPosition> held;
};
// Plays the traditional engine against itself from openings of 0 to 9
// random moves (drawn from seed) until `count` positions to teach and a
// twentieth as many held out are gathered; past ply 48 its moves are the
// exact endgame's (see TeacherLevel). progress(done) is called after every
// game; it returns false to stop early (the set is then short). progress may
// be null.
TeachSet gather_positions(long count, uint32_t seed, bool (*progress)(long done, void* user), void* user,
                          bool replies = false, TeacherLevel level = {});

// How a network chooses on a set of positions: the share of positions whose
// highest-scored legal square (the program's own evaluation) is one of the
// teacher's best moves, and the share whose choice equals the network's
// fixed square preference (the legal square of the best mean score over the
// set).
// Also the neurons of layers 1 to 3 that give 0 on every position of the set,
// and how well the best legal score foretells each game's outcome: its mean
// squared difference from the taught value (value_error), beside that of
// the values' own mean (value_spread, what one constant foretells).
struct Agreement {
  double teacher = 0.0;
  double preference = 0.0;
  int dead[3] = {};
  double value_error = 0.0;
  double value_spread = 0.0;
};
Agreement agreement(const NeuralNet& net, const std::vector<TaughtPosition>& set);
// The agreement of a fixed table: each square ranked by how often it was a
// best move where it was legal in `from`, the best-ranked legal square
// chosen in each position of `set`.
double table_agreement(const std::vector<TaughtPosition>& from, const std::vector<TaughtPosition>& set);

// The state of the minibatch descent over one network.
struct Teacher;
struct TeacherDeleter {
  void operator()(Teacher* t) const;
};
using TeacherPtr = std::unique_ptr<Teacher, TeacherDeleter>;
TeacherPtr make_teacher(uint32_t seed);
// One pass over set in a random order, in minibatches; returns the mean
// loss. The rate falls from pass to pass (pass 0 of passes). progress(done)
// after each minibatch; it may be null.
double teach_pass(Teacher& teacher, NeuralNet& net, const std::vector<TaughtPosition>& set, int pass,
                  int passes, void (*progress)(long done, void* user), void* user);

// The record's first line and one pass's line.
std::string teach_record_header();
std::string teach_record_line(int pass, long positions, double loss, const Agreement& a, double table,
                              double seconds);
// The gnuplot script of a record of passes.
std::string teach_plot_script(const std::string& record, const std::string& png);

// The whole run; its exit status. terminal: standard error is a terminal
// (the progress line is rewritten in place).
int run_teaching(const TeachArgs& args, bool terminal);
