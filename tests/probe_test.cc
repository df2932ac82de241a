// The probe's decision table, what the block carries between requests, and
// the reset.

#include <gtest/gtest.h>

#include <string.h>

#include <string>

#include "btrieve/probe.h"
#include "btrieve/request.h"
#include "support/capture.h"
#include "support/fake_client.h"

namespace {

class Probe : public ::testing::Test {
 protected:
  void SetUp() override { fake_client::reset(); }
};

TEST_F(Probe, DecisionTable) {
  struct Case {
    int status;
    FilterMode filter;
    int summaryOnly;
    const char* line;
    bool closed;
    ProbeOutcome outcome;
  } cases[] = {
      {0, FILTER_ALL, 0, "File a.dat has no users.\n", true, OUTCOME_NO_USERS},
      {0, FILTER_NO_USERS, 0, "File a.dat has no users.\n", true, OUTCOME_NO_USERS},
      {0, FILTER_USERS_ACTIVE, 0, "", true, OUTCOME_NOT_COUNTED},
      {0, FILTER_ALL, 1, "", true, OUTCOME_NO_USERS},
      {88, FILTER_ALL, 0, "File a.dat has users active.\n", false, OUTCOME_USERS_ACTIVE},
      {88, FILTER_NO_USERS, 0, "", false, OUTCOME_NOT_COUNTED},
      {88, FILTER_USERS_ACTIVE, 0, "File a.dat has users active.\n", false, OUTCOME_USERS_ACTIVE},
      {88, FILTER_USERS_ACTIVE, 1, "", false, OUTCOME_USERS_ACTIVE},
      {12, FILTER_ALL, 0, "Unable to Open File a.dat - 12!\n", false, OUTCOME_NOT_COUNTED},
      {94, FILTER_NO_USERS, 1, "Unable to Open File a.dat - 94!\n", false, OUTCOME_NOT_COUNTED},
      {-1, FILTER_USERS_ACTIVE, 1, "Unable to Open File a.dat - -1!\n", false, OUTCOME_NOT_COUNTED},
  };
  for (const Case& k : cases) {
    fake_client::reset();
    runOptions.filter = k.filter;
    runOptions.summaryOnly = k.summaryOnly;
    fake_client::answer(k.status);
    ProbeOutcome outcome = OUTCOME_NOT_COUNTED;
    std::string out = capture_stream(stdout, [&] { outcome = probe_file("a.dat"); });
    SCOPED_TRACE(testing::Message() << "status " << k.status << " filter " << k.filter << " summary " << k.summaryOnly);
    EXPECT_EQ(out, k.line);
    EXPECT_EQ(outcome, k.outcome);
    ASSERT_EQ(fake_client::calls.size(), k.closed ? 2u : 1u);
    if (k.closed) {
      EXPECT_EQ(fake_client::calls[1].operation, OP_CLOSE);
    }
  }
}

TEST_F(Probe, TheCloseIsTheOpensBlockAsTheLibraryLeftIt) {
  runOptions.ownerLength = 3;
  memcpy(runOptions.ownerName, "abc", 4);
  fake_client::answer_with_length(0, 41);
  capture_stream(stdout, [] { probe_file("dir/a.dat"); });

  ASSERT_EQ(fake_client::calls.size(), 2u);
  const RecordedCall& open = fake_client::calls[0];
  const RecordedCall& close = fake_client::calls[1];
  EXPECT_EQ(open.operation, OP_OPEN);
  EXPECT_EQ(open.key, "dir/a.dat");
  EXPECT_EQ(open.keyNumber, OPEN_MODE_EXCLUSIVE);
  EXPECT_EQ(open.lengthSent, 3u);
  EXPECT_EQ(close.operation, OP_CLOSE);
  EXPECT_EQ(close.keyNumber, OPEN_MODE_EXCLUSIVE);
  EXPECT_EQ(close.keyBuffer, open.keyBuffer);
  EXPECT_EQ(close.key, "dir/a.dat");
  EXPECT_EQ(close.dataBuffer, open.dataBuffer);
  EXPECT_EQ(close.lengthSent, 41u);
  EXPECT_EQ(close.keyLength, 255);
}

TEST_F(Probe, SendsTheOwnerBytesAndTheByteAfterThem) {
  struct Case {
    std::string owner;   // the owner bytes followed by the byte after them
    int32_t length;
  } cases[] = {
      {std::string("\0", 1), 0},
      {std::string("abc\0", 4), 3},
      {std::string("\0\x41\0", 3), 2},   // zero bytes are owner bytes too
      {std::string(66, 'z') + '\0', 66},
  };
  for (const Case& k : cases) {
    fake_client::reset();
    memcpy(runOptions.ownerName, k.owner.data(), k.owner.size());
    runOptions.ownerLength = k.length;
    fake_client::answer(88);
    capture_stream(stdout, [] { probe_file("a.dat"); });
    EXPECT_EQ(fake_client::calls[0].lengthSent, static_cast<uint32_t>(k.length));
    EXPECT_EQ(fake_client::calls[0].dataBytes, k.owner);
  }
}

TEST_F(Probe, AFullLengthPathIsProbedAndALongerOneIsReportedWhole) {
  std::string path255(255, 'p');
  std::string path256(256, 'q');
  std::string out = capture_stream(stdout, [&] {
    probe_file(path255.c_str());
    probe_file(path256.c_str());
  });
  ASSERT_EQ(fake_client::calls.size(), 2u);   // the open and close of the first
  EXPECT_EQ(fake_client::calls[0].key, path255);
  EXPECT_EQ(out, "File " + path255 + " has no users.\nUnable to Open File " + path256 + " - 11!\n");
}

TEST_F(Probe, OnlyThePositionBlockCarriesOverToTheNextOpen) {
  fake_client::answer_with_length(0, 9);
  fake_client::answer(0);
  fake_client::answer(88);
  capture_stream(stdout, [] {
    probe_file("a.dat");
    // The library's record of the last file stays in the block.
    requestBlock.positionBlock[0] = 0x5A;
    probe_file("b.dat");
  });
  const RecordedCall& secondOpen = fake_client::calls[2];
  EXPECT_EQ(secondOpen.operation, OP_OPEN);
  EXPECT_EQ(secondOpen.lengthSent, 0u);
  EXPECT_EQ(secondOpen.key, "b.dat");
  EXPECT_EQ(secondOpen.positionBytes[0], 0x5A);
}

TEST_F(Probe, ResetOfARunThatProbedNothing) {
  runOptions.trace = 1;
  fake_client::answer(0);
  std::string out = capture_stream(stdout, [] { reset_client(); });
  ASSERT_EQ(fake_client::calls.size(), 1u);
  const RecordedCall& reset = fake_client::calls[0];
  EXPECT_EQ(reset.operation, OP_RESET);
  EXPECT_EQ(reset.dataBuffer, nullptr);
  EXPECT_EQ(reset.lengthSent, 0u);
  EXPECT_EQ(reset.keyBuffer, nullptr);
  EXPECT_EQ(reset.keyNumber, 0);
  EXPECT_EQ(reset.keyLength, 255);
  EXPECT_EQ(reset.positionBytes, std::string(POSITION_BLOCK_SIZE, '\0'));
  EXPECT_EQ(out, "Op: 28, Buflen: 0, KeyNum: 0 Status: 0\n");
}

TEST_F(Probe, ResetKeepsTheDataBufferAndTheLastLength) {
  fake_client::answer_with_length(88, 5);
  capture_stream(stdout, [] {
    probe_file("a.dat");
    reset_client();
  });
  const RecordedCall& reset = fake_client::calls[1];
  EXPECT_EQ(reset.operation, OP_RESET);
  EXPECT_EQ(reset.dataBuffer, fake_client::calls[0].dataBuffer);
  EXPECT_EQ(reset.lengthSent, 5u);
  EXPECT_EQ(reset.keyBuffer, nullptr);
  EXPECT_EQ(reset.keyNumber, 0);
}

TEST_F(Probe, TracedFreeFileInterleavesOpenLineAndClose) {
  runOptions.trace = 1;
  std::string out = capture_stream(stdout, [] { probe_file("a.dat"); });
  EXPECT_EQ(out,
            "Op: 0, Buflen: 0, KeyNum: -4 Status: 0\n"
            "File a.dat has no users.\n"
            "Op: 1, Buflen: 0, KeyNum: -4 Status: 0\n");
}

}  // namespace
