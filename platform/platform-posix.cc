// The command's host layer for POSIX systems.

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include "platform/platform.h"

const bool host_slash_begins_path = true;
const bool host_shell_expands_wildcards = true;

// A wait status keeps only 8 bits of the exit status: 256 would read as 0.
const int host_exit_status_max = 255;

// ---------------------------------------------------------------------------
// Enumeration

// The one open enumeration.
static struct {
  DIR* directory;                        // the directory being read; null for a single name
  char pattern[ENTRY_NAME_SIZE];         // the last component of the specification
} enumeration;

// Length of the UTF-8 character at s, or 1 where the bytes are no valid
// sequence, so that "?" stands for one character of a UTF-8 name and one byte
// of any other.
static size_t character_length(const unsigned char* s) {
  size_t length = s[0] >= 0xF0 && s[0] < 0xF8 ? 4 : s[0] >= 0xE0 ? 3 : s[0] >= 0xC2 && s[0] < 0xE0 ? 2 : 1;
  if (s[0] >= 0xF8)
    length = 1;
  for (size_t i = 1; i < length; ++i)
    if ((s[i] & 0xC0) != 0x80)
      return 1;
  return length;
}

// "*" matches any run of characters, none and a leading dot included, and
// "?" exactly one; every other character stands for itself, so that a name
// the shell has already expanded always matches itself.
static bool wildcard_match(const char* patternText, const char* nameText) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(patternText);
  const unsigned char* n = reinterpret_cast<const unsigned char*>(nameText);
  const unsigned char* starPattern = nullptr;  // just after the last "*" seen
  const unsigned char* starName = nullptr;     // where that "*" began to match
  while (*n) {
    if (*p == '*') {
      starPattern = ++p;
      starName = n;
    } else if (*p == '?') {
      ++p;
      n += character_length(n);
    } else if (*p == *n) {
      ++p;
      ++n;
    } else if (starPattern) {
      // Let the last "*" take one more character and try again from there.
      p = starPattern;
      starName += character_length(starName);
      n = starName;
    } else {
      return false;
    }
  }
  while (*p == '*')
    ++p;
  return *p == 0;
}

static bool has_wildcard(const char* s) {
  return strpbrk(s, "*?") != nullptr;
}

static void fill_entry(DirectoryEntry* entry, const char* name, bool isDirectory) {
  entry->attributes = isDirectory ? ENTRY_DIRECTORY : 0;
  size_t length = strnlen(name, sizeof entry->name - 1);
  memcpy(entry->name, name, length);
  entry->name[length] = 0;
}

// A link to a directory is a directory; a dangling link is not.
static bool is_directory_at(int directoryFd, const char* name) {
  struct stat st;
  return fstatat(directoryFd, name, &st, 0) == 0 && S_ISDIR(st.st_mode);
}

static bool next_directory_entry(DirectoryEntry* entry) {
  while (struct dirent* d = readdir(enumeration.directory)) {
    if (!wildcard_match(enumeration.pattern, d->d_name))
      continue;
    bool isDirectory = d->d_type == DT_DIR;
    // Most file systems give the type with the name; only links and the
    // rest need a look at the entry itself.
    if (d->d_type == DT_LNK || d->d_type == DT_UNKNOWN)
      isDirectory = is_directory_at(dirfd(enumeration.directory), d->d_name);
    fill_entry(entry, d->d_name, isDirectory);
    return true;
  }
  return false;
}

bool enumeration_open(const char* specification, DirectoryEntry* first, Enumeration* handle) {
  size_t length = strlen(specification);
  size_t prefix = directory_prefix_length(specification);
  const char* pattern = specification + prefix;
  if (length >= PATH_MAX || strlen(pattern) >= sizeof enumeration.pattern || *pattern == 0)
    return false;

  memcpy(enumeration.pattern, pattern, strlen(pattern) + 1);
  enumeration.directory = nullptr;

  if (!has_wildcard(pattern)) {
    // One name: look it up rather than read the whole directory, so that a
    // list of names the shell expanded costs one look-up a name. lstat, so
    // that a dangling link is still an entry, to be probed and reported.
    struct stat st;
    if (lstat(specification, &st) != 0)
      return false;
    bool isDirectory = S_ISDIR(st.st_mode);
    if (S_ISLNK(st.st_mode))
      isDirectory = stat(specification, &st) == 0 && S_ISDIR(st.st_mode);
    fill_entry(first, pattern, isDirectory);
    *handle = &enumeration;
    return true;
  }

  char directoryPath[PATH_MAX];   // the directory that the specification names
  if (prefix == 0) {
    memcpy(directoryPath, ".", 2);
  } else {
    memcpy(directoryPath, specification, prefix);
    directoryPath[prefix] = 0;
  }
  enumeration.directory = opendir(directoryPath);
  if (!enumeration.directory)
    return false;
  if (!next_directory_entry(first)) {
    closedir(enumeration.directory);
    enumeration.directory = nullptr;
    return false;
  }
  *handle = &enumeration;
  return true;
}

bool enumeration_next(Enumeration, DirectoryEntry* entry) {
  if (!enumeration.directory)
    return false;
  return next_directory_entry(entry);
}

void enumeration_close(Enumeration) {
  if (enumeration.directory)
    closedir(enumeration.directory);
  enumeration.directory = nullptr;
}

size_t directory_prefix_length(const char* path) {
  // Backslash and colon are ordinary characters in a name here.
  const char* slash = strrchr(path, '/');
  return slash ? static_cast<size_t>(slash - path) + 1 : 0;
}

// ---------------------------------------------------------------------------
// Console keyboard
//
// Keys come from the controlling terminal, not from standard input, so that
// a run whose input is redirected can still be stopped with Esc. During the
// walk the terminal is switched out of line mode and echo; its modes are put
// back on every way out, fatal signals included. A process that is not in the
// terminal's foreground process group never reads it and never changes its
// modes: either would stop it with SIGTTIN or SIGTTOU, or take keys meant for
// the foreground job.

static int terminalFd = -1;          // the controlling terminal, or -1
static bool terminalTried;           // whether opening it has been tried
static struct termios savedModes;    // the modes found when ours were taken
static volatile sig_atomic_t walkModesApplied;  // whether our modes are in force

// Keys read from the terminal and not yet handed out; an escape sequence may
// arrive with other keys in one read.
static unsigned char keyBytes[64];
static size_t keyStart;              // first byte not yet handed out
static size_t keyEnd;                // end of the bytes read

static bool in_foreground() {
  return terminalFd >= 0 && tcgetpgrp(terminalFd) == getpgrp();
}

// Runs fn with SIGTTIN and SIGTTOU blocked, so that a terminal call made just
// after the process was put in the background never stops it: a read then
// fails, and a change of modes goes ahead. The callers check the foreground
// first, so only a move to the background in between could let a change of
// modes reach the shell's terminal, and the shell sets its own modes again
// when it takes the terminal back.
template <typename Fn>
static auto with_job_signals_blocked(Fn fn) {
  sigset_t block, old;
  sigemptyset(&block);
  sigaddset(&block, SIGTTIN);
  sigaddset(&block, SIGTTOU);
  sigprocmask(SIG_BLOCK, &block, &old);
  auto result = fn();
  sigprocmask(SIG_SETMASK, &old, nullptr);
  return result;
}

// Called from signal handlers too, so only async-signal-safe calls.
// The modes to put back are read each time ours are taken, not once at the
// start: a run started in the background finds the shell's line-editing
// modes then, and the shell sets the job's modes before it brings the run to
// the foreground or continues it after a stop.
static void apply_walk_modes() {
  if (walkModesApplied || !in_foreground())
    return;
  struct termios found;
  if (with_job_signals_blocked([&] { return tcgetattr(terminalFd, &found); }) != 0)
    return;
  struct termios modes = found;
  modes.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
  modes.c_cc[VMIN] = 1;
  modes.c_cc[VTIME] = 0;
  // Marked first: a signal that comes while the modes change must still
  // restore them.
  savedModes = found;
  walkModesApplied = 1;
  if (with_job_signals_blocked([&] { return tcsetattr(terminalFd, TCSANOW, &modes); }) != 0)
    walkModesApplied = 0;
}

// Called from signal handlers too. In the background the shell owns the
// terminal and has set its own modes, which are left alone.
static void restore_modes() {
  if (!walkModesApplied)
    return;
  walkModesApplied = 0;
  if (in_foreground())
    with_job_signals_blocked([&] { return tcsetattr(terminalFd, TCSANOW, &savedModes); });
}

static void on_signal(int signo);

static void set_handler(int signo, void (*handler)(int)) {
  struct sigaction action;
  memset(&action, 0, sizeof action);
  action.sa_handler = handler;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(signo, &action, nullptr);
}

// The signals that end the process by default: the modes are restored, then
// the signal takes its course with its default action.
static const int fatalSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE};

static void on_signal(int signo) {
  int savedErrno = errno;
  if (signo == SIGCONT) {
    apply_walk_modes();
  } else if (signo == SIGTSTP) {
    // Stop with the terminal as it was found; SIGCONT takes our modes again.
    restore_modes();
    set_handler(SIGTSTP, SIG_DFL);
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGTSTP);
    raise(SIGTSTP);
    sigprocmask(SIG_UNBLOCK, &stop, nullptr);
    set_handler(SIGTSTP, on_signal);
  } else {
    restore_modes();
    set_handler(signo, SIG_DFL);
    raise(signo);
  }
  errno = savedErrno;
}

static void open_terminal() {
  terminalTried = true;
  terminalFd = open("/dev/tty", O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (terminalFd < 0)
    return;
  if (tcgetattr(terminalFd, &savedModes) != 0) {
    close(terminalFd);
    terminalFd = -1;
    return;
  }
  // Signals that default to ending the process still do, inherited ignores
  // (nohup, a background job's SIGINT) are kept.
  for (int signo : fatalSignals) {
    struct sigaction current;
    if (sigaction(signo, nullptr, &current) == 0 && current.sa_handler != SIG_IGN)
      set_handler(signo, on_signal);
  }
  struct sigaction current;
  if (sigaction(SIGTSTP, nullptr, &current) == 0 && current.sa_handler != SIG_IGN)
    set_handler(SIGTSTP, on_signal);
  set_handler(SIGCONT, on_signal);
  apply_walk_modes();
}

// Reads what the terminal has waiting, without blocking.
static void fill_key_bytes() {
  if (keyStart == keyEnd)
    keyStart = keyEnd = 0;
  if (keyEnd == sizeof keyBytes || !in_foreground())
    return;
  ssize_t n = with_job_signals_blocked([&] { return read(terminalFd, keyBytes + keyEnd, sizeof keyBytes - keyEnd); });
  if (n > 0)
    keyEnd += static_cast<size_t>(n);
}

bool key_waiting() {
  if (!terminalTried)
    open_terminal();
  if (keyStart < keyEnd)
    return true;
  if (terminalFd < 0)
    return false;
  struct pollfd pfd = {terminalFd, POLLIN, 0};
  if (poll(&pfd, 1, 0) <= 0 || !(pfd.revents & POLLIN))
    return false;
  fill_key_bytes();
  return keyStart < keyEnd;
}

// Skips the rest of an escape sequence whose ESC has been taken: "[" or "O"
// and what follows up to the final byte, or the one key of an Alt combination.
static void skip_escape_sequence() {
  unsigned char introducer = keyBytes[keyStart++];
  if (introducer == '[') {
    while (keyStart < keyEnd && keyBytes[keyStart] >= 0x20 && keyBytes[keyStart] < 0x40)
      ++keyStart;
    if (keyStart < keyEnd)
      ++keyStart;
  } else if (introducer == 'O' && keyStart < keyEnd) {
    ++keyStart;
  }
}

int read_key() {
  if (keyStart == keyEnd && !key_waiting())
    return 0;
  unsigned char key = keyBytes[keyStart++];
  if (key == KEY_ESCAPE) {
    // A lone ESC is the Esc key; an ESC followed at once by more bytes is
    // one other key, such as an arrow.
    if (keyStart == keyEnd)
      fill_key_bytes();
    if (keyStart == keyEnd)
      return KEY_ESCAPE;
    skip_escape_sequence();
    return 0;
  }
  // A character of several UTF-8 bytes is one key press.
  if (key >= 0xC0) {
    for (int i = 0; i < 3 && keyStart < keyEnd && (keyBytes[keyStart] & 0xC0) == 0x80; ++i)
      ++keyStart;
  }
  return key;
}

// ---------------------------------------------------------------------------
// Start and end

void platform_start() {
  // With a standard descriptor closed, the first file that the client
  // library opened would take its number, and the report would go to the
  // data file. Hold the place with /dev/null, read-only, so that writes to a
  // closed standard output still fail and the run can say so.
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) == -1 && errno == EBADF) {
      int held = open("/dev/null", O_RDONLY);
      if (held >= 0 && held != fd)
        close(held);
    }
  }
}

bool output_is_terminal() {
  return isatty(STDOUT_FILENO) == 1;
}

void platform_exit(int status) {
  restore_modes();
  exit(status);
}
