// The switch pass: one table of command lines against what the pass leaves
// in the run's settings and writes on standard error.

#include <gtest/gtest.h>

#include <string.h>

#include <string>
#include <vector>

#include "btrieve/run_options.h"
#include "platform/platform.h"
#include "run/switches.h"
#include "support/capture.h"
#include "support/fake_client.h"

namespace {

// Which hosts a row holds for: where "/" begins a path, or where it always
// begins a switch.
enum Host { ANY_HOST, SLASH_PATHS, SLASH_SWITCHES };

struct Case {
  std::vector<std::string> arguments;   // after the command's name
  std::string err;
  FilterMode filter;
  int summaryOnly;
  int trace;
  std::string owner;                    // the first ownerLength bytes of ownerName
  bool goesOn;
  Host host;
};

const std::string ackAll = "Printing ALL results...\r\n";
const std::string ackNone = "Printing Files With No Users...\r\n";
const std::string ackUsers = "Printing Files With Users Active...\r\n";
const std::string ackSummary = "Printing Summary Only...\r\n";
const std::string ownerError = "Unable to parse owner name.\n";

std::string bytes(const char* s, size_t n) { return std::string(s, n); }

const std::string letters70 = std::string(35, 'a') + std::string(35, 'b');
const std::string digits64 = std::string(32, '4') + std::string(32, '1');

std::vector<Case> cases() {
  return {
      {{"a.dat"}, "", FILTER_ALL, 0, 0, "", true, ANY_HOST},
      {{"a.dat", "-n"}, ackNone, FILTER_NO_USERS, 0, 0, "", true, ANY_HOST},
      {{"a.dat", "/n"}, ackNone, FILTER_NO_USERS, 0, 0, "", true, ANY_HOST},
      {{"a.dat", "-N"}, ackNone, FILTER_NO_USERS, 0, 0, "", true, ANY_HOST},
      {{"a.dat", "/U"}, ackUsers, FILTER_USERS_ACTIVE, 0, 0, "", true, ANY_HOST},
      {{"a.dat", "/U", "/A"}, ackAll + ackUsers, FILTER_USERS_ACTIVE, 0, 0, "", true, ANY_HOST},
      {{"a.dat", "/NU"}, ackNone, FILTER_NO_USERS, 0, 0, "", true, ANY_HOST},
      {{"a.dat", "/Summary"}, ackSummary, FILTER_ALL, 1, 0, "", true, ANY_HOST},
      {{"a.dat", "/Debug"}, "", FILTER_ALL, 0, 1, "", true, ANY_HOST},
      {{"a.dat", "-d", "/D"}, "", FILTER_ALL, 0, 1, "", true, ANY_HOST},
      {{"a.dat", "/", "-"}, "", FILTER_ALL, 0, 0, "", true, ANY_HOST},
      {{"a.dat", "/P=name", "/?", "/\xe1"}, "", FILTER_ALL, 0, 0, "", true, ANY_HOST},
      {{"a.dat", "/U", "/N"}, ackNone + ackUsers, FILTER_USERS_ACTIVE, 0, 0, "", true, ANY_HOST},
      {{"a.dat", "/S", "/S"}, ackSummary + ackSummary, FILTER_ALL, 1, 0, "", true, ANY_HOST},
      {{"-s*.dat"}, ackSummary, FILTER_ALL, 1, 0, "", true, ANY_HOST},

      // Owner names.
      {{"a.dat", "/o=abc"}, "", FILTER_ALL, 0, 0, "abc", true, ANY_HOST},
      {{"a.dat", "/O="}, "", FILTER_ALL, 0, 0, "", true, ANY_HOST},
      {{"a.dat", "/O=" + letters70}, "", FILTER_ALL, 0, 0, letters70.substr(0, 66), true, ANY_HOST},
      {{"a.dat", "/O=alpha", "/O=beta"}, "", FILTER_ALL, 0, 0, "alpha", true, ANY_HOST},
      {{"a.dat", "/O=0x4G", "/O=abc"}, "", FILTER_ALL, 0, 0, "", true, ANY_HOST},
      {{"a.dat", "/O=0x41"}, "", FILTER_ALL, 0, 0, "A", true, ANY_HOST},
      {{"a.dat", "/O=0x4142"}, "", FILTER_ALL, 0, 0, "AB", true, ANY_HOST},
      {{"a.dat", "/O=0xaF"}, "", FILTER_ALL, 0, 0, "\xaf", true, ANY_HOST},
      {{"a.dat", "/O=0x00"}, "", FILTER_ALL, 0, 0, bytes("\0", 1), true, ANY_HOST},
      {{"a.dat", "/O=0x4100"}, "", FILTER_ALL, 0, 0, bytes("A\0", 2), true, ANY_HOST},
      {{"a.dat", "/O=0x"}, "", FILTER_ALL, 0, 0, "", true, ANY_HOST},
      {{"a.dat", "/O=0x414"}, "", FILTER_ALL, 0, 0, "", true, ANY_HOST},
      {{"a.dat", "/O=0x4G"}, "", FILTER_ALL, 0, 0, "", true, ANY_HOST},
      {{"a.dat", "/O=0X41"}, "", FILTER_ALL, 0, 0, "0X41", true, ANY_HOST},
      {{"a.dat", "/O=x41"}, "", FILTER_ALL, 0, 0, "x41", true, ANY_HOST},
      {{"a.dat", "/O=0x" + digits64}, "", FILTER_ALL, 0, 0, std::string(16, '\x44') + std::string(16, '\x11'), true,
       ANY_HOST},
      {{"a.dat", "/O=0x" + digits64 + "7"}, "", FILTER_ALL, 0, 0,
       std::string(16, '\x44') + std::string(16, '\x11'), true, ANY_HOST},

      // The one failure ends the pass where it stands.
      {{"a.dat", "/O"}, ownerError, FILTER_ALL, 0, 0, "", false, ANY_HOST},
      {{"a.dat", "/Owner"}, ownerError, FILTER_ALL, 0, 0, "", false, ANY_HOST},
      {{"a.dat", "/O:name"}, ownerError, FILTER_ALL, 0, 0, "", false, ANY_HOST},
      {{"a.dat", "/N", "/Owner"}, ownerError, FILTER_ALL, 0, 0, "", false, ANY_HOST},
      {{"a.dat", "/Owner", "/N"}, ackNone + ownerError, FILTER_NO_USERS, 0, 0, "", false, ANY_HOST},

      // Where "/" begins a path, the first argument is always a path, and a
      // later one is when a second "/" stands before its first "=".
      {{"/opt/data/*.dat"}, "", FILTER_ALL, 0, 0, "", true, SLASH_PATHS},
      {{"/data/x.dat"}, "", FILTER_ALL, 0, 0, "", true, SLASH_PATHS},
      {{"/U"}, "", FILTER_ALL, 0, 0, "", true, SLASH_PATHS},
      {{"a.dat", "/usr/db/*.dat"}, "", FILTER_ALL, 0, 0, "", true, SLASH_PATHS},
      {{"a.dat", "/srv/x.dat", "/U", "/O=a/b", "/x=/y"}, ackUsers, FILTER_USERS_ACTIVE, 0, 0, "a/b", true,
       SLASH_PATHS},
      {{"/U"}, ackUsers, FILTER_USERS_ACTIVE, 0, 0, "", true, SLASH_SWITCHES},
      {{"a.dat", "/usr/db/*.dat"}, ackUsers, FILTER_USERS_ACTIVE, 0, 0, "", true, SLASH_SWITCHES},
  };
}

TEST(Switches, Table) {
  for (const Case& k : cases()) {
    if ((k.host == SLASH_PATHS && !host_slash_begins_path) || (k.host == SLASH_SWITCHES && host_slash_begins_path))
      continue;
    fake_client::reset();
    std::vector<std::string> storage = {"dravolin"};
    storage.insert(storage.end(), k.arguments.begin(), k.arguments.end());
    std::vector<char*> argv;
    for (std::string& s : storage)
      argv.push_back(&s[0]);
    argv.push_back(nullptr);

    bool goesOn = false;
    std::string err = capture_stream(stderr, [&] {
      goesOn = parse_switches(static_cast<int>(storage.size()), argv.data());
    });

    std::string line;
    for (const std::string& a : k.arguments)
      line += "[" + a + "]";
    SCOPED_TRACE(line);
    EXPECT_EQ(err, k.err);
    EXPECT_EQ(goesOn, k.goesOn);
    EXPECT_EQ(runOptions.filter, k.filter);
    EXPECT_EQ(runOptions.summaryOnly, k.summaryOnly);
    EXPECT_EQ(runOptions.trace, k.trace);
    ASSERT_EQ(runOptions.ownerLength, static_cast<int32_t>(k.owner.size()));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(runOptions.ownerName), k.owner.size()), k.owner);
    if (!k.owner.empty()) {
      EXPECT_EQ(runOptions.ownerName[k.owner.size()], 0) << "the owner bytes are followed by a zero byte";
    }
  }
}

TEST(Switches, HexDecodingLeavesTheBufferAsItFoundItWhenRejectedEarly) {
  unsigned char buffer[8];
  memset(buffer, 0x77, sizeof buffer);
  EXPECT_EQ(decode_hex_owner("0x414", buffer), 0);   // odd length: untouched
  EXPECT_EQ(decode_hex_owner("0X41", buffer), 0);    // no lowercase x: untouched
  EXPECT_EQ(buffer[0], 0x77);
  EXPECT_EQ(decode_hex_owner("0x41zz", buffer), 0);  // a bad pair: earlier bytes stay, no zero byte
  EXPECT_EQ(buffer[0], 0x41);
  EXPECT_EQ(buffer[1], 0x77);
  EXPECT_EQ(decode_hex_owner("0x", buffer), 0);
  EXPECT_EQ(buffer[0], 0);
}

}  // namespace
