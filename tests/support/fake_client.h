// A stand-in for the client library's call entry that records every request
// and answers with scripted statuses and length write-backs.
#pragma once

#include <stdint.h>

#include <deque>
#include <string>
#include <vector>

struct RecordedCall {
  uint16_t operation;
  void* positionBlock;
  void* dataBuffer;
  uint32_t lengthSent;
  std::string dataBytes;     // lengthSent + 1 bytes of the data buffer, when there is one
  void* keyBuffer;
  std::string key;           // the key buffer up to its zero byte, when there is one
  uint8_t keyLength;
  int8_t keyNumber;
  std::string positionBytes; // the position block's 128 bytes as sent
};

struct ScriptedAnswer {
  int status;
  bool writeLength;
  uint32_t lengthBack;
};

namespace fake_client {
extern std::vector<RecordedCall> calls;
extern std::deque<ScriptedAnswer> answers;   // taken in order; status 0 when empty
extern std::vector<std::string> keysAnswered88;  // paths answered with 88 when no script is left
// Forgets the calls and the script, and zeroes the command's process-wide
// records, so that each test starts as a fresh process would.
void reset();
void answer(int status);
void answer_with_length(int status, uint32_t lengthBack);
}  // namespace fake_client
