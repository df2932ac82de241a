// Stands in for the client library: the fuzzed code links the call layer,
// but nothing in it is ever called.

#include <stdlib.h>

#include "btrieve/client_entry.h"

extern "C" int CLIENT_ENTRY_CALL client_entry(uint16_t, void*, void*, uint32_t*, void*, uint8_t, int8_t) {
  abort();
}
