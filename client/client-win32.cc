// A stand-in for the engine's client library on Windows, built as
// wbtrv32.dll so that the command can be tested under Wine. This DLL exists
// for tests only: never copy it beside a real client installation, where it
// would take the real library's place and answer for files it knows nothing
// about.
//
// It answers the one question the command asks through the platform's own
// share modes: an exclusive open shares the file with nobody and so succeeds
// only when nobody else has it open; a normal open shares reading and writing
// with other normal opens. Statuses, and the data length that is never written
// back, are those of the POSIX library.
//
// Callers are single-threaded: the table of open files and the serial counter
// below are not guarded.

#include <windows.h>

#include <cstring>
#include <map>

#include "btrieve/client_entry.h"

namespace {

// What the position block holds for an open file. The block is the caller's
// memory and may be stale, zeroed or forged, so nothing read from it is used
// until it matches an entry of the table of open files.
struct BlockRecord {
  uint64_t magic;
  uint64_t serial;
  HANDLE handle;
};
static_assert(sizeof(BlockRecord) <= POSITION_BLOCK_SIZE, "the record must fit in a position block");

constexpr uint64_t kBlockMagic = 0x6b6c62746e6c6364ULL;

// Every file open through the library: serial number to handle. Serials are
// never reused, so a block whose file was closed, by a close or a reset,
// never matches again.
std::map<uint64_t, HANDLE> g_open_files;
uint64_t g_last_serial = 0;

int status_from_error(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
      return STATUS_FILE_NOT_FOUND;
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_FILENAME_EXCED_RANGE:
      return STATUS_INVALID_FILE_NAME;
    case ERROR_ACCESS_DENIED:
      return STATUS_PERMISSION_DENIED;
    case ERROR_SHARING_VIOLATION:
      return STATUS_FILE_IN_USE;
    case ERROR_TOO_MANY_OPEN_FILES:
      return STATUS_NO_HANDLES;
    default:
      return STATUS_IO_ERROR;
  }
}

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
std::map<uint64_t, HANDLE>::iterator find_open(const void* block) {
  BlockRecord record;
  std::memcpy(&record, block, sizeof record);
  if (record.magic != kBlockMagic) return g_open_files.end();
  auto entry = g_open_files.find(record.serial);
  if (entry == g_open_files.end() || entry->second != record.handle) return g_open_files.end();
  return entry;
}

int record_open(void* block, HANDLE handle) {
  const uint64_t serial = g_last_serial + 1;
  try {
    g_open_files.emplace(serial, handle);
  } catch (...) {
    return STATUS_IO_ERROR;
  }
  g_last_serial = serial;
  const BlockRecord record{kBlockMagic, serial, handle};
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

  // A directory is never opened at all.
  const DWORD attributes = GetFileAttributesA(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) return status_from_error(GetLastError());
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return STATUS_NOT_A_DATA_FILE;

  // Read access alone, and never created or truncated: a run must not change
  // a byte or a time stamp of a data file.
  const DWORD share = mode == OPEN_MODE_EXCLUSIVE ? 0 : FILE_SHARE_READ | FILE_SHARE_WRITE;
  const HANDLE handle =
      CreateFileA(path, GENERIC_READ, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return status_from_error(GetLastError());
  // A device or a pipe is let go again at once.
  if (GetFileType(handle) != FILE_TYPE_DISK) {
    CloseHandle(handle);
    return STATUS_NOT_A_DATA_FILE;
  }
  const int status = record_open(block, handle);
  if (status != STATUS_SUCCESS) CloseHandle(handle);
  return status;
}

int close_file(void* block) {
  // As for an open: no block, no file to find.
  if (block == nullptr) return STATUS_IO_ERROR;
  const auto entry = find_open(block);
  if (entry == g_open_files.end()) return STATUS_FILE_NOT_OPEN;
  const HANDLE handle = entry->second;
  g_open_files.erase(entry);
  std::memset(block, 0, POSITION_BLOCK_SIZE);
  CloseHandle(handle);
  return STATUS_SUCCESS;
}

int reset() {
  for (const auto& entry : g_open_files) CloseHandle(entry.second);
  g_open_files.clear();
  return STATUS_SUCCESS;
}

int dispatch(uint16_t operation, void* block, const void* key, uint8_t key_length, int8_t key_number) {
  switch (operation) {
    case OP_OPEN:
      return open_file(block, key, key_length, key_number);
    case OP_CLOSE:
      return close_file(block);
    case OP_RESET:
      return reset();
    default:
      return STATUS_INVALID_OPERATION;
  }
}

}  // namespace

// Exported at ordinal 1 and by no name (client-win32.def). The data buffer
// would carry an owner name, which these files do not have; the data length
// is never written by these operations.
extern "C" int CLIENT_ENTRY_CALL client_entry(uint16_t operation, void* positionBlock, void* /*dataBuffer*/,
                                              uint32_t* /*dataLength*/, void* keyBuffer, uint8_t keyLength,
                                              int8_t keyNumber) {
  // The caller's last error is left as it was: the status is the whole answer.
  const DWORD saved_error = GetLastError();
  const int status = dispatch(operation, positionBlock, keyBuffer, keyLength, keyNumber);
  SetLastError(saved_error);
  return status;
}
