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

bool parse_options(int argc, const char* const* argv, Options& opts, NeuralNet& net) {
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (i + 1 < argc) {
      const char* value = argv[i + 1];
      if (same(arg, "-mode")) {
        ++i;
        if (same(value, "win")) {
          opts.mode = kModeWin;
          say("note: win mode is selected.\n");
        } else if (same(value, "text")) {
          opts.mode = kModeText;
          say("note: text mode is selected.\n");
        } else if (same(value, "demo")) {
          opts.mode = kModeDemo;
          say("note: demo mode is selected.\n");
        } else {
          say("error: bad mode ", value, ".\n");
          return false;
        }
        continue;
      }
      if (same(arg, "-think")) {
        ++i;
        if (same(value, "neuro")) {
          opts.choice = ThinkType::neuro;
          say("note: neuro mode is selected.\n");
        } else if (same(value, "traditional")) {
          opts.choice = ThinkType::traditional;
          say("note: traditional mode is selected.\n");
        } else {
          say("error: bad think type ", value, ".\n");
          return false;
        }
        continue;
      }
      if (same(arg, "-learn")) {
        ++i;
        if (!learn_rule_named(value, net.learn_rule)) {
          say("error: bad learn rule ", value, ".\n");
          return false;
        }
        say("note: ", value, " learning is selected.\n");
        continue;
      }
      if (same(arg, "-cuda")) {
        ++i;
        const int n = atoi_clamped(value);
        if (n < 0) {
          std::fprintf(stderr, "error: #GPU(%d) must be positive or zero.\n", n);
          return false;
        }
        opts.gpu_ordinal = n;
        continue;
      }
    }
    if (same(arg, "-dump")) {
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
