#include "ui/window_logic.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>

#include "search/bitboard.h"
#include "search/engine.h"
#include "ui/cube_font.h"

namespace {

constexpr int kStepDelayMs = 10;     // the next step right away
constexpr int kReplyDelayMs = 1200;  // a move, then the next step after it
constexpr int kMessageMs = 1000;     // how long a note stays
constexpr int kGameOverMs = 1500;    // how long the result stays
constexpr int kFirstFrameMs = 10;    // an animation's first frame
constexpr int kFrameMs = 100;        // and the frames after it
constexpr int kFlipFrames = 10;
constexpr int kIconFrames = 12;

void add_timer(WindowEffects& e, WindowTimer timer, int delay_ms, int value) {
  if (e.timer_count < static_cast<int>(sizeof e.timers / sizeof e.timers[0]))
    e.timers[e.timer_count++] = TimerStart{timer, delay_ms, value};
}

bool input_allowed(const WindowState& w, const Board& b) { return w.busy == 0 && human_to_move(b); }

// The new game of Esc and of the end of a game: the colours swap and the next
// step runs at once.
void start_new_game(WindowState& w, Board& b, WindowEffects& e, bool clear_message) {
  next_game(b);
  add_timer(e, WindowTimer::step_game, kStepDelayMs, 0);
  if (!human_to_move(b)) {
    set_message(w, kThinkingText);
  } else if (clear_message) {
    set_message(w, "");
  }
  e.redraw = true;
}

// Plays the square under the cursor for the human.
void play_cursor(WindowState& w, Board& b, WindowEffects& e) {
  if (human_move(b, b.cursor_row, b.cursor_col)) {
    set_message(w, kThinkingText);
    add_timer(e, WindowTimer::step_game, kReplyDelayMs, 0);
    add_timer(e, WindowTimer::animate_flip, kFirstFrameMs, kFlipFrames);
  } else {
    set_message(w, kRefusedText);
    e.redraw = true;  // show the message and the cursor now, not at the next event
  }
}

void toggle_engine(WindowState& w, Board& b, WindowEffects& e) {
  const bool neuro = engine_of(b) != ThinkType::neuro;
  set_engine(b, neuro ? ThinkType::neuro : ThinkType::traditional);
  set_message(w, neuro ? kNeuroText : kTraditionalText);
  add_timer(e, WindowTimer::message_timeout, kMessageMs, 0);
  add_timer(e, WindowTimer::animate_icon, kFirstFrameMs, kIconFrames);
  e.redraw = true;
}

HintKey hint_key(const Board& b) {
  const int32_t* plane = current_plane(b);
  int last = -1;
  if (has_last_move(b)) {
    const int32_t* from = previous_plane(b);
    last = 8 * (record_get(from, kRecRow) - 1) + record_get(from, kRecCol) - 1;
  }
  return HintKey{{stones_of(plane, 1), stones_of(plane, 2)}, b.side, b.ply, last, engine_of(b)};
}

int wrap_square(int v) { return v < 1 ? 8 : v > 8 ? 1 : v; }

// Truncated toward zero and clamped to 1..8, without converting values an
// int cannot hold (a window of no height gives infinities or NaN).
int clamp_square(double v) {
  if (!(v >= 1.0)) return 1;
  if (v >= 8.0) return 8;
  return static_cast<int>(v);
}

}  // namespace

WindowState make_window_state() {
  WindowState w{};
  w.window_width = 500.0f;
  w.window_height = 400.0f;
  return w;
}

BoardPick pick_square(double x, double y, double width, double height) {
  BoardPick p;
  const double v = (y - height * 0.5) / height;
  p.u = (x - width * 0.5) / height * (1.5 - v) * 0.7142857142857143;
  p.t = 1.9 * v + 0.01 - 1.8 * v * v;
  p.row = clamp_square(p.u * 8 + 5);
  p.col = clamp_square(p.t * 8 + 5);
  return p;
}

bool picks_scheme_ball(const BoardPick& p) { return p.u > 0.5 && p.u < 0.8 && p.t > -1.1 && p.t < -0.7; }
bool picks_engine_icon(const BoardPick& p) { return p.u > -0.8 && p.u < -0.5 && p.t > -1.1 && p.t < -0.7; }

void set_message(WindowState& w, const char* text) { std::snprintf(w.message, sizeof w.message, "%s", text); }

void game_over_message(const Board& b, char (&out)[kMessageBytes]) {
  std::string line = result_line(b, "I", "you");
  for (char& c : line) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  std::snprintf(out, sizeof out, "%s", line.c_str());
}

bool game_is_over(const Board& b) {
  Board copy = b;  // the test may pass the turn
  return check_end(copy) == 1;
}

const RootScores* refresh_hints(WindowState& w, SearchContext& ctx) {
  const Board& b = *ctx.board;
  if (w.assist == 0 || w.busy != 0 || !human_to_move(b)) return nullptr;
  const HintKey key = hint_key(b);
  if (!w.hints.valid || !(w.hints.key == key)) {
    w.hints.ranked = rank_root_moves(ctx, engine_of(b));
    w.hints.key = key;
    w.hints.valid = true;
  }
  return &w.hints.ranked;
}

std::string status_line(const Board& b) {
  const std::string counts = "DARK " + std::to_string(b.discs1) + "  LIGHT " + std::to_string(b.discs2);
  if (game_is_over(b)) return counts + "  GAME OVER";
  return counts + "  " + (b.side == 1 ? "DARK" : "LIGHT") + " TO MOVE";
}

FlatText status_line_place(float width, float height, int n) {
  const int dot = std::max(1, std::min(static_cast<int>(width) / 250, static_cast<int>(height) / 200));
  const int wide = (kGlyphAdvance * n - 1) * dot;
  return FlatText{(static_cast<int>(width) - wide) / 2, static_cast<int>(height) - 7 * dot, dot};
}

WindowEffects key_pressed(WindowState& w, Board& b, unsigned char key) {
  WindowEffects e{};
  if (key == 'h' && w.busy == 0) {
    w.assist = 1 - w.assist;
    e.redraw = true;
    return e;
  }
  if (!input_allowed(w, b)) return e;
  switch (key) {
    case kKeyEnter:
      play_cursor(w, b, e);
      break;
    case kKeyEsc:
      start_new_game(w, b, e, false);
      break;
    case 'c':
      b.colour_scheme = (b.colour_scheme + 1) % kSchemes;
      e.redraw = true;
      break;
    case 'n':
    case 't':
      toggle_engine(w, b, e);
      break;
    case 'u':
      take_back_to_human(b);
      add_timer(e, WindowTimer::step_game, kStepDelayMs, 0);
      e.redraw = true;
      break;
    default:
      break;
  }
  return e;
}

WindowEffects special_key_pressed(WindowState& w, Board& b, int key) {
  WindowEffects e{};
  if (!input_allowed(w, b)) return e;
  switch (key) {
    case kKeyLeft:
      b.cursor_row = wrap_square(b.cursor_row - 1);
      break;
    case kKeyUp:
      b.cursor_col = wrap_square(b.cursor_col - 1);
      break;
    case kKeyRight:
      b.cursor_row = wrap_square(b.cursor_row + 1);
      break;
    case kKeyDown:
      b.cursor_col = wrap_square(b.cursor_col + 1);
      break;
    default:
      return e;
  }
  e.redraw = true;
  return e;
}

WindowEffects mouse_pressed(WindowState& w, Board& b, int button, int state, int x, int y) {
  WindowEffects e{};
  if (!input_allowed(w, b) || state != kButtonPressed) return e;
  if (button != kButtonLeft && button != kButtonRight) return e;
  const BoardPick p = pick_square(x, y, w.window_width, w.window_height);
  if (button == kButtonLeft && picks_scheme_ball(p)) {
    b.colour_scheme = (b.colour_scheme + 1) % kSchemes;
    e.redraw = true;
  } else if (button == kButtonLeft && picks_engine_icon(p)) {
    toggle_engine(w, b, e);
  } else {
    b.cursor_row = p.row;
    b.cursor_col = p.col;
    e.redraw = button == kButtonRight;
    if (button == kButtonLeft) play_cursor(w, b, e);
  }
  return e;
}

WindowEffects run_step(WindowState& w, SearchContext& ctx, const EngineCalls& engines) {
  WindowEffects e{};
  Board& b = *ctx.board;
  w.busy = 1;
  if (check_end(b) == 1) {
    game_over_message(b, w.message);
    add_timer(e, WindowTimer::message_timeout, kGameOverMs, 1);
    e.redraw = true;
  } else if (b.pass_flag != 0) {
    if (!human_to_move(b)) {
      set_message(w, kHumanPassText);
      add_timer(e, WindowTimer::step_game, kStepDelayMs, 0);
    } else {
      set_message(w, kComputerPassText);
    }
    add_timer(e, WindowTimer::message_timeout, kMessageMs, 0);
    e.redraw = true;
  } else if (!human_to_move(b)) {
    computer_move(ctx, engine_of(b), nullptr, engines);
    w.hints.valid = false;  // the network may have learned
    add_timer(e, WindowTimer::step_game, kReplyDelayMs, 0);
    add_timer(e, WindowTimer::animate_flip, kFirstFrameMs, kFlipFrames);
    set_message(w, mood_faces[mood_index(ctx.value)]);
    add_timer(e, WindowTimer::message_timeout, kMessageMs, 0);
  }
  w.busy = 0;
  return e;
}

WindowEffects message_expired(WindowState& w, Board& b, int value) {
  WindowEffects e{};
  // A game taken back or begun anew while the result was showing is not
  // thrown away: only a game that is still over gives way to the next one.
  if (value != 0 && game_is_over(b)) {
    start_new_game(w, b, e, true);
  } else {
    set_message(w, "");
    e.redraw = true;
  }
  return e;
}

WindowEffects animation_frame(int& frames, WindowTimer timer, int n) {
  WindowEffects e{};
  frames = n;
  if (n != 0) {
    frames = n - 1;
    add_timer(e, timer, kFrameMs, n - 1);
    e.redraw = true;
  }
  return e;
}
