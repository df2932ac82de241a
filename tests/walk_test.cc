// The walk over a real directory, with the client library faked: which
// entries are probed, under which path, and how they are counted.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "btrieve/client_entry.h"
#include "run/driver.h"
#include "support/capture.h"
#include "support/fake_client.h"
#include "support/walk.h"

namespace {

class Walk : public ::testing::Test {
 protected:
  std::string dir;

  void SetUp() override {
    fake_client::reset();
    char templ[] = "/tmp/dravolin-walk-XXXXXX";
    ASSERT_NE(mkdtemp(templ), nullptr);
    dir = templ;
  }
  void TearDown() override {
    std::string command = "rm -rf '" + dir + "'";
    ASSERT_EQ(system(command.c_str()), 0);
  }

  void make_file(const std::string& name) {
    int fd = open((dir + "/" + name).c_str(), O_CREAT | O_WRONLY, 0644);
    ASSERT_GE(fd, 0) << name;
    close(fd);
  }
};

TEST_F(Walk, MatchesOnlyStarAndQuestionMarkSkippingDirectories) {
  for (const char* name : {"a.dat", "b.dat", "c.txt", ".hidden.dat", "data[1].dat", "x\\y.dat", "\xc3\xa9.dat",
                           "A.DAT", "ab.dat"})
    make_file(name);
  ASSERT_EQ(mkdir((dir + "/sub.dat").c_str(), 0755), 0);
  ASSERT_EQ(symlink("sub.dat", (dir + "/linkdir.dat").c_str()), 0);
  ASSERT_EQ(symlink("nowhere", (dir + "/dangling.dat").c_str()), 0);

  auto in = [&](std::initializer_list<const char*> names) {
    std::set<std::string> paths;
    for (const char* n : names)
      paths.insert(dir + "/" + n);
    return paths;
  };
  struct Case {
    const char* pattern;
    std::set<std::string> expected;
  } cases[] = {
      {"*.dat", in({"a.dat", "b.dat", ".hidden.dat", "data[1].dat", "x\\y.dat", "\xc3\xa9.dat", "ab.dat",
                    "dangling.dat"})},
      {"?.dat", in({"a.dat", "b.dat", "\xc3\xa9.dat"})},
      {"??.dat", in({"ab.dat"})},
      {"*.DAT", in({"A.DAT"})},
      {"a*", in({"a.dat", "ab.dat"})},
      {"*b*t", in({"b.dat", "ab.dat"})},
      {"*.d?t", in({"a.dat", "b.dat", ".hidden.dat", "data[1].dat", "x\\y.dat", "\xc3\xa9.dat", "ab.dat",
                    "dangling.dat"})},
      {"data[1].dat", in({"data[1].dat"})},
      {"x\\y.dat", in({"x\\y.dat"})},
      {"dangling.dat", in({"dangling.dat"})},
      {"sub.dat", {}},
      {"linkdir.dat", {}},
      {"nothing.dat", {}},
      {"*.none", {}},
      {"", {}},
  };
  for (const Case& k : cases)
    EXPECT_EQ(walked_path_set(dir + "/" + k.pattern), k.expected) << k.pattern;
  EXPECT_TRUE(walked_paths(dir + "/missing/*.dat").empty());
  EXPECT_TRUE(walked_paths(dir).empty()) << "a directory named without a wildcard";
}

TEST_F(Walk, ABarePatternProbesNamesAlone) {
  make_file("a.dat");
  char cwd[4096];
  ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
  ASSERT_EQ(chdir(dir.c_str()), 0);
  std::vector<std::string> keys = walked_paths("*.dat");
  ASSERT_EQ(chdir(cwd), 0);
  EXPECT_EQ(keys, std::vector<std::string>{"a.dat"});
}

TEST_F(Walk, CountsByOutcome) {
  for (const char* name : {"a.dat", "b.dat", "c.dat", "d.dat"})
    make_file(name);
  fake_client::keysAnswered88 = {dir + "/b.dat", dir + "/d.dat"};
  Tallies tallies = {5, 7};   // the walk adds to what it is given
  capture_stream(stdout, [&] { scan_files((dir + "/*.dat").c_str(), &tallies); });
  EXPECT_EQ(tallies.noUsers, 5 + 2);
  EXPECT_EQ(tallies.usersActive, 7 + 2);
}

TEST_F(Walk, APathThatDoesNotFitIsReportedWholeAndNotProbed) {
  // A directory whose path with its separator takes 200 bytes.
  std::string deep = dir;
  while (deep.size() < 199) {
    deep += "/" + std::string(std::min<size_t>(50, 198 - deep.size()), 'd');
    ASSERT_EQ(mkdir(deep.c_str(), 0755), 0);
  }
  ASSERT_EQ(deep.size(), 199u);
  std::string fits(55, 'f');    // 200 + 55 = 255
  std::string over(56, 'f');    // 256: one byte too many
  ASSERT_GE(open((deep + "/" + fits).c_str(), O_CREAT | O_WRONLY, 0644), 0);
  ASSERT_GE(open((deep + "/" + over).c_str(), O_CREAT | O_WRONLY, 0644), 0);

  std::string out;
  std::vector<std::string> keys = walked_paths(deep + "/f*", &out);
  EXPECT_EQ(keys, std::vector<std::string>{deep + "/" + fits});
  EXPECT_NE(out.find("File " + deep + "/" + fits + " has no users.\n"), std::string::npos);
  EXPECT_NE(out.find("Unable to Open File " + deep + "/" + over + " - 11!\n"), std::string::npos);

  // A specification of 255 characters is searched; one of 256 is not.
  EXPECT_EQ(walked_paths(deep + "/" + fits), std::vector<std::string>{deep + "/" + fits});
  EXPECT_TRUE(walked_paths(deep + "/" + over, &out).empty());
  EXPECT_EQ(out, "");
}

}  // namespace
