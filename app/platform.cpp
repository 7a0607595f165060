// The POSIX forms of the platform calls.
#include "app/platform.h"

#if !defined(__unix__) && !defined(__APPLE__)
#error "app/platform.cpp holds only the POSIX forms of its calls so far"
#endif

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <string>

namespace {

constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};

PathKind kind_of(mode_t mode) {
  if (S_ISREG(mode)) return PathKind::file;
  if (S_ISDIR(mode)) return PathKind::folder;
  if (S_ISFIFO(mode)) return PathKind::pipe;
  if (S_ISCHR(mode) || S_ISBLK(mode)) return PathKind::device;
  if (S_ISSOCK(mode)) return PathKind::socket;
  return PathKind::other;
}

int open_file(const char* path, int flags, mode_t mode = 0) {
  int fd;
  do fd = open(path, flags | O_CLOEXEC, mode);
  while (fd < 0 && errno == EINTR);
  return fd;
}

std::FILE* stream_of(int fd, const char* mode) {
  std::FILE* f = fdopen(fd, mode);
  if (f == nullptr) close(fd);
  return f;
}

// Written by the stop handler, read by the run.
std::atomic<int> g_signals{0};
std::atomic<int> g_stop_signal{0};
static_assert(std::atomic<int>::is_always_lock_free && std::atomic<bool>::is_always_lock_free);
// The unfinished file, for the handler to remove.
char g_unfinished[512];
std::atomic<bool> g_has_unfinished{false};
// Replaces standard input once a stop is asked for.
int g_null_fd = -1;

extern "C" void on_stop_signal(int sig) {
  const int saved_errno = errno;
  if (g_signals.fetch_add(1) == 0) {
    g_stop_signal.store(sig);
    // A read of standard input that starts from now on finds its end at
    // once; one that is waiting already returns, interrupted.
    if (g_null_fd >= 0) dup2(g_null_fd, STDIN_FILENO);
    errno = saved_errno;
    return;
  }
  if (g_has_unfinished.load(std::memory_order_acquire)) unlink(g_unfinished);
  end_by_signal(sig);
}

}  // namespace

const char* path_kind_name(PathKind kind) {
  switch (kind) {
    case PathKind::missing:
      return "missing";
    case PathKind::file:
      return "a file";
    case PathKind::folder:
      return "a folder";
    case PathKind::pipe:
      return "a named pipe";
    case PathKind::device:
      return "a device";
    case PathKind::socket:
      return "a socket";
    case PathKind::other:
      return "a special file";
    case PathKind::unknown:
      break;
  }
  return "of an unknown kind";
}

std::FILE* open_regular_file(const char* path, PathKind& kind) {
  struct stat st;
  if (stat(path, &st) != 0) {
    kind = errno == ENOENT ? PathKind::missing : PathKind::unknown;
    return nullptr;
  }
  kind = kind_of(st.st_mode);
  if (kind != PathKind::file) return nullptr;  // not even opened: a pipe would wait, a device might act
  // Without blocking, in case something else has taken the name meanwhile.
  const int fd = open_file(path, O_RDONLY | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) return nullptr;
  if (fstat(fd, &st) != 0 || (kind = kind_of(st.st_mode)) != PathKind::file) {
    close(fd);
    return nullptr;
  }
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  return stream_of(fd, "rb");
}

std::FILE* create_new_file(const char* path, bool& exists) {
  const int fd = open_file(path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, 0666);
  exists = fd < 0 && errno == EEXIST;
  return fd < 0 ? nullptr : stream_of(fd, "wb");
}

bool sync_file(std::FILE* f) {
  if (std::fflush(f) != 0) return false;
  int r;
  do r = fsync(fileno(f));
  while (r != 0 && errno == EINTR);
  return r == 0;
}

bool replace_file(const char* from, const char* to) { return rename(from, to) == 0; }

void sync_folder_of(const char* path) {
  const char* slash = std::strrchr(path, '/');
  const std::string folder = slash == nullptr ? "." : slash == path ? "/" : std::string(path, slash);
  const int fd = open_file(folder.c_str(), O_RDONLY | O_DIRECTORY);
  if (fd < 0) return;
  fsync(fd);  // some file systems cannot sync a folder; the rename stands either way
  close(fd);
}

bool move_without_replacing(const char* from, const char* to, bool& taken) {
  // A second name first, then the first name goes: link() never replaces.
  taken = false;
  if (link(from, to) == 0) return unlink(from) == 0;
  if (errno == EEXIST) {
    taken = true;
    return false;
  }
  // A file system without hard links: look, then rename.
  struct stat st;
  if (lstat(to, &st) == 0) {
    taken = true;
    return false;
  }
  return errno == ENOENT && rename(from, to) == 0;
}

LockResult lock_exclusively(const char* path) {
  const int fd = open_file(path, O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY, 0666);
  if (fd < 0) return LockResult::failed;
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    return LockResult::failed;
  }
  int r;
  do r = flock(fd, LOCK_EX | LOCK_NB);
  while (r != 0 && errno == EINTR);
  if (r == 0) return LockResult::taken;  // the descriptor stays open: the lock lasts as long as the process
  const bool busy = errno == EWOULDBLOCK;
  close(fd);
  return busy ? LockResult::busy : LockResult::failed;
}

long process_number() { return static_cast<long>(getpid()); }

void install_stop_signals() {
  if (g_null_fd < 0) g_null_fd = open_file("/dev/null", O_RDONLY);
  struct sigaction sa;
  std::memset(&sa, 0, sizeof sa);
  sa.sa_handler = on_stop_signal;
  sigemptyset(&sa.sa_mask);
  for (int s : kStopSignals) sigaddset(&sa.sa_mask, s);
  sa.sa_flags = 0;  // no SA_RESTART: a read waiting at the prompt returns
  for (int s : kStopSignals) {
    struct sigaction old;
    // A signal ignored from the start (nohup, a background job) stays ignored.
    if (sigaction(s, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) continue;
    sigaction(s, &sa, nullptr);
  }
  struct sigaction ignore;
  std::memset(&ignore, 0, sizeof ignore);
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  sigaction(SIGPIPE, &ignore, nullptr);
}

int stop_signal() { return g_stop_signal.load(); }

const char* signal_name(int sig) {
  switch (sig) {
    case SIGINT:
      return "SIGINT";
    case SIGTERM:
      return "SIGTERM";
    case SIGHUP:
      return "SIGHUP";
    default:
      return "a signal";
  }
}

void say_stopped(int sig) { std::fprintf(stderr, "note: stopped by %s.\n", signal_name(sig)); }

void end_by_signal(int sig) {
  struct sigaction sa;
  std::memset(&sa, 0, sizeof sa);
  sa.sa_handler = SIG_DFL;
  sigemptyset(&sa.sa_mask);
  sigaction(sig, &sa, nullptr);
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, sig);
  pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
  raise(sig);
  _exit(128 + sig);  // only if the signal did not end the process
}

void set_unfinished_file(const char* path) {
  if (path == nullptr || std::strlen(path) >= sizeof g_unfinished) {
    g_has_unfinished.store(false, std::memory_order_release);
    return;
  }
  g_has_unfinished.store(false, std::memory_order_release);
  std::strcpy(g_unfinished, path);
  g_has_unfinished.store(true, std::memory_order_release);
}
