// What the command needs of its host: a description of the host's
// conventions, directory enumeration with wildcards, the console keyboard and
// the process's start and end. One implementation file per host.
#pragma once

#include <stddef.h>
#include <stdint.h>

// "/" begins an absolute path here, so it cannot also begin a switch.
extern const bool host_slash_begins_path;

// The shell expands wildcards, so one specification arrives as many arguments.
extern const bool host_shell_expands_wildcards;

// The largest exit status that a parent process can read back whole.
extern const int host_exit_status_max;

// Attribute bit of a directory entry that is itself a directory.
constexpr uint32_t ENTRY_DIRECTORY = 0x10;

// Room for an entry's name: at most 259 characters and a zero byte.
constexpr int ENTRY_NAME_SIZE = 260;

struct DirectoryEntry {
  uint32_t attributes;          // ENTRY_DIRECTORY or 0
  char name[ENTRY_NAME_SIZE];   // the entry's name, zero-terminated
};

// An open enumeration; only one is open at a time.
typedef void* Enumeration;

// Opens an enumeration of the entries that match the specification within
// the one directory it names, and gives the first. False when nothing
// matches or the specification cannot be searched.
bool enumeration_open(const char* specification, DirectoryEntry* first, Enumeration* handle);

// Gives the next matching entry; false at the end or on any failure.
bool enumeration_next(Enumeration handle, DirectoryEntry* entry);

void enumeration_close(Enumeration handle);

// The length of the path's directory part, its last separator included; 0
// when the path has none and so names something in the current directory.
size_t directory_prefix_length(const char* path);

// Whether a key press is waiting at the console keyboard. Never blocks;
// without a console keyboard the answer is always no.
bool key_waiting();

// One waiting key press, read without echo, as a character code (Esc is 27).
int read_key();

// Whether standard output is a terminal, where a control character would act
// on the screen rather than be shown.
bool output_is_terminal();

// Makes the process ready to run; called first thing.
void platform_start();

// Ends the process with the status after the standard streams are written
// out, leaving the console as it was found.
[[noreturn]] void platform_exit(int status);

constexpr int KEY_ESCAPE = 27;
