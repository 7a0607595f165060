#include "ui/console.h"

#include <cerrno>
#include <cstring>

#include "nn/neural_net.h"
#include "search/engine.h"
#include "ui/game_record.h"

namespace {

constexpr int kLineChars = 255;  // longest command line read whole

enum LineRead { kLine, kInputEnd, kOverlong, kStopped };

bool stopped(const ConsoleState& state) { return state.stop_signal != nullptr && state.stop_signal() != 0; }

// The computer's move by `engine`, announced by `thinking`, then its face.
// False when a stop signal came while the computer thought: the search ended
// at once without its move (the game stays as it was), and the line is ended.
bool console_move(const ConsoleState& state, SearchContext& ctx, ThinkType engine, const char* thinking) {
  std::fputs(thinking, stderr);
  computer_move(ctx, engine, nullptr);
  if (stopped(state)) {
    std::fputs("\n", stderr);
    return false;
  }
  std::fprintf(stderr, " %s\n", mood_face(ctx));
  return true;
}

// Reads one line without its newline, and without a carriage return before
// it. The line may hold any bytes, NUL included. A stop signal ends the wait.
LineRead read_line(const ConsoleState& state, std::FILE* in, std::string& line) {
  line.clear();
  for (;;) {
    const int c = std::getc(in);
    if (c == EOF) {
      if (stopped(state)) return kStopped;
      if (std::ferror(in) && errno == EINTR) {
        std::clearerr(in);  // another signal: wait on
        continue;
      }
      return line.empty() ? kInputEnd : kLine;  // the last line may lack its newline
    }
    if (c == '\n') break;
    if (line.size() == kLineChars) return kOverlong;
    line.push_back(static_cast<char>(c));
  }
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return kLine;
}

// The human's legal moves with the engine's scores, best first, one a line.
// Nothing changes: no move, no learning, no random draw.
void print_hint(SearchContext& ctx) {
  const Board& b = *ctx.board;
  if (b.side == b.computer_colour) {  // the human has passed
    std::fputs("tavimor> no hint: you can put no where...\n", stderr);
    return;
  }
  const RootScores ranked = rank_root_moves(ctx, engine_of(b));
  if (ranked.count == 0 && !stop_requested(ctx.stop))
    std::fputs("tavimor> no hint: the game is over.\n", stderr);
  for (int i = 0; i < ranked.count; ++i) {
    const RootMove& m = ranked.moves[i];
    std::fprintf(stderr, "tavimor> %s %d\n", square_name(m.row, m.col, false).c_str(), m.value);
  }
}

// The human's command line, handled by the first rule that matches. Returns
// false when the dialogue is to end.
bool handle_line(const std::string& line, ConsoleState& state, SearchContext& ctx) {
  Board& b = *ctx.board;
  if (line == "help") {
    std::fputs(
        "[a-h][1-8] : put your stone here.\nnew\t: new game.\nquit|exit  : exit.\n"
        "hint\t: your moves, scored by the engine.\n",
        stderr);
  } else if (line == "hint") {
    print_hint(ctx);
  } else if (line.size() >= 2 && line[0] >= 'a' && line[0] <= 'h' && line[1] >= '1' && line[1] <= '8') {
    state.move_row = line[0] - 'a' + 1;
    state.move_col = line[1] - '0';
    if (!human_move(b, state.move_row, state.move_col))
      std::fputs("tavimor> you can't put here...\n", stderr);
  } else if (line == "new") {
    next_game(b);
    std::fputs("tavimor> new game...\n", stderr);
  } else if (line == "untake") {
    take_back_to_human(b);
  } else if (line == "quit" || line == "exit") {
    std::fputs("tavimor> exit game...\n", stderr);
    return false;
  } else {
    std::fputs("error: unknown ", stderr);
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fputs(". see help.\n", stderr);
  }
  return true;
}

}  // namespace

ConsoleState make_console_state(int (*stop_signal)()) {
  forget_opponent_moves();
  return ConsoleState{0, 0, 0, stop_signal};
}

std::string board_text(const Board& b) {
  std::string t = "  ";
  for (char letter = 'a'; letter <= 'h'; ++letter) {
    t.push_back(' ');
    t.push_back(letter);
  }
  t.push_back('\n');
  const int32_t* p = current_plane(b);
  for (int col = 1; col <= 8; ++col) {
    t.push_back(static_cast<char>('0' + col));
    t.push_back(')');
    for (int row = 1; row <= 8; ++row) {
      const int cell = p[cell_index(row, col)];
      const int stone = cell & kStoneMask;
      t.push_back(' ');
      t.push_back(stone == 1 ? 'O' : stone == 2 ? 'X' : (cell & kLegalMark) ? ',' : '.');
    }
    t.push_back('\n');
  }
  t.append(b.side == 1 ? "turn:O  " : "turn:X  ");
  t.append(" O:X=").append(std::to_string(b.discs1)).append(":").append(std::to_string(b.discs2));
  t.push_back('\n');
  return t;
}

const char* mood_face(const SearchContext& ctx) { return mood_faces[mood_index(ctx.value)]; }

void run_text(ConsoleState& state, SearchContext& ctx, std::FILE* in) {
  Board& b = *ctx.board;
  std::string line;
  for (;;) {
    std::fputs(board_text(b).c_str(), stderr);
    if (check_end(b)) {
      state.result = b.discs1 - b.discs2;
      std::fprintf(stderr, "%s\n", result_line(b, "I", "you").c_str());
      return;
    }
    if (b.pass_flag) {
      std::fputs(
          b.side == b.computer_colour ? "tavimor> You can put no where..." : "tavimor> I can put no where...",
          stderr);
    } else if (b.side == b.computer_colour) {
      if (!console_move(state, ctx, engine_of(b), "tavimor> I'm thinking...")) return;
      continue;
    }
    std::fputs("you> ", stderr);
    const LineRead got = read_line(state, in, line);
    if (got == kInputEnd || got == kStopped) {
      // The input has ended, or a stop signal came: no command can come any more.
      std::fputs("\ntavimor> exit game...\n", stderr);
      return;
    }
    if (got == kOverlong) {
      std::fprintf(stderr, "error: a line is longer than %d characters.\ntavimor> exit game...\n",
                   kLineChars);
      return;
    }
    if (!handle_line(line, state, ctx)) return;
  }
}

int run_demo(ConsoleState& state, int diag_mode, SearchContext& ctx) {
  Board& b = *ctx.board;
  for (;;) {
    std::fputs(board_text(b).c_str(), stderr);
    // A stop signal ends the game after the last move, to be continued by the next run.
    if (stopped(state)) return 0;
    if (check_end(b)) break;
    const bool neuro = b.side == b.computer_colour;
    if (!console_move(state, ctx, neuro ? ThinkType::neuro : ThinkType::traditional,
                      neuro ? "tavimor> neuro thinking..." : "tavimor> trady thinking..."))
      return 0;
    count_opponent_move(b, b.computer_colour);
  }
  state.result = b.discs1 - b.discs2;
  std::fprintf(stderr, "%s\n", result_line(b, "neuro", "trady").c_str());
  if (diag_mode == kDiagDump) {
    const int neuro = b.computer_colour == 1 ? b.discs1 : b.discs2;
    const int trady = b.computer_colour == 1 ? b.discs2 : b.discs1;
    std::printf("neuro\t%d\ttredy\t%d\n", neuro, trady);
    std::fflush(stdout);
  }
  if (b.computer_colour == 2) state.result = -state.result;
  next_game(b);
  return state.result;
}
