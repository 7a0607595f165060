// The teaching run: positions of the traditional engine's games, labelled
// with its best moves, taught to the network in minibatches.
#include "app/teach.h"

#include <algorithm>
#include <array>
#include <bit>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <numeric>
#include <random>
#include <sstream>
#include <utility>

#include "app/datafile.h"
#include "app/output_files.h"
#include "app/platform.h"
#include "game/board.h"
#include "game/random.h"
#include "nn/backprop.h"
#include "search/engine.h"
#include "search/search.h"
#include "search/search_table.h"

namespace {

constexpr long kMaxPositions = 10000000;
constexpr int kMaxPasses = 100;
constexpr int kMaxDeeper = 2;
constexpr int kEarliestExact = 36;
constexpr int kHeldOutEvery = 20;     // every 20th game is held out
constexpr int kOpeningMoves = 10;     // random opening moves: 0..9
constexpr int kBatch = 256;           // positions a minibatch
constexpr float kTeachRate = 0.003f;  // Adam's rate at the first pass
constexpr int kFailed = 1;
constexpr uint32_t kGatherSeed = 20261209u;
constexpr char kCacheMagic[8] = {'T', 'V', 'T', 'E', 'A', 'C', 'H', '3'};

int lowest_square(uint64_t set) { return std::countr_zero(set); }

// The rate of a pass: falling linearly to a tenth over the run.
float pass_rate(int pass, int passes) {
  return kTeachRate * (1.0f - 0.9f * static_cast<float>(pass) / static_cast<float>(passes));
}

// The value a side's best moves are taught when it ends its game
// `difference` stones ahead (-64..64).
float outcome_value(int difference) { return std::tanh(static_cast<float>(difference) / 16.0f); }

// The best-ranked legal square of a position by rank[], or -1.
int best_by(const float* rank, uint64_t legal) {
  int choice = -1;
  for (uint64_t s = legal; s != 0; s &= s - 1) {
    const int q = lowest_square(s);
    if (choice < 0 || rank[q] > rank[choice]) choice = q;
  }
  return choice;
}

}  // namespace

struct Teacher {
  std::mt19937 rng;
  BackpropWork work = make_backprop_work(kBatch);
  Gradient grad;
  Gradient first;  // Adam's moment estimates
  Gradient second;
  long steps = 0;
  uint64_t legal[kBatch] = {};
  uint64_t best[kBatch] = {};
  float value[kBatch] = {};
};

void TeacherDeleter::operator()(Teacher* t) const { delete t; }

TeacherPtr make_teacher(uint32_t seed) {
  TeacherPtr t(new Teacher);
  t->rng.seed(seed);
  return t;
}

bool parse_teach_args(int argc, char** argv, TeachArgs& args) {
  const auto number = [](const char* text, long least, long most, long& n) {
    char* end = nullptr;
    n = std::strtol(text, &end, 10);
    return text[0] >= '0' && text[0] <= '9' && *end == '\0' && n >= least && n <= most;
  };
  if (argc < 3 || std::strcmp(argv[1], "-teach") != 0 || !number(argv[2], 1, kMaxPositions, args.positions))
    return false;
  for (int i = 3; i < argc; i += 2) {
    long n = 0;
    if (std::strcmp(argv[i], "-replies") == 0 || std::strcmp(argv[i], "-own") == 0) {
      (argv[i][1] == 'r' ? args.replies : args.own) = true;
      --i;
      continue;
    }
    if (i + 1 >= argc) return false;
    const std::string option = argv[i];
    if (option == "-passes" && number(argv[i + 1], 0, kMaxPasses, n))
      args.passes = static_cast<int>(n);
    else if (option == "-deeper" && number(argv[i + 1], 0, kMaxDeeper, n))
      args.level.deeper = static_cast<int>(n);
    else if (option == "-exact" && number(argv[i + 1], kEarliestExact, kEndgamePly, n))
      args.level.exact = static_cast<int>(n);
    else
      return false;
  }
  return true;
}

namespace {

// The teacher at a level of its own: every legal move of b scored (a move
// that cannot be best only bounded below the best), by the exact endgame past
// ply level.exact, else by the deep search level.deeper plies deeper.
void scores_at_level(SearchTables& tables, const Board& b, TeacherLevel level, RootScores& all) {
  all.count = 0;
  int32_t best = kNoScore;
  const bool exact = b.ply > level.exact;
  for (int s = 0; s < 64; ++s) {
    if ((current_plane(b)[cell_index(square_row(s), square_col(s))] & kLegalMark) == 0) continue;
    const int w = exact ? 0 : square_weights[s];
    const int beta = best == kNoScore ? kDeepInfinity : w - best + 1;
    const int v = exact ? -final_search_window(tables, b, square_row(s), square_col(s), -kDeepInfinity, beta)
                        : w - deep_search_window(tables, b, -level.deeper, square_row(s), square_col(s),
                                                 -kDeepInfinity, beta);
    best = std::max(best, v);
    all.moves[all.count++] = RootMove{square_row(s), square_col(s), v};
  }
}

// The positions of one teacher's game from an opening of random moves drawn
// from seed (and the tie draws inside the searches seeded from it too).
std::vector<TaughtPosition> teacher_game(uint32_t seed, bool replies, TeacherLevel level) {
  const bool own_level = level.deeper != 0 || level.exact != kEndgamePly || level.network != nullptr;
  const auto tables = make_search_tables();
  std::vector<TaughtPosition> game;
  auto board = std::make_unique<Board>();
  SearchContext ctx{board.get(), nullptr, 0};  // the traditional engine reads no network
  std::mt19937 rng(seed);
  rand15_seed(seed);
  new_game(*board);
  const int opening = static_cast<int>(rng() % kOpeningMoves);
  const int network_colour = level.network != nullptr ? 1 + static_cast<int>(rng() % 2) : 0;
  SearchContext player{board.get(), const_cast<NeuralNet*>(level.network), 0};
  while (check_end(*board) == 0) {
    TaughtPosition t{net_position(current_plane(*board), board->ply == 0), 0, 0};
    t.legal = t.position.legal;
    t.side = board->side;
    if (board->ply < opening) {
      uint64_t s = t.position.legal;
      for (int skip = static_cast<int>(rng() % std::popcount(s)); skip > 0; --skip) s &= s - 1;
      const int q = lowest_square(s);
      if (play(*board, square_row(q), square_col(q)) == 0) break;
      continue;
    }
    RootScores all;
    if (own_level) {
      scores_at_level(*tables, *board, level, all);
    } else if (think_traditional(ctx, ThinkOptions{&all}) == 0) {
      break;
    }
    if (all.count == 0) break;
    int32_t top = all.moves[0].value;
    for (int i = 1; i < all.count; ++i) top = std::max(top, all.moves[i].value);
    for (int i = 0; i < all.count; ++i)
      if (all.moves[i].value == top)
        t.best |= uint64_t{1} << (8 * (all.moves[i].row - 1) + all.moves[i].col - 1);
    game.push_back(t);
    if (board->side == network_colour) {
      if (think_neuro(player) == 0) break;
    } else if (own_level) {  // one of the best moves, drawn
      uint64_t s = t.best;
      for (int skip = static_cast<int>(rng() % std::popcount(s)); skip > 0; --skip) s &= s - 1;
      if (play(*board, square_row(lowest_square(s)), square_col(lowest_square(s))) == 0) break;
    }
  }
  const int difference = board->discs1 - board->discs2;
  for (TaughtPosition& t : game) t.outcome = t.side == 1 ? difference : -difference;
  if (replies && !game.empty()) {
    for (size_t k = 0; k + 1 < game.size(); ++k) {
      game[k].best = game[k + 1].best;
      game[k].legal = game[k + 1].legal;
      game[k].side = game[k + 1].side;
      game[k].outcome = game[k + 1].outcome;
    }
    game.pop_back();
  }
  return game;
}

}  // namespace

TeachSet gather_positions(long count, uint32_t seed, bool (*progress)(long, void*), void* user, bool replies,
                          TeacherLevel level) {
  TeachSet set;
  const long held_count = std::max(1L, count / kHeldOutEvery);
  // The games run side by side, one a thread (the searches' own root loops
  // then run on that thread alone), in blocks; each block's games are taken
  // in order, so the set does not depend on the threads.
  constexpr int kBlock = 64;
  std::vector<std::vector<TaughtPosition>> games(kBlock);
  for (long first = 0;; first += kBlock) {
#pragma omp parallel for schedule(dynamic, 1)
    for (int g = 0; g < kBlock; ++g)
      games[g] = teacher_game(seed + static_cast<uint32_t>(first + g) * 7919u, replies, level);
    for (int g = 0; g < kBlock; ++g) {
      const bool held = (first + g) % kHeldOutEvery == kHeldOutEvery - 1;
      std::vector<TaughtPosition>& into = held ? set.held : set.taught;
      const size_t wanted = static_cast<size_t>(held ? held_count : count);
      for (const TaughtPosition& t : games[g])
        if (into.size() < wanted) into.push_back(t);
    }
    if (static_cast<long>(set.taught.size()) >= count && static_cast<long>(set.held.size()) >= held_count)
      break;
    if (progress != nullptr && !progress(static_cast<long>(set.taught.size() + set.held.size()), user)) break;
  }
  return set;
}

Agreement agreement(const NeuralNet& net, const std::vector<TaughtPosition>& set) {
  const long n = static_cast<long>(set.size());
  Agreement a;
  if (n == 0) return a;
  std::vector<std::array<float, 64>> scores(n);
  constexpr long kChunk = 48;
#pragma omp parallel
  {
    const auto batch = make_net_batch();
    NetPosition positions[kChunk];
#pragma omp for schedule(dynamic, 1)
    for (long c = 0; c < (n + kChunk - 1) / kChunk; ++c) {
      const long first = c * kChunk, m = std::min(kChunk, n - first);
      for (long i = 0; i < m; ++i) positions[i] = set[first + i].position;
      net_evaluate_batch(net, *batch, positions, static_cast<int>(m),
                         reinterpret_cast<float(*)[64]>(scores[first].data()));
    }
  }
  float mean[64] = {};
  for (const auto& s : scores)
    for (int q = 0; q < 64; ++q) mean[q] += s[q] / static_cast<float>(n);
  long hits = 0, same = 0;
  double value_mean = 0.0, value_square = 0.0;
  for (long i = 0; i < n; ++i) {
    const double value = outcome_value(set[i].outcome);
    value_mean += value / static_cast<double>(n);
    value_square += value * value / static_cast<double>(n);
    const int choice = best_by(scores[i].data(), set[i].legal);
    if (choice < 0) continue;
    hits += (set[i].best >> choice & 1) != 0;
    same += choice == best_by(mean, set[i].legal);
    const double miss = scores[i][choice] - value;
    a.value_error += miss * miss / static_cast<double>(n);
  }
  a.value_spread = value_square - value_mean * value_mean;
  // Dead neurons, through the batched forward pass.
  BackpropWork work = make_backprop_work(kBatch);
  bool alive[3][kSlots] = {};
  for (long first = 0; first < n; first += kBatch) {
    const int m = static_cast<int>(std::min<long>(kBatch, n - first));
    for (int i = 0; i < m; ++i) backprop_input(work, i, set[first + i].position);
    backprop_forward(net, work, m);
    for (int L = 1; L <= 3; ++L)
      for (int i = 0; i < m; ++i)
        for (int j = 0; j < NAC[L]; ++j)
          alive[L - 1][j] |= work.act[L][static_cast<size_t>(i) * kSlots + j] > 0.0f;
  }
  for (int L = 1; L <= 3; ++L)
    a.dead[L - 1] = static_cast<int>(std::count(alive[L - 1], alive[L - 1] + NAC[L], false));
  a.teacher = static_cast<double>(hits) / static_cast<double>(n);
  a.preference = static_cast<double>(same) / static_cast<double>(n);
  return a;
}

double table_agreement(const std::vector<TaughtPosition>& from, const std::vector<TaughtPosition>& set) {
  double best[64] = {}, legal[64] = {};
  for (const TaughtPosition& t : from)
    for (int q = 0; q < 64; ++q) {
      legal[q] += static_cast<double>(t.legal >> q & 1);
      best[q] += static_cast<double>(t.best >> q & 1);
    }
  float rank[64];
  for (int q = 0; q < 64; ++q) rank[q] = legal[q] > 0.0 ? static_cast<float>(best[q] / legal[q]) : 0.0f;
  long hits = 0;
  for (const TaughtPosition& t : set) {
    const int choice = best_by(rank, t.legal);
    hits += choice >= 0 && (t.best >> choice & 1) != 0;
  }
  return set.empty() ? 0.0 : static_cast<double>(hits) / static_cast<double>(set.size());
}

double teach_pass(Teacher& teacher, NeuralNet& net, const std::vector<TaughtPosition>& set, int pass,
                  int passes, void (*progress)(long, void*), void* user) {
  std::vector<long> order(set.size());
  std::iota(order.begin(), order.end(), 0L);
  std::shuffle(order.begin(), order.end(), teacher.rng);
  const float rate = pass_rate(pass, passes);
  double loss = 0.0;
  for (long done = 0; done < static_cast<long>(order.size());) {
    const int count = static_cast<int>(std::min<long>(kBatch, static_cast<long>(order.size()) - done));
    for (int i = 0; i < count; ++i) {
      const TaughtPosition& t = set[order[done + i]];
      backprop_input(teacher.work, i, t.position);
      teacher.legal[i] = t.legal;
      teacher.best[i] = t.best;
      teacher.value[i] = outcome_value(t.outcome);
    }
    backprop_forward(net, teacher.work, count);
    loss +=
        backprop_gradient(net, teacher.work, teacher.legal, teacher.best, count, teacher.grad, teacher.value);
    // The step along the mean gradient of the minibatch.
    const float scale = 1.0f / static_cast<float>(count);
    for (float& g : teacher.grad.bias) g *= scale;
    for (float& g : teacher.grad.weight) g *= scale;
    backprop_apply_adam(net, teacher.grad, teacher.first, teacher.second, ++teacher.steps, rate);
    done += count;
    if (progress != nullptr) progress(done, user);
  }
  return set.empty() ? 0.0 : loss / static_cast<double>(set.size());
}

std::string teach_record_header() {
  return "pass,positions,loss,agreement,preference,table,dead1,dead2,dead3,seconds,value_error\n";
}

std::string teach_record_line(int pass, long positions, double loss, const Agreement& a, double table,
                              double seconds) {
  char line[200];
  std::snprintf(line, sizeof line, "%d,%ld,%.4f,%.4f,%.4f,%.4f,%d,%d,%d,%.1f,%.4f\n", pass, positions, loss,
                a.teacher, a.preference, table, a.dead[0], a.dead[1], a.dead[2], seconds, a.value_error);
  return line;
}

std::string teach_plot_script(const std::string& record, const std::string& png) {
  std::ostringstream s;
  s << "set terminal pngcairo size 900,500\n"
    << "if (!exists(\"picture\")) picture = '" << png << "'\n"
    << "set output picture\n"
    << "set datafile separator ','\n"
    << "set key autotitle columnhead bottom right\n"
    << "set xlabel 'pass'\nset ylabel 'share of held-out positions'\nset yrange [0:1]\nset grid\n"
    << "plot '" << record << "' using 1:4 with linespoints title 'agreement with the teacher', "
    << "'' using 1:5 with lines title 'choice = fixed square preference', "
    << "'' using 1:6 with lines dashtype 2 title 'fixed table of the taught moves'\n";
  return s.str();
}

namespace {

// The progress line: rewritten in place on a terminal, else one line each.
struct Progress {
  bool terminal = false;
  std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
  std::chrono::steady_clock::time_point shown{};
  long total = 0;
  std::string what;
  double seconds() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  }
  void show(long done, bool last) {
    const auto now = std::chrono::steady_clock::now();
    if (!last && now - shown < std::chrono::seconds(terminal ? 1 : 30)) return;
    shown = now;
    std::fprintf(stderr, "%s%s: %ld of %ld, %.0f s%s", terminal ? "\r" : "", what.c_str(), done, total,
                 seconds(), terminal && !last ? "   " : "\n");
  }
};

bool gather_progress(long done, void* user) {
  static_cast<Progress*>(user)->show(done, false);
  return stop_signal() == 0;
}

void pass_progress(long done, void* user) { static_cast<Progress*>(user)->show(done, false); }

// A cache that is not a regular file, is cut short or holds a position
// without a labelled legal square is not used (the positions are gathered
// again and the cache written anew). count -1 keeps all it holds.
bool read_cache(const char* name, long count, TeachSet& set) {
  PathKind kind = PathKind::missing;
  std::FILE* f = open_regular_file(name, kind);
  if (f == nullptr) return false;
  const auto read = [f](void* to, std::size_t bytes) { return std::fread(to, 1, bytes, f) == bytes; };
  char magic[8];
  uint64_t sizes[2];
  bool ok = read(magic, sizeof magic) && std::memcmp(magic, kCacheMagic, sizeof magic) == 0 &&
            read(sizes, sizeof sizes);
  const uint64_t held_count = static_cast<uint64_t>(std::max(1L, count / kHeldOutEvery));
  ok = ok && sizes[0] >= static_cast<uint64_t>(std::max(0L, count)) && sizes[1] >= held_count &&
       sizes[0] <= kMaxPositions && sizes[1] <= kMaxPositions;
  if (ok) {
    set.taught.resize(sizes[0]);
    set.held.resize(sizes[1]);
    ok = read(set.taught.data(), sizes[0] * sizeof(TaughtPosition)) &&
         read(set.held.data(), sizes[1] * sizeof(TaughtPosition));
  }
  std::fclose(f);
  const auto labelled = [](const TaughtPosition& p) { return p.best != 0 && (p.best & ~p.legal) == 0; };
  ok = ok && std::all_of(set.taught.begin(), set.taught.end(), labelled) &&
       std::all_of(set.held.begin(), set.held.end(), labelled);
  if (!ok) {
    set = TeachSet{};
    return false;
  }
  if (count < 0) return true;
  set.taught.resize(count);
  set.held.resize(held_count);
  return true;
}

void write_cache(const char* name, const TeachSet& set) {
  const uint64_t sizes[2] = {set.taught.size(), set.held.size()};
  std::string bytes(kCacheMagic, sizeof kCacheMagic);
  bytes.append(reinterpret_cast<const char*>(sizes), sizeof sizes);
  bytes.append(reinterpret_cast<const char*>(set.taught.data()), set.taught.size() * sizeof(TaughtPosition));
  bytes.append(reinterpret_cast<const char*>(set.held.data()), set.held.size() * sizeof(TaughtPosition));
  if (!write_anew(name, bytes, false))
    std::fprintf(stderr, "note: the positions could not be kept in '%s'.\n", name);
}

// The board and network of the data file, or a fresh game and network when
// there is none; false, with the error said, when the file cannot be read.
bool load_taught(Board& board, NeuralNet& net) {
  const DataFault fault = read_data_from(kDataFileName, board, net);
  if (fault == DataFault::missing) {
    std::fprintf(stderr, "note: no '%s' here: a fresh network is taught.\n", kDataFileName);
    fresh_game(board);
    net_init_random(net);
  } else if (fault != DataFault::none) {
    std::fprintf(stderr, "error: %s '%s'.\nnote: nothing was taught; the file is kept as it was.\n",
                 data_fault_text(fault), kDataFileName);
    return false;
  } else {
    net_params_changed(net);
  }
  return true;
}

// The rounds of the network's own games add up: this round's positions are
// appended to those of the earlier rounds (teach-own.pos beside teach.pos),
// and all of them are taught together with the traditional engine's cached
// games (engine_cache, when there), so a round does not undo what came
// before. The held-out positions are those of the own games.
TeachSet with_earlier_rounds(TeachSet round, const std::string& engine_cache) {
  std::string own_cache = engine_cache;
  own_cache.insert(own_cache.size() - 4, "-own");
  TeachSet set;
  if (read_cache(own_cache.c_str(), -1, set)) {
    set.taught.insert(set.taught.end(), round.taught.begin(), round.taught.end());
    set.held.insert(set.held.end(), round.held.begin(), round.held.end());
  } else {
    set = std::move(round);
  }
  write_cache(own_cache.c_str(), set);
  TeachSet engine;
  if (read_cache(engine_cache.c_str(), -1, engine)) {
    std::fprintf(stderr, "note: %zu positions of the own games so far, %zu of '%s' taught with them.\n",
                 set.taught.size(), engine.taught.size(), engine_cache.c_str());
    set.taught.insert(set.taught.begin(), engine.taught.begin(), engine.taught.end());
  }
  return set;
}

// The labelled positions: from the cache when it holds them, else gathered
// (and cached; the network's own games with those of earlier rounds).
TeachSet labelled_positions(const TeachArgs& args, NeuralNet& net, Progress& progress) {
  std::string cache_name = args.replies ? kTeachRepliesCacheName : kTeachCacheName;
  if (args.level.deeper != 0 || args.level.exact != kEndgamePly)  // teach-d2-e44.pos for -deeper 2 -exact 44
    cache_name.insert(cache_name.size() - 4,
                      "-d" + std::to_string(args.level.deeper) + "-e" + std::to_string(args.level.exact));
  const char* cache = cache_name.c_str();
  TeacherLevel level = args.level;
  if (args.own) {  // the network plays as the engine plays it: without learning
    net.learn_rule = LearnRule::off;
    level.network = &net;
  }
  TeachSet set;
  if (!args.own && read_cache(cache, args.positions, set)) {
    std::fprintf(stderr, "note: the labelled positions come from '%s'.\n", cache);
    return set;
  }
  progress.what = "labelling positions of the traditional engine's games";
  progress.total = args.positions + std::max(1L, args.positions / kHeldOutEvery);
  set = gather_positions(args.positions, kGatherSeed, gather_progress, &progress, args.replies, level);
  if (stop_signal() != 0) {
    std::fprintf(stderr, "\nnote: stopped while labelling; '%s' is kept as it was.\n", kDataFileName);
    end_by_signal(stop_signal());
  }
  progress.show(progress.total, true);
  if (args.own) return with_earlier_rounds(std::move(set), cache_name);
  write_cache(cache, set);
  return set;
}

// The passes, each followed by its line in teach.csv (record) and on the
// console, until they are done or a stop signal comes.
void teach_passes(const TeachArgs& args, NeuralNet& net, const TeachSet& set, double table,
                  Progress& progress, std::string& record) {
  const auto teacher = make_teacher(kGatherSeed);
  for (int pass = 0; pass < args.passes && stop_signal() == 0;) {
    progress.what = "pass " + std::to_string(pass + 1) + " of " + std::to_string(args.passes);
    progress.total = static_cast<long>(set.taught.size());
    progress.shown = {};
    const double loss = teach_pass(*teacher, net, set.taught, pass, args.passes, pass_progress, &progress);
    ++pass;
    const Agreement a = agreement(net, set.held);
    record += teach_record_line(pass, pass * static_cast<long>(set.taught.size()), loss, a, table,
                                progress.seconds());
    if (!write_anew(kTeachRecordName, record, false))
      std::fprintf(stderr, "error: cannot write to file '%s'.\n", kTeachRecordName);
    progress.show(progress.total, true);
    std::fprintf(stderr,
                 "pass %d: loss %.3f, held-out agreement %.1f %%, choice = fixed preference %.1f %%, dead "
                 "neurons %d, %d, %d, outcome error %.3f (a constant: %.3f)\n",
                 pass, loss, 100.0 * a.teacher, 100.0 * a.preference, a.dead[0], a.dead[1], a.dead[2],
                 a.value_error, a.value_spread);
  }
}

}  // namespace

int run_teaching(const TeachArgs& args, bool terminal) {
  install_stop_signals();
  if (!take_data_file_lock(kDataFileName)) return kFailed;
  auto board = std::make_unique<Board>();
  auto net = std::make_unique<NeuralNet>();
  if (!load_taught(*board, *net)) return kFailed;
  Progress progress;
  progress.terminal = terminal;
  const TeachSet set = labelled_positions(args, *net, progress);

  const double table = table_agreement(set.taught, set.held);
  const Agreement a = agreement(*net, set.held);
  std::string record = teach_record_header() + teach_record_line(0, 0, 0.0, a, table, progress.seconds());
  if (!write_anew(kTeachRecordName, record, false))
    std::fprintf(stderr, "error: cannot write to file '%s'.\n", kTeachRecordName);
  std::fprintf(
      stderr,
      "note: %zu positions to teach, %zu held out; agreement %.1f %% (a fixed table: %.1f %%), choice = "
      "fixed preference %.1f %%, dead neurons %d, %d, %d.\n",
      set.taught.size(), set.held.size(), 100.0 * a.teacher, 100.0 * table, 100.0 * a.preference, a.dead[0],
      a.dead[1], a.dead[2]);
  if (args.passes == 0) return 0;  // measured only: the file stays as it was
  teach_passes(args, *net, set, table, progress, record);
  if (stop_signal() != 0) say_stopped(stop_signal());
  const bool saved = save_data_to(kDataFileName, *board, *net);
  if (!saved) std::fprintf(stderr, "error: cannot write to file '%s'.\n", kDataFileName);
  if (!write_anew(kTeachPlotName, teach_plot_script(kTeachRecordName, kTeachPictureName), false) ||
      !draw_with_gnuplot(kTeachPlotName, kTeachPictureName))
    std::fprintf(stderr, "note: gnuplot could not draw '%s' (is it installed?).\n", kTeachPictureName);
  std::fprintf(stderr,
               "note: play the taught network with -learn off or -learn backprop: the default rule undoes "
               "the teaching within a few games.\n");
  if (!saved) return kFailed;
  if (const int sig = stop_signal(); sig != 0) end_by_signal(sig);  // saved: now end as the signal ends a run
  return 0;
}
