// The platform calls in their two forms: Windows, and POSIX (Linux and the
// other Unix systems). Everything else in the program goes through the
// standard library.
#include "app/platform.h"

#include <atomic>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <string>

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#elif defined(__unix__) || defined(__APPLE__)
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#else
#error "app/platform.cpp has the Windows and the POSIX forms of its calls, no others"
#endif

namespace {

// Written by the stop handler, read by the run.
std::atomic<int> g_signals{0};
std::atomic<int> g_stop_signal{0};
static_assert(std::atomic<int>::is_always_lock_free && std::atomic<bool>::is_always_lock_free);
// The unfinished file, for the handler to remove.
char g_unfinished[512];
std::atomic<bool> g_has_unfinished{false};

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
    case PathKind::link:
      return "a symbolic link";
    case PathKind::other:
      return "a special file";
    case PathKind::unknown:
      break;
  }
  return "of an unknown kind";
}

int stop_signal() { return g_stop_signal.load(); }

const std::atomic<int>& stop_flag() { return g_stop_signal; }

void say_stopped(int sig) { std::fprintf(stderr, "note: stopped by %s.\n", signal_name(sig)); }

void set_unfinished_file(const char* path) {
  g_has_unfinished.store(false, std::memory_order_release);
  if (path == nullptr || std::strlen(path) >= sizeof g_unfinished) return;
  std::strcpy(g_unfinished, path);
  g_has_unfinished.store(true, std::memory_order_release);
}

#if defined(_WIN32)

namespace {

// The exit status of a process that Ctrl-C ended.
constexpr DWORD kCtrlCExit = 0xC000013AU;
// Room in the pipe that standard input comes through.
constexpr DWORD kFeedBytes = 1 << 20;

// Standard input comes through a pipe of the process's own that a thread
// fills from the real standard input: a stop closes the pipe, so that a read
// waiting at the prompt returns at once and every later read finds the end.
// (Windows cannot interrupt a read of every kind of standard input.)
HANDLE g_input = nullptr;  // the real standard input
HANDLE g_feed = nullptr;   // the pipe's write end, until the input ends or a stop comes
SRWLOCK g_feed_lock = SRWLOCK_INIT;

void close_feed() {
  AcquireSRWLockExclusive(&g_feed_lock);
  if (g_feed != nullptr) CloseHandle(g_feed);
  g_feed = nullptr;
  ReleaseSRWLockExclusive(&g_feed_lock);
}

DWORD WINAPI feed_input(void*) {
  char buf[4096];
  DWORD got = 0;
  while (ReadFile(g_input, buf, sizeof buf, &got, nullptr) && got > 0) {
    AcquireSRWLockExclusive(&g_feed_lock);
    DWORD put = 0;
    const bool fed = g_feed != nullptr && WriteFile(g_feed, buf, got, &put, nullptr);
    ReleaseSRWLockExclusive(&g_feed_lock);
    if (!fed) return 0;
  }
  close_feed();  // the end of the input
  return 0;
}

// Puts the pipe in the place of standard input; false when it cannot.
bool feed_standard_input() {
  // A handle of its own: the pipe's taking the place of standard input
  // closes the one the C library holds.
  const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  if (input == nullptr || input == INVALID_HANDLE_VALUE ||
      !DuplicateHandle(GetCurrentProcess(), input, GetCurrentProcess(), &g_input, 0, FALSE,
                       DUPLICATE_SAME_ACCESS))
    return false;
  HANDLE from = nullptr;
  if (!CreatePipe(&from, &g_feed, nullptr, kFeedBytes)) {
    CloseHandle(g_input);
    return false;
  }
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(from), _O_RDONLY | _O_TEXT);
  if (fd < 0 || _dup2(fd, 0) != 0) {
    if (fd >= 0)
      _close(fd);
    else
      CloseHandle(from);
    CloseHandle(g_feed);
    CloseHandle(g_input);
    g_feed = nullptr;
    return false;
  }
  _close(fd);
  const HANDLE thread = CreateThread(nullptr, 0, feed_input, nullptr, 0, nullptr);
  if (thread == nullptr) {
    close_feed();
    return false;
  }
  CloseHandle(thread);
  return true;
}

// A reparse point that the POSIX layer of Windows (WSL) uses for the special
// files of its file systems.
PathKind reparse_kind(const char* path) {
  WIN32_FIND_DATAA found;
  const HANDLE h = FindFirstFileA(path, &found);
  if (h == INVALID_HANDLE_VALUE) return PathKind::unknown;
  FindClose(h);
  constexpr DWORD kTagAfUnix = 0x80000023, kTagFifo = 0x80000024, kTagChr = 0x80000025, kTagBlk = 0x80000026;
  switch (found.dwReserved0) {
    case kTagAfUnix:
      return PathKind::socket;
    case kTagFifo:
      return PathKind::pipe;
    case kTagChr:
    case kTagBlk:
      return PathKind::device;
    default:
      return PathKind::file;  // a link: what it names decides once it is open
  }
}

PathKind kind_of_handle(HANDLE h) {
  switch (GetFileType(h)) {
    case FILE_TYPE_DISK: {
      BY_HANDLE_FILE_INFORMATION info;
      if (!GetFileInformationByHandle(h, &info)) return PathKind::unknown;
      return (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? PathKind::folder : PathKind::file;
    }
    case FILE_TYPE_PIPE:
      return PathKind::pipe;
    case FILE_TYPE_CHAR:
      return PathKind::device;
    default:
      return PathKind::other;
  }
}

// A binary stream on the handle, which it then owns.
std::FILE* stream_of(HANDLE h, int flags, const char* mode) {
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), flags | _O_BINARY);
  if (fd < 0) {
    CloseHandle(h);
    return nullptr;
  }
  std::FILE* f = _fdopen(fd, mode);
  if (f == nullptr) _close(fd);
  return f;
}

int signal_of(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
      return SIGINT;
    case CTRL_BREAK_EVENT:
      return SIGBREAK;
    default:
      return SIGTERM;  // the console closes, the user logs off, the system shuts down
  }
}

// Runs on a thread of its own that the system starts for each console event.
BOOL WINAPI on_console_event(DWORD event) {
  const int sig = signal_of(event);
  if (g_signals.fetch_add(1) != 0) {
    if (g_has_unfinished.load(std::memory_order_acquire)) DeleteFileA(g_unfinished);
    end_by_signal(sig);
  }
  g_stop_signal.store(sig);
  close_feed();
  // After a close the system ends the process when this returns: wait for
  // the run to save and end it.
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) Sleep(INFINITE);
  return TRUE;
}

}  // namespace

std::FILE* open_regular_file(const char* path, PathKind& kind) {
  const DWORD attributes = GetFileAttributesA(path);
  if (attributes != INVALID_FILE_ATTRIBUTES) {
    kind = (attributes & FILE_ATTRIBUTE_DIRECTORY)       ? PathKind::folder
           : (attributes & FILE_ATTRIBUTE_DEVICE)        ? PathKind::device
           : (attributes & FILE_ATTRIBUTE_REPARSE_POINT) ? reparse_kind(path)
                                                         : PathKind::file;
    if (kind != PathKind::file) return nullptr;
  } else {
    const DWORD e = GetLastError();
    kind = e == ERROR_FILE_NOT_FOUND || e == ERROR_PATH_NOT_FOUND ? PathKind::missing : PathKind::unknown;
    // Wine has no attributes for the pipes and devices of the file system
    // beneath it, but tells them once they are open.
    if (kind == PathKind::missing) return nullptr;
  }
  // Others may read, write, rename or remove it meanwhile, as on POSIX.
  const HANDLE h = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                               nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return nullptr;  // the kind as the attributes told it
  if ((kind = kind_of_handle(h)) != PathKind::file) {
    CloseHandle(h);
    return nullptr;
  }
  return stream_of(h, _O_RDONLY, "rb");
}

std::FILE* create_new_file(const char* path, bool& exists) {
  // Removable while open, so that an immediate end can take it away.
  const HANDLE h = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
  exists = h == INVALID_HANDLE_VALUE &&
           (GetLastError() == ERROR_FILE_EXISTS || GetLastError() == ERROR_ALREADY_EXISTS);
  return h == INVALID_HANDLE_VALUE ? nullptr : stream_of(h, _O_WRONLY, "wb");
}

bool sync_file(std::FILE* f) {
  if (std::fflush(f) != 0) return false;
  const HANDLE h = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(f)));
  return h != INVALID_HANDLE_VALUE && FlushFileBuffers(h) != 0;
}

bool replace_file(const char* from, const char* to) {
  return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

void sync_folder_of(const char*) {}  // a rename written through is durable with its folder

bool move_without_replacing(const char* from, const char* to, bool& taken) {
  const bool moved = MoveFileExA(from, to, MOVEFILE_WRITE_THROUGH) != 0;
  const DWORD e = moved ? 0 : GetLastError();
  taken = e == ERROR_ALREADY_EXISTS || e == ERROR_FILE_EXISTS;
  return moved;
}

LockResult lock_exclusively(const char* path, PathKind& kind) {
  // A link is opened as itself, and refused. Others may read and write it,
  // never remove it while the lock is held: the lock of the folder on POSIX.
  const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE;
  const DWORD flags = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT;
  HANDLE h = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, share, nullptr, OPEN_ALWAYS, flags, nullptr);
  const DWORD attributes = GetFileAttributesA(path);  // of a link itself
  const PathKind special =
      (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ? reparse_kind(path) : PathKind::file;
  kind = attributes == INVALID_FILE_ATTRIBUTES ? PathKind::missing
         : (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0
             ? (special == PathKind::file ? PathKind::link : special)
         : (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? PathKind::folder
         : (attributes & FILE_ATTRIBUTE_DEVICE) != 0    ? PathKind::device
                                                        : PathKind::file;
  if (h == INVALID_HANDLE_VALUE && kind == PathKind::file && GetLastError() == ERROR_ACCESS_DENIED)
    h = CreateFileA(path, GENERIC_READ, share, nullptr, OPEN_EXISTING, flags, nullptr);  // a read-only file
  if (h == INVALID_HANDLE_VALUE) {
    const DWORD e = GetLastError();
    if (kind != PathKind::file && kind != PathKind::missing) return LockResult::not_a_file;
    return kind == PathKind::missing && (e == ERROR_ACCESS_DENIED || e == ERROR_WRITE_PROTECT)
               ? LockResult::read_only
               : LockResult::failed;
  }
  BY_HANDLE_FILE_INFORMATION info;
  if (GetFileType(h) != FILE_TYPE_DISK || !GetFileInformationByHandle(h, &info) ||
      (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0) {
    kind = kind_of_handle(h);
    if (kind == PathKind::file) kind = PathKind::link;
    CloseHandle(h);
    return LockResult::not_a_file;
  }
  kind = PathKind::file;
  OVERLAPPED at{};
  if (LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at))
    return LockResult::taken;  // the handle stays open: the lock lasts as long as the process
  const bool busy = GetLastError() == ERROR_LOCK_VIOLATION;
  CloseHandle(h);
  return busy ? LockResult::busy : LockResult::failed;
}

void open_closed_standard_streams() {
  const DWORD which[] = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
  for (int fd = 0; fd <= 2; ++fd) {
    const HANDLE h = GetStdHandle(which[fd]);
    if (h != nullptr && h != INVALID_HANDLE_VALUE) continue;
    const HANDLE null_h = CreateFileA("NUL", fd == 0 ? GENERIC_READ : GENERIC_WRITE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (null_h == INVALID_HANDLE_VALUE) continue;
    const int null_fd = _open_osfhandle(reinterpret_cast<intptr_t>(null_h), fd == 0 ? _O_RDONLY : _O_WRONLY);
    if (null_fd < 0) {
      CloseHandle(null_h);
      continue;
    }
    if (null_fd != fd) {
      _dup2(null_fd, fd);
      _close(null_fd);
    }
    SetStdHandle(which[fd], reinterpret_cast<HANDLE>(_get_osfhandle(fd)));
  }
}

long process_number() { return static_cast<long>(GetCurrentProcessId()); }

void install_stop_signals() {
  // Ctrl-C stays ignored when the process was started so (start /b); the
  // other events still come.
  SetConsoleCtrlHandler(on_console_event, TRUE);
}

void stop_ends_input() {
  // Once; without it a stop waits for the next line. Only runs that read
  // standard input start the thread: one still reading when a run ends at
  // once (a bad option) would be cut off in the middle of a system call.
  static const bool fed = feed_standard_input();
  (void)fed;
}

const char* signal_name(int sig) {
  switch (sig) {
    case SIGINT:
      return "Ctrl-C";
    case SIGBREAK:
      return "Ctrl-Break";
    case SIGTERM:
      return "the console closing";
    default:
      return "a console event";
  }
}

void end_by_signal(int) {
  // With the status that the system's own handler gives a console program,
  // and at once: the other threads may be anywhere.
  TerminateProcess(GetCurrentProcess(), kCtrlCExit);
  ExitProcess(kCtrlCExit);  // not reached
}
#else  // POSIX

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

void set_handler(int sig, void (*handler)(int), struct sigaction* old = nullptr) {
  struct sigaction sa;
  std::memset(&sa, 0, sizeof sa);
  sa.sa_handler = handler;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_NOCLDSTOP;
  sigaction(sig, &sa, old);
}

std::FILE* stream_of(int fd, const char* mode) {
  std::FILE* f = fdopen(fd, mode);
  if (f == nullptr) close(fd);
  return f;
}

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

namespace {

// Takes the lock of fd without waiting.
LockResult lock_descriptor(int fd) {
  int r;
  do r = flock(fd, LOCK_EX | LOCK_NB);
  while (r != 0 && errno == EINTR);
  return r == 0 ? LockResult::taken : errno == EWOULDBLOCK ? LockResult::busy : LockResult::failed;
}

// The lock of the folder that path lies in, which survives the removal of
// the lock file: busy while another process holds it. Where the folder
// cannot be locked (not readable, a file system without such locks) the lock
// file alone keeps runs apart.
LockResult lock_folder_of(const char* path) {
  const char* slash = std::strrchr(path, '/');
  const std::string folder = slash == nullptr ? "." : slash == path ? "/" : std::string(path, slash);
  const int fd = open_file(folder.c_str(), O_RDONLY | O_DIRECTORY);
  if (fd < 0) return LockResult::taken;
  const LockResult r = lock_descriptor(fd);
  if (r == LockResult::taken) return r;  // the descriptor stays open: the lock lasts as long as the process
  close(fd);
  return r == LockResult::busy ? r : LockResult::taken;
}

constexpr int kLockAttempts = 100;  // a lock file replaced between the open and the lock: try again

// What is at path when it is there and no regular file; PathKind::file otherwise.
PathKind odd_kind(const char* path) {
  struct stat st;
  if (lstat(path, &st) != 0 || S_ISREG(st.st_mode)) return PathKind::file;
  return S_ISLNK(st.st_mode) ? PathKind::link : kind_of(st.st_mode);
}

LockResult lock_file(const char* path, PathKind& kind) {
  for (int attempt = 0; attempt < kLockAttempts; ++attempt) {
    // Something else is never opened: a device might act.
    if ((kind = odd_kind(path)) != PathKind::file) return LockResult::not_a_file;
    int fd = open_file(path, O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY, 0666);
    if (fd < 0 && (errno == EACCES || errno == EROFS || errno == EPERM)) {
      // A lock needs no write access: a lock file that is there is locked read-only.
      fd = open_file(path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY);
      if (fd < 0 && errno == ENOENT) return LockResult::read_only;
    }
    if (fd < 0)
      return (kind = odd_kind(path)) != PathKind::file ? LockResult::not_a_file : LockResult::failed;
    struct stat st;
    if (fstat(fd, &st) != 0 || (kind = kind_of(st.st_mode)) != PathKind::file) {
      close(fd);
      return kind == PathKind::file ? LockResult::failed : LockResult::not_a_file;
    }
    const LockResult r = lock_descriptor(fd);
    // Still the file of that name? One removed or replaced meanwhile keeps nobody out.
    struct stat now;
    if (r == LockResult::taken && lstat(path, &now) == 0 && now.st_dev == st.st_dev &&
        now.st_ino == st.st_ino)
      return r;  // the descriptor stays open: the lock lasts as long as the process
    close(fd);
    if (r != LockResult::taken) return r;
  }
  return LockResult::failed;
}

}  // namespace

LockResult lock_exclusively(const char* path, PathKind& kind) {
  kind = PathKind::unknown;
  const LockResult r = lock_file(path, kind);
  return r == LockResult::taken ? lock_folder_of(path) : r;  // busy: the process ends anyway
}

void open_closed_standard_streams() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    // The lowest free descriptor: fd itself.
    const int null_fd = open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
    if (null_fd > fd) {
      dup2(null_fd, fd);
      close(null_fd);
    }
  }
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
  set_handler(SIGPIPE, SIG_IGN);
  set_handler(SIGXFSZ, SIG_IGN);  // a write past the file-size limit fails instead
}

void stop_ends_input() {}  // the stop signals interrupt a waiting read

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

void end_by_signal(int sig) {
  set_handler(sig, SIG_DFL);
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, sig);
  pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
  raise(sig);
  _exit(128 + sig);  // only if the signal did not end the process
}

#endif

// ---- This program's terminal and the programs beside it ----

bool stderr_is_terminal() {
#if defined(_WIN32)
  return _isatty(_fileno(stderr)) != 0;
#else
  return isatty(fileno(stderr)) != 0;
#endif
}

std::string program_beside_this(const char* name, const char* argv0) {
  namespace fs = std::filesystem;
#if defined(_WIN32)
  const std::string file = std::string(name) + ".exe";
  char own[MAX_PATH];
  const DWORD n = GetModuleFileNameA(nullptr, own, MAX_PATH);
  const fs::path self = n > 0 && n < MAX_PATH ? fs::path(own) : fs::path(argv0);
#else
  const std::string file = name;
  std::error_code ec;
  fs::path self = fs::read_symlink("/proc/self/exe", ec);
  if (ec) self = argv0;
#endif
  return self.has_parent_path() ? (self.parent_path() / file).string() : file;
}

// ---- Another program run and waited for ----

#if defined(_WIN32)

namespace {

// How long what is left of a program's job may run on once the program has
// ended.
constexpr DWORD kGroupGraceMs = 10000;

// One argument as the C runtime of the program splits its command line.
std::string command_word(const std::string& word) {
  std::string q = "\"";
  std::size_t slashes = 0;
  for (char c : word) {
    if (c == '\\') {
      ++slashes;
      continue;
    }
    q.append(c == '"' ? 2 * slashes + 1 : slashes, '\\');
    slashes = 0;
    q.push_back(c);
  }
  q.append(2 * slashes, '\\');
  return q + "\"";
}

// An inheritable copy of h, or null.
HANDLE inheritable(HANDLE h) {
  HANDLE copy = nullptr;
  if (h == nullptr || h == INVALID_HANDLE_VALUE ||
      !DuplicateHandle(GetCurrentProcess(), h, GetCurrentProcess(), &copy, 0, TRUE, DUPLICATE_SAME_ACCESS))
    return nullptr;
  return copy;
}

HANDLE stream_handle(std::FILE* f, DWORD standard) {
  if (f == nullptr) return inheritable(GetStdHandle(standard));
  std::fflush(f);
  return inheritable(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(f))));
}

}  // namespace

ProgramEnd run_program(const std::vector<std::string>& args, std::FILE* out, std::FILE* err) {
  ProgramEnd end;
  if (args.empty()) return end;
  std::string line;
  for (const std::string& a : args) line.append(line.empty() ? "" : " ").append(command_word(a));
  std::vector<char> text(line.begin(), line.end());
  text.push_back('\0');
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  STARTUPINFOA start{};
  start.cb = sizeof start;
  start.dwFlags = STARTF_USESTDHANDLES;
  start.hStdInput = CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  start.hStdOutput = stream_handle(out, STD_OUTPUT_HANDLE);
  start.hStdError = stream_handle(err, STD_ERROR_HANDLE);
  // The job ends whatever is in it when its last handle closes, this
  // process's own at the latest when the process ends.
  HANDLE job = CreateJobObjectA(nullptr, nullptr);
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
  if (job != nullptr &&
      !SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits)) {
    CloseHandle(job);
    job = nullptr;
  }
  PROCESS_INFORMATION child{};
  end.started = CreateProcessA(nullptr, text.data(), nullptr, nullptr, TRUE, CREATE_SUSPENDED, nullptr,
                               nullptr, &start, &child) != 0;
  for (HANDLE h : {start.hStdInput, start.hStdOutput, start.hStdError})
    if (h != nullptr && h != INVALID_HANDLE_VALUE) CloseHandle(h);
  if (!end.started) {
    if (job != nullptr) CloseHandle(job);
    return end;
  }
  // Where the job cannot take it (an older system inside a job of its own)
  // the program still runs, as a child alone.
  const bool in_job = job != nullptr && AssignProcessToJobObject(job, child.hProcess);
  ResumeThread(child.hThread);
  CloseHandle(child.hThread);
  WaitForSingleObject(child.hProcess, INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(child.hProcess, &code);
  CloseHandle(child.hProcess);
  end.code = static_cast<int>(code);
  end.stopped = code == kCtrlCExit;
  JOBOBJECT_BASIC_ACCOUNTING_INFORMATION job_info{};
  for (DWORD waited = 0; in_job && waited < kGroupGraceMs; waited += 50) {
    if (!QueryInformationJobObject(job, JobObjectBasicAccountingInformation, &job_info, sizeof job_info,
                                   nullptr) ||
        job_info.ActiveProcesses == 0)
      break;
    Sleep(50);
  }
  if (job != nullptr) CloseHandle(job);
  return end;
}

#else  // POSIX

#include <sys/select.h>
#include <sys/wait.h>
#include <time.h>

namespace {

// How long what is left of a program's process group may run on once the
// program has ended or this process is gone, before it is killed.
constexpr int kGroupGraceMs = 10000;
constexpr int kPollMs = 50;
constexpr char kGameOver = 'o';  // to the keeper: the group ended in order

extern "C" void on_child_end(int) {}  // only interrupts the wait

bool group_alive(pid_t group) { return kill(-group, 0) == 0 || errno == EPERM; }

// The keeper, a process of its own outside the group and the terminal's
// reach: it waits on a pipe that only this process writes. Its end without
// the word that all is over means that this process died (killed, say):
// then the group is asked to stop, and killed if it has not after the grace.
[[noreturn]] void keep_group(int from_runner, pid_t group) {
  setpgid(0, 0);
  for (int s : kStopSignals) set_handler(s, SIG_IGN);
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  char word = 0;
  ssize_t n;
  do n = read(from_runner, &word, 1);
  while (n < 0 && errno == EINTR);
  if (n == 1 && word == kGameOver) _exit(0);
  if (kill(-group, SIGTERM) != 0) _exit(0);
  const timespec tick{0, kPollMs * 1000000L};
  for (int waited = 0; waited < kGroupGraceMs && group_alive(group); waited += kPollMs)
    nanosleep(&tick, nullptr);
  kill(-group, SIGKILL);
  _exit(0);
}

// The program itself, after the fork: its own group, the signal mask and
// SIGPIPE as a program expects them, its streams, then the program. Outside
// the terminal's foreground group it may still write to the terminal.
[[noreturn]] void start_child(char* const* argv, const sigset_t& mask, std::FILE* out, std::FILE* err) {
  setpgid(0, 0);
  set_handler(SIGPIPE, SIG_DFL);
  set_handler(SIGTTOU, SIG_IGN);
  sigprocmask(SIG_SETMASK, &mask, nullptr);
  const int null_fd = open("/dev/null", O_RDONLY);
  if (null_fd > STDIN_FILENO) {
    dup2(null_fd, STDIN_FILENO);
    close(null_fd);
  }
  if (out != nullptr) dup2(fileno(out), STDOUT_FILENO);
  if (err != nullptr) dup2(fileno(err), STDERR_FILENO);
  execvp(argv[0], argv);
  _exit(127);  // as a shell reports a command it cannot run
}

// Starts the program argv (its group and its keeper, whose pipe's writing
// end is left in keep_write), with the signal mask of the caller; the
// child's pid, or -1 when it could not be forked.
pid_t start_group(char* const* argv, const sigset_t& mask, std::FILE* out, std::FILE* err, int& keep_write,
                  pid_t& keeper) {
  int keep[2] = {-1, -1};
  if (pipe(keep) == 0) {
    fcntl(keep[0], F_SETFD, FD_CLOEXEC);
    fcntl(keep[1], F_SETFD, FD_CLOEXEC);
  }
  const pid_t child = fork();
  if (child == 0) start_child(argv, mask, out, err);
  keeper = -1;
  if (child > 0) {
    setpgid(child, child);  // also here: a stop may be passed on before the child runs
    if (keep[0] >= 0 && (keeper = fork()) == 0) {
      close(keep[1]);
      keep_group(keep[0], child);
    }
  }
  if (keep[0] >= 0) close(keep[0]);
  keep_write = keep[1];
  return child;
}

// Waits until the child has ended and its group is gone (killed when it
// outlives the grace), passing a stop on to the group once; how the child
// ended. `mask` lets in the signals that wake the wait.
ProgramEnd wait_for_group(pid_t child, const sigset_t& mask) {
  int status = 0;
  bool passed_on = false, ended = false;
  const timespec tick{0, kPollMs * 1000000L};
  for (int after = 0; after < kGroupGraceMs;) {
    if (!ended && waitpid(child, &status, WNOHANG) == child) ended = true;
    if (ended && !group_alive(child)) break;
    const int sig = stop_signal();
    if (sig != 0 && !passed_on) {
      kill(-child, sig);
      passed_on = true;
    }
    // Until the child ends only a signal wakes this; then the rest of its
    // group is looked at every tick.
    pselect(0, nullptr, nullptr, nullptr, ended ? &tick : nullptr, &mask);
    if (ended) after += kPollMs;
  }
  if (group_alive(child)) kill(-child, SIGKILL);
  ProgramEnd end;
  end.started = !(WIFEXITED(status) && WEXITSTATUS(status) == 127);
  if (WIFSIGNALED(status)) {
    end.signal = WTERMSIG(status);
  } else {
    end.code = WEXITSTATUS(status);
    if (end.code > 128 && end.code < 128 + 32) end.signal = end.code - 128;
  }
  end.stopped =
      end.signal == SIGINT || end.signal == SIGTERM || end.signal == SIGHUP || end.signal == SIGQUIT;
  return end;
}

}  // namespace

ProgramEnd run_program(const std::vector<std::string>& args, std::FILE* out, std::FILE* err) {
  if (args.empty()) return ProgramEnd{};
  std::vector<std::string> words = args;
  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  if (out != nullptr) std::fflush(out);
  if (err != nullptr) std::fflush(err);
  std::fflush(stderr);

  // The stop signals and the child's end are let in only while the wait
  // waits, so that none comes between a look and the wait.
  sigset_t waited_for, mask;
  sigemptyset(&waited_for);
  for (int s : kStopSignals) sigaddset(&waited_for, s);
  sigaddset(&waited_for, SIGCHLD);
  sigprocmask(SIG_BLOCK, &waited_for, &mask);
  struct sigaction old_chld;
  set_handler(SIGCHLD, on_child_end, &old_chld);

  int keep_write = -1;
  pid_t keeper = -1;
  const pid_t child = start_group(argv.data(), mask, out, err, keep_write, keeper);
  const ProgramEnd end = child > 0 ? wait_for_group(child, mask) : ProgramEnd{};
  if (keeper > 0) {
    const ssize_t told = write(keep_write, &kGameOver, 1);
    (void)told;
  }
  if (keep_write >= 0) close(keep_write);
  if (keeper > 0) waitpid(keeper, nullptr, 0);
  sigaction(SIGCHLD, &old_chld, nullptr);
  sigprocmask(SIG_SETMASK, &mask, nullptr);
  return end;
}

#endif
