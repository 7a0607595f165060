// The window front end without a window: the mouse mapping against the
// camera, the cube font, the messages, and what keys, clicks and the timers
// do to the game. Also the program in window mode with no display at all.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "board_util.h"
#include "exe_runner.h"
#include "scene_view.h"
#include "search/engine.h"
#include "ui/cube_font.h"
#include "ui/window_logic.h"

namespace fs = std::filesystem;

namespace {

// --- mouse mapping -------------------------------------------------------

TEST(WindowPick, CentreOfTheWindowIsE5) {
  const BoardPick p = pick_square(250, 200, 500, 400);
  EXPECT_DOUBLE_EQ(p.u, 0.0);
  EXPECT_DOUBLE_EQ(p.t, 0.01);
  EXPECT_EQ(p.row, 5);
  EXPECT_EQ(p.col, 5);
  // Far outside the board the square is clamped to the edge.
  const BoardPick tl = pick_square(0, 0, 500, 400), br = pick_square(499, 399, 500, 400);
  EXPECT_EQ(tl.row, 1);
  EXPECT_EQ(tl.col, 1);
  EXPECT_EQ(br.row, 8);
  EXPECT_EQ(br.col, 8);
  // A window of no height still gives a square.
  const BoardPick flat = pick_square(10, 0, 500, 0);
  EXPECT_TRUE(flat.row >= 1 && flat.row <= 8 && flat.col >= 1 && flat.col <= 8);
}

// The mapping is an approximation of the camera's inverse: the centre of
// every square, where the camera puts it, maps back to that square, at the
// start size and after resizing; the ball and the icon map to their buttons.
TEST(WindowPick, AgreesWithTheCamera) {
  const double sizes[][2] = {{500, 400}, {800, 400}, {1000, 800}, {400, 600}};
  for (const auto& size : sizes) {
    const double w = size[0], h = size[1];
    for (int row = 1; row <= 8; ++row)
      for (int col = 1; col <= 8; ++col) {
        const Pixel px = project(square_x(row), 1.0, square_z(col), w, h);
        const BoardPick p = pick_square(px.x, px.y, w, h);
        EXPECT_EQ(p.row, row) << w << "x" << h << " col " << col;
        EXPECT_EQ(p.col, col) << w << "x" << h << " row " << row;
        EXPECT_FALSE(picks_scheme_ball(p) || picks_engine_icon(p));
      }
    const Pixel ball = project(60, 10, -60, w, h), icon = project(-60, 10, -60, w, h);
    EXPECT_TRUE(picks_scheme_ball(pick_square(ball.x, ball.y, w, h))) << w << "x" << h;
    EXPECT_FALSE(picks_engine_icon(pick_square(ball.x, ball.y, w, h)));
    EXPECT_TRUE(picks_engine_icon(pick_square(icon.x, icon.y, w, h))) << w << "x" << h;
    EXPECT_FALSE(picks_scheme_ball(pick_square(icon.x, icon.y, w, h)));
  }
}

// --- the cube font and the messages ---------------------------------------

TEST(CubeFont, GlyphsAndTheirBitmaps) {
  for (int g = 0; g < kGlyphCount; ++g) EXPECT_EQ(glyph_index(kGlyphString[g]), g);
  for (char c : std::string(" abxz|\"*\t")) EXPECT_EQ(glyph_index(c), -1) << c;
  EXPECT_EQ(glyph_index('\0'), -1);
  std::set<std::vector<int>> seen;
  for (int g = 0; g < kGlyphCount; ++g) {
    int dots = 0;
    for (int k = 0; k < kGlyphDots; ++k) {
      EXPECT_TRUE(glyph_bitmaps[g][k] == 0 || glyph_bitmaps[g][k] == 1);
      dots += glyph_bitmaps[g][k];
    }
    EXPECT_GT(dots, 0) << kGlyphString[g];
    EXPECT_TRUE(seen.insert(std::vector<int>(glyph_bitmaps[g], glyph_bitmaps[g] + kGlyphDots)).second)
        << kGlyphString[g] << " repeats another glyph";
  }
  // Glyphs that are their own mirror image are symmetric dot for dot, and
  // < and > mirror each other.
  const auto mirrored = [](int g, int k) { return glyph_bitmaps[g][k - k % 5 + 4 - k % 5]; };
  for (char c : std::string("AHIMOTUVWXY08._:-o^")) {
    const int g = glyph_index(c);
    for (int k = 0; k < kGlyphDots; ++k) EXPECT_EQ(glyph_bitmaps[g][k], mirrored(g, k)) << c << " dot " << k;
  }
  for (int k = 0; k < kGlyphDots; ++k)
    EXPECT_EQ(glyph_bitmaps[glyph_index('<')][k], mirrored(glyph_index('>'), k));
}

TEST(CubeFont, LinesAreCentred) {
  EXPECT_EQ(text_origin(15), -42);  // "I'M THINKING..."
  EXPECT_EQ(text_origin(11), -30);
  EXPECT_EQ(text_origin(2), -6);
  EXPECT_EQ(text_origin(1), 0);  // half a cell truncates toward zero
  EXPECT_EQ(text_origin(0), 0);
}

// Every character the window can show has a glyph (or is a blank).
TEST(WindowMessages, AllCanBeDrawn) {
  std::vector<std::string> texts = {kThinkingText,    kRefusedText,   kNeuroText,
                                    kTraditionalText, kHumanPassText, kComputerPassText};
  for (const char* face : mood_faces) texts.emplace_back(face);
  auto b = fresh_board();
  char msg[kMessageBytes];
  const int counts[][2] = {{40, 24}, {24, 40}, {32, 32}, {1, 0}};
  for (const auto& c : counts) {
    b->discs1 = c[0];
    b->discs2 = c[1];
    game_over_message(*b, msg);
    texts.emplace_back(msg);
  }
  for (const std::string& t : texts)
    for (char c : t) EXPECT_TRUE(c == ' ' || glyph_index(c) >= 0) << '"' << t << "\" has " << c;
}

TEST(WindowMessages, GameOverLine) {
  auto b = fresh_board();
  char msg[kMessageBytes];
  struct Case {
    int discs1, discs2, computer;
    const char* text;
  } cases[] = {
      {38, 26, 1, "GAME OVER. I WIN 12 POINTS."}, {38, 26, 2, "GAME OVER. YOU WIN 12 POINTS."},
      {27, 37, 2, "GAME OVER. I WIN 10 POINTS."}, {27, 37, 1, "GAME OVER. YOU WIN 10 POINTS."},
      {32, 32, 1, "GAME OVER. DRAW GAME..."},     {0, 13, 1, "GAME OVER. YOU WIN 13 POINTS."},
  };
  for (const Case& c : cases) {
    b->discs1 = c.discs1;
    b->discs2 = c.discs2;
    b->computer_colour = c.computer;
    game_over_message(*b, msg);
    EXPECT_STREQ(msg, c.text);
  }
  WindowState w = make_window_state();
  set_message(w, std::string(400, 'A').c_str());
  EXPECT_EQ(std::string(w.message), std::string(kMessageBytes - 1, 'A'));
}

TEST(WindowScene, DiscsRiseOnlyWhileFlipping) {
  for (int32_t cell : {1, 2, 1 | kChangedMark, 2 | kChangedMark | kLegalMark})
    EXPECT_EQ(disc_height(cell, 0), 5.0f);
  EXPECT_EQ(disc_height(2, 9), 5.0f);
  EXPECT_EQ(disc_height(2 | kChangedMark, 9), -4.0f);
  EXPECT_EQ(disc_height(1 | kChangedMark, 1), 4.0f);
  for (int k = 0; k < kSchemes; ++k) EXPECT_EQ(accent_scheme(k), (k + 1) % 4);
}

// --- input and game flow ----------------------------------------------------

bool has_timer(const WindowEffects& e, WindowTimer t, int delay, int value) {
  for (int i = 0; i < e.timer_count; ++i)
    if (e.timers[i].timer == t && e.timers[i].delay_ms == delay && e.timers[i].value == value) return true;
  return false;
}

bool play_first(Board& b);

// Engines that record their calls and play the first legal square.
std::vector<std::string> g_calls;
int g_busy_inside = -1;
WindowState* g_state = nullptr;

int first_square(SearchContext& ctx, const char* name, int value) {
  g_calls.push_back(name);
  if (g_state) g_busy_inside = g_state->busy;
  ctx.value = value;
  return play_first(*ctx.board) ? 1 : 0;
}
bool play_first(Board& b) {
  for (int s = 0; s < 64; ++s)
    if (current_plane(b)[cell_index(square_row(s), square_col(s))] & kLegalMark)
      return play(b, square_row(s), square_col(s)) != 0;
  return false;
}

int fake_neuro(SearchContext& ctx, const ThinkOptions&) { return first_square(ctx, "neuro", -97); }
int fake_traditional(SearchContext& ctx, const ThinkOptions&) {
  return first_square(ctx, "traditional", 143);
}
void fake_learn(SearchContext&) { g_calls.push_back("learn"); }
const EngineCalls kFakes = {fake_neuro, fake_traditional, fake_learn};

class WindowFlow : public ::testing::Test {
 protected:
  void SetUp() override {
    board_ = fresh_board();  // computer on colour 2: the human moves first
    w_ = make_window_state();
    ctx_ = SearchContext{board_.get(), nullptr, 0};
    g_calls.clear();
    g_state = &w_;
    opponent_moves = 0;
  }
  void TearDown() override { g_state = nullptr; }
  WindowEffects step() { return run_step(w_, ctx_, kFakes); }
  std::string message() const { return w_.message; }

  std::unique_ptr<Board> board_;
  Board& b() { return *board_; }
  WindowState w_;
  SearchContext ctx_;
};

TEST_F(WindowFlow, InputWaitsForTheHumansTurnAndTheStep) {
  for (int blocked = 0; blocked < 2; ++blocked) {
    w_.busy = blocked == 0 ? 1 : 0;              // inside the step,
    b().computer_colour = blocked == 0 ? 2 : 1;  // or the computer's turn
    const Board start = b();
    for (unsigned char k : {'\r', '\x1b', 'c', 'n', 't', 'u'}) {
      const WindowEffects e = key_pressed(w_, b(), k);
      EXPECT_EQ(e.timer_count, 0);
      EXPECT_FALSE(e.redraw);
    }
    EXPECT_FALSE(special_key_pressed(w_, b(), kKeyLeft).redraw);
    EXPECT_FALSE(mouse_pressed(w_, b(), kButtonLeft, kButtonPressed, 250, 200).redraw);
    EXPECT_FALSE(mouse_pressed(w_, b(), kButtonRight, kButtonPressed, 0, 0).redraw);
    EXPECT_EQ(std::memcmp(&start, &b(), sizeof(Board)), 0);
  }
  EXPECT_EQ(opponent_moves, 0);
  EXPECT_EQ(message(), "");
}

TEST_F(WindowFlow, PlayingASquare) {
  // The cursor starts on f5, a legal square: Enter plays it.
  WindowEffects e = key_pressed(w_, b(), kKeyEnter);
  EXPECT_EQ(b().ply, 1);
  EXPECT_EQ(record_get(b().planes[0], kRecRow), 6);
  EXPECT_EQ(record_get(b().planes[0], kRecCol), 5);
  EXPECT_EQ(opponent_moves, 1);
  EXPECT_EQ(message(), "I'M THINKING...");
  EXPECT_EQ(e.timer_count, 2);
  EXPECT_TRUE(has_timer(e, WindowTimer::step_game, 1200, 0));
  EXPECT_TRUE(has_timer(e, WindowTimer::animate_flip, 10, 10));

  // A left click maps the pixel to a square, moves the cursor and plays it;
  // an illegal square is refused with the message and the cursor moved.
  new_game(b());
  opponent_moves = 0;
  const Pixel d3 = project(square_x(4), 1, square_z(3), 500, 400);  // legal
  const Pixel a1 = project(square_x(1), 1, square_z(1), 500, 400);  // not
  e = mouse_pressed(w_, b(), kButtonLeft, kButtonPressed, static_cast<int>(a1.x), static_cast<int>(a1.y));
  EXPECT_EQ(b().ply, 0);
  EXPECT_EQ(b().cursor_row, 1);
  EXPECT_EQ(b().cursor_col, 1);
  EXPECT_EQ(message(), "YOU CAN'T PUT HERE.");
  EXPECT_EQ(e.timer_count, 0);
  EXPECT_EQ(opponent_moves, 0);
  // Releases, the middle button and the right button play nothing; the
  // right button moves the cursor.
  EXPECT_EQ(mouse_pressed(w_, b(), kButtonLeft, 1, static_cast<int>(d3.x), static_cast<int>(d3.y)).redraw,
            false);
  EXPECT_EQ(mouse_pressed(w_, b(), 1, kButtonPressed, static_cast<int>(d3.x), static_cast<int>(d3.y)).redraw,
            false);
  e = mouse_pressed(w_, b(), kButtonRight, kButtonPressed, static_cast<int>(d3.x), static_cast<int>(d3.y));
  EXPECT_TRUE(e.redraw);
  EXPECT_EQ(b().ply, 0);
  EXPECT_EQ(b().cursor_row, 4);
  EXPECT_EQ(b().cursor_col, 3);
  e = mouse_pressed(w_, b(), kButtonLeft, kButtonPressed, static_cast<int>(d3.x), static_cast<int>(d3.y));
  EXPECT_EQ(b().ply, 1);
  EXPECT_EQ(opponent_moves, 1);
  EXPECT_TRUE(has_timer(e, WindowTimer::step_game, 1200, 0));
}

TEST_F(WindowFlow, SchemeAndEngineButtons) {
  const Pixel ball = project(60, 10, -60, 500, 400), icon = project(-60, 10, -60, 500, 400);
  b().colour_scheme = 2;
  for (int expected : {3, 0, 1}) {
    const WindowEffects e = mouse_pressed(w_, b(), kButtonLeft, kButtonPressed, static_cast<int>(ball.x),
                                          static_cast<int>(ball.y));
    EXPECT_EQ(b().colour_scheme, expected);
    EXPECT_TRUE(e.redraw);
  }
  EXPECT_TRUE(key_pressed(w_, b(), 'c').redraw);
  EXPECT_EQ(b().colour_scheme, 2);
  EXPECT_EQ(b().cursor_row, 6);  // the buttons leave the cursor and the game alone
  EXPECT_EQ(b().ply, 0);

  WindowEffects e = key_pressed(w_, b(), 'n');
  EXPECT_EQ(b().engine, 0);
  EXPECT_EQ(message(), "TRADITIONAL MODE.");
  EXPECT_TRUE(has_timer(e, WindowTimer::message_timeout, 1000, 0));
  EXPECT_TRUE(has_timer(e, WindowTimer::animate_icon, 10, 12));
  key_pressed(w_, b(), 't');
  EXPECT_EQ(b().engine, 1);
  EXPECT_EQ(message(), "NEURO MODE.");
  e = mouse_pressed(w_, b(), kButtonLeft, kButtonPressed, static_cast<int>(icon.x), static_cast<int>(icon.y));
  EXPECT_EQ(b().engine, 0);
  EXPECT_TRUE(has_timer(e, WindowTimer::animate_icon, 10, 12));
  EXPECT_EQ(b().cursor_row, 6);
  // Case matters.
  for (unsigned char k : {'C', 'N', 'T', 'U', 'x'}) {
    e = key_pressed(w_, b(), k);
    EXPECT_FALSE(e.redraw);
    EXPECT_EQ(e.timer_count, 0);
  }
  EXPECT_EQ(b().engine, 0);
  EXPECT_EQ(b().colour_scheme, 2);
}

TEST_F(WindowFlow, ArrowsMoveTheCursorAndWrap) {
  b().cursor_row = 1;
  b().cursor_col = 8;
  EXPECT_TRUE(special_key_pressed(w_, b(), kKeyLeft).redraw);
  EXPECT_EQ(b().cursor_row, 8);
  special_key_pressed(w_, b(), kKeyRight);
  EXPECT_EQ(b().cursor_row, 1);
  special_key_pressed(w_, b(), kKeyDown);
  EXPECT_EQ(b().cursor_col, 1);
  special_key_pressed(w_, b(), kKeyUp);
  EXPECT_EQ(b().cursor_col, 8);
  special_key_pressed(w_, b(), kKeyUp);
  EXPECT_EQ(b().cursor_col, 7);
  EXPECT_FALSE(special_key_pressed(w_, b(), 1).redraw);  // F1
  EXPECT_EQ(b().cursor_row, 1);
  EXPECT_EQ(b().cursor_col, 7);
}

TEST_F(WindowFlow, EscapeStartsANewGameWithTheColoursSwapped) {
  play(b(), 4, 3);
  b().computer_colour = 1;  // the human (2) to move
  b().engine = 0;
  b().colour_scheme = 3;
  set_message(w_, "-_-");
  WindowEffects e = key_pressed(w_, b(), kKeyEsc);
  EXPECT_EQ(b().ply, 0);
  EXPECT_EQ(b().computer_colour, 2);
  EXPECT_EQ(b().engine, 0);
  EXPECT_EQ(b().colour_scheme, 3);
  EXPECT_TRUE(has_timer(e, WindowTimer::step_game, 10, 0));
  EXPECT_TRUE(e.redraw);
  EXPECT_EQ(message(), "-_-");  // the human moves first: the message stays
  e = key_pressed(w_, b(), kKeyEsc);
  EXPECT_EQ(b().computer_colour, 1);
  EXPECT_EQ(message(), "I'M THINKING...");  // now the computer moves first
  EXPECT_TRUE(has_timer(e, WindowTimer::step_game, 10, 0));
}

TEST_F(WindowFlow, UndoGoesBackToTheHumansLastTurn) {
  // The human's move and the computer's reply come back together.
  play(b(), 4, 3);
  play(b(), 3, 3);
  WindowEffects e = key_pressed(w_, b(), 'u');
  EXPECT_EQ(b().ply, 0);
  EXPECT_EQ(b().side, 1);
  EXPECT_TRUE(has_timer(e, WindowTimer::step_game, 10, 0));
  EXPECT_TRUE(e.redraw);
  // At the start nothing is taken back.
  key_pressed(w_, b(), 'u');
  EXPECT_EQ(b().ply, 0);
  // The computer moved first: undo stops at the start with the computer to
  // move, and the next step lets it move again.
  b().computer_colour = 1;
  play(b(), 4, 3);
  key_pressed(w_, b(), 'u');
  EXPECT_EQ(b().ply, 0);
  EXPECT_EQ(b().side, 1);
  step();
  EXPECT_EQ(b().ply, 1);
}

TEST_F(WindowFlow, StepLetsTheComputerMove) {
  play(b(), 4, 3);
  opponent_moves = 1;
  WindowEffects e = step();
  // The neural engine learns the human's move first, then thinks.
  EXPECT_EQ(g_calls, (std::vector<std::string>{"learn", "neuro"}));
  EXPECT_EQ(g_busy_inside, 1);
  EXPECT_EQ(w_.busy, 0);
  EXPECT_EQ(opponent_moves, 0);
  EXPECT_EQ(b().ply, 2);
  EXPECT_EQ(message(), "<;o;>");  // the face of a score of -97
  EXPECT_EQ(e.timer_count, 3);
  EXPECT_TRUE(has_timer(e, WindowTimer::step_game, 1200, 0));
  EXPECT_TRUE(has_timer(e, WindowTimer::animate_flip, 10, 10));
  EXPECT_TRUE(has_timer(e, WindowTimer::message_timeout, 1000, 0));

  // The human's turn: the step does nothing.
  e = step();
  EXPECT_EQ(e.timer_count, 0);
  EXPECT_EQ(b().ply, 2);
  EXPECT_EQ(g_calls.size(), 2u);

  // Without a move of the opponent since, no learning; the traditional
  // engine never learns and the counter keeps counting.
  ASSERT_TRUE(play_first(b()));
  opponent_moves = 0;
  step();
  EXPECT_EQ(g_calls, (std::vector<std::string>{"learn", "neuro", "neuro"}));
  b().engine = 0;
  ASSERT_TRUE(play_first(b()));
  opponent_moves = 2;
  step();
  EXPECT_EQ(g_calls.back(), "traditional");
  EXPECT_EQ(g_calls.size(), 4u);
  EXPECT_EQ(opponent_moves, 2);
  EXPECT_EQ(message(), "^o^/");  // the face of a score of 143
}

TEST_F(WindowFlow, StepAnnouncesPasses) {
  // The human (colour 1) has no move, the computer has: the human passes
  // and the computer moves in the next step.
  set_position(b(),
               "XXXXXXXX"
               "XXXXXXXX"
               "XXXXXXXX"
               "XXXXXXXX"
               "XXXXXXXX"
               "XXXXXXXO"
               "XXXXXXX."
               "XXXXXX..",
               1);
  WindowEffects e = step();
  EXPECT_EQ(message(), "YOU CAN PUT NO WHERE...");
  EXPECT_EQ(b().side, 2);
  EXPECT_TRUE(has_timer(e, WindowTimer::step_game, 10, 0));
  EXPECT_TRUE(has_timer(e, WindowTimer::message_timeout, 1000, 0));
  EXPECT_TRUE(g_calls.empty());

  // The computer (colour 2) has no move, the human has: the computer passes.
  set_position(b(),
               "OOOOOOOO"
               "OOOOOOOO"
               "OOOOOOOO"
               "OOOOOOOO"
               "OOOOOOOO"
               "OOOOOOOX"
               "OOOOOOO."
               "OOOOOO..",
               2);
  e = step();
  EXPECT_EQ(message(), "I CAN PUT NO WHERE...");
  EXPECT_EQ(b().side, 1);
  EXPECT_EQ(e.timer_count, 1);
  EXPECT_TRUE(has_timer(e, WindowTimer::message_timeout, 1000, 0));
  EXPECT_TRUE(g_calls.empty());
}

TEST_F(WindowFlow, GameOverThenTheNextGame) {
  // Nobody can move: 40 stones of colour 1, the computer's colour, and none of 2.
  b().computer_colour = 1;
  set_position(b(),
               "OOOOOOOO"
               "OOOOOOOO"
               "OOOOOOOO"
               "OOOOOOOO"
               "OOOOOOOO"
               "........"
               "........"
               "........",
               2);
  WindowEffects e = step();
  EXPECT_EQ(message(), "GAME OVER. I WIN 40 POINTS.");
  EXPECT_TRUE(has_timer(e, WindowTimer::message_timeout, 1500, 1));
  EXPECT_TRUE(e.redraw);
  EXPECT_TRUE(g_calls.empty());
  // 1.5 s later: a new game, colours swapped; the human now has colour 1
  // and moves first, so the message goes.
  e = message_expired(w_, b(), 1);
  EXPECT_EQ(b().ply, 0);
  EXPECT_EQ(b().discs1 + b().discs2, 4);
  EXPECT_EQ(b().computer_colour, 2);
  EXPECT_EQ(message(), "");
  EXPECT_TRUE(has_timer(e, WindowTimer::step_game, 10, 0));
  EXPECT_TRUE(e.redraw);

  // With the computer moving first in the next game it says so.
  b().computer_colour = 2;
  b().ply = 60;
  set_position(b(), std::string(64, 'X'), 1);
  step();
  EXPECT_EQ(message(), "GAME OVER. I WIN 64 POINTS.");
  message_expired(w_, b(), 1);
  EXPECT_EQ(b().computer_colour, 1);
  EXPECT_EQ(message(), "I'M THINKING...");
}

// A game taken back while its result shows is not replaced by a new game
// when the result's time is up; only the message goes.
TEST_F(WindowFlow, ResultTimeoutKeepsAGameThatGoesOn) {
  play(b(), 4, 3);
  b().computer_colour = 1;  // the human (2) to move, the game not over
  set_message(w_, "GAME OVER. DRAW GAME...");
  const WindowEffects e = message_expired(w_, b(), 1);
  EXPECT_EQ(b().ply, 1);
  EXPECT_EQ(b().computer_colour, 1);
  EXPECT_EQ(message(), "");
  EXPECT_EQ(e.timer_count, 0);
  EXPECT_TRUE(e.redraw);
  set_message(w_, "^_^");
  message_expired(w_, b(), 0);
  EXPECT_EQ(message(), "");
}

TEST(WindowAnimation, CountsDownOneFrameAtATime) {
  int frames = -1;
  std::vector<int> shown;
  WindowEffects e = animation_frame(frames, WindowTimer::animate_flip, 10);
  while (e.timer_count == 1) {
    shown.push_back(frames);
    EXPECT_TRUE(e.redraw);
    EXPECT_EQ(e.timers[0].timer, WindowTimer::animate_flip);
    EXPECT_EQ(e.timers[0].delay_ms, 100);
    e = animation_frame(frames, e.timers[0].timer, e.timers[0].value);
  }
  EXPECT_EQ(shown, (std::vector<int>{9, 8, 7, 6, 5, 4, 3, 2, 1, 0}));
  EXPECT_EQ(frames, 0);
  EXPECT_FALSE(e.redraw);
}

// --- window mode without a display ------------------------------------------

TEST(WindowWithoutDisplay, SaysSoAndLeavesTheDataFileAlone) {
  const fs::path dir = make_temp_dir("nodisplay");
  const auto error_line = [](const std::string& err) {
    const auto at = err.find("\nerror: ");
    return at == std::string::npos ? std::string() : err.substr(at + 1, err.find('\n', at + 1) - at - 1);
  };
  // No data file: the game is reset in memory, but nothing is written.
  ExeResult r = run_tavimor(dir, {});
  EXPECT_EQ(r.status, 1);
  std::string line = error_line(r.err.substr(r.err.find("data reset.")));
  EXPECT_NE(line.find("window"), std::string::npos) << r.err;
  EXPECT_NE(line.find("-mode text"), std::string::npos) << r.err;
  EXPECT_EQ(r.out, "");
  EXPECT_FALSE(fs::exists(dir / "tavimor.dat"));

  // A data file stays byte for byte, even with an option that changes the game.
  ASSERT_EQ(run_tavimor(dir, {"-mode", "text"}).status, 0);
  const std::string before = read_file(dir / "tavimor.dat");
  ASSERT_EQ(before.size(), 4228985u);
  r = run_tavimor(dir, {"-think", "traditional", "-mode", "win"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("tavimor> datafile was loaded.\n"), std::string::npos);
  EXPECT_NE(error_line(r.err).find("-mode text"), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find("saved"), std::string::npos);
  EXPECT_EQ(read_file(dir / "tavimor.dat"), before);
  fs::remove_all(dir);
}

}  // namespace
