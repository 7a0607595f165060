// Fuzzes the option parser with arbitrary argument vectors: the input's NUL
// bytes end the arguments. Options that parse must lie in their ranges.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/globals.h"
#include "app/options.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  constexpr std::size_t kMaxArgs = 64;
  std::vector<std::string> args{"tavimor"};
  std::string arg;
  for (std::size_t i = 0; i < size && args.size() < kMaxArgs; ++i) {
    if (data[i] == 0) {
      args.push_back(arg);
      arg.clear();
    } else {
      arg.push_back(static_cast<char>(data[i]));
    }
  }
  if (!arg.empty() && args.size() < kMaxArgs) args.push_back(arg);
  std::vector<const char*> argv;
  for (const auto& a : args) argv.push_back(a.c_str());
  argv.push_back(nullptr);

  Options opts;
  g_net.out_mode = 0;
  if (parse_options(static_cast<int>(args.size()), argv.data(), opts, g_net)) {
    const bool in_range = opts.mode >= 0 && opts.mode <= 2 && opts.gpu_ordinal >= -1 && opts.diag_mode >= 0 &&
                          opts.diag_mode <= 2 && (opts.diag_mode != 2 || g_net.out_mode == 2);
    if (!in_range) std::abort();
  }
  return 0;
}
