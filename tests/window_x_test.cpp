// The window as a person uses it, on an X server of the test's own: real key
// presses and clicks (xdotool), screenshots (ImageMagick), and the data file
// the program leaves when the window is closed.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <random>

#include "app/datafile.h"
#include "board_util.h"
#include "exe_runner.h"
#include "nn/neural_net.h"
#include "scene_view.h"
#include "search/engine.h"
#include "ui/window_logic.h"
#include "x_display.h"

namespace fs = std::filesystem;

namespace {

constexpr int kWaitMs = 30000;  // a deadline for things that should happen at once

// Plays random legal moves from the start, passing where the rules force it,
// until stop says so; false when the game ends first.
bool play_random(Board& b, std::mt19937& rng, const std::function<bool(const Board&)>& stop) {
  new_game(b);
  while (!stop(b)) {
    if (check_end(b)) return false;
    std::vector<int> moves;
    for (int s = 0; s < 64; ++s)
      if (current_plane(b)[cell_index(square_row(s), square_col(s))] & kLegalMark) moves.push_back(s);
    const int s = moves[rng() % moves.size()];
    play(b, square_row(s), square_col(s));
  }
  return true;
}

// A game from the first seed for which play_random stops and accept holds.
std::unique_ptr<Board> find_game(const std::function<bool(const Board&)>& stop,
                                 const std::function<bool(Board&)>& accept) {
  auto b = fresh_board();
  for (unsigned seed = 1; seed < 5000; ++seed) {
    std::mt19937 rng(seed);
    if (play_random(*b, rng, stop) && accept(*b)) return b;
  }
  return nullptr;
}

std::vector<int> legal_squares(const Board& b) {
  std::vector<int> v;
  for (int s = 0; s < 64; ++s)
    if (current_plane(b)[cell_index(square_row(s), square_col(s))] & kLegalMark) v.push_back(s);
  return v;
}

// True when the side to move has a move without passing.
bool can_move_now(const Board& b) {
  Board copy = b;
  return check_end(copy) == 0 && copy.pass_flag == 0;
}

class WindowX : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!program_on_path("Xvfb")) GTEST_SKIP() << "Xvfb is not installed (bash scripts/setup.sh installs it)";
    for (const char* tool : {"xdotool", "import"})
      ASSERT_TRUE(program_on_path(tool)) << tool << " is missing (bash scripts/setup.sh installs it)";
    ASSERT_TRUE(start_xvfb(x_, "1280x1024x24")) << "Xvfb did not start";
    dir_ = make_temp_dir("window");
    net_ = std::make_unique<NeuralNet>();
  }

  void TearDown() override {
    stop_process(tavimor_);
    stop_process(x_.pid);
    if (!dir_.empty()) fs::remove_all(dir_);
  }

  fs::path data_path() const { return dir_ / "tavimor.dat"; }

  void prepare(const Board& b) {
    testing::internal::CaptureStderr();
    ASSERT_TRUE(save_data_to(data_path().c_str(), b, *net_));
    testing::internal::GetCapturedStderr();
  }

  std::unique_ptr<Board> saved_board() {
    auto b = std::make_unique<Board>();
    auto net = std::make_unique<NeuralNet>();
    testing::internal::CaptureStderr();
    const bool ok = load_data_from(data_path().c_str(), *b, *net);
    testing::internal::GetCapturedStderr();
    EXPECT_TRUE(ok);
    return ok ? std::move(b) : nullptr;
  }

  std::string err_text() const { return read_file(dir_ / "stderr.txt"); }

  // Starts the program and waits until its window shows the board.
  void launch(const std::vector<std::string>& args = {}) {
    tavimor_ = spawn_tavimor(dir_, x_, args);
    ASSERT_GT(tavimor_, 0);
    const int64_t deadline = now_ms() + kWaitMs;
    while (window_.empty() && now_ms() < deadline) {
      std::string out;
      if (x_command(x_, "xdotool search --onlyvisible --name '^Tavimor 4\\.32  '", &out) == 0) {
        window_ = out.substr(0, out.find('\n'));
      } else {
        sleep_ms(50);
      }
    }
    ASSERT_FALSE(window_.empty()) << "no window appeared\n" << err_text();
    // Without a window manager the window sits at (-1, -1); move it fully
    // onto the screen, and give it the keyboard.
    x_command(x_, "xdotool windowmove " + window_ + " 10 10");
    x_command(x_, "xdotool windowfocus " + window_);
    wait_for([](const Image& img) { return img.width > 0 && hue_at(img, 0, 0, 0) != Hue::black; },
             "the first frame");
  }

  Image shot() {
    Image img;
    screenshot(x_, window_, img);
    return img;
  }

  // Takes screenshots until one satisfies ok; fails the test at the deadline.
  Image wait_for(const std::function<bool(const Image&)>& ok, const std::string& what,
                 int timeout_ms = kWaitMs) {
    const int64_t deadline = now_ms() + timeout_ms;
    Image img;
    for (;;) {
      img = shot();
      if (img.width > 0 && ok(img)) return img;
      if (now_ms() > deadline) break;
      sleep_ms(30);
    }
    ADD_FAILURE() << "timed out waiting for " << what << "\n" << err_text();
    keep_for_inspection(img);
    return img;
  }

  // A failing shot stays in the temporary directory for a look.
  void keep_for_inspection(const Image& img) {
    const fs::path p =
        fs::temp_directory_path() / (std::string("tavimor-window-") +
                                     testing::UnitTest::GetInstance()->current_test_info()->name() + ".ppm");
    std::ofstream f(p, std::ios::binary);
    f << "P6\n" << img.width << ' ' << img.height << "\n255\n";
    f.write(reinterpret_cast<const char*>(img.rgb.data()), static_cast<std::streamsize>(img.rgb.size()));
    std::cerr << "last screenshot: " << p << "\n";
  }

  void key(const std::string& keys) { ASSERT_EQ(x_command(x_, "xdotool key " + keys), 0); }

  void click_pixel(Pixel p, int button = 1) {
    ASSERT_EQ(
        x_command(x_, "xdotool mousemove --window " + window_ + " " + std::to_string(static_cast<int>(p.x)) +
                          " " + std::to_string(static_cast<int>(p.y)) + " click " + std::to_string(button)),
        0);
  }

  void click_square(const Image& img, int row, int col, int button = 1) {
    click_pixel(project(square_x(row), 1.0, square_z(col), img.width, img.height), button);
  }

  // Closes the window as a window manager does; the program then ends with status 0.
  void close_window() {
    ASSERT_EQ(x_command(x_, std::string(TAVIMOR_WM_CLOSE) + " " + window_), 0);
    EXPECT_EQ(wait_exit(tavimor_, kWaitMs), 0) << err_text();
  }

  XServer x_;
  fs::path dir_;
  std::unique_ptr<NeuralNet> net_;
  pid_t tavimor_ = -1;
  std::string window_;
};

bool board_shows(const Image& img, const Board& b, bool cursor) {
  return reading_matches(read_board(img, cursor ? b.cursor_row : 0, cursor ? b.cursor_col : 0),
                         board_stones(b));
}

// The slab between the four centre squares and the scheme ball at the right rear.
Hue board_hue(const Image& img) { return hue_at(img, 0, 0, 0); }
Hue ball_hue(const Image& img) { return hue_at(img, 60, 10, -60); }

TEST_F(WindowX, SceneSchemesCursorAndEngineIcon) {
  auto game = find_game([](const Board& b) { return b.ply == 8; },
                        [](Board& b) {
                          b.computer_colour = 3 - b.side;
                          return !legal_squares(b).empty();
                        });
  ASSERT_TRUE(game);
  Board& b = *game;
  b.engine = 1;
  b.colour_scheme = 0;
  prepare(b);
  launch();

  // The position, the markers on the empty squares, the cursor on the last
  // move (an occupied square: the accent colour) and the ball of the side to move.
  Image img = wait_for([&](const Image& i) { return board_shows(i, b, true); }, "the prepared position");
  EXPECT_EQ(board_hue(img), Hue::blue);
  EXPECT_EQ(ball_hue(img), Hue::red);
  const std::string stones = board_stones(b);
  const ScreenBox cursor = cursor_box(img, b.cursor_row, b.cursor_col);
  int markers = 0;
  for (int s = 0; s < 64; ++s) {
    const int row = square_row(s), col = square_col(s);
    if (stones[s] != '.' ||
        cursor.contains(project(square_x(row), 0.4, square_z(col), img.width, img.height)))
      continue;
    const Rgb dot = colour_at(img, square_x(row), 0.4, square_z(col));
    const Rgb slab = colour_at(img, square_x(row) - 4, 0, square_z(col) + 2);
    EXPECT_EQ(hue_of(dot), Hue::blue) << "square " << s;
    EXPECT_GT(dot.b, slab.b + 10) << "no marker on square " << s;
    ++markers;
  }
  EXPECT_GT(markers, 40);
  EXPECT_GE(spindle_samples(img, b.cursor_row, b.cursor_col, Hue::red), 4);
  EXPECT_EQ(hue_at(img, square_x(b.cursor_row), 10, square_z(b.cursor_col)),
            b.side == 1 ? Hue::dark : Hue::light);

  // c steps through the schemes and wraps; the accent is the next scheme.
  for (int k = 1; k <= 4; ++k) {
    key("c");
    img = wait_for([&](const Image& i) { return board_hue(i) == scheme_hue(k); },
                   "scheme " + std::to_string(k));
    EXPECT_EQ(ball_hue(img), scheme_hue(k + 1)) << k;
  }
  // A click on the ball does the same and neither moves the cursor nor plays.
  click_pixel(project(60, 10, -60, img.width, img.height));
  img = wait_for([](const Image& i) { return board_hue(i) == Hue::red; },
                 "the scheme after a click on the ball");
  EXPECT_EQ(ball_hue(img), Hue::green);
  EXPECT_TRUE(board_shows(img, b, true));
  EXPECT_GE(spindle_samples(img, b.cursor_row, b.cursor_col, Hue::green), 4);

  // Keys are case-sensitive: C, N, T and U do nothing, so after them one c
  // has moved the scheme on by exactly one.
  key("C N T U c");
  img = wait_for([](const Image& i) { return board_hue(i) == Hue::green; }, "scheme 2 after C N T U c");
  EXPECT_EQ(text_band_pixels(img), 0);
  EXPECT_TRUE(board_shows(img, b, true));
  key("c c");
  img = wait_for([](const Image& i) { return board_hue(i) == Hue::blue; }, "scheme 0");

  // n and t switch the engine: a single tetrahedron for the traditional
  // engine, the sponge for the neural one, with the message in cube text.
  const auto at_rest = [&](Hue accent) {
    return [accent, this](const Image& i) {
      if (text_band_pixels(i) != 0) return false;
      sleep_ms(250);  // longer than two frames of the spin
      const Image next = shot();
      return next.width == i.width && icon_edges(next, accent) == icon_edges(i, accent);
    };
  };
  img = wait_for(at_rest(Hue::red), "the icon at rest");
  const int sponge_rest = icon_edges(img, Hue::red);
  key("n");
  wait_for([](const Image& i) { return shows_text(i, "TRADITIONAL MODE."); }, "TRADITIONAL MODE.");
  img = wait_for(at_rest(Hue::red), "the tetrahedron at rest");
  const int tetrahedron = icon_edges(img, Hue::red);
  EXPECT_GT(sponge_rest, tetrahedron * 3 / 2);
  key("t");
  img = wait_for([](const Image& i) { return shows_text(i, "NEURO MODE."); }, "NEURO MODE.");
  EXPECT_FALSE(shows_text(img, "TRADITIONAL MODE."));
  img = wait_for(at_rest(Hue::red), "the sponge at rest");
  EXPECT_NEAR(icon_edges(img, Hue::red), sponge_rest, sponge_rest / 20 + 2);
  click_pixel(project(-60, 10, -60, img.width, img.height));
  wait_for([](const Image& i) { return shows_text(i, "TRADITIONAL MODE."); },
           "TRADITIONAL MODE. after a click");
  img = wait_for(at_rest(Hue::red), "the tetrahedron at rest after a click");
  EXPECT_NEAR(icon_edges(img, Hue::red), tetrahedron, tetrahedron / 20 + 2);

  // The arrows move the cursor: right and left along the rows, down and up
  // along the columns. On a legal square the spindle is light.
  const int target = legal_squares(b).front();
  const int right = (square_row(target) - b.cursor_row + 8) % 8;
  const int down = (square_col(target) - b.cursor_col + 8) % 8;
  std::string keys;
  for (int i = 0; i < right + 8; ++i) keys += " Right";
  for (int i = 0; i < down; ++i) keys += " Down";
  for (int i = 0; i < 3; ++i) keys += " Up Down Left Right";
  if (!keys.empty()) key(keys);
  img = wait_for(
      [&](const Image& i) {
        return spindle_samples(i, square_row(target), square_col(target), Hue::light) >= 4;
      },
      "the light spindle on a legal square");
  EXPECT_EQ(spindle_samples(img, b.cursor_row, b.cursor_col, Hue::red), 0);
  // A right click only moves the cursor.
  click_square(img, b.cursor_row, b.cursor_col, 3);
  img =
      wait_for([&](const Image& i) { return spindle_samples(i, b.cursor_row, b.cursor_col, Hue::red) >= 4; },
               "the cursor back after a right click");
  EXPECT_TRUE(board_shows(img, b, true));

  // Closing the window saves the game with its settings.
  close_window();
  EXPECT_NE(err_text().find("tavimor> datafile was saved.\n"), std::string::npos) << err_text();
  auto saved = saved_board();
  ASSERT_TRUE(saved);
  EXPECT_EQ(saved->colour_scheme, 0);
  EXPECT_EQ(saved->engine, 0);
  EXPECT_EQ(saved->ply, b.ply);
  EXPECT_EQ(saved->computer_colour, b.computer_colour);
  EXPECT_EQ(board_stones(*saved), board_stones(b));
  EXPECT_EQ(saved->cursor_row, b.cursor_row);
  EXPECT_EQ(saved->cursor_col, b.cursor_col);
}

TEST_F(WindowX, ClickPlaysAndTheComputerAnswers) {
  // Late in a game, so that the computer's search is short: the human has a
  // move after which the computer must move and the human can move again.
  int legal = -1, illegal = -1;
  auto game = find_game([](const Board& b) { return b.ply == 54; },
                        [&](Board& b) {
                          b.computer_colour = 3 - b.side;
                          if (!can_move_now(b)) return false;
                          legal = illegal = -1;
                          for (int s : legal_squares(b)) {
                            Board after = b;
                            play(after, square_row(s), square_col(s));
                            if (!can_move_now(after)) continue;
                            bool fine = true;
                            for (int m : legal_squares(after)) {
                              Board reply = after;
                              play(reply, square_row(m), square_col(m));
                              fine = fine && can_move_now(reply);
                            }
                            if (fine) legal = s;
                          }
                          for (int s = 0; s < 64; ++s) {
                            const int32_t cell = current_plane(b)[cell_index(square_row(s), square_col(s))];
                            if ((cell & kStoneMask) == 0 && (cell & kLegalMark) == 0) illegal = s;
                          }
                          return legal >= 0 && illegal >= 0;
                        });
  ASSERT_TRUE(game);
  Board& b = *game;
  b.engine = 1;
  b.colour_scheme = 0;
  prepare(b);
  launch();
  // At another size the scene keeps its field of view and the mouse its aim.
  x_command(x_, "xdotool windowsize " + window_ + " 1000 800");
  Image img = wait_for([&](const Image& i) { return i.width == 1000 && board_shows(i, b, true); },
                       "the position at 1000 x 800");

  // An illegal square: the message, the cursor there, nothing played.
  click_square(img, square_row(illegal), square_col(illegal));
  img = wait_for([](const Image& i) { return shows_text(i, "YOU CAN'T PUT HERE."); }, "YOU CAN'T PUT HERE.");
  EXPECT_GE(spindle_samples(img, square_row(illegal), square_col(illegal), Hue::red), 4);
  Board moved = b;
  moved.cursor_row = square_row(illegal);
  moved.cursor_col = square_col(illegal);
  EXPECT_TRUE(board_shows(img, moved, true));

  // A legal square: played at once; while the computer's turn lasts the
  // message says so and the cursor is gone; then the computer moves, shows
  // its mood and the human's cursor comes back on the computer's move.
  Board after = b;
  ASSERT_NE(play(after, square_row(legal), square_col(legal)), 0);
  click_square(img, square_row(legal), square_col(legal));
  bool thinking_seen = false, cursor_hidden = true, face_seen = false;
  std::unique_ptr<Board> reply;
  const int64_t deadline = now_ms() + kWaitMs;
  while (now_ms() < deadline && !(reply && face_seen)) {
    img = shot();
    if (shows_text(img, "I'M THINKING...")) {
      thinking_seen = true;
      if (spindle_samples(img, square_row(legal), square_col(legal), Hue::red) != 0) cursor_hidden = false;
    }
    for (const char* face : mood_faces) face_seen = face_seen || shows_text(img, face);
    if (!reply) {
      for (int m : legal_squares(after)) {
        auto r = std::make_unique<Board>(after);
        play(*r, square_row(m), square_col(m));
        if (board_shows(img, *r, true)) reply = std::move(r);
      }
    }
  }
  EXPECT_TRUE(thinking_seen);
  EXPECT_TRUE(cursor_hidden);
  EXPECT_TRUE(face_seen);
  ASSERT_TRUE(reply) << "the computer's move never showed\n" << err_text();
  img = wait_for([&](const Image& i) { return text_band_pixels(i) == 0 && board_shows(i, *reply, true); },
                 "the human's turn again");
  EXPECT_GE(spindle_samples(img, reply->cursor_row, reply->cursor_col, Hue::red), 4);
  EXPECT_EQ(hue_at(img, square_x(reply->cursor_row), 10, square_z(reply->cursor_col)),
            reply->side == 1 ? Hue::dark : Hue::light);

  // The data file then holds the game: the human's move and the reply.
  close_window();
  auto saved = saved_board();
  ASSERT_TRUE(saved);
  EXPECT_EQ(saved->ply, b.ply + 2);
  EXPECT_EQ(record_get(saved->planes[b.ply], kRecRow), square_row(legal));
  EXPECT_EQ(record_get(saved->planes[b.ply], kRecCol), square_col(legal));
  EXPECT_EQ(board_stones(*saved), board_stones(*reply));
  EXPECT_EQ(saved->side, b.side);
}

TEST_F(WindowX, UndoAndEscape) {
  // The human to move after a move of each side; the computer plays colour 1.
  auto game = find_game([](const Board& b) { return b.ply == 14; },
                        [](Board& b) {
                          b.computer_colour = 1;
                          return b.side == 2 && record_get(b.planes[b.ply - 1], kRecMover) == 1 &&
                                 record_get(b.planes[b.ply - 2], kRecMover) == 2;
                        });
  ASSERT_TRUE(game);
  Board& b = *game;
  b.engine = 1;
  prepare(b);
  launch();
  wait_for([&](const Image& i) { return board_shows(i, b, true); }, "the prepared position");

  Board back = b;
  take_back(back);
  take_back(back);
  key("u");
  wait_for([&](const Image& i) { return board_shows(i, back, true); }, "the position two moves back");

  // Esc: a new game with the colours swapped; now the human moves first.
  key("Escape");
  Board fresh = *fresh_board();
  Image img = wait_for([&](const Image& i) { return board_shows(i, fresh, true); }, "a new game");
  EXPECT_EQ(hue_at(img, square_x(6), 10, square_z(5)), Hue::dark);  // colour 1 to move, the cursor on f5
  EXPECT_GE(spindle_samples(img, 6, 5, Hue::light), 4);             // a legal square

  close_window();
  auto saved = saved_board();
  ASSERT_TRUE(saved);
  EXPECT_EQ(saved->ply, 0);
  EXPECT_EQ(saved->computer_colour, 2);
  EXPECT_EQ(saved->side, 1);
}

TEST_F(WindowX, LastMoveEndsTheGameAndTheNextOneStarts) {
  auto game = find_game([](const Board& b) { return b.ply == 59; },
                        [](Board& b) {
                          b.computer_colour = 1;
                          return b.side == 2 && legal_squares(b).size() == 1;
                        });
  ASSERT_TRUE(game);
  Board& b = *game;
  b.engine = 0;
  prepare(b);
  launch();
  Image img = wait_for([&](const Image& i) { return board_shows(i, b, true); }, "the prepared position");

  const int last = legal_squares(b).front();
  Board end = b;
  play(end, square_row(last), square_col(last));
  const int d = end.discs1 - end.discs2;
  const std::string result = d > 0   ? "GAME OVER. I WIN " + std::to_string(d) + " POINTS."
                             : d < 0 ? "GAME OVER. YOU WIN " + std::to_string(-d) + " POINTS."
                                     : std::string("GAME OVER. DRAW GAME...");
  click_square(img, square_row(last), square_col(last));
  img = wait_for([&](const Image& i) { return shows_text(i, result); }, result);
  EXPECT_TRUE(board_shows(img, end, false));
  EXPECT_EQ(spindle_samples(img, square_row(last), square_col(last), Hue::red), 0);

  // Then a new game with the colours swapped: the human has colour 1 and
  // moves first, and the message is gone.
  Board fresh = *fresh_board();
  img = wait_for([&](const Image& i) { return text_band_pixels(i) == 0 && board_shows(i, fresh, true); },
                 "the next game");
  EXPECT_EQ(hue_at(img, square_x(6), 10, square_z(5)), Hue::dark);

  close_window();
  auto saved = saved_board();
  ASSERT_TRUE(saved);
  EXPECT_EQ(saved->ply, 0);
  EXPECT_EQ(saved->computer_colour, 2);
  EXPECT_EQ(saved->engine, 0);
}

// The layer (h): marks on exactly the legal squares, the counts, the last move;
// off, the scene as it was. The reply is the only best: the game as without h.
TEST_F(WindowX, AssistanceLayer) {
  std::unique_ptr<Board> reply;
  const auto unique_reply = [&](Board& b) {
    b.computer_colour = 3 - b.side;
    b.engine = 0;
    reply = std::make_unique<Board>(b);
    play(*reply, square_row(legal_squares(b)[0]), square_col(legal_squares(b)[0]));
    SearchContext ctx{reply.get(), net_.get(), 0};
    RootScores all;
    return engine_move(ctx, ThinkType::traditional, &all).played && can_move_now(*reply) &&
           std::count_if(all.moves, all.moves + all.count, [&](auto& m) { return m.value == ctx.value; }) ==
               1;
  };
  auto game = find_game([](const Board& b) { return b.ply == 20 && can_move_now(b); }, unique_reply);
  ASSERT_TRUE(game);
  // Magenta at each square's near left corner, the counts' dots, orange by the spindle.
  const auto layer_shows = [](const Image& i, const Board& b) {
    const std::string counts = "DARK " + std::to_string(b.discs1) + "  LIGHT " + std::to_string(b.discs2) +
                               (b.side == 1 ? "  DARK" : "  LIGHT") + " TO MOVE";
    const FlatText at = status_line_place(i.width, i.height, static_cast<int>(counts.size()));
    uint64_t marked = 0;
    for (int s = 0; s < 64; ++s) {
      const Rgb c = colour_at(i, square_x(square_row(s)) - 5.0, 0.5, square_z(square_col(s)) + 5.0);
      marked |= uint64_t{c.r > 170 && c.b > 170 && c.g < 110} << s;
    }
    bool dots = true;
    for (int k = 0; k < kGlyphDots * static_cast<int>(counts.size()); ++k) {
      const int p = k / kGlyphDots, g = glyph_index(counts[p]), d = k % kGlyphDots, half = at.dot / 2;
      const Rgb c = i.at(at.x + (kGlyphAdvance * p + d % 5) * at.dot + half, at.y + d / 5 * at.dot + half);
      dots = dots && (g < 0 || hue_of(c) == (glyph_bitmaps[g][d] != 0 ? Hue::light : Hue::black));
    }
    const Rgb last = colour_at(i, square_x(b.cursor_row) - 1.5, 2.4, square_z(b.cursor_col) + 1.5);
    return marked == legal_set(b) && dots && last.r > 200 && last.g > 90 && last.g < 170 && last.b < 60;
  };
  prepare(*game);
  launch();
  const Image plain = wait_for([&](const Image& i) { return board_shows(i, *game, true); }, "the position");
  key("h");
  wait_for([&](const Image& i) { return layer_shows(i, *game); }, "the layer");
  key("h");
  wait_for([&](const Image& i) { return i.rgb == plain.rgb; }, "the scene as it was, after h twice");
  key("h");
  click_square(plain, square_row(legal_squares(*game)[0]), square_col(legal_squares(*game)[0]));
  wait_for([&](const Image& i) { return layer_shows(i, *reply); }, "the layer after the computer's reply");
  close_window();
  const auto saved = saved_board();
  EXPECT_TRUE(saved && saved->ply == reply->ply && board_stones(*saved) == board_stones(*reply));
}

// The run ends without a close request: SIGTERM, or the window destroyed by
// another program. Either way the game is saved, with the colour scheme the
// c key has just changed.
TEST_F(WindowX, SignalOrDestroyedWindowSavesTheGame) {
  for (const bool destroy : {false, true}) {
    auto b = fresh_board();
    b->colour_scheme = 0;
    prepare(*b);
    window_.clear();
    launch();
    key("c");
    wait_for([](const Image& i) { return board_hue(i) == Hue::red; }, "the next colour scheme");
    if (destroy) {
      ASSERT_EQ(x_command(x_, std::string(TAVIMOR_WM_CLOSE) + " --destroy " + window_), 0);
      EXPECT_EQ(wait_exit(tavimor_, kWaitMs), 0) << err_text();
    } else {
      kill(tavimor_, SIGTERM);
      EXPECT_EQ(wait_exit(tavimor_, kWaitMs), 128 + SIGTERM) << err_text();
    }
    auto saved = saved_board();
    ASSERT_TRUE(saved);
    EXPECT_EQ(saved->colour_scheme, 1) << (destroy ? "destroyed" : "SIGTERM");
  }
}

}  // namespace
