#include "support/fake_client.h"

#include <string.h>

#include "btrieve/client_entry.h"
#include "btrieve/request.h"
#include "btrieve/run_options.h"

namespace fake_client {
std::vector<RecordedCall> calls;
std::deque<ScriptedAnswer> answers;
std::vector<std::string> keysAnswered88;

void reset() {
  calls.clear();
  answers.clear();
  keysAnswered88.clear();
  memset(&requestBlock, 0, sizeof requestBlock);
  memset(&runOptions, 0, sizeof runOptions);
}

void answer(int status) { answers.push_back({status, false, 0}); }

void answer_with_length(int status, uint32_t lengthBack) { answers.push_back({status, true, lengthBack}); }
}  // namespace fake_client

extern "C" int CLIENT_ENTRY_CALL client_entry(uint16_t operation, void* positionBlock, void* dataBuffer,
                                              uint32_t* dataLength, void* keyBuffer, uint8_t keyLength,
                                              int8_t keyNumber) {
  RecordedCall call{};
  call.operation = operation;
  call.positionBlock = positionBlock;
  call.dataBuffer = dataBuffer;
  call.lengthSent = *dataLength;
  if (dataBuffer)
    call.dataBytes.assign(static_cast<const char*>(dataBuffer), *dataLength + 1);
  call.keyBuffer = keyBuffer;
  if (keyBuffer)
    call.key = static_cast<const char*>(keyBuffer);
  call.keyLength = keyLength;
  call.keyNumber = keyNumber;
  call.positionBytes.assign(static_cast<const char*>(positionBlock), POSITION_BLOCK_SIZE);
  fake_client::calls.push_back(call);

  if (!fake_client::answers.empty()) {
    ScriptedAnswer a = fake_client::answers.front();
    fake_client::answers.pop_front();
    if (a.writeLength)
      *dataLength = a.lengthBack;
    return a.status;
  }
  for (const std::string& busy : fake_client::keysAnswered88)
    if (operation == OP_OPEN && call.key == busy)
      return STATUS_FILE_IN_USE;
  return STATUS_SUCCESS;
}
