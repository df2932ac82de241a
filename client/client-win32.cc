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

#include <windows.h>

#include "btrieve/client_entry.h"
#include "client/client-common.h"

namespace {

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

}  // namespace

int host_open(const char* path, int8_t mode, HostFile* file) {
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
  *file = reinterpret_cast<HostFile>(handle);
  return STATUS_SUCCESS;
}

void host_close(HostFile file) {
  CloseHandle(reinterpret_cast<HANDLE>(file));
}

// Exported at ordinal 1 and by no name (client-win32.def). The data buffer
// would carry an owner name, which these files do not have; the data length
// is never written by these operations.
extern "C" int CLIENT_ENTRY_CALL client_entry(uint16_t operation, void* positionBlock, void* /*dataBuffer*/,
                                              uint32_t* /*dataLength*/, void* keyBuffer, uint8_t keyLength,
                                              int8_t keyNumber) {
  // The caller's last error is left as it was: the status is the whole answer.
  const DWORD saved_error = GetLastError();
  const int status = handle_request(operation, positionBlock, keyBuffer, keyLength, keyNumber);
  SetLastError(saved_error);
  return status;
}
