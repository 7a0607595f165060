// The window front end: a three-dimensional board drawn with OpenGL through
// freeglut, played with the mouse and keys.
#pragma once

#include "search/search_context.h"

// What the window plays on and how it keeps the game when it closes.
struct WindowSetup {
  SearchContext* ctx;     // the game (ctx->board) and the engines' context
  const char* title;      // the window's title
  bool (*save)();         // keeps the game and the network; reports its own errors
  int (*stop_signal)();   // the stop signal received so far (0: none); may be null
  void (*stop)(int sig);  // ends the run stopped by sig, with a save; does not return
};

// Opens the window on setup's game and runs the window library's event loop;
// argc and argv go to the window library. Closing the window calls
// setup.save and ends the process. When no window can be opened (no display)
// it says so on standard error and ends the process with status 1, the data
// file untouched.
void run_window(int argc, char** argv, const WindowSetup& setup);
