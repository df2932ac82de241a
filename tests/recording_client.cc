// A client library for tests that writes every request it is handed to the
// file named by DRAVOLIN_RECORD, one line a request, and answers 88 to the
// open of any path that contains "busy", 0 to everything else.

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "btrieve/client_entry.h"

extern "C" __attribute__((visibility("default"))) int client_entry(uint16_t operation, void*, void* dataBuffer,
                                                                   uint32_t* dataLength, void* keyBuffer,
                                                                   uint8_t keyLength, int8_t keyNumber) {
  const char* key = static_cast<const char*>(keyBuffer);
  if (const char* name = getenv("DRAVOLIN_RECORD")) {
    if (FILE* log = fopen(name, "a")) {
      fprintf(log, "op=%u len=%u data=", operation, *dataLength);
      const unsigned char* data = static_cast<const unsigned char*>(dataBuffer);
      for (uint32_t i = 0; data && i <= *dataLength; ++i)
        fprintf(log, "%02x", data[i]);
      fprintf(log, " key=%s keylen=%u keynum=%d\n", key ? key : "(null)", keyLength, keyNumber);
      fclose(log);
    }
  }
  if (operation == OP_OPEN && key && strstr(key, "busy"))
    return STATUS_FILE_IN_USE;
  return STATUS_SUCCESS;
}
