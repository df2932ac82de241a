#include "run/driver.h"

#include <stdio.h>
#include <string.h>

#include "btrieve/client_entry.h"
#include "btrieve/probe.h"
#include "platform/platform.h"
#include "run/switches.h"

void print_usage() {
  fprintf(stderr, "\nUsage:  DRAVOLIN filespec [/A|/U|/N] [/S] [/P=OwnerName]\n\n");
  fprintf(stderr, "    This command opens each Btrieve file in filespec in Exclusive Mode\n");
  fprintf(stderr, "    and reports success/failure to the console.\n");
  fprintf(stderr, "    /A Prints ALL results. [Default]\n");
  fprintf(stderr, "    /N Prints ONLY files with no other users.\n");
  fprintf(stderr, "    /U Prints ONLY files With other users active.\n");
  fprintf(stderr, "    /S Prints Summary ONLY.\n");
  fprintf(stderr, "    /O=owner Specifies the Btrieve Owner Name.\n\n");
}

// Esc between two files ends the run at once; any other key is dropped.
static void stop_on_escape() {
  if (key_waiting() && read_key() == KEY_ESCAPE) {
    fprintf(stderr, "Dravolin Terminated Early.\n");
    platform_exit(1);
  }
}

bool compose_probe_path(char* path, const char* prefix, size_t prefixLength, const char* name) {
  size_t nameLength = strnlen(name, PATH_BUFFER_SIZE);
  if (prefixLength >= PATH_BUFFER_SIZE || nameLength >= PATH_BUFFER_SIZE - prefixLength)
    return false;
  memcpy(path, prefix, prefixLength);
  memcpy(path + prefixLength, name, nameLength + 1);
  return true;
}

void scan_files(const char* specification, Tallies* tallies) {
  char prefix[PATH_BUFFER_SIZE];   // the directory part, its separator included
  char path[PATH_BUFFER_SIZE];     // the specification, then each probe path

  // A longer specification cannot be held, and is treated like one that
  // cannot be searched.
  size_t specificationLength = strnlen(specification, PATH_BUFFER_SIZE);
  if (specificationLength == PATH_BUFFER_SIZE)
    return;
  size_t prefixLength = directory_prefix_length(specification);
  memcpy(prefix, specification, prefixLength);
  prefix[prefixLength] = 0;
  memcpy(path, specification, specificationLength + 1);

  DirectoryEntry entry;
  Enumeration enumeration;
  if (!enumeration_open(path, &entry, &enumeration))
    return;
  do {
    if (entry.attributes & ENTRY_DIRECTORY)
      continue;
    stop_on_escape();
    // A path that does not fit is reported whole and not probed: cut, it
    // would name another file.
    if (!compose_probe_path(path, prefix, prefixLength, entry.name)) {
      print_open_failure(prefix, entry.name, STATUS_INVALID_FILE_NAME);
      continue;
    }
    switch (probe_file(path)) {
    case OUTCOME_NO_USERS:
      tallies->noUsers++;
      break;
    case OUTCOME_USERS_ACTIVE:
      tallies->usersActive++;
      break;
    case OUTCOME_NOT_COUNTED:
      break;
    }
  } while (enumeration_next(enumeration, &entry));
  enumeration_close(enumeration);
}

void scan_specifications(int argc, char** argv, Tallies* tallies) {
  scan_files(argv[1], tallies);
  if (!host_shell_expands_wildcards)
    return;
  // The shell has turned "dir/*.dat" into one argument per file.
  for (int i = 2; i < argc; ++i)
    if (!in_switch_position(argv[i], i))
      scan_files(argv[i], tallies);
}

void print_summary(FilterMode filter, const Tallies* tallies) {
  printf("\n");
  if (filter != FILTER_USERS_ACTIVE)
    printf("Files With No Users: %d\n", tallies->noUsers);
  if (filter != FILTER_NO_USERS)
    printf("Files With Users Active: %d\n", tallies->usersActive);
}

static int capped(int32_t tally) {
  return tally > host_exit_status_max ? host_exit_status_max : tally;
}

int exit_status(FilterMode filter, const Tallies* tallies, bool outputFailed) {
  switch (filter) {
  case FILTER_NO_USERS:
    return capped(tallies->noUsers);
  case FILTER_USERS_ACTIVE:
    return capped(tallies->usersActive);
  case FILTER_ALL:
    break;
  }
  // Status 0 says that the report is complete; one that could not be written
  // is not.
  return outputFailed ? 1 : 0;
}
