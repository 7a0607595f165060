// Times every computer move of whole demo games (the neural engine, learning
// as in demo mode, against the traditional engine), the engines against the
// full-width reference searches on the same positions, in one run.
//
//   tavimor_games [games] [first seed] [--exact-scores] [--no-reference]
//   tavimor_games --signature     (prints the bench signature, bench/signature.h)
//
// For each move it plays the reference root (the references under the same
// parallel root) on a copy, then the engine itself on the live board, checks
// that both report the same value, and prints one CSV line on standard
// output: the moves played (nodes) and network evaluations of both, and
// their wall times, with the ratios reference / fast. A summary follows, and
// each game is also played once more as a whole by run_demo and timed.
// With --exact-scores the engines score every root move exactly, as for a
// hint; by default they leave the moves that cannot be chosen at a bound.
// With --no-reference only the engines run (the reference columns are 0).
// Exit status 1 when any value differs.
#include <fcntl.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "bench/signature.h"
#include "game/random.h"
#include "nn/network.h"
#include "search/bitboard.h"
#include "search/engine.h"
#include "search/neuro.h"
#include "search/root.h"
#include "search/search.h"
#include "ui/console.h"

namespace {

using Clock = std::chrono::steady_clock;

double ms_since(Clock::time_point t0) {
  return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

// Processor time of the whole process (all threads), in ms.
double cpu_ms() {
  timespec t;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) * 1e-6;
}

// The roots as they were before the fast searches: the references under the
// same parallel root, square s scored by score(a context on the copy, s).
template <typename Score, typename ScoreSquare>
int reference_root(SearchContext& ctx, Score& best, Score sentinel, const ScoreSquare& score) {
  const RootChoice choice = choose_parallel_with(
      *ctx.board, best, sentinel, [] { return 0; },
      [&](int&, Board& copy, int s, Score) {
        SearchContext c{&copy, ctx.net, 0};
        return score(c, s);
      },
      [](int&) {});
  return play_choice(*ctx.board, choice);
}

int reference_final(SearchContext& ctx) {
  return reference_root(ctx, ctx.value, int32_t{kNoScore}, [](SearchContext& c, int s) {
    return -final_search_reference(c, *c.board, square_row(s), square_col(s));
  });
}

int reference_traditional(SearchContext& ctx) {
  if (endgame_due(*ctx.board)) return reference_final(ctx);
  return reference_root(ctx, ctx.value, int32_t{kNoScore}, [](SearchContext& c, int s) {
    return square_weights[s] - deep_search_reference(c, *c.board, 0, square_row(s), square_col(s));
  });
}

int reference_neuro(SearchContext& ctx) {
  Board& live = *ctx.board;
  if (endgame_due(live)) return reference_final(ctx);
  float out[64] = {};
  if (live.ply > 0) net_evaluate(*ctx.net, previous_plane(live), live.ply == 1, out);
  float best = 0;
  const int played = reference_root(ctx, best, -1.0e10f, [&](SearchContext& c, int s) {
    return out[s] + square_bias[s] - neuro_search_reference(c, *c.board, 0, square_row(s), square_col(s));
  });
  ctx.value = neuro_root_value(best);
  return played;
}

// The moves the full-width trees of all root moves play, and the network
// evaluations of the reference neural root (one per move played, and the
// root's own view once a move has been made).
SearchStats reference_stats(const Board& b, bool neural) {
  SearchStats st;
  const bool final = endgame_due(b);
  const int limit = final ? -1 : neural ? kNeuroDepth : kDeepLimit;
  for (int s = 0; s < 64; ++s)
    if (root_move_at(b, s)) st.nodes += root_tree_moves(b, s, 0, limit);
  if (neural && !final) st.evaluations = st.nodes + (b.ply > 0 ? 1 : 0);
  return st;
}

struct Move {
  const char* search;  // "deep", "neural" or "final"
  SearchStats ref, fast;
  double ref_ms, fast_ms;
  double fast_cpu_ms;  // processor time of all threads during the fast move
};

double ratio(double a, double b) { return b > 0 ? a / b : 0.0; }
double ratio(uint64_t a, uint64_t b) { return ratio(static_cast<double>(a), static_cast<double>(b)); }
unsigned long long ull(uint64_t v) { return v; }

double median(std::vector<double> v) {
  if (v.empty()) return 0.0;
  std::sort(v.begin(), v.end());
  return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

// run_demo's console output goes to /dev/null while it runs.
double time_run_demo(NeuralNet& net) {
  auto b = std::make_unique<Board>();
  fresh_game(*b);
  SearchContext ctx{b.get(), &net, 0};
  ConsoleState console = make_console_state();
  std::fflush(stderr);
  const int saved = dup(STDERR_FILENO);
  const int null = open("/dev/null", O_WRONLY);
  dup2(null, STDERR_FILENO);
  const auto t0 = Clock::now();
  run_demo(console, 0, ctx);
  const double ms = ms_since(t0);
  dup2(saved, STDERR_FILENO);
  close(null);
  close(saved);
  return ms;
}

// The command line's choices.
bool g_exact_scores = false;
bool g_with_reference = true;

// One move of the game on ctx: the reference root on a copy, then the engine
// on the live board, timed, and its CSV line. False when the values differ.
bool time_move(int game, uint32_t seed, SearchContext& ctx, ThinkType engine, Move& m) {
  Board& live = *ctx.board;
  const bool neural = engine == ThinkType::neuro;
  m.search = endgame_due(live) ? "final" : neural ? "neural" : "deep";
  auto copy = std::make_unique<Board>(live);
  SearchContext rctx{copy.get(), ctx.net, 0};
  int ref_played = 1;
  if (g_with_reference) {
    m.ref = reference_stats(live, neural);
    const auto t0 = Clock::now();
    ref_played = neural ? reference_neuro(rctx) : reference_traditional(rctx);
    m.ref_ms = ms_since(t0);
  }
  const auto t0 = Clock::now();
  const double c0 = cpu_ms();
  RootScores scores;
  const ThinkOptions options{g_exact_scores ? &scores : nullptr, &m.fast};
  const int played = neural ? think_neuro(ctx, options) : think_traditional(ctx, options);
  m.fast_ms = ms_since(t0);
  m.fast_cpu_ms = cpu_ms() - c0;
  const bool same = played == 1 && ref_played == 1 && (!g_with_reference || rctx.value == ctx.value);
  if (!same)
    std::fprintf(stderr, "game %d ply %d: reference value %d, fast %d\n", game, copy->ply - 1, rctx.value,
                 ctx.value);
  std::printf("%u,%d,%s,%llu,%llu,%.1f,%llu,%llu,%.1f,%.3f,%.3f,%.1f,%.3f,%d\n", seed, live.ply - 1, m.search,
              ull(m.ref.nodes), ull(m.fast.nodes), ratio(m.ref.nodes, m.fast.nodes), ull(m.ref.evaluations),
              ull(m.fast.evaluations), ratio(m.ref.evaluations, m.fast.evaluations), m.ref_ms, m.fast_ms,
              ratio(m.ref_ms, m.fast_ms), m.fast_cpu_ms, ctx.value);
  std::fflush(stdout);
  return same;
}

struct GameTimes {
  double fast_ms = 0, ref_ms = 0, demo_ms = 0;
};

// Game g, the neural engine learning as in demo mode (the learning step is
// timed with its move), then the same game once more by run_demo. False
// when a value differs.
bool play_game(int g, uint32_t seed, std::vector<Move>& all, GameTimes& t) {
  rand15_seed(seed);  // the root's tie draws: the same games on one thread
  auto net = bench_net(seed);
  auto pristine = std::make_unique<NeuralNet>(*net);
  auto live = std::make_unique<Board>();
  new_game(*live);
  live->computer_colour = 2;
  SearchContext ctx{live.get(), net.get(), 0};
  int opponent = 0;
  bool same = true;
  while (check_end(*live) == 0) {
    const bool neural = live->side == live->computer_colour;
    if (neural && opponent != 0) {
      opponent = 0;
      const auto t0 = Clock::now();
      learn_last_move(ctx);
      const double learn = ms_since(t0);
      t.fast_ms += learn;
      if (g_with_reference) t.ref_ms += learn;
    }
    Move m{};
    same &= time_move(g, seed, ctx, neural ? ThinkType::neuro : ThinkType::traditional, m);
    if (!neural) ++opponent;
    t.fast_ms += m.fast_ms;
    t.ref_ms += m.ref_ms;
    all.push_back(m);
  }
  net_params_changed(*pristine);  // the fast evaluation's weight copy, now derived for this network
  t.demo_ms = time_run_demo(*pristine);
  return same;
}

// The summary line of each search over all the moves.
void print_summary(const std::vector<Move>& all) {
  std::printf(
      "\nsearch,moves,ref_nodes,fast_nodes,node_ratio,ref_evals,fast_evals,eval_ratio,ref_ms_max,"
      "fast_ms_max,fast_ms_median,ref_ms_total,fast_ms_total,time_ratio,fast_cpu_ms_total\n");
  for (const char* search : {"deep", "final", "neural"}) {
    Move t{search, {}, {}, 0, 0, 0};  // the totals
    double ref_max = 0, fast_max = 0;
    std::vector<double> times;
    for (const Move& m : all) {
      if (std::strcmp(m.search, search) != 0) continue;
      t.ref.nodes += m.ref.nodes;
      t.fast.nodes += m.fast.nodes;
      t.ref.evaluations += m.ref.evaluations;
      t.fast.evaluations += m.fast.evaluations;
      t.fast.batches += m.fast.batches;
      t.ref_ms += m.ref_ms;
      t.fast_ms += m.fast_ms;
      t.fast_cpu_ms += m.fast_cpu_ms;
      ref_max = std::max(ref_max, m.ref_ms);
      fast_max = std::max(fast_max, m.fast_ms);
      times.push_back(m.fast_ms);
    }
    std::printf("%s,%zu,%llu,%llu,%.1f,%llu,%llu,%.1f,%.1f,%.2f,%.2f,%.1f,%.1f,%.1f,%.1f\n", search,
                times.size(), ull(t.ref.nodes), ull(t.fast.nodes), ratio(t.ref.nodes, t.fast.nodes),
                ull(t.ref.evaluations), ull(t.fast.evaluations), ratio(t.ref.evaluations, t.fast.evaluations),
                ref_max, fast_max, median(times), t.ref_ms, t.fast_ms, ratio(t.ref_ms, t.fast_ms),
                t.fast_cpu_ms);
    if (t.fast.batches > 0) std::printf("# %s batches %llu\n", search, ull(t.fast.batches));
  }
}

}  // namespace

int main(int argc, char** argv) {
  int games = 3;
  uint32_t first_seed = 1;
  int positional = 0;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--signature") == 0) {
      for (const SignatureRow& row : bench_signature())
        std::printf("%s %s %llu %llu\n", row.position.c_str(), row.engine.c_str(), ull(row.nodes),
                    ull(row.evaluations));
      return 0;
    }
    if (std::strcmp(argv[i], "--exact-scores") == 0) {
      g_exact_scores = true;
    } else if (std::strcmp(argv[i], "--no-reference") == 0) {
      g_with_reference = false;
    } else if (positional++ == 0) {
      games = std::atoi(argv[i]);
    } else {
      first_seed = static_cast<uint32_t>(std::atoi(argv[i]));
    }
  }
  std::vector<Move> all;
  std::vector<GameTimes> times(static_cast<std::size_t>(std::max(games, 0)));
  bool same = true;
  std::printf(
      "game,ply,search,ref_nodes,fast_nodes,node_ratio,ref_evals,fast_evals,eval_ratio,ref_ms,fast_ms,time_"
      "ratio,fast_cpu_ms,value\n");
  for (int g = 0; g < games; ++g)
    same &= play_game(g, first_seed + static_cast<uint32_t>(g), all, times[static_cast<std::size_t>(g)]);
  print_summary(all);
  std::printf("\ngame,ref_ms,fast_ms,time_ratio,run_demo_ms\n");
  for (int g = 0; g < games; ++g) {
    const GameTimes& t = times[static_cast<std::size_t>(g)];
    std::printf("%u,%.0f,%.0f,%.1f,%.0f\n", first_seed + static_cast<uint32_t>(g), t.ref_ms, t.fast_ms,
                ratio(t.ref_ms, t.fast_ms), t.demo_ms);
  }
  if (!same) std::fprintf(stderr, "values differ\n");
  return same ? 0 : 1;
}
