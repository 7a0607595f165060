// The run sequence of the program: banner, options, load or reset, the front
// end, the diagnostics and the save. Returns the process exit status.
#pragma once

int run_program(int argc, const char* const* argv);

#include "version.h"  // kVersion, generated from the build's version

// The notice after the version in the banner and in the window title.
inline constexpr const char* kNotice = "(c) the tavimor developers; an Othello program.";
