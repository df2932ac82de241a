// The walk over the matching files, the summary and the exit status.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "btrieve/run_options.h"

struct Tallies {
  int32_t noUsers;       // files found free
  int32_t usersActive;   // files found in use
};

void print_usage();

// Puts the directory prefix and an entry's name together into path, a
// buffer of PATH_BUFFER_SIZE bytes. False, with path untouched, when the two
// take more than PATH_BUFFER_SIZE - 1 bytes.
bool compose_probe_path(char* path, const char* prefix, size_t prefixLength, const char* name);

// Probes every file that the specification matches, adding to the tallies.
// Does not return when Esc is pressed.
void scan_files(const char* specification, Tallies* tallies);

// Walks the run's specifications: the first argument, and where the shell
// expands wildcards every other argument that is not a switch.
void scan_specifications(int argc, char** argv, Tallies* tallies);

void print_summary(FilterMode filter, const Tallies* tallies);

// The exit status of a completed walk. outputFailed: the report could not
// be written whole.
int exit_status(FilterMode filter, const Tallies* tallies, bool outputFailed);
