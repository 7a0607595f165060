// Asks a window to close the way a window manager does: a WM_PROTOCOLS
// client message carrying WM_DELETE_WINDOW, sent to the window itself. With
// --destroy it destroys the window instead, without asking.
// Usage: tavimor_wm_close [--destroy] WINDOW-ID (on the display that DISPLAY names).
#include <X11/Xlib.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv) {
  const bool destroy = argc == 3 && std::strcmp(argv[1], "--destroy") == 0;
  if (argc != 2 && !destroy) {
    std::fputs("usage: tavimor_wm_close [--destroy] WINDOW-ID\n", stderr);
    return 2;
  }
  if (destroy) ++argv;
  char* end = nullptr;
  const unsigned long id = std::strtoul(argv[1], &end, 0);
  if (end == argv[1] || *end != '\0') {
    std::fprintf(stderr, "error: bad window id %s.\n", argv[1]);
    return 2;
  }
  Display* display = XOpenDisplay(nullptr);
  if (display == nullptr) {
    std::fputs("error: cannot open the display.\n", stderr);
    return 1;
  }
  const Window window = static_cast<Window>(id);
  if (destroy) {
    XDestroyWindow(display, window);
    XSync(display, False);
    XCloseDisplay(display);
    return 0;
  }
  XEvent event{};
  event.xclient.type = ClientMessage;
  event.xclient.window = window;
  event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
  event.xclient.format = 32;
  event.xclient.data.l[0] = static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
  event.xclient.data.l[1] = CurrentTime;
  const Status sent = XSendEvent(display, window, False, NoEventMask, &event);
  XSync(display, False);
  XCloseDisplay(display);
  return sent != 0 ? 0 : 1;
}
