// The one call entry of the client library, with the operation codes, open
// modes and statuses that the command and our own client libraries agree on.
// This is the only header that the command shares with a client library.
#pragma once

#include <stdint.h>

// The real library on 32-bit Windows is called with the stdcall convention;
// everywhere else the platform's default convention applies.
#if defined(_WIN32)
#define CLIENT_ENTRY_CALL __stdcall
#else
#define CLIENT_ENTRY_CALL
#endif

// Size of the position block: the library's own record of an open file.
constexpr int POSITION_BLOCK_SIZE = 128;

// Operation codes.
constexpr uint16_t OP_OPEN = 0;
constexpr uint16_t OP_CLOSE = 1;
constexpr uint16_t OP_RESET = 28;

// Open modes, carried in the key number of OP_OPEN.
constexpr int8_t OPEN_MODE_NORMAL = 0;
constexpr int8_t OPEN_MODE_EXCLUSIVE = -4;

// Statuses.
constexpr int STATUS_SUCCESS = 0;
constexpr int STATUS_INVALID_OPERATION = 1;
constexpr int STATUS_IO_ERROR = 2;
constexpr int STATUS_FILE_NOT_OPEN = 3;
constexpr int STATUS_INVALID_FILE_NAME = 11;
constexpr int STATUS_FILE_NOT_FOUND = 12;
constexpr int STATUS_NOT_A_DATA_FILE = 30;
constexpr int STATUS_NO_HANDLES = 86;
constexpr int STATUS_FILE_IN_USE = 88;
constexpr int STATUS_PERMISSION_DENIED = 94;

// The call entry. Arguments, in order: the operation code; the 128-byte
// position block, read and written by the library; the data buffer; the
// 32-bit data length, read as the number of bytes sent and possibly
// overwritten with the length reported back; the key buffer; the key length;
// the key number (the open mode of OP_OPEN). A path in the key buffer may be
// as long as the key length, so the buffer holds one byte more for its
// terminator. The result is the status, of which callers keep the low 16 bits.
extern "C" int CLIENT_ENTRY_CALL client_entry(uint16_t operation, void* positionBlock, void* dataBuffer,
                                              uint32_t* dataLength, void* keyBuffer, uint8_t keyLength,
                                              int8_t keyNumber);
