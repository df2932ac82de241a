// The command run as a process on scratch directories, with files held open
// by other processes; standard output, standard error and the exit status
// compared byte for byte. One table of cases runs against this build's
// command and, under Wine, against the 32-bit Windows build's.

#include <gtest/gtest.h>

#include <errno.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/process.h"

namespace {

const std::string usage =
    "\nUsage:  DRAVOLIN filespec [/A|/U|/N] [/S] [/P=OwnerName]\n\n"
    "    This command opens each Btrieve file in filespec in Exclusive Mode\n"
    "    and reports success/failure to the console.\n"
    "    /A Prints ALL results. [Default]\n"
    "    /N Prints ONLY files with no other users.\n"
    "    /U Prints ONLY files With other users active.\n"
    "    /S Prints Summary ONLY.\n"
    "    /O=owner Specifies the Btrieve Owner Name.\n\n";

// What a scratch directory holds, by name.
enum Kind {
  FREE,      // a data file nobody has open
  HELD,      // held open through the client library by another process
  OPENED,    // held open by another process without the library
  DIR,       // a directory
  FIFO,      // a named pipe
  DANGLING,  // a symbolic link to nothing
};

struct Entry {
  const char* name;
  Kind kind;
};

// The commands that a case holds for.
enum Targets {
  NATIVE,    // this build's
  WINDOWS,   // the Windows build's, under Wine
  BOTH,
};

struct Case {
  const char* title;
  std::vector<Entry> entries;
  std::vector<std::string> args;   // "{D}" stands for the scratch directory; see Target::expand
  std::string out;                 // as written natively; see Target::stream
  std::string err;
  int status;
  bool inScratchDir;               // run with the scratch directory as working directory
  Targets targets = NATIVE;
};

void replace_all(std::string& text, const std::string& from, const std::string& to) {
  for (size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size())
    text.replace(at, from.size(), to);
}

std::string expand(std::string text, const std::string& dir) {
  replace_all(text, "{D}", dir);
  return text;
}

// The Windows build, when there is one: its programs, the Wine prefix that
// its own tests made, and the environment that they all run in.
const std::string win32Dir = WIN32_DIR;
const std::string winePrefix = win32Dir + "/wineprefix";
const std::vector<std::string> wineEnvironment = {"WINEPREFIX=" + winePrefix, "WINEARCH=win32", "WINEDEBUG=-all"};

// What a test runs: this build's command, or the Windows build's under Wine.
struct Target {
  bool windows = false;
  std::string drive;   // Windows: "Q:" or another letter, mapped to the scratch directory

  // A Linux path as the target's programs name it: Wine's drive Z: is the
  // Linux root.
  std::string path(std::string linuxPath) const {
    if (!windows)
      return linuxPath;
    std::replace(linuxPath.begin(), linuxPath.end(), '/', '\\');
    return "Z:" + linuxPath;
  }

  // "{D}/" is the scratch directory with the target's separator after it,
  // "{D}" the directory alone; for the Windows build alone, "{F}" is the
  // directory named with forward slashes and "{Q}" the drive letter with its
  // colon.
  std::string expand(std::string text, const std::string& dir) const {
    replace_all(text, "{D}/", path(dir) + (windows ? "\\" : "/"));
    replace_all(text, "{D}", path(dir));
    if (windows) {
      std::string forward = path(dir);
      std::replace(forward.begin(), forward.end(), '\\', '/');
      replace_all(text, "{F}", forward);
      replace_all(text, "{Q}", drive);
    }
    return text;
  }

  // What a standard stream carries of text the command wrote: the Windows C
  // runtime writes every "\n" as "\r\n", even one that follows a "\r".
  std::string stream(std::string text, const std::string& dir) const {
    text = expand(text, dir);
    if (windows)
      replace_all(text, "\n", "\r\n");
    return text;
  }

  // The command line that runs one of the target's programs.
  std::vector<std::string> command(const std::string& nativeProgram, const std::string& windowsProgram) const {
    if (!windows)
      return {nativeProgram};
    return {WINE_PATH, win32Dir + "/" + windowsProgram};
  }
};

const std::string summary00 = "\nFiles With No Users: 0\nFiles With Users Active: 0\n";

std::vector<Case> cases() {
  std::vector<Entry> mixed = {{"a.dat", FREE}, {"b.dat", HELD}, {"c.dat", OPENED}, {"d.dat", FREE},
                              {"e.dat", HELD}, {"f.dat", FREE}, {"sub.dat", DIR}};
  std::vector<std::string> mixedArgs = {"{D}/a.dat", "{D}/b.dat", "{D}/c.dat", "{D}/d.dat", "{D}/e.dat", "{D}/f.dat"};
  auto with = [](std::vector<std::string> args, std::vector<std::string> more) {
    args.insert(args.end(), more.begin(), more.end());
    return args;
  };
  return {
      {"no argument", {}, {}, "", usage, 1, false, BOTH},
      {"one free file", {{"a.dat", FREE}}, {"{D}/a.dat"},
       "File {D}/a.dat has no users.\n\nFiles With No Users: 1\nFiles With Users Active: 0\n", "", 0, false, BOTH},
      {"a pattern skips directories and other names",
       {{"b.dat", HELD}, {"sub.dat", DIR}, {"c.txt", FREE}},
       {"{D}/*.dat"},
       "File {D}/b.dat has users active.\n\nFiles With No Users: 0\nFiles With Users Active: 1\n", "", 0, false,
       BOTH},
      {"any other opener counts", {{"c.dat", OPENED}}, {"{D}/*.dat"},
       "File {D}/c.dat has users active.\n\nFiles With No Users: 0\nFiles With Users Active: 1\n", "", 0, false},
      {"every argument is walked, in order", mixed, mixedArgs,
       "File {D}/a.dat has no users.\nFile {D}/b.dat has users active.\nFile {D}/c.dat has users active.\n"
       "File {D}/d.dat has no users.\nFile {D}/e.dat has users active.\nFile {D}/f.dat has no users.\n"
       "\nFiles With No Users: 3\nFiles With Users Active: 3\n",
       "", 0, false},
      {"failures are reported and counted nowhere",
       {{"a.dat", FREE}, {"p.dat", FIFO}, {"l.dat", DANGLING}},
       {"{D}/p.dat", "{D}/a.dat", "{D}/l.dat"},
       "Unable to Open File {D}/p.dat - 30!\nFile {D}/a.dat has no users.\nUnable to Open File {D}/l.dat - 12!\n"
       "\nFiles With No Users: 1\nFiles With Users Active: 0\n",
       "", 0, false},
      {"/N counts free files into the exit status", mixed, with(mixedArgs, {"/N"}),
       "File {D}/a.dat has no users.\nFile {D}/d.dat has no users.\nFile {D}/f.dat has no users.\n"
       "\nFiles With No Users: 3\n",
       "Printing Files With No Users...\r\n", 3, false},
      {"/U counts files in use into the exit status", mixed, with({"-u"}, mixedArgs),
       "File {D}/b.dat has users active.\nFile {D}/c.dat has users active.\nFile {D}/e.dat has users active.\n"
       "\nFiles With Users Active: 3\n",
       "Printing Files With Users Active...\r\n", 3, false},
      {"/U with one file in use", {{"a.dat", FREE}, {"b.dat", HELD}}, {"{D}/*.dat", "/U"},
       "File {D}/b.dat has users active.\n\nFiles With Users Active: 1\n", "Printing Files With Users Active...\r\n", 1,
       false, BOTH},
      {"/S leaves the summary and the failures",
       {{"a.dat", FREE}, {"b.dat", HELD}, {"p.dat", FIFO}},
       {"{D}/a.dat", "{D}/b.dat", "{D}/p.dat", "/S"},
       "Unable to Open File {D}/p.dat - 30!\n\nFiles With No Users: 1\nFiles With Users Active: 1\n",
       "Printing Summary Only...\r\n", 0, false},
      {"no match", {{"a.dat", FREE}}, {"{D}/*.none"}, summary00, "", 0, false, BOTH},
      {"no match under /N", {{"a.dat", FREE}}, {"{D}/*.none", "/N"}, "\nFiles With No Users: 0\n",
       "Printing Files With No Users...\r\n", 0, false, BOTH},
      {"a directory that does not exist", {}, {"{D}/none/*.dat"}, summary00, "", 0, false, BOTH},
      {"a directory named without a wildcard", {{"sub.dat", DIR}}, {"{D}/sub.dat"}, summary00, "", 0, false, BOTH},
      {"an owner switch without =", {{"a.dat", FREE}}, {"{D}/a.dat", "/Owner", "/N"}, "",
       "Printing Files With No Users...\r\nUnable to parse owner name.\n", 1, false, BOTH},
      {"a traced run", {{"a.dat", FREE}, {"b.dat", HELD}}, {"{D}/a.dat", "{D}/b.dat", "/D", "/O=abc"},
       "Op: 0, Buflen: 3, KeyNum: -4 Status: 0\nFile {D}/a.dat has no users.\nOp: 1, Buflen: 3, KeyNum: -4 Status: 0\n"
       "Op: 0, Buflen: 3, KeyNum: -4 Status: 88\nFile {D}/b.dat has users active.\n"
       "\nFiles With No Users: 1\nFiles With Users Active: 1\nOp: 28, Buflen: 3, KeyNum: 0 Status: 0\n",
       "", 0, false},
      {"a traced run that probes nothing", {}, {"{D}/*.dat", "-d"},
       summary00 + "Op: 28, Buflen: 0, KeyNum: 0 Status: 0\n", "", 0, false, BOTH},
      {"a bare pattern probes names alone", {{"a.dat", FREE}}, {"*.dat"},
       "File a.dat has no users.\n\nFiles With No Users: 1\nFiles With Users Active: 0\n", "", 0, true, BOTH},
      {"a first argument with - is a switch and the specification", {{"-s1.dat", FREE}}, {"-s*.dat"},
       "\nFiles With No Users: 1\nFiles With Users Active: 0\n", "Printing Summary Only...\r\n", 0, true, BOTH},
      {"an absolute first argument is a path, never a switch", {}, {"/U"}, summary00, "", 0, false},
      {"a later path is walked, a later switch applied", {{"a.dat", FREE}, {"b.dat", HELD}},
       {"{D}/a.dat", "/U", "{D}/b.dat"},
       "File {D}/b.dat has users active.\n\nFiles With Users Active: 1\n", "Printing Files With Users Active...\r\n",
       1, false},

      // Windows: the first argument alone is the specification, the command
      // expands its wildcards itself, and a forward slash separates as a
      // backslash does.
      {"only the first argument is a specification", {{"a.dat", FREE}, {"b.dat", FREE}}, {"{D}/a.dat", "{D}/b.dat"},
       "File {D}/a.dat has no users.\n\nFiles With No Users: 1\nFiles With Users Active: 0\n", "", 0, false, WINDOWS},
      {"the arguments arrive as typed, not expanded", {{"a.dat", FREE}, {"b.dat", HELD}}, {"*.dat"},
       "File a.dat has no users.\nFile b.dat has users active.\n\nFiles With No Users: 1\nFiles With Users Active: 1\n",
       "", 0, true, WINDOWS},
      {"forward slashes", {{"a.dat", FREE}, {"sub.dat", DIR}}, {"{F}/*.dat"},
       "File {F}/a.dat has no users.\n\nFiles With No Users: 1\nFiles With Users Active: 0\n", "", 0, false, WINDOWS},
      {"a drive letter and a pattern", {{"a.dat", FREE}, {"b.dat", HELD}}, {"{Q}*.dat"},
       "File {Q}a.dat has no users.\nFile {Q}b.dat has users active.\n"
       "\nFiles With No Users: 1\nFiles With Users Active: 1\n",
       "", 0, false, WINDOWS},
      {"/N counts free files into the exit status, in the system's order",
       {{"c.dat", FREE}, {"b.dat", HELD}, {"a.dat", FREE}, {"sub.dat", DIR}}, {"{D}/*.dat", "/N"},
       "File {D}/a.dat has no users.\nFile {D}/c.dat has no users.\n\nFiles With No Users: 2\n",
       "Printing Files With No Users...\r\n", 2, false, WINDOWS},
      {"/S leaves the summary", {{"a.dat", FREE}, {"b.dat", HELD}}, {"{D}/*.dat", "/s"},
       "\nFiles With No Users: 1\nFiles With Users Active: 1\n", "Printing Summary Only...\r\n", 0, false, WINDOWS},
      {"a traced run with an owner", {{"a.dat", FREE}, {"b.dat", HELD}}, {"{D}/*.dat", "/D", "/O=abc"},
       "Op: 0, Buflen: 3, KeyNum: -4 Status: 0\nFile {D}/a.dat has no users.\nOp: 1, Buflen: 3, KeyNum: -4 Status: 0\n"
       "Op: 0, Buflen: 3, KeyNum: -4 Status: 88\nFile {D}/b.dat has users active.\n"
       "\nFiles With No Users: 1\nFiles With Users Active: 1\nOp: 28, Buflen: 3, KeyNum: 0 Status: 0\n",
       "", 0, false, WINDOWS},
  };
}

class Scratch : public ::testing::Test {
 protected:
  std::string dir;
  std::vector<Holder> holders;
  Target target;                 // this build's command unless a test says otherwise
  std::string driveLink;         // Windows: the prefix's link that maps target.drive

  void SetUp() override { dir = make_scratch_dir(); }
  void TearDown() override {
    release();
    remove_tree(dir);
  }
  void release() {
    for (Holder& h : holders)
      stop_holder(h);
    holders.clear();
    unmap_drive();
  }

  // Maps a drive letter that is not yet in use to the scratch directory, in
  // the Wine prefix's dosdevices; several test processes may share it. A
  // link to a directory that is gone was left by a run that crashed.
  void map_drive() {
    for (char letter = 'q'; letter <= 'y'; ++letter) {
      std::string link = winePrefix + "/dosdevices/" + letter + ":";
      struct stat st;
      if (lstat(link.c_str(), &st) == 0 && stat(link.c_str(), &st) != 0)
        unlink(link.c_str());
      if (symlink(dir.c_str(), link.c_str()) == 0) {
        driveLink = link;
        target.drive = std::string(1, static_cast<char>(letter - 'a' + 'A')) + ":";
        return;
      }
      ASSERT_EQ(errno, EEXIST) << link;
    }
    FAIL() << "no drive letter left";
  }
  void unmap_drive() {
    if (!driveLink.empty())
      unlink(driveLink.c_str());
    driveLink.clear();
    target.drive.clear();
  }

  void lay_out(const std::vector<Entry>& entries) {
    std::vector<std::string> held;
    for (const Entry& e : entries) {
      std::string path = dir + "/" + e.name;
      switch (e.kind) {
      case FREE:
      case HELD:
      case OPENED:
        make_file(path);
        break;
      case DIR:
        ASSERT_EQ(mkdir(path.c_str(), 0755), 0);
        break;
      case FIFO:
        ASSERT_EQ(mkfifo(path.c_str(), 0644), 0);
        break;
      case DANGLING:
        ASSERT_EQ(symlink("nowhere", path.c_str()), 0);
        break;
      }
      if (e.kind == HELD)
        held.push_back(path);
      if (e.kind == OPENED)
        holders.push_back(start_plain_opener(path));
    }
    if (held.empty())
      return;
    if (!target.windows) {
      holders.push_back(start_holder(held));
      return;
    }
    // Wine keeps the share modes among its own processes only: the holder
    // of a file that the Windows build probes runs under Wine too.
    std::vector<std::string> argv = target.command(HOLD_PATH, "dravolin-hold.exe");
    for (const std::string& path : held)
      argv.push_back(target.path(path));
    holders.push_back(start_holder_command(argv, wineEnvironment));
  }

  Result run(const std::vector<std::string>& args, Launch launch = Launch()) {
    launch.argv = target.command(DRAVOLIN_PATH, "dravolin.exe");
    for (const std::string& a : args)
      launch.argv.push_back(target.expand(a, dir));
    if (target.windows)
      launch.env.insert(launch.env.end(), wineEnvironment.begin(), wineEnvironment.end());
    return run_process(launch);
  }

  void run_table() {
    for (const Case& k : cases()) {
      if (k.targets != BOTH && (k.targets == WINDOWS) != target.windows)
        continue;
      SCOPED_TRACE(k.title);
      remove_tree(dir);
      dir = make_scratch_dir();
      lay_out(k.entries);
      for (const std::string& a : k.args)
        if (a.find("{Q}") != std::string::npos)
          map_drive();
      Launch launch;
      if (k.inScratchDir)
        launch.cwd = dir;
      Result r = run(k.args, launch);
      EXPECT_EQ(r.out, target.stream(k.out, dir));
      EXPECT_EQ(r.err, target.stream(k.err, dir));
      EXPECT_EQ(r.status, k.status);
      release();
    }
  }
};

TEST_F(Scratch, Table) {
  run_table();
}

TEST_F(Scratch, TheExitStatusCarriesATallyCappedAt255) {
  std::vector<std::string> files;
  for (int i = 0; i < 300; ++i) {
    files.push_back(dir + "/f" + std::to_string(i) + ".dat");
    make_file(files.back());
  }
  holders.push_back(start_holder(files));
  Result r = run({"{D}/*.dat", "/U", "/S"});
  EXPECT_EQ(r.out, "\nFiles With Users Active: 300\n");
  EXPECT_EQ(r.status, 255) << "a tally of 256 or more must not read as a small number, or as 0";
  release();
  r = run({"{D}/*.dat", "/N", "/S"});
  EXPECT_EQ(r.out, "\nFiles With No Users: 300\n");
  EXPECT_EQ(r.status, 255);
}

// Without the right to lease a file, only other users of the client library
// are seen: its holder is, a plain opener is not.
TEST_F(Scratch, AsAnotherUserOnlyLibraryUsersCount) {
  struct passwd* nobody = getpwnam("nobody");
  ASSERT_NE(nobody, nullptr);
  lay_out({{"held.dat", HELD}, {"opened.dat", OPENED}, {"free.dat", FREE}});
  Launch launch;
  launch.uid = nobody->pw_uid;
  launch.gid = nobody->pw_gid;
  Result r = run({"{D}/held.dat", "{D}/opened.dat", "{D}/free.dat"}, launch);
  EXPECT_EQ(r.out, expand("File {D}/held.dat has users active.\nFile {D}/opened.dat has no users.\n"
                          "File {D}/free.dat has no users.\n\nFiles With No Users: 2\nFiles With Users Active: 1\n",
                          dir));
  EXPECT_EQ(r.status, 0);
}

TEST_F(Scratch, TheOwnerBytesReachTheLibraryWithEveryOpen) {
  make_file(dir + "/a.dat");
  make_file(dir + "/busy.dat");
  std::string log = dir + "/requests.log";
  Launch launch;
  launch.env = {"LD_LIBRARY_PATH=" RECORDING_DIR, "DRAVOLIN_RECORD=" + log};
  Result r = run({"{D}/a.dat", "{D}/busy.dat", "/O=0x41004200"}, launch);
  EXPECT_EQ(r.status, 0);
  // Four owner bytes, a zero among them, and the zero byte after them.
  EXPECT_EQ(read_file(log), expand("op=0 len=4 data=4100420000 key={D}/a.dat keylen=255 keynum=-4\n"
                                   "op=1 len=4 data=4100420000 key={D}/a.dat keylen=255 keynum=-4\n"
                                   "op=0 len=4 data=4100420000 key={D}/busy.dat keylen=255 keynum=-4\n"
                                   "op=28 len=4 data=4100420000 key=(null) keylen=255 keynum=0\n",
                                   dir));
  remove((dir + "/requests.log").c_str());
  r = run({"{D}/a.dat", "/O=" + std::string(70, 'w')}, launch);
  EXPECT_EQ(read_file(log).substr(0, 14), "op=0 len=66 da");
}

TEST_F(Scratch, AnOwnerErrorMakesNoRequest) {
  make_file(dir + "/a.dat");
  std::string log = dir + "/requests.log";
  Launch launch;
  launch.env = {"LD_LIBRARY_PATH=" RECORDING_DIR, "DRAVOLIN_RECORD=" + log};
  Result r = run({"{D}/a.dat", "/O"}, launch);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(read_file(log), "") << "not even the reset";
}

TEST_F(Scratch, ARunChangesNoByteSizeOrTimeOfTheFilesItProbes) {
  make_file(dir + "/a.dat", std::string(5000, 'x'));
  make_file(dir + "/b.dat", "held");
  lay_out({{"c.dat", HELD}});
  struct stat before[3], after[3];
  const char* names[] = {"a.dat", "b.dat", "c.dat"};
  for (int i = 0; i < 3; ++i)
    ASSERT_EQ(stat((dir + "/" + names[i]).c_str(), &before[i]), 0);
  sleep(1);   // so that a time stamp set by the run would differ
  Result r = run({"{D}/*.dat", "/D"});
  ASSERT_EQ(r.status, 0);
  for (int i = 0; i < 3; ++i) {
    SCOPED_TRACE(names[i]);
    ASSERT_EQ(stat((dir + "/" + names[i]).c_str(), &after[i]), 0);
    EXPECT_EQ(after[i].st_size, before[i].st_size);
    EXPECT_EQ(after[i].st_mtim.tv_sec, before[i].st_mtim.tv_sec);
    EXPECT_EQ(after[i].st_mtim.tv_nsec, before[i].st_mtim.tv_nsec);
    EXPECT_EQ(after[i].st_atim.tv_nsec, before[i].st_atim.tv_nsec);
    EXPECT_EQ(after[i].st_ctim.tv_nsec, before[i].st_ctim.tv_nsec);
  }
  EXPECT_EQ(read_file(dir + "/a.dat"), std::string(5000, 'x'));
  EXPECT_EQ(read_file(dir + "/b.dat"), "held");
}

TEST_F(Scratch, WithoutItsClientLibraryTheCommandDoesNotStart) {
  std::string alone = dir + "/dravolin";
  ASSERT_EQ(system(("cp '" DRAVOLIN_PATH "' '" + alone + "'").c_str()), 0);
  Launch launch;
  launch.argv = {alone, "*.dat"};
  Result r = run_process(launch);
  EXPECT_EQ(r.out, "");
  EXPECT_NE(r.err.find("libdravolin-client.so"), std::string::npos) << r.err;
  EXPECT_EQ(r.status, 127);
}

// The Windows build's programs, run under Wine, where this machine has them.
class OnWindows : public Scratch {
 protected:
  void SetUp() override {
    Scratch::SetUp();
    if (win32Dir.empty())
      GTEST_SKIP() << "no Windows build given (DRAVOLIN_WIN32_DIR)";
    if (access(WINE_PATH, X_OK) != 0)
      GTEST_SKIP() << "no wine";
    for (const char* needed : {"/dravolin.exe", "/dravolin-hold.exe", "/exitcode.exe", "/wineprefix/system.reg"})
      if (access((win32Dir + needed).c_str(), R_OK) != 0)
        GTEST_SKIP() << "the Windows build in " << win32Dir << " has no " << needed + 1
                     << ": build it and run its tests first";
    target.windows = true;
  }

  // Runs the Windows build's command through exitcode.exe, which prints the
  // command's exit code whole after the command's own output.
  Result run_reading_exit_code(const std::string& command, const std::vector<std::string>& args) {
    Launch launch;
    launch.argv = {WINE_PATH, win32Dir + "/exitcode.exe"};
    launch.argv.push_back(target.path(command));
    for (const std::string& a : args)
      launch.argv.push_back(target.expand(a, dir));
    launch.env = wineEnvironment;
    launch.cwd = dir;
    return run_process(launch);
  }
};

TEST_F(OnWindows, Table) {
  run_table();
}

TEST_F(OnWindows, ATallyIsTheExitCodeWhole) {
  std::vector<Entry> entries;
  std::vector<std::string> names;
  for (int i = 0; i < 300; ++i)
    names.push_back("f" + std::to_string(i) + ".dat");
  for (const std::string& name : names)
    entries.push_back({name.c_str(), HELD});
  lay_out(entries);
  Result r = run_reading_exit_code(win32Dir + "/dravolin.exe", {"{D}/*.dat", "/U", "/S"});
  EXPECT_EQ(r.out, "\r\nFiles With Users Active: 300\r\nexit code 300\r\n");
  EXPECT_EQ(r.err, "Printing Summary Only...\r\r\nPrinting Files With Users Active...\r\r\n");
  EXPECT_EQ(r.status, 0);
  release();
  r = run_reading_exit_code(win32Dir + "/dravolin.exe", {"{D}/*.dat", "/N", "/S"});
  EXPECT_EQ(r.out, "\r\nFiles With No Users: 300\r\nexit code 300\r\n");
}

// The loader binds the client library at start: without it beside the
// command or on the search path, the command never runs.
TEST_F(OnWindows, WithoutItsClientLibraryTheCommandDoesNotStart) {
  make_file(dir + "/a.dat");
  std::string alone = dir + "/dravolin.exe";
  ASSERT_EQ(system(("cp '" + win32Dir + "/dravolin.exe' '" + alone + "'").c_str()), 0);
  Result r = run_reading_exit_code(alone, {"*.dat"});
  EXPECT_EQ(r.out, "exit code 3221225781\r\n") << "0xC0000135, a DLL not found";
}

}  // namespace
