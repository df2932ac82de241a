// The call layer: what reaches the library, what comes back, and the trace.

#include <gtest/gtest.h>

#include "btrieve/request.h"
#include "btrieve/run_options.h"
#include "support/capture.h"
#include "support/fake_client.h"

namespace {

class CallLayer : public ::testing::Test {
 protected:
  void SetUp() override { fake_client::reset(); }
};

TEST_F(CallLayer, HandsTheBlockOverPartByPart) {
  unsigned char data[4] = {'a', 'b', 0, 0};
  char key[] = "x.dat";
  requestBlock.operation = OP_OPEN;
  requestBlock.dataBuffer = data;
  requestBlock.dataLength = 2;
  requestBlock.keyBuffer = key;
  requestBlock.keyNumber = OPEN_MODE_EXCLUSIVE;
  EXPECT_EQ(call_btrieve(&requestBlock), 0);

  ASSERT_EQ(fake_client::calls.size(), 1u);
  const RecordedCall& c = fake_client::calls[0];
  EXPECT_EQ(c.operation, OP_OPEN);
  EXPECT_EQ(c.positionBlock, requestBlock.positionBlock);
  EXPECT_EQ(c.dataBuffer, data);
  EXPECT_EQ(c.lengthSent, 2u);
  EXPECT_EQ(c.keyBuffer, key);
  EXPECT_EQ(c.keyLength, 255);
  EXPECT_EQ(static_cast<uint8_t>(c.keyNumber), 0xFC);
}

TEST_F(CallLayer, ReducesStatusesAndLengthsToSixteenBits) {
  struct Case {
    int statusFromLibrary;
    uint32_t lengthBack;
    int statusSeen;
    uint16_t lengthKept;
  } cases[] = {
      {88, 7, 88, 7},
      {65535, 40000, -1, 40000},
      {0x10058, 0x12345, 88, 0x2345},   // higher bits are dropped
      {0x8000, 0xFFFF, -32768, 0xFFFF},
  };
  for (const Case& k : cases) {
    fake_client::reset();
    fake_client::answer_with_length(k.statusFromLibrary, k.lengthBack);
    EXPECT_EQ(call_btrieve(&requestBlock), k.statusSeen) << k.statusFromLibrary;
    EXPECT_EQ(requestBlock.dataLength, k.lengthKept) << k.statusFromLibrary;
  }
}

TEST_F(CallLayer, KeepsOnlyTheLowByteOfTheKeyNumber) {
  uint16_t length = 0;
  for (int keyNumber : {-4, 0x1FC, 127, 128, -129}) {
    fake_client::reset();
    client_call(OP_OPEN, requestBlock.positionBlock, nullptr, &length, nullptr, keyNumber);
    EXPECT_EQ(static_cast<uint8_t>(fake_client::calls[0].keyNumber), keyNumber & 0xFF) << keyNumber;
  }
}

TEST_F(CallLayer, WithoutALengthAddressTheLibrarySeesZeroAndNothingComesBack) {
  fake_client::answer_with_length(0, 99);
  client_call(OP_RESET, requestBlock.positionBlock, nullptr, nullptr, nullptr, 0);
  EXPECT_EQ(fake_client::calls[0].lengthSent, 0u);
}

TEST_F(CallLayer, TracesNothingUnlessAsked) {
  Captured c = capture_both([] { call_btrieve(&requestBlock); });
  EXPECT_EQ(c.out, "");
  EXPECT_EQ(c.err, "");
}

TEST_F(CallLayer, TraceShowsTheLengthAsSentAndTheSignedStatus) {
  runOptions.trace = 1;
  requestBlock.operation = OP_OPEN;
  requestBlock.dataLength = 40000;
  requestBlock.keyNumber = OPEN_MODE_EXCLUSIVE;
  fake_client::answer_with_length(65535, 3);
  fake_client::answer(88);
  std::string out = capture_stream(stdout, [] {
    call_btrieve(&requestBlock);
    call_btrieve(&requestBlock);
  });
  // The written-back length shows only in the next request's line.
  EXPECT_EQ(out,
            "Op: 0, Buflen: 40000, KeyNum: -4 Status: -1\n"
            "Op: 0, Buflen: 3, KeyNum: -4 Status: 88\n");
}

}  // namespace
