// The console keyboard, through a pseudo-terminal that is the command's
// controlling terminal: Esc and other keys, and the terminal's modes after
// every way out.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "support/process.h"

namespace {

bool same_modes(const termios& a, const termios& b) {
  return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag && a.c_lflag == b.c_lflag &&
         std::equal(a.c_cc, a.c_cc + NCCS, b.c_cc);
}

// The session leader's side of a shell's fg: SIGUSR1 makes the job the
// terminal's foreground and continues it.
int leaderTerminal = -1;
pid_t leaderJob = -1;
void bring_job_to_foreground(int) {
  tcsetpgrp(leaderTerminal, leaderJob);
  kill(-leaderJob, SIGCONT);
}

struct TerminalRun {
  pid_t leader = -1;   // the session leader, standing in for a shell
  pid_t job = -1;      // the command
  int out = -1;        // the command's standard output
  int err = -1;        // its standard error
  int events = -1;     // what the leader sees of the job: "S" stopped, "X<status>" ended
};

class Terminal : public ::testing::Test {
 protected:
  int master = -1;
  int slave = -1;
  termios initial{};
  std::string dir;
  std::vector<std::string> files;

  void SetUp() override {
    ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
    ASSERT_EQ(tcgetattr(slave, &initial), 0);
    ASSERT_TRUE(initial.c_lflag & ICANON);
    ASSERT_TRUE(initial.c_lflag & ECHO);
    dir = make_scratch_dir();
  }
  void TearDown() override {
    close(master);
    close(slave);
    remove_tree(dir);
  }

  void make_files(int count) {
    files.clear();
    for (int i = 0; i < count; ++i) {
      files.push_back(dir + "/f" + std::to_string(i) + ".dat");
      make_file(files.back());
    }
  }

  // Starts the command as a job of a session whose controlling terminal is
  // the pseudo-terminal. The session leader stands in for a shell: it puts
  // the job in a process group of its own and, unless background is set,
  // makes that group the terminal's foreground. (A group whose parent is in
  // another session is orphaned, and the kernel then discards stop signals.)
  // The job's standard input is /dev/null: keys come from the terminal. Its
  // standard output is a pipe, or the terminal itself with outputToTerminal.
  TerminalRun start(const std::vector<std::string>& args, bool background = false, bool outputToTerminal = false) {
    int out[2], err[2], events[2], go[2];
    if (pipe(out) || pipe(err) || pipe(events) || pipe(go))
      abort();
    TerminalRun run;
    run.leader = fork();
    if (run.leader == 0) {
      setsid();
      ioctl(slave, TIOCSCTTY, 0);
      signal(SIGTTOU, SIG_IGN);
      pid_t job = fork();
      if (job == 0) {
        setpgid(0, 0);
        char ready;
        if (read(go[0], &ready, 1) != 1)
          _exit(126);
        signal(SIGTTOU, SIG_DFL);
        // SIGQUIT would leave a core file behind.
        struct rlimit noCore = {0, 0};
        setrlimit(RLIMIT_CORE, &noCore);
        int devnull = open("/dev/null", O_RDONLY);
        dup2(devnull, 0);
        dup2(outputToTerminal ? slave : out[1], 1);
        dup2(err[1], 2);
        for (int fd = 3; fd < 1024; ++fd)
          close(fd);
        std::vector<char*> argv = {const_cast<char*>(DRAVOLIN_PATH)};
        for (const std::string& a : args)
          argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
      }
      setpgid(job, job);
      if (!background)
        tcsetpgrp(slave, job);
      leaderTerminal = slave;
      leaderJob = job;
      signal(SIGUSR1, bring_job_to_foreground);
      if (write(go[1], "g", 1) != 1 || write(events[1], &job, sizeof job) != sizeof job)
        _exit(1);
      for (;;) {
        int status = 0;
        if (waitpid(job, &status, WUNTRACED) != job)
          _exit(1);
        if (WIFSTOPPED(status)) {
          if (write(events[1], "S", 1) != 1)
            _exit(1);
          continue;
        }
        std::string ended = "X" + std::to_string(status);
        if (write(events[1], ended.data(), ended.size()) < 0)
          _exit(1);
        _exit(0);
      }
    }
    close(out[1]);
    close(err[1]);
    close(events[1]);
    close(go[0]);
    close(go[1]);
    run.out = out[0];
    run.err = err[0];
    run.events = events[0];
    if (read(run.events, &run.job, sizeof run.job) != sizeof run.job)
      abort();
    return run;
  }

  static std::string drain(int fd) {
    std::string text;
    char buffer[65536];
    ssize_t n;
    while ((n = read(fd, buffer, sizeof buffer)) > 0)
      text.append(buffer, static_cast<size_t>(n));
    close(fd);
    return text;
  }

  // Waits until the leader reports the job stopped.
  static bool wait_for_stop(TerminalRun& run) {
    char c = 0;
    return read(run.events, &c, 1) == 1 && c == 'S';
  }

  struct Finished {
    std::string out, err;
    int status = -1, signal = 0;
  };
  Finished finish(TerminalRun& run) {
    Finished f;
    f.out = drain(run.out);
    f.err = drain(run.err);
    std::string ended = drain(run.events);
    waitpid(run.leader, nullptr, 0);
    if (ended.size() > 1 && ended[0] == 'X') {
      int status = std::stoi(ended.substr(1));
      if (WIFEXITED(status))
        f.status = WEXITSTATUS(status);
      if (WIFSIGNALED(status))
        f.signal = WTERMSIG(status);
    }
    return f;
  }

  // Waits until the command has taken the terminal out of line mode.
  void wait_for_walk_modes() {
    for (int i = 0; i < 2000; ++i) {
      termios now;
      tcgetattr(slave, &now);
      if (!(now.c_lflag & ICANON))
        return;
      usleep(5000);
    }
    FAIL() << "the command never set the walk's modes";
  }

  void type(const std::string& keys) { ASSERT_EQ(write(master, keys.data(), keys.size()), (ssize_t)keys.size()); }

  bool modes_as_found() {
    termios now;
    tcgetattr(slave, &now);
    return same_modes(now, initial);
  }

  // What the command wrote on the terminal, up to and including end.
  std::string screen_until(const std::string& end) {
    std::string shown;
    for (char buffer[4096]; shown.find(end) == std::string::npos;) {
      struct pollfd pfd = {master, POLLIN, 0};
      if (poll(&pfd, 1, 10000) <= 0)
        break;
      ssize_t n = read(master, buffer, sizeof buffer);
      if (n <= 0)
        break;
      shown.append(buffer, static_cast<size_t>(n));
    }
    return shown;
  }

  // The terminal turns each "\n" into "\r\n" on the way out.
  static std::string on_screen(const std::string& text) {
    std::string shown;
    for (char c : text)
      shown += c == '\n' ? std::string("\r\n") : std::string(1, c);
    return shown;
  }

  std::string lines_for(size_t first, size_t count) {
    std::string text;
    for (size_t i = first; i < first + count; ++i)
      text += "File " + files[i] + " has no users.\n";
    return text;
  }
};

TEST_F(Terminal, KeysTypedAheadAreTakenOneAFile) {
  struct Case {
    const char* title;
    std::string keys;
    size_t probedBeforeEscape;   // files probed before Esc ends the run; 5: no Esc
  } cases[] = {
      {"no key", "", 5},
      {"Esc before the first probe", "\x1b", 0},
      {"two other keys ahead of Esc", "ab\x1b", 2},
      {"an arrow key is one key, not Esc", "\x1b[A", 5},
      {"an arrow key ahead of Esc", "\x1bOB\x1b", 1},
      {"a key of several bytes is one key", "\xc3\xa9\x1b", 1},
  };
  make_files(5);
  for (const Case& k : cases) {
    SCOPED_TRACE(k.title);
    tcflush(slave, TCIOFLUSH);
    // Typed before the command starts: the keys wait in the terminal.
    type(k.keys);
    TerminalRun run = start(files);
    Finished f = finish(run);
    if (k.probedBeforeEscape == files.size()) {
      EXPECT_EQ(f.out, lines_for(0, 5) + "\nFiles With No Users: 5\nFiles With Users Active: 0\n");
      EXPECT_EQ(f.err, "");
      EXPECT_EQ(f.status, 0);
    } else {
      EXPECT_EQ(f.out, lines_for(0, k.probedBeforeEscape));
      EXPECT_EQ(f.err, "Dravolin Terminated Early.\n");
      EXPECT_EQ(f.status, 1);
    }
    EXPECT_TRUE(modes_as_found());
  }
}

// A command whose standard output nobody reads blocks on its first full pipe
// in the middle of the walk, with the walk's modes in force.
TEST_F(Terminal, FatalSignalsRestoreTheModesAndStillEndTheProcess) {
  make_files(3000);
  struct Case {
    const char* title;
    const char* key;   // typed at the terminal; null: the signal is sent
    int signal;
  } cases[] = {{"Ctrl-C", "\x03", SIGINT},
               {"Ctrl-\\", "\x1c", SIGQUIT},
               {"SIGTERM", nullptr, SIGTERM},
               {"SIGHUP", nullptr, SIGHUP}};
  for (const Case& k : cases) {
    SCOPED_TRACE(k.title);
    TerminalRun run = start({dir + "/*.dat"});
    wait_for_walk_modes();
    if (k.key)
      type(k.key);
    else
      kill(run.job, k.signal);
    Finished f = finish(run);
    EXPECT_EQ(f.signal, k.signal);
    EXPECT_TRUE(modes_as_found());
  }
}

TEST_F(Terminal, StoppedWithCtrlZTheTerminalIsAsFoundUntilContinued) {
  make_files(3000);
  TerminalRun run = start({dir + "/*.dat"});
  wait_for_walk_modes();
  type("\x1a");
  ASSERT_TRUE(wait_for_stop(run));
  EXPECT_TRUE(modes_as_found()) << "while stopped";
  kill(run.job, SIGCONT);
  wait_for_walk_modes();
  Finished f = finish(run);
  EXPECT_EQ(f.status, 0);
  EXPECT_NE(f.out.find("Files With No Users: 3000\n"), std::string::npos);
  EXPECT_TRUE(modes_as_found());
}

TEST_F(Terminal, ABackgroundRunNeitherStopsNorReadsKeys) {
  make_files(3);
  type("\x1b");
  TerminalRun run = start(files, true);
  Finished f = finish(run);
  EXPECT_EQ(f.signal, 0);
  EXPECT_EQ(f.status, 0);
  EXPECT_EQ(f.err, "");
  EXPECT_EQ(f.out, lines_for(0, 3) + "\nFiles With No Users: 3\nFiles With Users Active: 0\n");
  EXPECT_TRUE(modes_as_found());
  // The Esc is still waiting for the foreground job.
  termios raw = initial;
  cfmakeraw(&raw);
  tcsetattr(slave, TCSANOW, &raw);
  char c = 0;
  EXPECT_EQ(read(slave, &c, 1), 1);
  EXPECT_EQ(c, '\x1b');
}

// A job started in the background finds the shell's line-editing modes in
// force. With TOSTOP its first line stops it; the shell then sets the job's
// modes and brings it to the foreground. Those are the modes to put back.
TEST_F(Terminal, BroughtToTheForegroundTheRunPutsBackTheModesItTookThere) {
  make_files(3);
  termios jobModes = initial;
  jobModes.c_lflag |= TOSTOP;
  termios shellModes = jobModes;
  shellModes.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
  ASSERT_EQ(tcsetattr(slave, TCSANOW, &shellModes), 0);
  TerminalRun run = start(files, true, true);
  ASSERT_TRUE(wait_for_stop(run)) << "output from the background stops the job";
  ASSERT_EQ(tcsetattr(slave, TCSANOW, &jobModes), 0);
  kill(run.leader, SIGUSR1);
  Finished f = finish(run);
  EXPECT_EQ(f.status, 0);
  EXPECT_EQ(f.err, "");
  EXPECT_EQ(screen_until("Files With Users Active: 0\r\n"),
            on_screen(lines_for(0, 3) + "\nFiles With No Users: 3\n" + "Files With Users Active: 0\n"));
  termios now;
  tcgetattr(slave, &now);
  EXPECT_TRUE(same_modes(now, jobModes)) << "the shell's line-editing modes were put back";
}

TEST_F(Terminal, WithoutAControllingTerminalTheRunCompletes) {
  make_files(3);
  Launch launch;
  launch.argv = {DRAVOLIN_PATH};
  launch.argv.insert(launch.argv.end(), files.begin(), files.end());
  launch.newSession = true;
  Result r = run_process(launch);
  EXPECT_EQ(r.out, lines_for(0, 3) + "\nFiles With No Users: 3\nFiles With Users Active: 0\n");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.status, 0);
}

// On a terminal a control character in a name would act on the screen: it
// is shown as "?". (Into a pipe or a file the name goes byte for byte.)
TEST_F(Terminal, ControlCharactersInNamesAreNotSentToTheScreen) {
  files = {dir + "/a\x1b[2Jb.dat", dir + "/c\nd\x7f.dat"};
  for (const std::string& f : files)
    make_file(f);
  TerminalRun run = start({files[0], files[1], dir + "/none\x1b]0;x\x07/*.dat"}, false, true);
  Finished f = finish(run);
  EXPECT_EQ(f.status, 0);
  EXPECT_EQ(screen_until("Files With Users Active: 0\r\n"),
            on_screen("File " + dir + "/a?[2Jb.dat has no users.\nFile " + dir + "/c?d?.dat has no users.\n"
                      "\nFiles With No Users: 2\nFiles With Users Active: 0\n"));
}

}  // namespace
