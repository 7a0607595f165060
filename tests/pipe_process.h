// A program under test on two pipes, as a GUI runs an engine: lines written
// to its standard input, lines read back from its standard output as they
// come, each read with a deadline.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

struct PipedProcess {
  pid_t pid = -1;
  int to = -1;          // its standard input
  int from = -1;        // its standard output
  std::string pending;  // read, not yet returned
};

// Starts exe with args in dir; its standard error goes to dir/stderr.txt.
inline bool pipe_start(PipedProcess& p, const char* exe, const std::filesystem::path& dir,
                       const std::vector<std::string>& args) {
  signal(SIGPIPE, SIG_IGN);  // a write to an engine that has ended fails instead
  std::vector<char*> argv{const_cast<char*>(exe)};
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  const std::string err = (dir / "stderr.txt").string();
  int in[2], out[2];
  if (pipe(in) != 0 || pipe(out) != 0) return false;
  const pid_t pid = fork();
  if (pid < 0) return false;
  if (pid == 0) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    const int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (e < 0 || dup2(in[0], 0) < 0 || dup2(out[1], 1) < 0 || dup2(e, 2) < 0 || chdir(dir.c_str()) != 0)
      _exit(127);
    close(in[0]);
    close(in[1]);
    close(out[0]);
    close(out[1]);
    execv(exe, argv.data());
    _exit(127);
  }
  close(in[0]);
  close(out[1]);
  p.pid = pid;
  p.to = in[1];
  p.from = out[0];
  return true;
}

inline bool pipe_send(PipedProcess& p, const std::string& line) {
  const std::string l = line + "\n";
  return write(p.to, l.data(), l.size()) == static_cast<ssize_t>(l.size());
}

// The next line of output without its newline; false at the end of the
// output or when none came within timeout_ms.
inline bool pipe_read_line(PipedProcess& p, std::string& line, int timeout_ms = 120000) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    const std::size_t nl = p.pending.find('\n');
    if (nl != std::string::npos) {
      line = p.pending.substr(0, nl);
      p.pending.erase(0, nl + 1);
      return true;
    }
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now())
            .count();
    pollfd f{p.from, POLLIN, 0};
    if (left <= 0 || poll(&f, 1, static_cast<int>(left)) <= 0) return false;
    char buf[4096];
    const ssize_t n = read(p.from, buf, sizeof buf);
    if (n <= 0) return false;
    p.pending.append(buf, static_cast<std::size_t>(n));
  }
}

// Closes its input and waits for it to end: its exit status, or -1 when it
// had not ended within timeout_ms (it is then killed). What it wrote and was
// not read yet is left in p.pending.
inline int pipe_finish(PipedProcess& p, int timeout_ms = 60000) {
  close(p.to);
  // Collected while waiting, so that a full pipe cannot hold it up.
  const auto drain = [&p] {
    char buf[4096];
    pollfd f{p.from, POLLIN, 0};
    while (poll(&f, 1, 0) > 0) {
      const ssize_t n = read(p.from, buf, sizeof buf);
      if (n <= 0) break;
      p.pending.append(buf, static_cast<std::size_t>(n));
    }
  };
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  int status = 0;
  int code = -1;
  for (;;) {
    drain();
    if (waitpid(p.pid, &status, WNOHANG) != 0) {
      code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      break;
    }
    if (std::chrono::steady_clock::now() > deadline) {
      kill(p.pid, SIGKILL);
      waitpid(p.pid, &status, 0);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  drain();
  close(p.from);
  return code;
}
