// The directory prefix of a filespec and the composition of a probe
// path from it and an entry's name. The input is the filespec, a zero
// byte, and the name. Every buffer is a block of exactly its size, so that
// any read or write past it is caught.

#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "btrieve/run_options.h"
#include "platform/platform.h"
#include "run/driver.h"

namespace {

void require(bool condition) {
  if (!condition)
    abort();
}

char* block_of(const char* bytes, size_t length) {
  char* block = static_cast<char*>(malloc(length + 1));
  memcpy(block, bytes, length);
  block[length] = 0;
  return block;
}

constexpr unsigned char kUntouched = 0xA5;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const char* text = reinterpret_cast<const char*>(data);
  const void* zero = memchr(text, 0, size);
  size_t filespecLength = zero ? static_cast<size_t>(static_cast<const char*>(zero) - text) : size;
  const char* rest = text + filespecLength + (zero ? 1 : 0);
  size_t nameLength = strnlen(rest, size - static_cast<size_t>(rest - text));
  char* filespec = block_of(text, filespecLength);
  char* name = block_of(rest, nameLength);

  size_t prefixLength = directory_prefix_length(filespec);
  require(prefixLength <= filespecLength);
  if (prefixLength == 0)
    require(memchr(filespec, '/', filespecLength) == nullptr);
  else
    require(filespec[prefixLength - 1] == '/' &&
            memchr(filespec + prefixLength, '/', filespecLength - prefixLength) == nullptr);

  // The walk takes the prefix from a filespec of at most 255
  // characters; a longer prefix must be refused all the same.
  char* prefix = block_of(filespec, prefixLength);
  char* path = static_cast<char*>(malloc(PATH_BUFFER_SIZE));
  memset(path, kUntouched, PATH_BUFFER_SIZE);
  bool fits = compose_probe_path(path, prefix, prefixLength, name);
  require(fits == (prefixLength + nameLength <= PATH_BUFFER_SIZE - 1));
  size_t used = 0;
  if (fits) {
    require(memcmp(path, prefix, prefixLength) == 0);
    require(memcmp(path + prefixLength, name, nameLength) == 0);
    require(path[prefixLength + nameLength] == 0);
    used = prefixLength + nameLength + 1;
  }
  for (size_t i = used; i < PATH_BUFFER_SIZE; ++i)
    require(static_cast<unsigned char>(path[i]) == kUntouched);

  free(path);
  free(prefix);
  free(name);
  free(filespec);
  return 0;
}
