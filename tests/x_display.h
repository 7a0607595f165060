// A private X server (Xvfb) for the window tests, the programs that drive it
// (xdotool, ImageMagick's import) and the tavimor process under test.
#pragma once

#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "exe_runner.h"

inline bool program_on_path(const std::string& name) {
  const char* path = std::getenv("PATH");
  if (path == nullptr) return false;
  std::string dirs(path);
  std::size_t start = 0;
  while (start <= dirs.size()) {
    std::size_t end = dirs.find(':', start);
    if (end == std::string::npos) end = dirs.size();
    const std::string dir = dirs.substr(start, end - start);
    if (!dir.empty() && access((dir + "/" + name).c_str(), X_OK) == 0) return true;
    start = end + 1;
  }
  return false;
}

struct XServer {
  pid_t pid = -1;
  std::string display;  // ":N"
};

// Starts Xvfb on a display number it picks itself. The server ends with the
// test process at the latest.
inline bool start_xvfb(XServer& x, const std::string& screen) {
  int fds[2];
  if (pipe(fds) != 0) return false;
  const pid_t pid = fork();
  if (pid < 0) return false;
  if (pid == 0) {
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    close(fds[0]);
    std::freopen("/dev/null", "w", stdout);
    std::freopen("/dev/null", "w", stderr);
    const std::string fd = std::to_string(fds[1]);
    execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", screen.c_str(), "-nolisten", "tcp",
           "-noreset", static_cast<char*>(nullptr));
    _exit(127);
  }
  close(fds[1]);
  std::string number;
  pollfd p{fds[0], POLLIN, 0};
  const int64_t deadline = now_ms() + 20000;
  while (number.find('\n') == std::string::npos && now_ms() < deadline) {
    if (poll(&p, 1, 200) <= 0) continue;
    char buf[32];
    const ssize_t n = read(fds[0], buf, sizeof buf);
    if (n <= 0) break;
    number.append(buf, static_cast<std::size_t>(n));
  }
  close(fds[0]);
  x.pid = pid;
  while (!number.empty() && (number.back() == '\n' || number.back() == ' ')) number.pop_back();
  if (number.empty()) return false;
  x.display = ":" + number;
  return true;
}

// Runs a shell command against the server; its standard output goes to *out.
inline int x_command(const XServer& x, const std::string& cmd, std::string* out = nullptr) {
  const std::string line = "DISPLAY=" + x.display + " " + cmd + " 2>/dev/null";
  FILE* f = popen(line.c_str(), "r");
  if (f == nullptr) return -1;
  std::string text;
  char buf[4096];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
  const int raw = pclose(f);
  if (out) *out = text;
  return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
}

struct Rgb {
  int r, g, b;
};

struct Image {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> rgb;
  bool inside(int x, int y) const { return x >= 0 && y >= 0 && x < width && y < height; }
  Rgb at(int x, int y) const {
    if (!inside(x, y)) return Rgb{0, 0, 0};
    const std::size_t i = 3 * (static_cast<std::size_t>(y) * static_cast<std::size_t>(width) + x);
    return Rgb{rgb[i], rgb[i + 1], rgb[i + 2]};
  }
};

// Reads one number of a PPM header.
inline bool ppm_number(const std::string& s, std::size_t& i, int& v) {
  for (;;) {
    while (i < s.size() && std::isspace(static_cast<unsigned char>(s[i]))) ++i;
    if (i < s.size() && s[i] == '#') {
      while (i < s.size() && s[i] != '\n') ++i;
      continue;
    }
    break;
  }
  if (i >= s.size() || !std::isdigit(static_cast<unsigned char>(s[i]))) return false;
  v = 0;
  while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) v = 10 * v + (s[i++] - '0');
  return true;
}

// The window's contents as the server shows them, 8 bits per channel.
inline bool screenshot(const XServer& x, const std::string& window, Image& img) {
  std::string ppm;
  if (x_command(x, "import -window " + window + " -depth 8 ppm:-", &ppm) != 0) return false;
  if (ppm.compare(0, 2, "P6") != 0) return false;
  std::size_t i = 2;
  int w, h, maxval;
  if (!ppm_number(ppm, i, w) || !ppm_number(ppm, i, h) || !ppm_number(ppm, i, maxval) || maxval != 255)
    return false;
  ++i;  // the one blank after the header
  const std::size_t bytes = 3 * static_cast<std::size_t>(w) * static_cast<std::size_t>(h);
  if (ppm.size() < i + bytes) return false;
  img.width = w;
  img.height = h;
  img.rgb.assign(ppm.begin() + static_cast<std::ptrdiff_t>(i),
                 ppm.begin() + static_cast<std::ptrdiff_t>(i + bytes));
  return true;
}

// Starts the program in dir on the server, standard error to dir/stderr.txt.
inline pid_t spawn_tavimor(const std::filesystem::path& dir, const XServer& x,
                           const std::vector<std::string>& args) {
  const pid_t pid = fork();
  if (pid != 0) return pid;
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (chdir(dir.c_str()) != 0) _exit(126);
  std::freopen("/dev/null", "r", stdin);
  std::freopen("stdout.txt", "w", stdout);
  std::freopen("stderr.txt", "w", stderr);
  setenv("DISPLAY", x.display.c_str(), 1);
  // Under AddressSanitizer: Mesa's driver is unloaded when the window closes,
  // and the leak check then reports the driver's own allocations with no
  // module to pin them on. The window program runs without the leak check;
  // the address and undefined-behaviour checks stay on.
  const char* asan = std::getenv("ASAN_OPTIONS");
  const std::string options = std::string(asan ? asan : "") + (asan && *asan ? ":" : "") + "detect_leaks=0";
  setenv("ASAN_OPTIONS", options.c_str(), 1);
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>("tavimor"));
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  execv(TAVIMOR_EXE, argv.data());
  _exit(127);
}
