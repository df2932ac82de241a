// The walk over a real directory on Windows, with the client library faked:
// where the directory part of a specification ends, which entries are
// probed, and under which path.

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "btrieve/client_entry.h"
#include "platform/platform.h"
#include "run/driver.h"
#include "support/capture.h"
#include "support/fake_client.h"
#include "support/walk.h"

namespace {

TEST(DirectoryPrefix, EndsAtTheLastSlashOfEitherKindElseAtTheColon) {
  struct Case {
    const char* path;
    size_t length;
  } cases[] = {
      {"D:\\DATA\\*.DAT", 8},       // D:\DATA\ .
      {"D:/DATA/*.DAT", 8},         // D:/DATA/ , not D:
      {"D:\\DATA/SUB\\*.DAT", 12},  // separators of both kinds
      {"D:/DATA\\SUB/*.DAT", 12},
      {"D:*.DAT", 2},
      {"DATA\\SUB:X\\*.DAT", 11},   // a colon before the last separator is part of a name
      {"DATA/SUB:X/*.DAT", 11},
      {"*.DAT", 0},
      {"\\\\server\\share\\*.dat", 15},
      {"D:", 2},
      {"D:\\", 3},
      {"", 0},
  };
  for (const Case& k : cases)
    EXPECT_EQ(directory_prefix_length(k.path), k.length) << k.path;
}

class Walk : public ::testing::Test {
 protected:
  std::string dir;   // a fresh directory, named with backslashes

  void SetUp() override {
    fake_client::reset();
    char temp[MAX_PATH];
    ASSERT_NE(GetTempPathA(sizeof temp, temp), 0u);
    for (unsigned n = GetTickCount();; ++n) {
      dir = std::string(temp) + "dravolin-walk-" + std::to_string(n);
      if (CreateDirectoryA(dir.c_str(), nullptr))
        break;
      ASSERT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    }
  }
  void TearDown() override { remove_tree(dir); }

  static void remove_tree(const std::string& path) {
    WIN32_FIND_DATAA found;
    HANDLE find = FindFirstFileA((path + "\\*").c_str(), &found);
    if (find != INVALID_HANDLE_VALUE) {
      do {
        std::string name = found.cFileName;
        if (name == "." || name == "..")
          continue;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
          remove_tree(path + "\\" + name);
        else
          DeleteFileA((path + "\\" + name).c_str());
      } while (FindNextFileA(find, &found));
      FindClose(find);
    }
    RemoveDirectoryA(path.c_str());
  }

  static void make_file(const std::string& path) {
    HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE) << path;
    CloseHandle(h);
  }
};

TEST_F(Walk, ProbesMatchingFilesUnderThePrefixAsTyped) {
  for (const char* name : {"a.dat", "b.dat", "c.txt"})
    make_file(dir + "\\" + name);
  ASSERT_TRUE(CreateDirectoryA((dir + "\\sub.dat").c_str(), nullptr));
  std::string forward = dir;
  std::replace(forward.begin(), forward.end(), '\\', '/');

  struct Case {
    std::string specification;
    std::set<std::string> expected;
  } cases[] = {
      {dir + "\\*.dat", {dir + "\\a.dat", dir + "\\b.dat"}},
      {forward + "/*.dat", {forward + "/a.dat", forward + "/b.dat"}},
      {dir + "\\*", {dir + "\\a.dat", dir + "\\b.dat", dir + "\\c.txt"}},   // not . and ..
      {dir + "/?.txt", {dir + "/c.txt"}},
      {dir + "\\b.dat", {dir + "\\b.dat"}},
      {dir + "\\sub.dat", {}},
      {dir + "\\missing\\*.dat", {}},
      {dir + "\\", {}},
  };
  for (const Case& k : cases)
    EXPECT_EQ(walked_path_set(k.specification), k.expected) << k.specification;
}

TEST_F(Walk, ADriveWithoutASeparatorNamesItsCurrentDirectory) {
  make_file(dir + "\\a.dat");
  char cwd[MAX_PATH];
  ASSERT_NE(GetCurrentDirectoryA(sizeof cwd, cwd), 0u);
  ASSERT_TRUE(SetCurrentDirectoryA(dir.c_str()));
  std::string drive = dir.substr(0, 2);   // "C:"
  std::vector<std::string> withDrive = walked_paths(drive + "*.dat");
  std::vector<std::string> bare = walked_paths("*.dat");
  ASSERT_TRUE(SetCurrentDirectoryA(cwd));
  EXPECT_EQ(withDrive, std::vector<std::string>{drive + "a.dat"});
  EXPECT_EQ(bare, std::vector<std::string>{"a.dat"});
}

TEST_F(Walk, APathThatDoesNotFitIsReportedWholeAndNotProbed) {
  // A directory whose path with its separator takes 200 bytes.
  std::string deep = dir;
  while (deep.size() < 199) {
    deep += "\\" + std::string(std::min<size_t>(50, 198 - deep.size()), 'd');
    ASSERT_TRUE(CreateDirectoryA(deep.c_str(), nullptr)) << deep;
  }
  ASSERT_EQ(deep.size(), 199u);
  std::string fits(55, 'f');    // 200 + 55 = 255
  std::string over(56, 'f');    // 256: one byte too many
  make_file(deep + "\\" + fits);
  make_file(deep + "\\" + over);

  std::string out;
  std::vector<std::string> keys = walked_paths(deep + "\\f*", &out);
  EXPECT_EQ(keys, std::vector<std::string>{deep + "\\" + fits});
  EXPECT_NE(out.find("File " + deep + "\\" + fits + " has no users.\n"), std::string::npos) << out;
  EXPECT_NE(out.find("Unable to Open File " + deep + "\\" + over + " - 11!\n"), std::string::npos) << out;
}

}  // namespace
