// The window front end without the window: its state, the mapping of mouse
// pixels to squares, the colours of the scene, and what every key, click and
// timer does to the game. Each handler returns the timers and redraw it
// wants; ui/window.cpp hands them to the window library.
#pragma once

#include <cstdint>
#include <string>

#include "game/board.h"
#include "search/engine.h"

inline constexpr int kMessageBytes = 256;

// The position a set of move scores belongs to: the stones, the side to move,
// the ply and the last move (the network looks at both), and the engine.
struct HintKey {
  uint64_t stones[2];
  int side;
  int ply;
  int last_move;  // the square of the last move, -1 when none
  ThinkType engine;
  bool operator==(const HintKey&) const = default;
};

// The scores the assistance layer shows on the human's turn, kept for the
// position they were computed for.
struct MoveHints {
  bool valid;  // false until computed, and after a computer move (the network may have learned)
  HintKey key;
  RootScores ranked;
};

struct WindowState {
  char message[kMessageBytes];  // the one line of text the scene shows; empty shows nothing
  int flip_frames;              // frames left of the flip animation (0 at rest)
  int icon_frames;              // frames left of the engine icon's spin (0 at rest)
  int busy;                     // 1 while the game-flow step runs
  float window_width;           // client size in pixels
  float window_height;
  int assist;       // 1 while the assistance layer shows (the h key; off at start)
  MoveHints hints;  // the layer's move scores
};

// Empty message, nothing moving, 500 x 400.
WindowState make_window_state();

// The four timer callbacks of the window.
enum class WindowTimer { step_game, message_timeout, animate_flip, animate_icon };

struct TimerStart {
  WindowTimer timer;
  int delay_ms;
  int value;  // passed to the callback
};

// What a handler asks of the window library once it has changed the game.
struct WindowEffects {
  TimerStart timers[4];
  int timer_count;
  bool redraw;
};

// Messages the window shows.
inline constexpr const char* kThinkingText = "I'M THINKING...";
inline constexpr const char* kRefusedText = "YOU CAN'T PUT HERE.";
inline constexpr const char* kNeuroText = "NEURO MODE.";
inline constexpr const char* kTraditionalText = "TRADITIONAL MODE.";
inline constexpr const char* kHumanPassText = "YOU CAN PUT NO WHERE...";
inline constexpr const char* kComputerPassText = "I CAN PUT NO WHERE...";

// The window library's codes for the keys and buttons the window reads.
inline constexpr unsigned char kKeyEnter = 13;
inline constexpr unsigned char kKeyEsc = 27;
inline constexpr int kKeyLeft = 100;
inline constexpr int kKeyUp = 101;
inline constexpr int kKeyRight = 102;
inline constexpr int kKeyDown = 103;
inline constexpr int kButtonLeft = 0;
inline constexpr int kButtonRight = 2;
inline constexpr int kButtonPressed = 0;

// Colour schemes: the board takes scheme k, the accent scheme k + 1 (mod 4).
inline constexpr int kSchemes = 4;
inline constexpr float kSchemeColours[kSchemes][3] = {
    {0.2f, 0.2f, 0.9f},  // blue
    {0.9f, 0.1f, 0.1f},  // red
    {0.1f, 0.9f, 0.1f},  // green
    {0.9f, 0.9f, 0.1f},  // yellow
};
inline int accent_scheme(int scheme) { return (scheme + 1) % kSchemes; }

// The human plays the colour the computer does not.
inline bool human_to_move(const Board& b) { return b.side != b.computer_colour; }

// Height of a disc's centre before the 0.2 vertical scale: 5 at rest; a
// stone that changed with the last move rises from below while the flip
// animation runs.
inline float disc_height(int32_t cell, int flip_frames) {
  return (flip_frames != 0 && (cell & kChangedMark) != 0) ? static_cast<float>(5 - flip_frames) : 5.0f;
}

// A mouse position mapped onto the board: u runs from left to right, t from
// the far side towards the viewer (-0.5..0.5 over the squares); row and
// column are the square under it, clamped to 1..8.
struct BoardPick {
  double u;
  double t;
  int row;
  int col;
};
BoardPick pick_square(double x, double y, double width, double height);
// The colour-scheme ball at the right rear and the engine icon at the left rear.
bool picks_scheme_ball(const BoardPick& p);
bool picks_engine_icon(const BoardPick& p);

// Copies text into the message, cut to fit.
void set_message(WindowState& w, const char* text);
// The result line of the game flow in capitals, as the window's font has them.
void game_over_message(const Board& b, char (&out)[kMessageBytes]);
// True when neither side can move or the board is full; b is not changed.
bool game_is_over(const Board& b);

// The assistance layer's scores for the human's turn: the legal moves of the
// position with the current engine's scores, best first, computed once per
// position and kept in w.hints. Null while the layer is off, during the step
// or when the computer is to move.
const RootScores* refresh_hints(WindowState& w, SearchContext& ctx);

// The layer's line under the board: the stones of each colour and whose turn
// it is, such as "DARK 12  LIGHT 10  DARK TO MOVE", or "GAME OVER" for the turn.
std::string status_line(const Board& b);

// Where a line of n characters in the window's font goes when drawn flat on
// the screen, the dots as squares of `dot` pixels: centred, in the strip under
// the board (which ends 7 percent of the height above the bottom).
struct FlatText {
  int x;    // the first character's left edge, from the window's left
  int y;    // the top line of dots, from the window's top
  int dot;  // pixels per dot
};
FlatText status_line_place(float width, float height, int n);

// Input. The h key toggles the assistance layer at any time but during the
// step; every other input does nothing while the step runs or while it is not the human's turn.
WindowEffects key_pressed(WindowState& w, Board& b, unsigned char key);
WindowEffects special_key_pressed(WindowState& w, Board& b, int key);
WindowEffects mouse_pressed(WindowState& w, Board& b, int button, int state, int x, int y);

// The game-flow step: the end of the game, a forced pass, or the computer's move.
WindowEffects run_step(WindowState& w, SearchContext& ctx, const EngineCalls& engines);
// A message's time is up; value 1 after a finished game starts the next one.
WindowEffects message_expired(WindowState& w, Board& b, int value);
// One frame of a countdown animation: frames shows n - 1 and the next frame follows.
WindowEffects animation_frame(int& frames, WindowTimer timer, int n);
