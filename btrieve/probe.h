// The exclusive-open probe of one file and the run's closing reset.
#pragma once

#include "btrieve/run_options.h"

// Opens filePath in exclusive mode, closes it again when that succeeds,
// prints the file's line as the run's filter allows and returns what to count.
ProbeOutcome probe_file(const char* filePath);

// Sends the one reset that ends a completed run; returns its status.
int reset_client();

// Prints the failure line for the path made of head and tail, so that a path
// too long to compose is still reported whole.
void print_open_failure(const char* head, const char* tail, int status);
