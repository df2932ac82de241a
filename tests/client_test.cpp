// Tests of the local client library through its call entry, and of
// dravolin-hold. Other users of a file are real processes: forked children
// that hold the file open until they are killed.

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "btrieve/client_entry.h"

namespace {

using Block = std::array<unsigned char, POSITION_BLOCK_SIZE>;

constexpr uid_t kNobody = 65534;

// A request as the command sends it: key length 255 and a key buffer of 256
// bytes, on the heap so that a read past its end shows under a sanitizer.
int open_path(Block& block, const std::string& path, int8_t mode = OPEN_MODE_EXCLUSIVE, uint32_t* length = nullptr) {
  std::vector<char> key(256, '\0');
  path.copy(key.data(), key.size());
  return client_entry(OP_OPEN, block.data(), nullptr, length, key.data(), 255, mode);
}

int close_block(Block& block, uint32_t* length = nullptr) {
  return client_entry(OP_CLOSE, block.data(), nullptr, length, nullptr, 255, 0);
}

int reset_all(uint32_t* length = nullptr) { return client_entry(OP_RESET, nullptr, nullptr, length, nullptr, 255, 0); }

// The command's question: an exclusive open, closed again at once. A failed
// close comes back as 100 + its status.
int probe(const std::string& path) {
  Block block{};
  const int status = open_path(block, path);
  if (status == STATUS_SUCCESS) {
    const int closed = close_block(block);
    if (closed != STATUS_SUCCESS) return 100 + closed;
  }
  return status;
}

// Runs fn in a forked child and returns what it returned, or 1000 + the signal
// that ended the child. The alarm turns a request that hangs into a failure.
int in_child(const std::function<int()>& fn) {
  const pid_t pid = fork();
  if (pid == 0) {
    alarm(20);
    _exit(fn());
  }
  int wait_status = 0;
  waitpid(pid, &wait_status, 0);
  return WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : 1000 + WTERMSIG(wait_status);
}

// As in_child, as the unprivileged user 'nobody': no lease may be taken on
// root's files then.
int as_nobody(const std::function<int()>& fn) {
  return in_child([&] {
    if (setgroups(0, nullptr) != 0 || setgid(kNobody) != 0 || setuid(kNobody) != 0) return 255;
    return fn();
  });
}

// Another process that keeps a file open, in whatever way open_file does, until
// this object goes. open_status() is what open_file returned in that process.
class OtherProcess {
 public:
  explicit OtherProcess(const std::function<int()>& open_file) {
    int ready[2];
    if (pipe(ready) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      close(ready[0]);
      const auto status = static_cast<unsigned char>(open_file());
      if (write(ready[1], &status, 1) != 1) _exit(1);
      for (;;) pause();
    }
    close(ready[1]);
    unsigned char status = 0;
    if (read(ready[0], &status, 1) == 1) open_status_ = status;
    close(ready[0]);
  }
  ~OtherProcess() { release(); }
  OtherProcess(const OtherProcess&) = delete;
  OtherProcess& operator=(const OtherProcess&) = delete;

  int open_status() const { return open_status_; }
  void release() {
    if (pid_ <= 0) return;
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }

 private:
  pid_t pid_ = -1;
  int open_status_ = -1;
};

int plain_open(const std::string& path, int flags) { return open(path.c_str(), flags) >= 0 ? 0 : errno; }

int open_through_library(const std::string& path, int8_t mode) {
  Block block{};
  return open_path(block, path, mode);
}

int count_open_descriptors() {
  DIR* dir = opendir("/proc/self/fd");
  if (dir == nullptr) return -1;
  int count = 0;
  while (readdir(dir) != nullptr) ++count;
  closedir(dir);
  return count;
}

class ClientTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char name[] = "/tmp/client_test.XXXXXX";
    ASSERT_NE(mkdtemp(name), nullptr);
    dir_ = name;
    // Root owns everything here; 'nobody' must still reach and read it.
    ASSERT_EQ(chmod(dir_.c_str(), 0755), 0);
  }
  void TearDown() override {
    reset_all();
    std::filesystem::remove_all(dir_);
  }

  std::string path(const std::string& name) const { return dir_ + "/" + name; }

  std::string make_file(const std::string& name, const std::string& contents = "record data\n") const {
    const std::string file = path(name);
    std::ofstream(file, std::ios::binary) << contents;
    chmod(file.c_str(), 0644);
    return file;
  }

  std::string dir_;
};

// ---- Statuses of single requests ----

TEST_F(ClientTest, ExclusiveOpenOfAFreeFileSucceedsAndClosesOnce) {
  const std::string file = make_file("free.dat");
  Block block{};
  ASSERT_EQ(open_path(block, file), STATUS_SUCCESS);
  EXPECT_EQ(close_block(block), STATUS_SUCCESS);
  EXPECT_EQ(close_block(block), STATUS_FILE_NOT_OPEN);
}

TEST_F(ClientTest, ExclusiveOpenAnswersEachKindOfPath) {
  const std::string file = make_file("plain.dat");
  ASSERT_EQ(symlink(file.c_str(), path("link").c_str()), 0);
  ASSERT_EQ(symlink(path("nothing").c_str(), path("dangling").c_str()), 0);
  ASSERT_EQ(symlink(path("loop").c_str(), path("loop").c_str()), 0);
  ASSERT_EQ(symlink(std::string(300, 'n').c_str(), path("overlong").c_str()), 0);
  ASSERT_EQ(mkdir(path("subdir").c_str(), 0755), 0);
  ASSERT_EQ(mkfifo(path("fifo").c_str(), 0644), 0);
  const int listener = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  path("socket").copy(address.sun_path, sizeof address.sun_path - 1);
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);

  // A path of exactly 255 characters is a valid name; one more leaves no
  // room for the terminator in the key buffer.
  const std::string prefix = dir_ + "/";
  const std::string longest = prefix + std::string(255 - prefix.size(), 'x');
  const std::string too_long = longest + "x";

  const struct {
    const char* name;
    std::string path;
    int status;
  } cases[] = {
      {"symbolic link to a file", path("link"), STATUS_SUCCESS},
      {"missing file", path("missing.dat"), STATUS_FILE_NOT_FOUND},
      {"dangling symbolic link", path("dangling"), STATUS_FILE_NOT_FOUND},
      {"symbolic link loop", path("loop"), STATUS_FILE_NOT_FOUND},
      {"path through a file", file + "/inner.dat", STATUS_FILE_NOT_FOUND},
      {"directory", path("subdir"), STATUS_NOT_A_DATA_FILE},
      {"FIFO without a writer", path("fifo"), STATUS_NOT_A_DATA_FILE},
      {"socket", path("socket"), STATUS_NOT_A_DATA_FILE},
      {"device", "/dev/null", STATUS_NOT_A_DATA_FILE},
      {"empty name", "", STATUS_INVALID_FILE_NAME},
      {"link to an overlong name", path("overlong"), STATUS_INVALID_FILE_NAME},
      {"255 characters", longest, STATUS_FILE_NOT_FOUND},
      {"256 characters, unterminated", too_long, STATUS_INVALID_FILE_NAME},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(in_child([&] { return probe(c.path); }), c.status);
  }
  close(listener);
}

TEST_F(ClientTest, RequestsThatCannotBeServed) {
  const std::string file = make_file("plain.dat");
  std::vector<char> key(256, '\0');
  file.copy(key.data(), key.size());
  Block block{};
  EXPECT_EQ(client_entry(OP_OPEN, block.data(), nullptr, nullptr, nullptr, 255, OPEN_MODE_EXCLUSIVE),
            STATUS_INVALID_FILE_NAME);
  EXPECT_EQ(client_entry(OP_OPEN, nullptr, nullptr, nullptr, key.data(), 255, OPEN_MODE_EXCLUSIVE), STATUS_IO_ERROR);
  EXPECT_EQ(client_entry(OP_CLOSE, nullptr, nullptr, nullptr, nullptr, 255, 0), STATUS_IO_ERROR);
  for (const int8_t mode : {int8_t{-1}, int8_t{-2}, int8_t{-3}, int8_t{1}}) {
    EXPECT_EQ(client_entry(OP_OPEN, block.data(), nullptr, nullptr, key.data(), 255, mode),
              STATUS_INVALID_OPERATION)
        << "mode " << int{mode};
  }
  for (const uint16_t operation : {uint16_t{2}, uint16_t{6}, uint16_t{27}, uint16_t{29}, uint16_t{0xffff}}) {
    EXPECT_EQ(client_entry(operation, block.data(), nullptr, nullptr, key.data(), 255, 0), STATUS_INVALID_OPERATION)
        << "operation " << operation;
  }
  // None of them opened anything.
  EXPECT_EQ(in_child([&] { return probe(file); }), STATUS_SUCCESS);
}

TEST_F(ClientTest, BlocksThatHoldNoOpenFileAreRefused) {
  const std::string file = make_file("plain.dat");
  Block zeroed{};
  EXPECT_EQ(close_block(zeroed), STATUS_FILE_NOT_OPEN);

  // A copy of a block whose file was closed must not close whatever now has
  // the same descriptor number: a later open, or a descriptor of the caller's.
  Block block{};
  ASSERT_EQ(open_path(block, file), STATUS_SUCCESS);
  const Block copy = block;
  ASSERT_EQ(close_block(block), STATUS_SUCCESS);
  Block later{};
  ASSERT_EQ(open_path(later, file), STATUS_SUCCESS);
  Block stale = copy;
  EXPECT_EQ(close_block(stale), STATUS_FILE_NOT_OPEN);
  EXPECT_EQ(close_block(later), STATUS_SUCCESS);

  const int unrelated = open(file.c_str(), O_RDONLY);
  EXPECT_EQ(close_block(stale), STATUS_FILE_NOT_OPEN);
  EXPECT_NE(fcntl(unrelated, F_GETFD), -1) << "the stale block closed an unrelated descriptor";
  close(unrelated);
}

TEST_F(ClientTest, OpenIntoABlockThatHoldsAnOpenFileKeepsThatFile) {
  const std::string first = make_file("first.dat");
  const std::string second = make_file("second.dat");
  Block block{};
  ASSERT_EQ(open_path(block, first), STATUS_SUCCESS);
  EXPECT_EQ(open_path(block, second), STATUS_IO_ERROR);
  EXPECT_EQ(in_child([&] { return probe(second); }), STATUS_SUCCESS);
  EXPECT_EQ(close_block(block), STATUS_SUCCESS);
  EXPECT_EQ(in_child([&] { return probe(first); }), STATUS_SUCCESS);
}

TEST_F(ClientTest, DataLengthIsNeverWritten) {
  const std::string file = make_file("plain.dat");
  uint32_t length = 12345;
  Block block{};
  EXPECT_EQ(open_path(block, path("missing.dat"), OPEN_MODE_EXCLUSIVE, &length), STATUS_FILE_NOT_FOUND);
  EXPECT_EQ(open_path(block, file, OPEN_MODE_EXCLUSIVE, &length), STATUS_SUCCESS);
  EXPECT_EQ(close_block(block, &length), STATUS_SUCCESS);
  EXPECT_EQ(open_path(block, file, OPEN_MODE_NORMAL, &length), STATUS_SUCCESS);
  EXPECT_EQ(reset_all(&length), STATUS_SUCCESS);
  EXPECT_EQ(length, 12345u);
}

// ---- Files in use by another process ----

TEST_F(ClientTest, FileOpenedElsewhereIsInUseUntilReleased) {
  const std::string file = make_file("shared.dat");
  const struct {
    const char* name;
    std::function<int()> open_file;
  } holders[] = {
      {"plain read-only open", [&] { return plain_open(file, O_RDONLY); }},
      {"plain read-write open", [&] { return plain_open(file, O_RDWR); }},
      {"normal open through the library", [&] { return open_through_library(file, OPEN_MODE_NORMAL); }},
      {"exclusive open through the library", [&] { return open_through_library(file, OPEN_MODE_EXCLUSIVE); }},
  };
  for (const auto& holder : holders) {
    SCOPED_TRACE(holder.name);
    OtherProcess other(holder.open_file);
    ASSERT_EQ(other.open_status(), 0);
    EXPECT_EQ(probe(file), STATUS_FILE_IN_USE);
    other.release();
    EXPECT_EQ(probe(file), STATUS_SUCCESS);
  }
}

TEST_F(ClientTest, NormalOpensShareTheFileButNotWithAnExclusiveOne) {
  const std::string file = make_file("shared.dat");
  {
    OtherProcess reader([&] { return open_through_library(file, OPEN_MODE_NORMAL); });
    ASSERT_EQ(reader.open_status(), STATUS_SUCCESS);
    Block block{};
    EXPECT_EQ(open_path(block, file, OPEN_MODE_NORMAL), STATUS_SUCCESS);
    EXPECT_EQ(close_block(block), STATUS_SUCCESS);
  }
  Block exclusive{};
  ASSERT_EQ(open_path(exclusive, file), STATUS_SUCCESS);
  EXPECT_EQ(in_child([&] { return open_through_library(file, OPEN_MODE_NORMAL); }), STATUS_FILE_IN_USE);
  EXPECT_EQ(in_child([&] { return probe(file); }), STATUS_FILE_IN_USE);
  EXPECT_EQ(close_block(exclusive), STATUS_SUCCESS);
  EXPECT_EQ(in_child([&] { return open_through_library(file, OPEN_MODE_NORMAL); }), STATUS_SUCCESS);
}

// Without a lease (not the owner, no CAP_LEASE) only the flock answers.
TEST_F(ClientTest, UnprivilegedCallerSeesOnlyOtherLibraryUsers) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to become 'nobody'";
  const std::string file = make_file("shared.dat");
  const std::string secret = make_file("secret.dat");
  ASSERT_EQ(chmod(secret.c_str(), 0600), 0);
  ASSERT_EQ(mkdir(path("closed").c_str(), 0700), 0);
  const std::string hidden = dir_ + "/closed/" + "inner.dat";
  std::ofstream(hidden) << "data";

  EXPECT_EQ(as_nobody([&] { return probe(secret); }), STATUS_PERMISSION_DENIED);
  EXPECT_EQ(as_nobody([&] { return probe(hidden); }), STATUS_PERMISSION_DENIED);
  {
    OtherProcess user([&] { return open_through_library(file, OPEN_MODE_NORMAL); });
    ASSERT_EQ(user.open_status(), STATUS_SUCCESS);
    EXPECT_EQ(as_nobody([&] { return probe(file); }), STATUS_FILE_IN_USE);
  }
  {
    // The known limit of this path: a process that opened the file by other
    // means holds no flock and goes unseen.
    OtherProcess opener([&] { return plain_open(file, O_RDONLY); });
    ASSERT_EQ(opener.open_status(), 0);
    EXPECT_EQ(as_nobody([&] { return probe(file); }), STATUS_SUCCESS);
  }
}

// ---- Leaving nothing behind ----

TEST_F(ClientTest, ResetClosesEveryOpenFile) {
  const std::string first = make_file("first.dat");
  const std::string second = make_file("second.dat");
  Block exclusive{};
  Block normal{};
  ASSERT_EQ(open_path(exclusive, first), STATUS_SUCCESS);
  ASSERT_EQ(open_path(normal, second, OPEN_MODE_NORMAL), STATUS_SUCCESS);
  EXPECT_EQ(reset_all(), STATUS_SUCCESS);
  EXPECT_EQ(in_child([&] { return probe(first); }), STATUS_SUCCESS);
  EXPECT_EQ(in_child([&] { return probe(second); }), STATUS_SUCCESS);
  EXPECT_EQ(close_block(exclusive), STATUS_FILE_NOT_OPEN);
  EXPECT_EQ(close_block(normal), STATUS_FILE_NOT_OPEN);
}

TEST_F(ClientTest, NoDescriptorSurvivesOnAnyPath) {
  const std::string free_file = make_file("free.dat");
  const std::string opened = make_file("opened.dat");
  const std::string locked = make_file("locked.dat");
  ASSERT_EQ(mkdir(path("subdir").c_str(), 0755), 0);
  OtherProcess opener([&] { return plain_open(opened, O_RDONLY); });
  OtherProcess user([&] { return open_through_library(locked, OPEN_MODE_NORMAL); });
  ASSERT_EQ(opener.open_status(), 0);
  ASSERT_EQ(user.open_status(), STATUS_SUCCESS);

  const int before = count_open_descriptors();
  EXPECT_EQ(probe(free_file), STATUS_SUCCESS);
  EXPECT_EQ(probe(opened), STATUS_FILE_IN_USE);  // refused by the lease, after the flock
  EXPECT_EQ(probe(locked), STATUS_FILE_IN_USE);  // refused by the flock
  EXPECT_EQ(probe(path("subdir")), STATUS_NOT_A_DATA_FILE);
  EXPECT_EQ(probe(path("missing.dat")), STATUS_FILE_NOT_FOUND);
  Block block{};
  ASSERT_EQ(open_path(block, free_file, OPEN_MODE_NORMAL), STATUS_SUCCESS);
  ASSERT_EQ(reset_all(), STATUS_SUCCESS);
  EXPECT_EQ(count_open_descriptors(), before);
}

TEST_F(ClientTest, ProbeChangesNeitherBytesNorTimeStamps) {
  const std::string contents = "record 1\nrecord 2\n";
  const std::string file = make_file("data.dat", contents);
  // Two days old, atime no later than mtime: any access would move the atime
  // even under relatime.
  const timespec old_times[2] = {{time(nullptr) - 2 * 86400, 0}, {time(nullptr) - 2 * 86400, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, file.c_str(), old_times, 0), 0);
  struct stat before;
  ASSERT_EQ(stat(file.c_str(), &before), 0);

  EXPECT_EQ(probe(file), STATUS_SUCCESS);

  struct stat after;
  ASSERT_EQ(stat(file.c_str(), &after), 0);
  EXPECT_EQ(after.st_size, before.st_size);
  EXPECT_EQ(after.st_atim.tv_sec, before.st_atim.tv_sec);
  EXPECT_EQ(after.st_atim.tv_nsec, before.st_atim.tv_nsec);
  EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
  EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
  EXPECT_EQ(after.st_ctim.tv_sec, before.st_ctim.tv_sec);
  EXPECT_EQ(after.st_ctim.tv_nsec, before.st_ctim.tv_nsec);
  std::ifstream in(file, std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), contents);
}

// A lease break while the lease is held would be announced with SIGIO, which
// ends a process by default. The window is short, so a prober and an opener
// race over the file many times; the prober must come through alive.
TEST_F(ClientTest, LeaseBreakDoesNotEndTheProcess) {
  const std::string file = make_file("busy.dat");
  int running[2];
  ASSERT_EQ(pipe(running), 0);
  const pid_t opener = fork();
  if (opener == 0) {
    close(running[0]);
    for (bool first = true;; first = false) {
      const int fd = open(file.c_str(), O_RDONLY);
      if (fd >= 0) close(fd);
      if (first && write(running[1], "r", 1) != 1) _exit(1);
    }
  }
  close(running[1]);
  char started;
  ASSERT_EQ(read(running[0], &started, 1), 1);
  close(running[0]);
  const int outcome = in_child([&] {
    for (int i = 0; i < 2000; ++i) {
      const int status = probe(file);
      if (status != STATUS_SUCCESS && status != STATUS_FILE_IN_USE) return status;
    }
    return 0;
  });
  kill(opener, SIGKILL);
  waitpid(opener, nullptr, 0);
  EXPECT_EQ(outcome, 0);
}

// ---- dravolin-hold ----

struct Holder {
  pid_t pid = -1;
  int input = -1;   // the holder's standard input
  int output = -1;  // its standard output
  int errors = -1;  // its standard error
};

Holder start_holder(const std::vector<std::string>& files) {
  int in[2], out[2], err[2];
  Holder holder;
  if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) return holder;
  holder.pid = fork();
  if (holder.pid == 0) {
    dup2(in[0], 0);
    dup2(out[1], 1);
    dup2(err[1], 2);
    std::vector<char*> argv{const_cast<char*>(HOLD_PATH)};
    for (const auto& file : files) argv.push_back(const_cast<char*>(file.c_str()));
    argv.push_back(nullptr);
    execv(HOLD_PATH, argv.data());
    _exit(127);
  }
  close(in[0]);
  close(out[1]);
  close(err[1]);
  holder.input = in[1];
  holder.output = out[0];
  holder.errors = err[0];
  return holder;
}

std::string read_all(int fd) {
  std::string text;
  char buffer[256];
  ssize_t got;
  while ((got = read(fd, buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<size_t>(got));
  return text;
}

// Reads the holder's standard output up to its first newline.
std::string first_line(const Holder& holder) {
  std::string line;
  char c;
  while (read(holder.output, &c, 1) == 1) {
    line += c;
    if (c == '\n') break;
  }
  return line;
}

// Closes the holder's standard input and returns its exit status, or 1000 +
// the signal that ended it.
int finish(Holder& holder) {
  close(holder.input);
  int wait_status = 0;
  waitpid(holder.pid, &wait_status, 0);
  close(holder.output);
  return WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : 1000 + WTERMSIG(wait_status);
}

TEST_F(ClientTest, HolderKeepsFilesInUseUntilItsInputCloses) {
  const std::string first = make_file("first.dat");
  const std::string second = make_file("second.dat");
  Holder holder = start_holder({first, second});
  ASSERT_EQ(first_line(holder), "ready\n");
  EXPECT_EQ(probe(first), STATUS_FILE_IN_USE);
  EXPECT_EQ(probe(second), STATUS_FILE_IN_USE);
  EXPECT_EQ(finish(holder), 0);
  EXPECT_EQ(read_all(holder.errors), "");
  close(holder.errors);
  EXPECT_EQ(probe(first), STATUS_SUCCESS);
  EXPECT_EQ(probe(second), STATUS_SUCCESS);
}

TEST_F(ClientTest, HolderReportsFilesItCannotOpenAndHoldsTheRest) {
  const std::string present = make_file("present.dat");
  const std::string missing = path("missing.dat");
  Holder holder = start_holder({missing, present});
  ASSERT_EQ(first_line(holder), "ready\n");
  EXPECT_EQ(probe(present), STATUS_FILE_IN_USE);
  EXPECT_EQ(finish(holder), 1);
  EXPECT_EQ(read_all(holder.errors), "dravolin-hold: cannot open " + missing + ": status 12\n");
  close(holder.errors);
}

TEST_F(ClientTest, HolderWithoutFilesShowsUsage) {
  Holder holder = start_holder({});
  EXPECT_EQ(finish(holder), 2);
  EXPECT_NE(read_all(holder.errors).find("usage"), std::string::npos);
  close(holder.errors);
}

}  // namespace
