// The local client library. It answers one question about a data file: does
// any other process have it open? An exclusive open succeeds only when nobody
// else has the file; a normal open shares it with other normal opens.

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

// Only the call entry is exported; everything else stays inside the library.
#pragma GCC visibility push(default)
#include "btrieve/client_entry.h"
#pragma GCC visibility pop
#include "client/client-common.h"

namespace {

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

}  // namespace

int host_open(const char* path, int8_t mode, HostFile* file) {
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

  const int status = mode == OPEN_MODE_EXCLUSIVE ? take_exclusive(fd) : take_shared(fd);
  if (status == STATUS_SUCCESS) {
    guard.release();
    *file = fd;
  }
  return status;
}

// The close releases the flock. Its result is not looked at: Linux frees the
// descriptor whatever it reports, and nothing was written that could be lost.
void host_close(HostFile file) {
  close(static_cast<int>(file));
}

// The data buffer would carry an owner name, which these files do not have;
// the data length is never written by these operations.
extern "C" int CLIENT_ENTRY_CALL client_entry(uint16_t operation, void* positionBlock, void* /*dataBuffer*/,
                                              uint32_t* /*dataLength*/, void* keyBuffer, uint8_t keyLength,
                                              int8_t keyNumber) {
  // The caller's errno is left as it was: the status is the whole answer.
  const int saved_errno = errno;
  const int status = handle_request(operation, positionBlock, keyBuffer, keyLength, keyNumber);
  errno = saved_errno;
  return status;
}
