// The single request block and the one road to the client library.
#pragma once

#include <stdint.h>

#include "btrieve/client_entry.h"

// Key-buffer length told to the library on every request, whatever the key
// buffer holds and also when there is none.
constexpr uint8_t KEY_LENGTH_PASSED = 255;

struct RequestBlock {
  uint16_t operation;                                 // operation code
  unsigned char positionBlock[POSITION_BLOCK_SIZE];   // the library's own; never touched here
  void* dataBuffer;                                   // data sent with the request, or null
  uint16_t dataLength;                                // bytes sent; the library may write it back
  void* keyBuffer;                                    // key sent with the request, or null
  int16_t keyNumber;                                  // key number; the open mode of OP_OPEN
};

// The process's one request block; zero at start and never cleared.
extern RequestBlock requestBlock;

// Issues the block, tracing it when asked; returns the status as a signed
// 16-bit number widened to int.
int call_btrieve(RequestBlock* block);

// Hands the parts of a request to the library's entry and returns the low
// 16 bits of its status. Only call_btrieve calls it.
uint16_t client_call(uint16_t operation, void* positionBlock, void* dataBuffer, uint16_t* dataLength,
                     void* keyBuffer, int keyNumber);
