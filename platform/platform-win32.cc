// The command's host layer for 32-bit Windows.

#include <conio.h>
#include <io.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

#include "platform/platform.h"

const bool host_slash_begins_path = false;
const bool host_shell_expands_wildcards = false;

// The exit code is 32 bits wide and reaches the parent whole.
const int host_exit_status_max = INT_MAX;

// The C runtime of some MinGW builds expands "*.dat" on the command line into
// the matching names before main, so that the first argument would be just
// the first file. The command expands its specification itself: the runtime
// must hand the arguments over as typed.
extern "C" {
int _dowildcard = 0;
}

// ---------------------------------------------------------------------------
// Enumeration

static void fill_entry(DirectoryEntry* entry, const WIN32_FIND_DATAA* found) {
  entry->attributes = (found->dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? ENTRY_DIRECTORY : 0;
  memcpy(entry->name, found->cFileName, sizeof entry->name);
  entry->name[sizeof entry->name - 1] = 0;
}

static_assert(sizeof(WIN32_FIND_DATAA::cFileName) == ENTRY_NAME_SIZE, "an entry holds any name the system gives");

// The system matches the wildcards, with its own rules, and gives the entries
// in its own order.
bool enumeration_open(const char* specification, DirectoryEntry* first, Enumeration* handle) {
  WIN32_FIND_DATAA found;
  HANDLE find = FindFirstFileA(specification, &found);
  if (find == INVALID_HANDLE_VALUE)
    return false;
  fill_entry(first, &found);
  *handle = find;
  return true;
}

bool enumeration_next(Enumeration handle, DirectoryEntry* entry) {
  WIN32_FIND_DATAA found;
  if (!FindNextFileA(static_cast<HANDLE>(handle), &found))
    return false;
  fill_entry(entry, &found);
  return true;
}

void enumeration_close(Enumeration handle) {
  FindClose(static_cast<HANDLE>(handle));
}

// The directory part ends at the last backslash or forward slash, since
// Windows takes either as a separator; only a path with neither can end its
// drive part at a colon. Stopping at the colon of "D:/DATA/*.DAT" would name
// files in the current directory of drive D: instead.
size_t directory_prefix_length(const char* path) {
  const char* end = nullptr;
  for (const char* p = path; *p; ++p)
    if (*p == '\\' || *p == '/')
      end = p;
  if (!end)
    end = strrchr(path, ':');
  return end ? static_cast<size_t>(end - path) + 1 : 0;
}

// ---------------------------------------------------------------------------
// Console keyboard

bool key_waiting() {
  return _kbhit() != 0;
}

// A function or arrow key arrives as two codes, 0 or 0xE0 and the key's
// own; both belong to one key press, which is no Esc. The second code is
// taken only when it is there, so that a character that happens to read as
// 0xE0 cannot make the run wait for a key.
int read_key() {
  if (!_kbhit())
    return 0;
  int key = _getch();
  if (key == 0 || key == 0xE0) {
    if (_kbhit())
      _getch();
    return 0;
  }
  return key;
}

// ---------------------------------------------------------------------------
// Start and end

bool output_is_terminal() {
  return _isatty(_fileno(stdout)) != 0;
}

void platform_start() {}

void platform_exit(int status) {
  exit(status);
}
