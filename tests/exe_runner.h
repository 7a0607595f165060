// Runs the program under test in a directory of its own, feeding a given
// standard input and capturing both output streams and the status. The
// program is this build's tavimor, or the one that the variable
// TAVIMOR_PROGRAM names, started through the program that TAVIMOR_LAUNCHER
// names when that is set (Wine, for the Windows build).
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

struct ExeResult {
  int status = -1;      // exit status as the shell sees it
  std::string out;      // standard output, its lines ending in a newline alone
  std::string err;      // standard error, likewise
  std::string raw_out;  // standard output as written
};

// The command line that starts the program under test, before its arguments.
inline std::vector<std::string> tavimor_command() {
  std::vector<std::string> command;
  const char* launcher = std::getenv("TAVIMOR_LAUNCHER");
  if (launcher != nullptr && *launcher != '\0') command.push_back(launcher);
  const char* program = std::getenv("TAVIMOR_PROGRAM");
  command.push_back(program != nullptr && *program != '\0' ? program : TAVIMOR_EXE);
  return command;
}

// True when the program under test is a Windows executable.
inline bool testing_windows_program() { return tavimor_command().back().ends_with(".exe"); }

// The exit status of a run that a stop signal ended: as the shell reports a
// death by signal, or under Wine the low byte of the status that Windows
// gives a program that Ctrl-C ended.
inline int stopped_status(int sig) { return testing_windows_program() ? 0x3A : 128 + sig; }

// Text from a Windows program with its line ends as POSIX writes them: a
// carriage return before a newline goes. So do the lines of Wine's own that
// a process ending while one of its threads talks to the Wine server may get
// ("wine client error:..."), which no Windows program writes.
inline std::string program_text(std::string text) {
  if (!testing_windows_program()) return text;
  const std::string wine_noise = "wine client error:";
  for (std::size_t at; (at = text.find(wine_noise)) != std::string::npos;) {
    const std::size_t end = text.find('\n', at);
    text.erase(at, end == std::string::npos ? std::string::npos : end + 1 - at);
  }
  std::string plain;
  for (std::size_t i = 0; i < text.size(); ++i)
    if (text[i] != '\r' || i + 1 == text.size() || text[i + 1] != '\n') plain.push_back(text[i]);
  return plain;
}

inline std::string read_file(const std::filesystem::path& p) {
  std::ifstream f(p, std::ios::binary);
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

inline void write_file(const std::filesystem::path& p, const std::string& bytes) {
  std::ofstream f(p, std::ios::binary | std::ios::trunc);
  f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline bool contains(const std::string& text, const std::string& what) {
  return text.find(what) != std::string::npos;
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

// Runs command with args in dir. prefix is put before the command in the
// shell line (for example limits). The program runs without a display, so
// that window mode ends at once.
inline ExeResult run_command(const std::vector<std::string>& command, const std::filesystem::path& dir,
                             const std::vector<std::string>& args, const std::string& input = "",
                             const std::string& prefix = "") {
  {
    std::ofstream in(dir / "stdin.txt", std::ios::binary);
    in << input;
  }
  std::ostringstream cmd;
  cmd << "cd " << shell_quote(dir.string()) << " && " << prefix << " env -u DISPLAY -u WAYLAND_DISPLAY";
  for (const auto& a : command) cmd << ' ' << shell_quote(a);
  for (const auto& a : args) cmd << ' ' << shell_quote(a);
  cmd << " <stdin.txt >stdout.txt 2>stderr.txt";
  const int raw = std::system(cmd.str().c_str());
  ExeResult r;
  r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
  r.raw_out = read_file(dir / "stdout.txt");
  r.out = program_text(r.raw_out);
  r.err = program_text(read_file(dir / "stderr.txt"));
  std::filesystem::remove(dir / "stdin.txt");
  std::filesystem::remove(dir / "stdout.txt");
  std::filesystem::remove(dir / "stderr.txt");
  return r;
}

inline ExeResult run_exe(const std::string& exe, const std::filesystem::path& dir,
                         const std::vector<std::string>& args, const std::string& input = "",
                         const std::string& prefix = "") {
  return run_command({exe}, dir, args, input, prefix);
}

inline ExeResult run_tavimor(const std::filesystem::path& dir, const std::vector<std::string>& args,
                             const std::string& input = "", const std::string& prefix = "") {
  return run_command(tavimor_command(), dir, args, input, prefix);
}

// The arguments for execv: the program under test's command (or another),
// then args.
struct ExecArgs {
  std::vector<std::string> words;
  std::vector<char*> argv;
  explicit ExecArgs(const std::vector<std::string>& args,
                    std::vector<std::string> command = tavimor_command())
      : words(std::move(command)) {
    words.insert(words.end(), args.begin(), args.end());
    for (auto& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
  }
};

inline void sleep_ms(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

inline int64_t now_ms() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// Waits for the process to end; its exit status as the shell shows it, or
// -1 when it is still running at the deadline.
inline int wait_exit(pid_t& pid, int timeout_ms) {
  const int64_t deadline = now_ms() + timeout_ms;
  int status;
  while (now_ms() < deadline) {
    const pid_t r = waitpid(pid, &status, WNOHANG);
    if (r == pid) {
      pid = -1;
      return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    sleep_ms(5);
  }
  return -1;
}

inline void stop_process(pid_t& pid) {
  if (pid <= 0) return;
  kill(pid, SIGTERM);
  if (wait_exit(pid, 2000) == -1 && pid > 0) {
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    pid = -1;
  }
}

// A pipe to read text from; its write end stays open in *keep when given.
inline int pipe_reading(const std::string& text, int* keep = nullptr) {
  int fds[2];
  if (pipe(fds) != 0 || write(fds[1], text.data(), text.size()) != static_cast<ssize_t>(text.size()))
    return -1;
  if (keep != nullptr)
    *keep = fds[1];
  else
    close(fds[1]);
  return fds[0];
}

// Waits until the file holds text at least `times` times; false at the deadline.
inline bool wait_for_text(const std::filesystem::path& file, const std::string& text, int times = 1,
                          int timeout_ms = 120000) {
  for (const int64_t deadline = now_ms() + timeout_ms; now_ms() < deadline; sleep_ms(2)) {
    const std::string s = read_file(file);
    int n = 0;
    for (auto at = s.find(text); at != std::string::npos; at = s.find(text, at + 1)) ++n;
    if (n >= times) return true;
  }
  return false;
}

// Starts the program in dir without waiting for it: standard input from
// in_fd, standard output to out_fd (-1: dir/<tag>.out), standard error to
// dir/<tag>.err. With gate_fd >= 0 the child first waits until the gate's
// write end is closed, so that several runs can be let go at one moment.
// in_fd and out_fd go to the child: the caller's copies are closed. command
// names another program to start.
inline pid_t start_tavimor(const std::filesystem::path& dir, const std::vector<std::string>& args, int in_fd,
                           const std::string& tag, int out_fd = -1, int gate_fd = -1,
                           const std::vector<std::string>& command = tavimor_command()) {
  const pid_t pid = fork();
  if (pid != 0) {
    close(in_fd);
    if (out_fd >= 0) close(out_fd);
    return pid;
  }
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (chdir(dir.c_str()) != 0) _exit(126);
  if (out_fd < 0) out_fd = open((tag + ".out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  const int err_fd = open((tag + ".err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  dup2(in_fd, 0);
  dup2(out_fd, 1);
  dup2(err_fd, 2);
  for (int fd = 3; fd < 1024; ++fd)
    if (fd != gate_fd) close(fd);  // the gate's write end too, so that its closing is seen
  if (gate_fd >= 0) {
    char c;
    while (read(gate_fd, &c, 1) > 0) {
    }
    close(gate_fd);
  }
  unsetenv("DISPLAY");
  unsetenv("WAYLAND_DISPLAY");
  ExecArgs exec(args, command);
  execv(exec.argv[0], exec.argv.data());
  _exit(127);
}

// Whether the process runs (a zombie does not).
inline bool process_runs(pid_t pid) {
  const std::string stat = read_file("/proc/" + std::to_string(pid) + "/stat");
  const std::size_t state = stat.rfind(") ");
  return state != std::string::npos && state + 2 < stat.size() && stat[state + 2] != 'Z';
}
