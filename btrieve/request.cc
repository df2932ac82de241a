#include "btrieve/request.h"

#include <stdio.h>

#include "btrieve/run_options.h"

RequestBlock requestBlock;

// Defined here rather than in run control, so that the engine access code
// links on its own; only the switch pass writes it.
RunOptions runOptions;

int call_btrieve(RequestBlock* block) {
  if (runOptions.trace)
    printf("Op: %d, Buflen: %d, KeyNum: %d ", block->operation, block->dataLength, block->keyNumber);
  uint16_t result = client_call(block->operation, block->positionBlock, block->dataBuffer, &block->dataLength,
                                block->keyBuffer, block->keyNumber);
  // Statuses are signed 16-bit numbers: 65535 reads as -1.
  int status = result >= 0x8000 ? result - 0x10000 : result;
  if (runOptions.trace)
    printf("Status: %d\n", status);
  return status;
}

uint16_t client_call(uint16_t operation, void* positionBlock, void* dataBuffer, uint16_t* dataLength,
                     void* keyBuffer, int keyNumber) {
  // Only the low eight bits of the key number reach the library, as a
  // signed byte: -4 goes out as 0xFC.
  int low = keyNumber & 0xFF;
  int8_t keyByte = static_cast<int8_t>(low >= 0x80 ? low - 0x100 : low);

  // The library reads and writes a 32-bit length; the block holds 16 bits.
  uint32_t length = dataLength ? *dataLength : 0;
  int result = client_entry(operation, positionBlock, dataBuffer, &length, keyBuffer, KEY_LENGTH_PASSED, keyByte);
  if (dataLength)
    *dataLength = static_cast<uint16_t>(length & 0xFFFF);
  return static_cast<uint16_t>(static_cast<unsigned>(result) & 0xFFFF);
}
