#include "ui/window.h"

#include <GL/freeglut.h>
#include <GL/glu.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "ui/cube_font.h"
#include "ui/window_logic.h"
#include "ui/window_x11.h"

namespace {

constexpr int kWindowFailedStatus = 1;
constexpr int kWatchMs = 100;  // how often the window looks for a stop signal and for its own end

const GLfloat kDark[4] = {0.1f, 0.1f, 0.1f, 1.0f};   // discs of colour 1
const GLfloat kLight[4] = {0.9f, 0.9f, 0.9f, 1.0f};  // discs of colour 2 and the text
const GLfloat kSpecular[4] = {0.1f, 0.1f, 0.1f, 1.0f};
const GLfloat kLightPosition[4] = {200.0f, 50.0f, 170.0f, 1.0f};
constexpr GLint kSphereSlices = 20;
constexpr GLint kSphereStacks = 20;
// The assistance layer: unlit flat marks, so that they keep their colour in
// every scheme, and the scores in outlined text.
const GLfloat kMoveMark[3] = {0.85f, 0.25f, 0.85f};  // a legal square of the human's turn
const GLfloat kLastMark[3] = {1.0f, 0.5f, 0.0f};     // on the disc of the last move
const GLfloat kOutline[3] = {0.0f, 0.0f, 0.0f};
constexpr float kMoveMarkHalf = 5.5f;    // a square is 12 wide
constexpr float kMoveMarkHeight = 0.5f;  // above the empty square's dot
constexpr float kLastMarkHalf = 2.0f;
constexpr float kLastMarkHeight = 2.4f;  // just above a disc's top at rest
constexpr int kScoreRise = 4;            // pixels from a score's baseline to the square's centre

WindowState g_window = make_window_state();
bool g_window_open = false;  // glutCreateWindow has returned
// The callbacks carry no pointer of their own: run_window keeps its setup here.
WindowSetup g_setup{};

void diffuse(const GLfloat* colour) { glMaterialfv(GL_FRONT_AND_BACK, GL_DIFFUSE, colour); }

void sphere(double radius) { glutSolidSphere(radius, kSphereSlices, kSphereStacks); }

// A sphere in one colour at (x, y, z) of the space squeezed by y_scale upright.
void ball(const GLfloat* colour, float y_scale, float x, float y, float z, double radius) {
  glPushMatrix();
  if (y_scale != 1.0f) glScalef(1.0f, y_scale, 1.0f);
  diffuse(colour);
  glTranslatef(x, y, z);
  sphere(radius);
  glPopMatrix();
}

void step_game(int value);

// Hands a handler's wishes to the window library.
void apply(const WindowEffects& e) {
  // In WindowTimer's order: the game-flow step, a message's end, the two animations.
  static void (*const callbacks[])(int) = {
      step_game, [](int value) { apply(message_expired(g_window, *g_setup.ctx->board, value)); },
      [](int n) { apply(animation_frame(g_window.flip_frames, WindowTimer::animate_flip, n)); },
      [](int n) { apply(animation_frame(g_window.icon_frames, WindowTimer::animate_icon, n)); }};
  for (int i = 0; i < e.timer_count; ++i) {
    const TimerStart& t = e.timers[i];
    glutTimerFunc(static_cast<unsigned>(t.delay_ms), callbacks[static_cast<int>(t.timer)], t.value);
  }
  if (e.redraw) glutPostRedisplay();
}

// The line of cube text, centred above the far half of the board.
void draw_message(const char* message) {
  const int n = static_cast<int>(std::strlen(message));
  const int x0 = text_origin(n);
  for (int p = 0; p < n; ++p) {
    const int g = glyph_index(message[p]);
    if (g < 0) continue;  // no glyph: an empty character cell
    const int x = x0 + kGlyphAdvance * p;
    for (int k = 0; k < kGlyphDots; ++k) {
      if (glyph_bitmaps[g][k] == 0) continue;
      glPushMatrix();
      diffuse(kLight);
      glScalef(0.5f, 2.0f, 1.0f);
      glTranslatef(0.0f, 20.0f, -10.0f);
      glRotatef(60.0f, 1.0f, 0.0f, 0.0f);
      glTranslatef(static_cast<GLfloat>(x + k % kGlyphLineDots), 0.0f,
                   static_cast<GLfloat>(k / kGlyphLineDots));
      glutSolidCube(1.0);
      glPopMatrix();
    }
  }
}

float square_centre(int row_or_col) { return (static_cast<float>(row_or_col) - 4.5f) * 12.0f; }

// A flat square of the given half side, parallel to the board, in one colour.
void flat_square(float x, float y, float z, float half, const GLfloat* colour) {
  glColor3fv(colour);
  glBegin(GL_QUADS);
  glVertex3f(x - half, y, z - half);
  glVertex3f(x - half, y, z + half);
  glVertex3f(x + half, y, z + half);
  glVertex3f(x + half, y, z - half);
  glEnd();
}

// The layer's marks on the board: the squares of the hints and the last move.
void draw_layer_marks(const Board& b, const RootScores* hints) {
  glDisable(GL_LIGHTING);
  for (int i = 0; hints != nullptr && i < hints->count; ++i)
    flat_square(square_centre(hints->moves[i].row), kMoveMarkHeight, square_centre(hints->moves[i].col),
                kMoveMarkHalf, kMoveMark);
  if (has_last_move(b)) {
    const int32_t* from = previous_plane(b);
    flat_square(square_centre(record_get(from, kRecRow)), kLastMarkHeight,
                square_centre(record_get(from, kRecCol)), kLastMarkHalf, kLastMark);
  }
  glEnable(GL_LIGHTING);
}

// Text in the window library's bitmap font, centred on the world point
// (x, y, z), moved by (dx, dy) pixels.
void bitmap_text(float x, float y, float z, const char* text, const GLfloat* colour, int dx, int dy) {
  const auto* chars = reinterpret_cast<const unsigned char*>(text);
  glColor3fv(colour);  // the raster position takes the current colour
  glRasterPos3f(x, y, z);
  const int wide = glutBitmapLength(GLUT_BITMAP_HELVETICA_12, chars);
  glBitmap(0, 0, 0.0f, 0.0f, static_cast<GLfloat>(dx - wide / 2), static_cast<GLfloat>(dy - kScoreRise),
           nullptr);
  glutBitmapString(GLUT_BITMAP_HELVETICA_12, chars);
}

// The layer's text over the scene: each hint's score on its square, light
// with a dark outline, and the line of counts under the board in the
// window's font, its dots drawn as squares of pixels.
void draw_layer_text(const Board& b, const RootScores* hints) {
  glDisable(GL_LIGHTING);
  glDisable(GL_DEPTH_TEST);
  for (int i = 0; hints != nullptr && i < hints->count; ++i) {
    const RootMove& m = hints->moves[i];
    const std::string score = std::to_string(m.value);
    const float x = square_centre(m.row), z = square_centre(m.col);
    for (const int d : {-1, 1}) {
      bitmap_text(x, kMoveMarkHeight, z, score.c_str(), kOutline, d, 0);
      bitmap_text(x, kMoveMarkHeight, z, score.c_str(), kOutline, 0, d);
    }
    bitmap_text(x, kMoveMarkHeight, z, score.c_str(), kLight, 0, 0);
  }

  const std::string line = status_line(b);
  const FlatText at =
      status_line_place(g_window.window_width, g_window.window_height, static_cast<int>(line.size()));
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  gluOrtho2D(0.0, g_window.window_width, g_window.window_height, 0.0);
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  glColor3fv(kLight);
  glBegin(GL_QUADS);
  for (std::size_t p = 0; p < line.size(); ++p) {
    const int g = glyph_index(line[p]);
    for (int k = 0; g >= 0 && k < kGlyphDots; ++k) {
      if (glyph_bitmaps[g][k] == 0) continue;
      const auto x =
          static_cast<GLfloat>(at.x + (kGlyphAdvance * static_cast<int>(p) + k % kGlyphLineDots) * at.dot);
      const auto y = static_cast<GLfloat>(at.y + k / kGlyphLineDots * at.dot);
      const auto d = static_cast<GLfloat>(at.dot);
      glVertex2f(x, y);
      glVertex2f(x, y + d);
      glVertex2f(x + d, y + d);
      glVertex2f(x + d, y);
    }
  }
  glEnd();
  glEnable(GL_DEPTH_TEST);
  glEnable(GL_LIGHTING);
}

// The projection and the camera for the window's size, and the light.
void set_camera() {
  glViewport(0, 0, static_cast<GLsizei>(g_window.window_width), static_cast<GLsizei>(g_window.window_height));
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  // A window of no height (minimised, on some systems) has no aspect ratio.
  const float aspect = g_window.window_height > 0.0f ? g_window.window_width / g_window.window_height : 1.0f;
  gluPerspective(28.0, aspect, 1.0, 500.0);
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  gluLookAt(0.0, 120.0, 170.0, 0.0, 0.0, 0.0, 0.0, 1.0, 0.0);
  glLightfv(GL_LIGHT0, GL_POSITION, kLightPosition);
}

// The slab (100 x 10 x 100 with its top face at y = 0), the discs, and a
// small dot on every empty square.
void draw_board(const Board& b, const GLfloat* board_colour) {
  glPushMatrix();
  diffuse(board_colour);
  glMaterialfv(GL_FRONT_AND_BACK, GL_SPECULAR, kSpecular);
  glScalef(1.0f, 0.1f, 1.0f);
  glTranslatef(0.0f, -50.0f, 0.0f);
  glutSolidCube(100.0);
  glPopMatrix();

  for (int s = 0; s < 64; ++s) {
    const float x = square_centre(square_row(s)), z = square_centre(square_col(s));
    const int32_t cell = current_plane(b)[cell_index(square_row(s), square_col(s))];
    if (const int stone = cell & kStoneMask; stone != 0)
      ball(stone == 1 ? kDark : kLight, 0.2f, x, disc_height(cell, g_window.flip_frames), z, 5.5);
    else
      ball(board_colour, 0.2f, x, 1.0f, z, 1.0);
  }
}

// The cursor spindle, light on a legal square, and the ball of the side to move.
void draw_cursor(const Board& b, const GLfloat* accent) {
  const float x = square_centre(b.cursor_row), z = square_centre(b.cursor_col);
  const bool legal = (current_plane(b)[cell_index(b.cursor_row, b.cursor_col)] & kLegalMark) != 0;
  ball(legal ? kLight : accent, 10.0f, x, 0.5f, z, 0.6);
  ball(b.side == 1 ? kDark : kLight, 1.0f, x, 10.0f, z, 2.0);
}

// The colour-scheme ball at the right rear, and the engine icon at the left
// rear: a sponge for the neural engine, a single tetrahedron for the
// traditional one.
void draw_rear(const Board& b, const GLfloat* accent) {
  ball(accent, 1.0f, 60.0f, 10.0f, -60.0f, 10.0);
  glPushMatrix();
  diffuse(accent);
  glTranslatef(-60.0f, 10.0f, -60.0f);
  glRotatef(90.0f, 0.0f, 0.0f, 1.0f);
  glRotatef(static_cast<GLfloat>(g_window.icon_frames * 30), 0.0f, 1.0f, 1.0f);
  double offset[3] = {0.0, 0.0, 0.0};
  glutSolidSierpinskiSponge(engine_of(b) == ThinkType::neuro ? 2 : 0, offset, 13.0);
  glPopMatrix();
}

void on_display() {
  const Board& b = *g_setup.ctx->board;
  const RootScores* hints = refresh_hints(g_window, *g_setup.ctx);
  GLfloat board_colour[4], accent[4];
  const int accent_k = accent_scheme(b.colour_scheme);
  for (int i = 0; i < 3; ++i) {
    board_colour[i] = kSchemeColours[b.colour_scheme][i];
    accent[i] = kSchemeColours[accent_k][i];
  }
  board_colour[3] = accent[3] = 0.5f;

  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  set_camera();
  draw_board(b, board_colour);
  if (g_window.assist != 0) draw_layer_marks(b, hints);
  if (human_to_move(b)) draw_cursor(b, accent);  // on the human's turn only
  draw_rear(b, accent);
  if (g_window.message[0] != '\0') draw_message(g_window.message);
  if (g_window.assist != 0) draw_layer_text(b, hints);
  glutSwapBuffers();
}

void on_reshape(int width, int height) {
  g_window.window_width = static_cast<float>(width);
  g_window.window_height = static_cast<float>(height);
}

void on_key(unsigned char key, int, int) { apply(key_pressed(g_window, *g_setup.ctx->board, key)); }

void on_special_key(int key, int, int) { apply(special_key_pressed(g_window, *g_setup.ctx->board, key)); }

void on_mouse(int button, int state, int x, int y) {
  apply(mouse_pressed(g_window, *g_setup.ctx->board, button, state, x, y));
}

// The window manager closes the window: keep the game for the next start
// (a failed save reports itself).
void on_close() { g_setup.save(); }

// The stop signal received so far, or 0.
int stop_signal() { return g_setup.stop_signal != nullptr ? g_setup.stop_signal() : 0; }

void step_game(int) {
  const WindowEffects e = run_step(g_window, *g_setup.ctx, kEngineCalls);
  // A stop signal ended the search without its move: the game is saved as it stood.
  if (const int sig = stop_signal(); sig != 0) g_setup.stop(sig);
  apply(e);
}

// Between two callbacks: a stop signal, or a window destroyed without a close
// request, ends the run with a save, as a close does.
void watch_run(int) {
  if (const int sig = stop_signal(); sig != 0) g_setup.stop(sig);
  if (window_is_gone()) {
    std::fputs("note: the window is gone.\n", stderr);
    g_setup.save();
    std::fflush(nullptr);
    std::_Exit(0);  // the window library must not clean up a window that is gone
  }
  glutTimerFunc(kWatchMs, watch_run, 0);
}

// The connection to the display broke: nothing can be shown any more, but
// the game is kept.
void on_display_lost() {
  std::fputs("error: the connection to the display is lost.\n", stderr);
  g_setup.save();
  std::fflush(nullptr);
  std::_Exit(kWindowFailedStatus);
}

// The window library cannot go on (most often: there is no display to open
// the window on). It must not return here, so the process ends, without
// saving: the data file stays as it was.
void on_window_error(const char* fmt, va_list ap) {
  char what[512];
  std::vsnprintf(what, sizeof what, fmt, ap);
  if (g_window_open) {
    std::fprintf(stderr, "error: the window failed (%s).\n", what);
  } else {
    std::fprintf(stderr, "error: cannot open the window (%s). to play in the console, run with -mode text.\n",
                 what);
  }
  std::exit(kWindowFailedStatus);
}

void on_window_warning(const char* fmt, va_list ap) {
  if (stop_signal() != 0) return;  // the signal interrupted the library's wait; the run ends anyway
  char what[512];
  std::vsnprintf(what, sizeof what, fmt, ap);
  std::fprintf(stderr, "note: window: %s.\n", what);
}

}  // namespace

void run_window(int argc, char** argv, const WindowSetup& setup) {
  g_setup = setup;
  // Set before glutInit, which is where a missing display shows.
  glutInitErrorFunc(on_window_error);
  glutInitWarningFunc(on_window_warning);

  glutInitWindowSize(static_cast<int>(g_window.window_width), static_cast<int>(g_window.window_height));
  glutInit(&argc, argv);
  glutCreateWindow(setup.title);
  g_window_open = true;
  watch_display_connection(on_display_lost);
  // Comes after the window exists and so leaves it as created: single
  // buffered RGBA with a depth buffer, the library's default.
  glutInitDisplayMode(GLUT_DOUBLE | GLUT_ALPHA);
  glutDisplayFunc(on_display);
  glutReshapeFunc(on_reshape);

  glutKeyboardFunc(on_key);
  glutSpecialFunc(on_special_key);
  glutMouseFunc(on_mouse);
  glutCloseFunc(on_close);

  glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
  glEnable(GL_DEPTH_TEST);
  glEnable(GL_LIGHTING);
  glEnable(GL_LIGHT0);
  glEnable(GL_BLEND);
  glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);

  glutTimerFunc(10, step_game, 0);
  glutTimerFunc(kWatchMs, watch_run, 0);
  glutMainLoop();
}
