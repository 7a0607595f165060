// The X11 forms (other window systems: the window library's own close
// request is all there is).
#include "ui/window_x11.h"

#if defined(__unix__) && !defined(__APPLE__)

#include <GL/glx.h>
#include <X11/Xlib.h>

namespace {

void (*g_on_lost)() = nullptr;
bool g_bad_window = false;

int on_io_error(Display*) {
  if (g_on_lost != nullptr) g_on_lost();
  return 0;  // not reached: on_lost ends the process
}

int trap_error(Display*, XErrorEvent*) {
  g_bad_window = true;
  return 0;
}

}  // namespace

void watch_display_connection(void (*on_lost)()) {
  g_on_lost = on_lost;
  XSetIOErrorHandler(on_io_error);
}

bool window_is_gone() {
  Display* display = glXGetCurrentDisplay();
  const GLXDrawable window = glXGetCurrentDrawable();
  if (display == nullptr || window == 0) return false;
  // Asks for the window's attributes with the errors caught: a window that
  // is gone answers with an error instead.
  XSync(display, False);
  g_bad_window = false;
  int (*previous)(Display*, XErrorEvent*) = XSetErrorHandler(trap_error);
  XWindowAttributes attributes;
  const Status found = XGetWindowAttributes(display, window, &attributes);
  XSync(display, False);
  XSetErrorHandler(previous);
  return found == 0 || g_bad_window;
}

#else

void watch_display_connection(void (*)()) {}
bool window_is_gone() { return false; }

#endif
