#include "ui/nboard.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>

#include "search/neuro.h"
#include "search/search.h"

namespace {

// The plies the mid-game searches look at, the root move included: one for
// each depth from 0 to the limit, and the replies scored at the limit.
constexpr int kTraditionalPlies = kDeepLimit + 2;
constexpr int kNeuroPlies = kNeuroDepth + 2;
constexpr std::size_t kLongestLine = 1 << 16;  // a game record is a few hundred bytes

// text with every byte that is not printable ASCII (a control byte, a byte
// of a multibyte character) as '?': what the engine says never carries the
// bytes it was sent.
std::string printable(const std::string& text) {
  std::string clean = text;
  for (char& c : clean)
    if (c < ' ' || c > '~') c = '?';
  return clean;
}

// One protocol line, printable ASCII whatever its parts held.
void send(const NboardSession& s, const std::string& line) {
  std::fputs(printable(line).c_str(), s.out);
  std::fputc('\n', s.out);
  std::fflush(s.out);
}

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string trim(const std::string& text) {
  std::size_t a = 0, b = text.size();
  while (a < b && is_blank(text[a])) ++a;
  while (b > a && is_blank(text[b - 1])) --b;
  return text.substr(a, b - a);
}

// The first word of text and, in rest, what follows it.
std::string split_word(const std::string& text, std::string& rest) {
  const std::string t = trim(text);
  std::size_t end = 0;
  while (end < t.size() && !is_blank(t[end])) ++end;
  rest = trim(t.substr(end));
  return t.substr(0, end);
}

// The depth a GUI shows beside an eval: the plies of the mid-game search, or
// the empty squares that the exact endgame search plays out.
int shown_depth(const Board& b, ThinkType engine) {
  if (endgame_due(b)) return 64 - b.discs1 - b.discs2;
  return engine == ThinkType::neuro ? kNeuroPlies : kTraditionalPlies;
}

void report_error(const NboardSession& s, const std::string& what) {
  send(s, "status error: " + what + "; the position is unchanged");
  std::fprintf(stderr, "error: %s.\n", printable(what).c_str());
}

void set_game(NboardSession& s, const std::string& text) {
  GameRecord r;
  std::string error;
  if (!parse_ggf(text, r, error)) {
    report_error(s, "malformed game (" + error + ")");
    return;
  }
  Board& w = *s.work = *s.ctx->board;  // a copy; the settings ride along
  if (!start_record(w, r)) {
    report_error(s, "the start position has fewer than 4 stones");
    return;
  }
  for (int i = 0; i < r.count; ++i) {
    if (!replay_move(w, r.moves[i])) {
      report_error(s, "move " + std::to_string(i + 1) + " of the game (" +
                          square_name(r.moves[i].row, r.moves[i].col, true) + ") is not legal");
      return;
    }
  }
  *s.ctx->board = w;
  forget_opponent_moves();  // a new game: its record teaches nothing
}

void play_move(NboardSession& s, const std::string& text) {
  const std::string move = trim(text.substr(0, text.find('/')));
  int row = 0, col = 0;
  Board& w = *s.work = *s.ctx->board;
  if (move.size() != 2 || !parse_square(move.c_str(), row, col) || !replay_move(w, RecordMove{0, row, col})) {
    report_error(s, "illegal move " + move);
    return;
  }
  // The neural engine learns from the moves of the colour it does not play.
  if (row != 0) count_opponent_move(w, s.engine_colour);
  *s.ctx->board = w;
}

void hint(NboardSession& s, const std::string& arg) {
  const int wanted = std::max(1, std::atoi(arg.c_str()));
  send(s, "status " + engine_name(s.engine) + " is thinking");
  Board& w = *s.work = *s.ctx->board;
  if (check_end(w) == 0) {
    const bool passed = w.pass_flag != 0;
    const int depth = shown_depth(w, s.engine);
    SearchContext c{&w, s.ctx->net, 0};
    const RootScores all = rank_root_moves(c, s.engine);
    const std::string tail = " 0 " + std::to_string(depth);
    if (passed) {
      // The side to move must pass: the pass is worth the other side's best.
      send(s, "search PA " + std::to_string(-static_cast<int64_t>(all.moves[0].value)) + tail);
    } else {
      for (int i = 0; i < std::min(wanted, all.count); ++i)
        send(s, "search " + square_name(all.moves[i].row, all.moves[i].col, true) + " " +
                    std::to_string(all.moves[i].value) + tail);
    }
  }
  send(s, "status");
}

void go(NboardSession& s) {
  Board& w = *s.work = *s.ctx->board;
  s.engine_colour = w.side;
  if (check_end(w) != 0 || w.pass_flag != 0) {
    send(s, "=== PA");
    return;
  }
  SearchContext c{&w, s.ctx->net, 0};
  const auto start = std::chrono::steady_clock::now();
  const ComputerMove m = computer_move(c, s.engine, nullptr);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (m.played == 0) {
    send(s, "=== PA");
    return;
  }
  char time[32];
  std::snprintf(time, sizeof time, "%.2f", seconds);
  send(s, "=== " + square_name(m.row, m.col, true) + "/" + std::to_string(m.value) + "/" + time);
}

}  // namespace

std::string engine_name(ThinkType engine) { return std::string("tavimor-") + engine_word(engine); }

NboardSession make_nboard_session(SearchContext& ctx, ThinkType engine, std::FILE* out) {
  return NboardSession{&ctx, engine, 0, std::make_unique<Board>(*ctx.board), out};
}

bool nboard_command(NboardSession& s, const std::string& line) {
  std::string rest;
  const std::string word = split_word(line, rest);
  if (word.empty() || word == "nboard") return true;  // the version needs no answer
  if (word == "quit") return false;
  if (word == "set") {
    std::string value;
    const std::string what = split_word(rest, value);
    if (what == "game") {
      set_game(s, value);
    } else if (what == "depth") {
      // The engines' depths are fixed; the GUI learns the name.
      send(s, "set myname " + engine_name(s.engine));
    }
  } else if (word == "move") {
    play_move(s, rest);
  } else if (int row = 0, col = 0;
             rest.empty() && (word.size() == 2 || word[2] == '/') && parse_square(word.c_str(), row, col)) {
    play_move(s, word);  // the bare form of "move"
  } else if (word == "hint") {
    hint(s, rest);
  } else if (word == "go") {
    go(s);
  } else if (word == "ping") {
    std::string more;
    const std::string n = split_word(rest, more);
    if (n.find_first_not_of("0123456789") != std::string::npos)
      std::fputs("note: ignored a ping whose argument is not a number.\n", stderr);
    else
      send(s, n.empty() ? "pong" : "pong " + n);
  } else if (word == "learn") {
    send(s, "learned");
  } else {
    std::fprintf(stderr, "note: ignored the command '%s'.\n", printable(word).c_str());
  }
  return true;
}

void run_nboard(NboardSession& s, std::FILE* in) {
  std::string line;
  for (;;) {
    line.clear();
    int c = 0;
    while ((c = std::fgetc(in)) != EOF && c != '\n')
      if (line.size() <= kLongestLine) line.push_back(static_cast<char>(c));
    if (c == EOF && line.empty()) return;
    if (line.size() > kLongestLine) {
      std::fprintf(stderr, "error: a command line longer than %zu bytes was ignored.\n", kLongestLine);
    } else if (!nboard_command(s, line)) {
      return;
    }
    if (c == EOF) return;
  }
}

bool analyze_game(SearchContext& ctx, ThinkType engine, const GameRecord& record, std::FILE* out) {
  auto pos = std::make_unique<Board>(*ctx.board);
  if (!start_record(*pos, record)) {
    std::fputs("error: the start position has fewer than 4 stones.\n", stderr);
    return false;
  }
  // The whole game must replay before anything is written.
  auto work = std::make_unique<Board>(*pos);
  for (int i = 0; i < record.count; ++i) {
    const RecordMove& m = record.moves[i];
    if (!replay_move(*work, m)) {
      std::fprintf(stderr, "error: move %d of the game (%s) is not legal.\n", i + 1,
                   square_name(m.row, m.col, false).c_str());
      return false;
    }
  }
  std::fputs("ply,player,move,score,best,best_score\n", out);
  for (int i = 0; i < record.count; ++i) {
    const RecordMove& m = record.moves[i];
    if (m.row != 0) {
      check_end(*pos);  // a pass the rules force hands the position to the mover
      *work = *pos;
      SearchContext c{work.get(), ctx.net, 0};
      RootScores all;
      const ComputerMove best = engine_move(c, engine, &all);
      const auto* played = std::find_if(all.moves, all.moves + all.count,
                                        [&m](const RootMove& r) { return r.row == m.row && r.col == m.col; });
      if (played == all.moves + all.count) return false;  // every legal move is listed
      std::fprintf(out, "%d,%s,%s,%d,%s,%d\n", pos->ply, pos->side == 1 ? "black" : "white",
                   square_name(m.row, m.col, false).c_str(), played->value,
                   square_name(best.row, best.col, false).c_str(), best.value);
      std::fflush(out);
    }
    replay_move(*pos, m);
  }
  return true;
}
