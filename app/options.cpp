#include "app/options.h"

#include <climits>
#include <cstdio>
#include <cstring>

#include "nn/network.h"
#include "nn/neural_net.h"

namespace {

constexpr const char* kUsage =
    "usage: tavimor [option]\n"
    "option) -mode  <MODE> : MODE = win*|text|demo\n"
    "        -think <TYPE> : TYPE = neuro*|traditional\n"
    "        -learn <RULE> : RULE = imitation*|backprop|off\n"
    "        -cuda  <#GPU> : with CUDA on #GPU\n"
    "        -dump         : debug info for neural network\n"
    "        -nnc          : csv for neural network console\n";

bool same(const char* a, const char* b) { return std::strcmp(a, b) == 0; }

void say(const char* a, const char* b = "", const char* c = "") { std::fprintf(stderr, "%s%s%s", a, b, c); }

// The options followed by a value.
bool is_valued(const char* arg) {
  return same(arg, "-mode") || same(arg, "-think") || same(arg, "-learn") || same(arg, "-cuda");
}

// Sets the option arg (one of is_valued's) to value, with its note; false,
// with the error said, for a value it does not take.
bool take_value(const char* arg, const char* value, Options& opts, NeuralNet& net) {
  if (same(arg, "-mode")) {
    static const char* const kModes[] = {"win", "text", "demo"};  // in GameMode's order
    int m = kModeWin;
    while (m <= kModeDemo && !same(value, kModes[m])) ++m;
    if (m > kModeDemo) {
      say("error: bad mode ", value, ".\n");
      return false;
    }
    opts.mode = m;
    say("note: ", value, " mode is selected.\n");
  } else if (same(arg, "-think")) {
    ThinkType engine{};
    if (!parse_think(value, engine)) return false;
    opts.engine = engine;
    say("note: ", value, " mode is selected.\n");
  } else if (same(arg, "-learn")) {
    if (!parse_learn(value, net.learn_rule)) return false;
    say("note: ", value, " learning is selected.\n");
  } else {
    const int n = atoi_clamped(value);
    if (n < 0) {
      std::fprintf(stderr, "error: #GPU(%d) must be positive or zero.\n", n);
      return false;
    }
    opts.gpu_ordinal = n;
  }
  return true;
}

}  // namespace

bool learn_rule_named(const char* text, LearnRule& rule) {
  if (same(text, "imitation"))
    rule = LearnRule::imitation;
  else if (same(text, "backprop"))
    rule = LearnRule::backprop;
  else if (same(text, "off"))
    rule = LearnRule::off;
  else
    return false;
  return true;
}

int atoi_clamped(const char* text) {
  const char* p = text;
  while (*p == ' ' || (*p >= '\t' && *p <= '\r')) ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = *p++ == '-';
  long long n = 0;
  for (; *p >= '0' && *p <= '9'; ++p) {
    n = n * 10 + (*p - '0');
    if (n > static_cast<long long>(INT_MAX) + 1) n = static_cast<long long>(INT_MAX) + 1;
  }
  if (negative) n = -n;
  if (n > INT_MAX) n = INT_MAX;
  return static_cast<int>(n);
}

bool parse_think(const char* text, ThinkType& engine) {
  engine = same(text, engine_word(ThinkType::neuro)) ? ThinkType::neuro : ThinkType::traditional;
  if (same(text, engine_word(engine))) return true;
  say("error: bad think type ", text, ".\n");
  return false;
}

bool parse_learn(const char* text, LearnRule& rule) {
  if (learn_rule_named(text, rule)) return true;
  say("error: bad learn rule ", text, ".\n");
  return false;
}

bool parse_options(int argc, const char* const* argv, Options& opts, NeuralNet& net) {
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (i + 1 < argc && is_valued(arg)) {
      if (!take_value(arg, argv[++i], opts, net)) return false;
    } else if (same(arg, "-dump")) {
      opts.diag_mode = kDiagDump;
    } else if (same(arg, "-nnc")) {
      net.out_mode = kDiagCsv;
      net_init_random(net);
      opts.diag_mode = kDiagCsv;
    } else {
      std::fputs(kUsage, stderr);
      return false;
    }
  }
  return true;
}
