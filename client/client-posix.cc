// The local client library. It answers one question about a data file: does
// any other process have it open? An exclusive open succeeds only when nobody
// else has the file; a normal open shares it with other normal opens.
//
// Callers are single-threaded: the table of open files and the serial counter
// below are not guarded.

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <map>

// Only the call entry is exported; everything else stays inside the library.
#pragma GCC visibility push(default)
#include "btrieve/client_entry.h"
#pragma GCC visibility pop

namespace {

// What the position block holds for an open file. The block is the caller's
// memory and may be stale, zeroed or forged, so nothing read from it is used
// until it matches an entry of the table of open files.
struct BlockRecord {
  uint64_t magic;
  uint64_t serial;
  int32_t fd;
};
static_assert(sizeof(BlockRecord) <= POSITION_BLOCK_SIZE, "the record must fit in a position block");

constexpr uint64_t kBlockMagic = 0x6b6c62746e6c6364ULL;

// Every file open through the library: serial number to descriptor. Serials
// are never reused, so a block whose file was closed, by a close or a reset,
// never matches again.
std::map<uint64_t, int> g_open_files;
uint64_t g_last_serial = 0;

// Closes a descriptor when it goes out of scope, unless released: every early
// return of an open leaves nothing behind.
class DescriptorGuard {
 public:
  explicit DescriptorGuard(int fd) : fd_(fd) {}
  ~DescriptorGuard() {
    if (fd_ >= 0) close(fd_);
  }
  DescriptorGuard(const DescriptorGuard&) = delete;
  DescriptorGuard& operator=(const DescriptorGuard&) = delete;
  void release() { fd_ = -1; }

 private:
  int fd_;
};

int status_from_errno(int error) {
  switch (error) {
    case ENOENT:
    case ENOTDIR:
    case ELOOP:
      return STATUS_FILE_NOT_FOUND;
    case ENAMETOOLONG:
      return STATUS_INVALID_FILE_NAME;
    case EACCES:
    case EPERM:
      return STATUS_PERMISSION_DENIED;
    case EMFILE:
    case ENFILE:
      return STATUS_NO_HANDLES;
    default:
      return STATUS_IO_ERROR;
  }
}

bool would_block(int error) { return error == EAGAIN || error == EWOULDBLOCK; }

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
std::map<uint64_t, int>::iterator find_open(const void* block) {
  BlockRecord record;
  std::memcpy(&record, block, sizeof record);
  if (record.magic != kBlockMagic) return g_open_files.end();
  auto entry = g_open_files.find(record.serial);
  if (entry == g_open_files.end() || entry->second != record.fd) return g_open_files.end();
  return entry;
}

// Tests whether any other open file description of the file exists. The
// kernel refuses a write lease with EAGAIN while there is one, whoever opened
// it and however, read-only included. The lease is dropped again at once: while
// it is held, another process's open of the file would wait for it.
int test_for_other_openers(int fd) {
  // A lease break is announced with SIGIO unless told otherwise, and SIGIO
  // ends the process by default. SIGURG is ignored by default, so a break
  // that comes while the lease is held does no harm.
  if (fcntl(fd, F_SETSIG, SIGURG) != 0) return STATUS_IO_ERROR;
  if (fcntl(fd, F_SETLEASE, F_WRLCK) == 0) {
    if (fcntl(fd, F_SETLEASE, F_UNLCK) != 0) return STATUS_IO_ERROR;
    return STATUS_SUCCESS;
  }
  if (would_block(errno)) return STATUS_FILE_IN_USE;
  // No lease here: EACCES when we neither own the file nor have CAP_LEASE,
  // EINVAL and others where the file system has no leases. The flock alone
  // answers then, and it sees only other users of this library.
  return STATUS_SUCCESS;
}

// flock locks belong to the open file description and work on a read-only
// descriptor. Classic POSIX record locks would not do: closing any descriptor
// of the file anywhere in the process drops them.
int take_exclusive(int fd) {
  // The flock comes first and is held until the close, so that no other user
  // of this library can open the file while the lease tests for the rest.
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) return would_block(errno) ? STATUS_FILE_IN_USE : STATUS_IO_ERROR;
  return test_for_other_openers(fd);
}

int take_shared(int fd) {
  if (flock(fd, LOCK_SH | LOCK_NB) != 0) return would_block(errno) ? STATUS_FILE_IN_USE : STATUS_IO_ERROR;
  return STATUS_SUCCESS;
}

int record_open(void* block, int fd) {
  const uint64_t serial = g_last_serial + 1;
  try {
    g_open_files.emplace(serial, fd);
  } catch (...) {
    return STATUS_IO_ERROR;
  }
  g_last_serial = serial;
  const BlockRecord record{kBlockMagic, serial, fd};
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

  // Nothing but a regular file is opened: opening a FIFO would block, and a
  // device may act on being opened.
  struct stat info;
  if (stat(path, &info) != 0) return status_from_errno(errno);
  if (!S_ISREG(info.st_mode)) return STATUS_NOT_A_DATA_FILE;

  // Read-only and never created or truncated: a run must not change a byte or
  // a time stamp of a data file. O_NONBLOCK keeps the open from waiting on
  // another program's lease; it fails with EWOULDBLOCK then, and that program
  // has the file.
  const int fd = open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return would_block(errno) ? STATUS_FILE_IN_USE : status_from_errno(errno);
  DescriptorGuard guard(fd);
  // The path may have been swapped for something else since the stat.
  if (fstat(fd, &info) != 0) return STATUS_IO_ERROR;
  if (!S_ISREG(info.st_mode)) return STATUS_NOT_A_DATA_FILE;

  int status = mode == OPEN_MODE_EXCLUSIVE ? take_exclusive(fd) : take_shared(fd);
  if (status == STATUS_SUCCESS) status = record_open(block, fd);
  if (status == STATUS_SUCCESS) guard.release();
  return status;
}

int close_file(void* block) {
  // As for an open: no block, no file to find.
  if (block == nullptr) return STATUS_IO_ERROR;
  const auto entry = find_open(block);
  if (entry == g_open_files.end()) return STATUS_FILE_NOT_OPEN;
  const int fd = entry->second;
  g_open_files.erase(entry);
  std::memset(block, 0, POSITION_BLOCK_SIZE);
  // The close releases the flock. Its result is not looked at: Linux frees the
  // descriptor whatever it reports, and nothing was written that could be lost.
  close(fd);
  return STATUS_SUCCESS;
}

int reset() {
  for (const auto& entry : g_open_files) close(entry.second);
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

// The data buffer would carry an owner name, which these files do not have;
// the data length is never written by these operations.
extern "C" int CLIENT_ENTRY_CALL client_entry(uint16_t operation, void* positionBlock, void* /*dataBuffer*/,
                                              uint32_t* /*dataLength*/, void* keyBuffer, uint8_t keyLength,
                                              int8_t keyNumber) {
  // The caller's errno is left as it was: the status is the whole answer.
  const int saved_errno = errno;
  const int status = dispatch(operation, positionBlock, keyBuffer, keyLength, keyNumber);
  errno = saved_errno;
  return status;
}
