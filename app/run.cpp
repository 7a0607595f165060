#include "app/run.h"

#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/datafile.h"
#include "app/globals.h"
#include "app/options.h"
#include "app/platform.h"
#include "nn/network.h"
#include "search/engine.h"
#include "ui/console.h"
#include "ui/window.h"

namespace {

constexpr int kStopStatus = -1;
constexpr int kRefusedStatus = 1;  // the data file cannot be used: the run does not start

void release_gpu() { gpu_release(g_net); }

// The window's end after a stop signal: saved as a close saves.
void stop_window(int sig) {
  say_stopped(sig);
  save_data();
  std::fflush(nullptr);
  end_by_signal(sig);
}

// Runs the front end chosen on the command line until it returns.
void run_front_end(const Options& opts, int argc, const char* const* argv) {
  ConsoleState console = make_console_state(stop_signal);  // the text dialogue's and demo's
  switch (opts.mode) {
    case kModeWin: {
      const std::string title = std::string("Tavimor ") + kVersion + "  " + kNotice;
      // The window library sees no arguments: none are left after the options.
      run_window(0, const_cast<char**>(argv + argc),
                 WindowSetup{&g_ctx, title.c_str(), save_data, stop_signal, stop_window});
      break;
    }
    case kModeText:
      stop_ends_input();
      run_text(console, g_ctx, stdin);
      break;
    case kModeDemo:
      run_demo(console, opts.diag_mode, g_ctx);
      break;
    default:
      break;
  }
}

}  // namespace

int run_program(int argc, const char* const* argv) {
  // Before anything opens a file: none may become standard output or error.
  open_closed_standard_streams();
  // Messages are shown at once. The C library may buffer standard error when
  // it is not a terminal (Windows' does when it is a pipe), so it is asked.
  std::setvbuf(stderr, nullptr, _IONBF, 0);
  // From here on a stop signal ends the run at its next safe point, with a
  // save, and a closed standard output no longer ends it.
  install_stop_signals();
  g_ctx.stop = &stop_flag();  // and a search that runs ends at once, without its move
  std::fprintf(stderr, "Tavimor version %s %s\n", kVersion, kNotice);
  Options opts;
  if (!parse_options(argc, argv, opts, g_net)) return kStopStatus;

  // One run at a time on one data file, from before the load to the end of the save.
  if (!take_data_file_lock(kDataFileName)) return kRefusedStatus;

  const DataFault fault = load_data_file(kDataFileName, g_board, g_net);
  if (fault == DataFault::not_a_file) return kRefusedStatus;
  if (fault != DataFault::none) {
    // A file that is there but did not load is moved aside, never overwritten.
    std::string kept;
    const bool keep = fault != DataFault::missing;
    if (keep && !keep_aside(kDataFileName, kept)) {
      std::fputs("error: the old datafile cannot be kept aside. the run stops and leaves it as it was.\n",
                 stderr);
      return kRefusedStatus;
    }
    std::fputs("note: datafile is not found. data reset.\n", stderr);
    fresh_game(g_board);
    net_init_random(g_net);
    if (keep) std::fprintf(stderr, "note: the old datafile is kept as '%s'.\n", kept.c_str());
  }
  if (opts.engine) set_engine(g_board, *opts.engine);
  if (opts.gpu_ordinal >= 0) {
    gpu_init(g_net, opts.gpu_ordinal);
    // Registered once more now that the driver is loaded, so that the release
    // runs before the exit handlers the driver registered for itself.
    if (g_net.gpu.context != nullptr) std::atexit(release_gpu);
  }

  run_front_end(opts, argc, argv);
  if (stop_signal() != 0) say_stopped(stop_signal());
  if (opts.diag_mode == kDiagDump) {
    gpu_download(g_net);  // the tables show what the device holds
    net_dump_params(g_net);
    net_dump_scratch(g_net);
  }

  if (!save_data()) std::fputs("error: can't write to datafile. data is discarded.\n", stderr);
  if (const int sig = stop_signal(); sig != 0) {
    std::fflush(nullptr);
    end_by_signal(sig);
  }
  return 0;
}
