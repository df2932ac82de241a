// dravolin-hold FILE...: opens every named file through the client library in
// normal mode, as another user of the data files would, and holds them until
// standard input closes or the process is signalled. "ready" on standard
// output tells that every file has been tried.

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "btrieve/client_entry.h"

namespace {

using PositionBlock = std::array<unsigned char, POSITION_BLOCK_SIZE>;

void usage() { std::fputs("usage: dravolin-hold FILE...\n", stderr); }

int open_shared(PositionBlock& block, const char* path) {
  // The key buffer carries up to 255 characters and the terminator. A longer
  // path is sent unterminated, and the library refuses it as an invalid name.
  std::array<char, 256> key{};
  std::memcpy(key.data(), path, std::min(std::strlen(path), key.size()));
  uint32_t length = 0;
  return client_entry(OP_OPEN, block.data(), nullptr, &length, key.data(), 255, OPEN_MODE_NORMAL);
}

// Opens every file and reports those that fail; true if all are open.
bool open_all(char** paths, std::vector<PositionBlock>& blocks) {
  bool all_open = true;
  for (size_t i = 0; i < blocks.size(); ++i) {
    const int status = open_shared(blocks[i], paths[i]);
    if (status != STATUS_SUCCESS) {
      std::fprintf(stderr, "dravolin-hold: cannot open %s: status %d\n", paths[i], status);
      all_open = false;
    }
  }
  return all_open;
}

void announce_ready() {
  std::fputs("ready\n", stdout);
  std::fflush(stdout);
}

void wait_for_end_of_input() {
  std::array<char, 256> buffer;
  while (std::fread(buffer.data(), 1, buffer.size(), stdin) > 0) {
  }
}

void close_all() {
  uint32_t length = 0;
  client_entry(OP_RESET, nullptr, nullptr, &length, nullptr, 255, 0);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    usage();
    return 2;
  }
  std::vector<PositionBlock> blocks(static_cast<size_t>(argc - 1));
  const bool all_open = open_all(argv + 1, blocks);
  announce_ready();
  wait_for_end_of_input();
  close_all();
  return all_open ? 0 : 1;
}
