// The training runner's and the teaching run's own files (records, plot
// scripts, pictures, a game's output): each is made under a temporary name of
// this process and renamed into place, as the data file is saved, so that a
// link at the name is replaced, never followed.
#pragma once

#include <cstdio>
#include <string>

// A name of this run's own beside name, for a file that is renamed to name
// once it is whole.
std::string temporary_name(const char* name);

// Creates the file path afresh, never through a link; one left there by an
// earlier run of the same number is removed first. Null on failure.
std::FILE* create_fresh(const std::string& path);

// Writes text to name: a new file under a temporary name, renamed over name.
// durable: synced to the disk first.
bool write_anew(const char* name, const std::string& text, bool durable);

// Has gnuplot run the script plot, which draws into the file its variable
// picture names, into a fresh temporary file that then takes picture's name.
// False (and nothing left behind) when gnuplot could not draw it.
bool draw_with_gnuplot(const char* plot, const char* picture);
