#include "client/client-common.h"

#include <cstring>
#include <map>

#include "btrieve/client_entry.h"

// Callers are single-threaded: the table of open files and the serial counter
// below are not guarded.

namespace {

// What the position block holds for an open file. The block is the caller's
// memory and may be stale, zeroed or forged, so nothing read from it is used
// until it matches an entry of the table of open files.
struct BlockRecord {
  uint64_t magic;
  uint64_t serial;
  HostFile file;
};
static_assert(sizeof(BlockRecord) <= POSITION_BLOCK_SIZE, "the record must fit in a position block");

constexpr uint64_t kBlockMagic = 0x6b6c62746e6c6364ULL;

// Every file open through the library: serial number to open file. Serials
// are never reused, so a block whose file was closed, by a close or a reset,
// never matches again.
std::map<uint64_t, HostFile> g_open_files;
uint64_t g_last_serial = 0;

// The key buffer holds a zero-terminated path of at most 255 characters with
// a key length of 255, so the terminator may be the byte just past the key
// length. Returns null for a name that cannot be used.
const char* path_from_key(const void* key, uint8_t key_length) {
  if (key == nullptr) return nullptr;
  const char* text = static_cast<const char*>(key);
  const void* terminator = std::memchr(text, '\0', size_t{key_length} + 1);
  if (terminator == nullptr || terminator == text) return nullptr;
  return text;
}

// Finds the open that a position block records; end() if it holds none.
std::map<uint64_t, HostFile>::iterator find_open(const void* block) {
  BlockRecord record;
  std::memcpy(&record, block, sizeof record);
  if (record.magic != kBlockMagic) return g_open_files.end();
  auto entry = g_open_files.find(record.serial);
  if (entry == g_open_files.end() || entry->second != record.file) return g_open_files.end();
  return entry;
}

int record_open(void* block, HostFile file) {
  const uint64_t serial = g_last_serial + 1;
  try {
    g_open_files.emplace(serial, file);
  } catch (...) {
    return STATUS_IO_ERROR;
  }
  g_last_serial = serial;
  const BlockRecord record{kBlockMagic, serial, file};
  std::memset(block, 0, POSITION_BLOCK_SIZE);
  std::memcpy(block, &record, sizeof record);
  return STATUS_SUCCESS;
}

int open_file(void* block, const void* key, uint8_t key_length, int8_t mode) {
  if (mode != OPEN_MODE_NORMAL && mode != OPEN_MODE_EXCLUSIVE) return STATUS_INVALID_OPERATION;
  // Nothing in the library can be reached without a position block; this is
  // the caller's fault, and no status fits better than an I/O error.
  if (block == nullptr) return STATUS_IO_ERROR;
  // A block that still records an open file is not overwritten: its file could
  // then only be closed by a reset.
  if (find_open(block) != g_open_files.end()) return STATUS_IO_ERROR;
  const char* path = path_from_key(key, key_length);
  if (path == nullptr) return STATUS_INVALID_FILE_NAME;

  HostFile file;
  int status = host_open(path, mode, &file);
  if (status != STATUS_SUCCESS) return status;
  status = record_open(block, file);
  if (status != STATUS_SUCCESS) host_close(file);
  return status;
}

int close_file(void* block) {
  // As for an open: no block, no file to find.
  if (block == nullptr) return STATUS_IO_ERROR;
  const auto entry = find_open(block);
  if (entry == g_open_files.end()) return STATUS_FILE_NOT_OPEN;
  const HostFile file = entry->second;
  g_open_files.erase(entry);
  std::memset(block, 0, POSITION_BLOCK_SIZE);
  host_close(file);
  return STATUS_SUCCESS;
}

int reset() {
  for (const auto& entry : g_open_files) host_close(entry.second);
  g_open_files.clear();
  return STATUS_SUCCESS;
}

}  // namespace

int handle_request(uint16_t operation, void* positionBlock, const void* keyBuffer, uint8_t keyLength,
                   int8_t keyNumber) {
  switch (operation) {
    case OP_OPEN:
      return open_file(positionBlock, keyBuffer, keyLength, keyNumber);
    case OP_CLOSE:
      return close_file(positionBlock);
    case OP_RESET:
      return reset();
    default:
      return STATUS_INVALID_OPERATION;
  }
}
