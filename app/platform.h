// The operating system's part in keeping the data file safe and in ending a
// run cleanly: what a path names, an exclusive lock, files created only when
// nothing is there, syncing, renaming, the stop signals, the terminal, and
// another program found, run and waited for. Everything else in the program
// goes through the standard library.
#pragma once

#include <atomic>
#include <cstdio>
#include <string>
#include <vector>

// What a path names, its links followed (link only where a link itself is
// looked at).
enum class PathKind { missing, file, folder, pipe, device, socket, link, other, unknown };

// The kind as the messages name it ("a named pipe").
const char* path_kind_name(PathKind kind);

// Opens path for reading when it is a regular file. Never blocks, whatever
// the path names; kind tells what was found (unknown when it could not be
// told, for example for want of permission). Null when nothing was opened.
std::FILE* open_regular_file(const char* path, PathKind& kind);

// Creates path for writing only when nothing of that name exists (a link
// included, which is never followed). Null on failure; exists then tells
// whether the name was taken.
std::FILE* create_new_file(const char* path, bool& exists);

// Flushes f and waits until its bytes are on the disk.
bool sync_file(std::FILE* f);

// Moves from to to in one step, replacing what to names.
bool replace_file(const char* from, const char* to);

// Makes the last renames in the folder of path durable (nothing where the
// system has no such step).
void sync_folder_of(const char* path);

// Moves from to to only when to names nothing; taken tells whether to was
// the obstacle.
bool move_without_replacing(const char* from, const char* to, bool& taken);

// A lock that no other process can hold at the same time, on the regular
// file path (created when missing, never through a link) and on the folder
// it lies in, so that removing the file while the lock is held lets no
// second process in. It lasts until the process ends. read_only: path is
// missing and cannot be created, as in a read-only folder (nothing is
// locked); not_a_file: something else is at path, its kind in kind.
enum class LockResult { taken, busy, read_only, not_a_file, failed };
LockResult lock_exclusively(const char* path, PathKind& kind);

// Opens the null device on each of standard input, output and error that is
// closed, so that no file the program opens later takes its place. Call it
// first of all.
void open_closed_standard_streams();

// The number of this process, for names no other process uses.
long process_number();

// Installs the handlers of SIGINT, SIGTERM and SIGHUP: the first asks the run
// to stop at its next safe point, a second ends the process at once (after
// removing the unfinished file, if any). A broken pipe on standard output
// then no longer ends the process: the write fails instead, and neither does
// the file-size limit (SIGXFSZ): a write beyond it fails like one to a full
// disk.
void install_stop_signals();

// Lets a stop end a read of standard input that waits (at the prompt); the
// front ends that read standard input call it once before they do. On POSIX
// the signal interrupts the read; on Windows standard input then comes
// through a pipe of the process's own, which a thread fills and a stop closes.
void stop_ends_input();

// The signal that asked the run to stop, or 0.
int stop_signal();
// The same as a flag that the searches read while they run (non-zero: stop).
const std::atomic<int>& stop_flag();

// "SIGINT" and so on.
const char* signal_name(int sig);

// Says on standard error which signal stops the run (before it saves).
void say_stopped(int sig);

// Ends the process as the signal would have ended it.
[[noreturn]] void end_by_signal(int sig);

// The file that an immediate end removes (a save's temporary file), or null
// once it is gone or renamed. At most 511 bytes.
void set_unfinished_file(const char* path);

// True when standard error goes to a terminal (on Windows a console).
bool stderr_is_terminal();

// The path of the program `name` (on Windows with ".exe") in the folder of
// this executable, which the system tells where it can, else argv0 names;
// the bare name when neither names a folder.
std::string program_beside_this(const char* name, const char* argv0);

// ---- Another program run and waited for (the training runner's games,
// gnuplot) ----

// How a program that run_program ran ended.
struct ProgramEnd {
  bool started = false;  // false: it could not be started
  int code = 0;          // its exit status (on Windows its whole exit code)
  int signal = 0;  // the signal that ended it (POSIX; a status of 128 + n from a script counts as n), or 0
  bool stopped = false;  // ended by a stop: SIGINT, SIGTERM, SIGHUP or SIGQUIT; on Windows Ctrl-C's status
};

// Runs args[0] (looked for on the PATH when it names no folder) with the rest
// of args as its arguments, without a command interpreter, and waits until it
// and every process it started have ended. Its standard input is the null
// device; its standard output and error go to out and err (null: this
// process's own). It runs in a process group of its own (on Windows a job
// object): the stop that install_stop_signals takes is passed on to the
// group once (on Windows the console's events reach it themselves); what is
// left of the group a few seconds after the program ended is killed; and when
// this process ends in any way while the program runs, the group is asked to
// stop and killed a few seconds later if it has not (on Windows at once).
ProgramEnd run_program(const std::vector<std::string>& args, std::FILE* out, std::FILE* err);
