// Runs the built tavimor executable in a directory of its own, feeding a
// given standard input and capturing both output streams and the status.
#pragma once

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

struct ExeResult {
  int status = -1;  // exit status as the shell sees it
  std::string out;  // standard output
  std::string err;  // standard error
};

inline std::string read_file(const std::filesystem::path& p) {
  std::ifstream f(p, std::ios::binary);
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

inline std::string shell_quote(const std::string& s) {
  std::string q(1, '\'');
  for (char c : s) {
    if (c == '\'')
      q.append("'\\''");
    else
      q.push_back(c);
  }
  q.push_back('\'');
  return q;
}

// A fresh empty directory under the system's temporary directory.
inline std::filesystem::path make_temp_dir(const std::string& tag) {
  std::string tmpl =
      (std::filesystem::temp_directory_path() / (std::string("tavimor-").append(tag).append("-XXXXXX")))
          .string();
  std::vector<char> buf(tmpl.begin(), tmpl.end());
  buf.push_back('\0');
  const char* dir = mkdtemp(buf.data());
  return dir ? std::filesystem::path(dir) : std::filesystem::path();
}

// Runs the executable exe in dir. prefix is put before the command in the
// shell line (for example limits). The program runs without a display, so
// that window mode ends at once.
inline ExeResult run_exe(const std::string& exe, const std::filesystem::path& dir,
                         const std::vector<std::string>& args, const std::string& input = "",
                         const std::string& prefix = "") {
  {
    std::ofstream in(dir / "stdin.txt", std::ios::binary);
    in << input;
  }
  std::ostringstream cmd;
  cmd << "cd " << shell_quote(dir.string()) << " && " << prefix << " env -u DISPLAY -u WAYLAND_DISPLAY "
      << shell_quote(exe);
  for (const auto& a : args) cmd << ' ' << shell_quote(a);
  cmd << " <stdin.txt >stdout.txt 2>stderr.txt";
  const int raw = std::system(cmd.str().c_str());
  ExeResult r;
  r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
  r.out = read_file(dir / "stdout.txt");
  r.err = read_file(dir / "stderr.txt");
  std::filesystem::remove(dir / "stdin.txt");
  std::filesystem::remove(dir / "stdout.txt");
  std::filesystem::remove(dir / "stderr.txt");
  return r;
}

inline ExeResult run_tavimor(const std::filesystem::path& dir, const std::vector<std::string>& args,
                             const std::string& input = "", const std::string& prefix = "") {
  return run_exe(TAVIMOR_EXE, dir, args, input, prefix);
}
