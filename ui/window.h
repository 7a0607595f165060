// The window front end: a three-dimensional board drawn with OpenGL through
// freeglut, played with the mouse and keys.
#pragma once

// Opens the window on the global game and runs the window library's event
// loop; argc and argv go to the window library. Closing the window saves the
// data file and ends the process. When no window can be opened (no display)
// it says so on standard error and ends the process with status 1, the data
// file untouched.
void run_window(int argc, char** argv);
