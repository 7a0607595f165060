// The command line of the program.
#pragma once

#include <optional>

#include "nn/neural_net.h"
#include "search/engine.h"

enum GameMode { kModeWin = 0, kModeText = 1, kModeDemo = 2 };

struct Options {
  int mode = kModeWin;
  std::optional<ThinkType> engine;  // -think's choice; none: the data file's
  int gpu_ordinal = -1;             // -1: no GPU
  int diag_mode = 0;                // kDiagDump, kDiagCsv (the later of -dump and -nnc) or 0
};

// Converts like atoi (leading blanks, an optional sign, the leading digits;
// anything else gives 0), but clamps to the int range instead of overflowing.
int atoi_clamped(const char* text);

// The learning rule named text ("imitation", "backprop" or "off", exactly),
// into rule; false for any other text.
bool learn_rule_named(const char* text, LearnRule& rule);

// -think's value (an engine_word) and -learn's; false, with "error: bad think
// type TEXT." or "error: bad learn rule TEXT." said, for any other text.
bool parse_think(const char* text, ThinkType& engine);
bool parse_learn(const char* text, LearnRule& rule);

// Parses argv[1..argc-1] into opts, printing the notes and errors. "-nnc"
// sets net.out_mode to kDiagCsv and calls net_init_random at once; "-learn"
// sets net.learn_rule. Returns false
// when the run must stop (the caller exits with -1).
bool parse_options(int argc, const char* const* argv, Options& opts, NeuralNet& net);
