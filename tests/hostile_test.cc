// The command run as a process against hostile names, odd kinds of files,
// files that change under it, tight limits and a report that cannot be
// written: it must answer for every file it can, crash on none, block on
// none, change none, and never end with a status that says all is well when
// it is not.

#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "support/process.h"

#if defined(__SANITIZE_ADDRESS__)
#define BUILT_WITH_SANITIZERS 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define BUILT_WITH_SANITIZERS 1
#endif
#endif

namespace {

std::string expand(std::string text, const std::string& dir) {
  for (size_t at; (at = text.find("{D}")) != std::string::npos;)
    text.replace(at, 3, dir);
  return text;
}

std::string summary(int noUsers, int usersActive) {
  return "\nFiles With No Users: " + std::to_string(noUsers) +
         "\nFiles With Users Active: " + std::to_string(usersActive) + "\n";
}

std::string free_line(const std::string& path) { return "File " + path + " has no users.\n"; }
std::string failure_line(const std::string& path, int status) {
  return "Unable to Open File " + path + " - " + std::to_string(status) + "!\n";
}

// The directory's names in the order that reading it gives, which is the
// order in which a walk meets them.
std::vector<std::string> listing(const std::string& dir) {
  std::vector<std::string> names;
  DIR* d = opendir(dir.c_str());
  if (!d)
    return names;
  while (struct dirent* e = readdir(d)) {
    std::string name = e->d_name;
    if (name != "." && name != "..")
      names.push_back(name);
  }
  closedir(d);
  return names;
}

struct passwd* nobody() {
  struct passwd* user = getpwnam("nobody");
  if (!user)
    ADD_FAILURE() << "no user nobody";
  return user;
}

struct Case {
  const char* title;
  std::vector<std::string> args;   // "{D}" stands for the scratch directory
  std::string out;
  int status;
  bool inScratchDir;
};

class Hostile : public ::testing::Test {
 protected:
  std::string dir;
  std::vector<Holder> holders;

  void SetUp() override { dir = make_scratch_dir(); }
  void TearDown() override {
    for (Holder& h : holders)
      stop_holder(h);
    remove_tree(dir);
  }

  Result run(const std::vector<std::string>& args, Launch launch = Launch()) {
    launch.argv = {DRAVOLIN_PATH};
    for (const std::string& a : args)
      launch.argv.push_back(expand(a, dir));
    return run_process(launch);
  }

  // Each case run on its own, standard error always empty.
  void check(const std::vector<Case>& cases) {
    for (const Case& k : cases) {
      SCOPED_TRACE(k.title);
      Launch launch;
      if (k.inScratchDir)
        launch.cwd = dir;
      Result r = run(k.args, launch);
      EXPECT_EQ(r.out, expand(k.out, dir));
      EXPECT_EQ(r.err, "");
      EXPECT_EQ(r.status, k.status);
    }
  }

  // A directory under the scratch directory whose path is exactly length
  // characters long.
  std::string directory_of_length(size_t length) {
    std::string deep = dir;
    while (deep.size() < length) {
      deep += "/" + std::string(std::min<size_t>(50, length - deep.size() - 1), 'd');
      if (mkdir(deep.c_str(), 0755) != 0)
        ADD_FAILURE() << deep;
    }
    return deep;
  }
};

// A path is always an argument of its format, never the format, and goes out
// byte for byte, whatever bytes it holds.
TEST_F(Hostile, NamesArePrintedAsTheyAre) {
  for (const char* name : {"%s%n%d.dat", "100%.dat", "with space.dat", "-x.dat", "\xff\xfe.dat", "line\nbreak.dat",
                           "a:b\\c.dat"})
    make_file(dir + "/" + name);
  const std::string one = summary(1, 0);
  std::vector<Case> cases = {
      {"a format in a name", {"{D}/%s%n%d.dat"}, free_line("{D}/%s%n%d.dat") + one, 0, false},
      {"a format in a name, matched by a pattern", {"{D}/%s*"}, free_line("{D}/%s%n%d.dat") + one, 0, false},
      {"a lone percent sign", {"{D}/100%*"}, free_line("{D}/100%.dat") + one, 0, false},
      {"a space", {"{D}/with space.dat"}, free_line("{D}/with space.dat") + one, 0, false},
      {"a leading dash given as ./, also as a later argument", {"./with space.dat", "./-x.dat"},
       free_line("./with space.dat") + free_line("./-x.dat") + summary(2, 0), 0, true},
      {"a leading dash matched by a pattern", {"{D}/-*"}, free_line("{D}/-x.dat") + one, 0, false},
      {"bytes that are no UTF-8 are one character each", {"{D}/\xff?.dat"}, free_line("{D}/\xff\xfe.dat") + one, 0,
       false},
      {"a newline", {"{D}/line*"}, free_line("{D}/line\nbreak.dat") + one, 0, false},
      {"colons and backslashes are name characters; doubled separators stay", {"{D}//a:b\\c.dat"},
       free_line("{D}//a:b\\c.dat") + one, 0, false},
      {"an empty filespec", {""}, summary(0, 0), 0, false},
      {"the root alone", {"/"}, summary(0, 0), 0, false},
  };
  check(cases);
}

// Paths are at most 255 characters. A longer composed path is reported whole
// and not probed; a longer filespec cannot be searched.
TEST_F(Hostile, PathsAtTheLengthLimit) {
  std::string deep = directory_of_length(199);
  std::string fits = deep + "/" + std::string(55, 'f');   // 255
  std::string over = deep + "/" + std::string(56, 'g');   // 256
  make_file(fits);
  make_file(over);
  std::string longest = dir + "/name";                     // a name of 255 bytes, the most a name can have
  ASSERT_EQ(mkdir(longest.c_str(), 0755), 0);
  std::string longName(255, 'n');
  make_file(longest + "/" + longName);
  ASSERT_EQ(fits.size(), 255u);

  std::vector<Case> cases = {
      {"a composed path of 255", {deep + "/f*"}, free_line(fits) + summary(1, 0), 0, false},
      {"a composed path of 256", {deep + "/g*"}, failure_line(over, 11) + summary(0, 0), 0, false},
      {"a filespec of 255", {fits}, free_line(fits) + summary(1, 0), 0, false},
      {"a filespec of 256", {over}, summary(0, 0), 0, false},
      {"a pattern of 256", {deep + "/" + std::string(55, 'f') + "*"}, summary(0, 0), 0, false},
      {"the longest name, composed past the limit", {longest + "/*"},
       failure_line(longest + "/" + longName, 11) + summary(0, 0), 0, false},
  };
  check(cases);

  Launch inside;
  inside.cwd = longest;
  Result r = run({"*"}, inside);
  EXPECT_EQ(r.out, free_line(longName) + summary(1, 0)) << "the longest name alone is a path of 255";
}

// Nothing but a regular file is opened: a FIFO would block the run, a device
// may act on being opened, and neither is a data file.
TEST_F(Hostile, WhatIsNoRegularFileIsRefusedUnopened) {
  ASSERT_EQ(symlink("nowhere", (dir + "/dangling.dat").c_str()), 0);
  ASSERT_EQ(symlink("loop.dat", (dir + "/loop.dat").c_str()), 0);
  ASSERT_EQ(mkfifo((dir + "/pipe.dat").c_str(), 0644), 0);
  ASSERT_EQ(symlink("/dev/tty", (dir + "/tty.dat").c_str()), 0);
  int sock = socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_GE(sock, 0);
  struct sockaddr_un address = {};
  address.sun_family = AF_UNIX;
  std::string socketPath = dir + "/socket.dat";
  ASSERT_LT(socketPath.size(), sizeof address.sun_path);
  memcpy(address.sun_path, socketPath.c_str(), socketPath.size() + 1);
  ASSERT_EQ(bind(sock, reinterpret_cast<struct sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(listen(sock, 1), 0);

  std::vector<Case> cases = {
      {"a dangling link", {"{D}/dangling.dat"}, failure_line("{D}/dangling.dat", 12) + summary(0, 0), 0, false},
      {"a link to itself", {"{D}/loop.dat"}, failure_line("{D}/loop.dat", 12) + summary(0, 0), 0, false},
      {"a FIFO, matched by a pattern", {"{D}/pipe*"}, failure_line("{D}/pipe.dat", 30) + summary(0, 0), 0, false},
      {"a listening socket", {"{D}/socket.dat"}, failure_line("{D}/socket.dat", 30) + summary(0, 0), 0, false},
      {"a device named directly", {"/dev/null"}, failure_line("/dev/null", 30) + summary(0, 0), 0, false},
      {"a link to the terminal device", {"{D}/tty.dat"}, failure_line("{D}/tty.dat", 30) + summary(0, 0), 0, false},
  };
  // Only where this process may make device nodes.
  if (mknod((dir + "/null.dat").c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0)
    cases.push_back(
        {"a device node among the data", {"{D}/null.dat"}, failure_line("{D}/null.dat", 30) + summary(0, 0), 0, false});
  check(cases);
  close(sock);
}

TEST_F(Hostile, WhatTheUserMayNotReadIsReportedOrLeftOut) {
  struct passwd* user = nobody();
  ASSERT_NE(user, nullptr);
  make_file(dir + "/secret.dat");
  ASSERT_EQ(chmod((dir + "/secret.dat").c_str(), 0600), 0);
  ASSERT_EQ(mkdir((dir + "/locked").c_str(), 0700), 0);
  make_file(dir + "/locked/a.dat");
  Launch launch;
  launch.uid = user->pw_uid;
  launch.gid = user->pw_gid;
  Result r = run({"{D}/secret.dat", "{D}/locked/*.dat", "{D}/locked/a.dat"}, launch);
  EXPECT_EQ(r.out, expand(failure_line("{D}/secret.dat", 94) + summary(0, 0), dir))
      << "a directory that cannot be read is an empty walk, without a message";
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.status, 0);
}

// The walk reads a small directory whole, then probes its entries one by one
// and writes a line for each. With its output pipe cut down to one page that
// nobody reads, it blocks a few dozen lines in; the test then removes a file
// further down the listing and reads on. That file was listed, and is gone
// when its turn comes.
TEST_F(Hostile, AFileThatVanishesBetweenListingAndProbe) {
  for (int i = 0; i < 300; ++i) {
    std::string number = std::to_string(1000 + i);
    make_file(dir + "/" + std::string(56, 'v') + number + ".dat");
  }
  std::vector<std::string> order = listing(dir);
  ASSERT_EQ(order.size(), 300u);
  const std::string gone = order.back();

  Launch launch;
  launch.argv = {DRAVOLIN_PATH, dir + "/*.dat"};
  launch.stdoutPipeSize = 4096;
  Running running = start_process(launch);
  int capacity = fcntl(running.out, F_GETPIPE_SZ);
  int waiting = 0;
  for (int i = 0; i < 20000 && waiting < capacity; ++i) {
    usleep(1000);
    ASSERT_EQ(ioctl(running.out, FIONREAD, &waiting), 0);
  }
  ASSERT_GE(waiting, capacity) << "the command never filled its output pipe";
  ASSERT_EQ(unlink((dir + "/" + gone).c_str()), 0);
  Result r = finish_process(running);

  std::string expected;
  for (const std::string& name : order)
    expected += name == gone ? failure_line(dir + "/" + name, 12) : free_line(dir + "/" + name);
  EXPECT_EQ(r.out, expected + summary(299, 0));
  EXPECT_EQ(r.status, 0);
}

// Every probe gives back what it opened: with 20 descriptors, a leak of one a
// probe would turn every later file into a failure.
TEST_F(Hostile, TenThousandFilesWithTwentyDescriptors) {
  std::vector<std::string> held;
  for (int i = 0; i < 10000; ++i) {
    std::string path = dir + "/f" + std::to_string(10000 + i) + ".dat";
    make_file(path);
    if (i % 100 == 0)
      held.push_back(path);
  }
  mkfifo((dir + "/pipe.dat").c_str(), 0644);
  holders.push_back(start_holder(held));
  holders.push_back(start_plain_opener(dir + "/f19999.dat"));
  Launch launch;
  launch.maxDescriptors = 20;
  Result r = run({"{D}/*.dat", "/S"}, launch);
  ASSERT_LT(r.out.size(), 1000u) << r.out.substr(0, 1000);
  EXPECT_EQ(r.out, expand(failure_line("{D}/pipe.dat", 30), dir) + summary(10000 - 101, 101));
  EXPECT_EQ(r.err, "Printing Summary Only...\r\n");
  EXPECT_EQ(r.status, 0);
}

// Another process appends to a file, opening and closing it each time,
// while the run probes it again and again: every probe answers, and the
// appender's bytes are all there, with nothing else.
TEST_F(Hostile, AFileAppendedToDuringTheRun) {
  const std::string path = dir + "/log.dat";
  make_file(path, "start\n");
  static const char chunk[] = "0123456789abcdef\n";
  std::atomic<bool> stop{false};
  std::atomic<int> chunks{0};
  // No allocation in the loop: the test forks the command meanwhile.
  std::thread appender([&] {
    while (!stop) {
      int fd = open(path.c_str(), O_WRONLY | O_APPEND);
      if (fd < 0)
        return;
      if (write(fd, chunk, sizeof chunk - 1) == static_cast<ssize_t>(sizeof chunk - 1))
        ++chunks;
      close(fd);
    }
  });
  std::vector<std::string> args(400, path);
  Result r = run(args);
  stop = true;
  appender.join();

  std::string busy = "File " + path + " has users active.\n";
  int noUsers = 0, usersActive = 0;
  size_t at = 0;
  std::string report = r.out;
  for (; at < report.size() && report[at] != '\n';) {
    if (report.compare(at, busy.size(), busy) == 0) {
      ++usersActive;
      at += busy.size();
    } else if (report.compare(at, free_line(path).size(), free_line(path)) == 0) {
      ++noUsers;
      at += free_line(path).size();
    } else {
      break;
    }
  }
  EXPECT_EQ(noUsers + usersActive, 400) << report;
  EXPECT_EQ(report.substr(at), summary(noUsers, usersActive));
  EXPECT_EQ(r.status, 0);
  std::string expected = "start\n";
  for (int i = 0; i < chunks; ++i)
    expected += chunk;
  EXPECT_EQ(read_file(path), expected);
}

// With standard output unwritable the run neither crashes nor hangs. Status 0
// of the default filter says that the report is complete, so it is 1 then;
// under /N and /U the probes were made and the tally stands.
TEST_F(Hostile, AReportThatCannotBeWritten) {
  make_file(dir + "/a.dat");
  make_file(dir + "/b.dat");
  make_file(dir + "/c.dat");
  holders.push_back(start_holder({dir + "/c.dat"}));
  const std::string noUsers = "Printing Files With No Users...\r\n";
  const std::string usersActive = "Printing Files With Users Active...\r\n";
  struct Row {
    const char* title;
    decltype(Launch().stdoutMode) mode;
    std::vector<std::string> switches;
    std::string err;
    int status;
    int signal;
  } rows[] = {
      {"closed", Launch::STDOUT_CLOSED, {}, "", 1, 0},
      {"closed, traced", Launch::STDOUT_CLOSED, {"/D"}, "", 1, 0},
      {"closed, /N", Launch::STDOUT_CLOSED, {"/N"}, noUsers, 2, 0},
      {"closed, /U", Launch::STDOUT_CLOSED, {"/U"}, usersActive, 1, 0},
      {"full", Launch::STDOUT_FULL, {}, "", 1, 0},
      {"full, summary only", Launch::STDOUT_FULL, {"/S"}, "Printing Summary Only...\r\n", 1, 0},
      {"full, /N", Launch::STDOUT_FULL, {"/N"}, noUsers, 2, 0},
      {"full, /U", Launch::STDOUT_FULL, {"/U", "/S"}, "Printing Summary Only...\r\n" + usersActive, 1, 0},
      {"a pipe whose reader has gone", Launch::STDOUT_BROKEN, {}, "", -1, SIGPIPE},
  };
  for (const Row& k : rows) {
    SCOPED_TRACE(k.title);
    std::vector<std::string> args = {"{D}/*.dat"};
    args.insert(args.end(), k.switches.begin(), k.switches.end());
    Launch launch;
    launch.stdoutMode = k.mode;
    Result r = run(args, launch);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, k.err);
    EXPECT_EQ(r.status, k.status);
    EXPECT_EQ(r.signal, k.signal);
  }
  for (const char* name : {"a.dat", "b.dat", "c.dat"})
    EXPECT_EQ(read_file(dir + "/" + name), "data") << name << ": the report must not land in a data file";
}

// A run gives back every open, lock and lease it took, and leaves another
// user's opens alone.
TEST_F(Hostile, NothingOfARunOutlivesIt) {
  make_file(dir + "/held.dat");
  make_file(dir + "/free.dat");
  Holder holder = start_holder({dir + "/held.dat"});
  const std::string busy = expand("File {D}/held.dat has users active.\nFile {D}/free.dat has no users.\n", dir);
  for (int pass = 0; pass < 2; ++pass) {
    SCOPED_TRACE(pass);
    Result r = run({"{D}/held.dat", "{D}/free.dat"});
    EXPECT_EQ(r.out, busy + summary(1, 1));
  }
  EXPECT_EQ(stop_holder(holder), 0);
  Result r = run({"{D}/held.dat", "{D}/free.dat"});
  EXPECT_EQ(r.out, expand(free_line("{D}/held.dat") + free_line("{D}/free.dat"), dir) + summary(2, 0));
}

// A traced run with an owner and a mix of free, held and failing files
// reads no byte it should not and frees all it takes.
TEST_F(Hostile, UnderValgrindATracedRunIsClean) {
#ifdef BUILT_WITH_SANITIZERS
  GTEST_SKIP() << "valgrind cannot run a sanitized build; the sanitizers watch this build instead";
#endif
  make_file(dir + "/a.dat");
  make_file(dir + "/b.dat");
  ASSERT_EQ(mkfifo((dir + "/p.dat").c_str(), 0644), 0);
  ASSERT_EQ(symlink("nowhere", (dir + "/l.dat").c_str()), 0);
  holders.push_back(start_holder({dir + "/b.dat"}));
  Launch launch;
  launch.argv = {"/usr/bin/env", "valgrind", "-q", "--error-exitcode=99", "--leak-check=full",
                 "--errors-for-leak-kinds=definite,indirect", DRAVOLIN_PATH};
  for (const char* a : {"{D}/a.dat", "{D}/b.dat", "{D}/p.dat", "{D}/l.dat", "/D", "/O=0x41424344"})
    launch.argv.push_back(expand(a, dir));
  Result r = run_process(launch);
  const std::string open = "Op: 0, Buflen: 4, KeyNum: -4 Status: ";
  EXPECT_EQ(r.out, expand(open + "0\n" + free_line("{D}/a.dat") + "Op: 1, Buflen: 4, KeyNum: -4 Status: 0\n" +
                              open + "88\nFile {D}/b.dat has users active.\n" +
                              open + "30\n" + failure_line("{D}/p.dat", 30) +
                              open + "12\n" + failure_line("{D}/l.dat", 12) + summary(1, 1) +
                              "Op: 28, Buflen: 4, KeyNum: 0 Status: 0\n",
                          dir));
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.status, 0) << "99: valgrind found an error or a leak; 127: valgrind is missing";
}

}  // namespace
