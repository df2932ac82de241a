// The run's settings and the two small enumerations that the run control and
// the engine access share. The switch pass writes RunOptions once; the walk,
// the probe and the call layer only read it. It lives beside the engine
// access code because that code reads it and must not depend on run control.
#pragma once

#include <stdint.h>

// Longest owner name, as typed after "/O=".
constexpr int OWNER_TEXT_MAX = 66;

// Paths are at most 255 characters, held in buffers of this size.
constexpr int PATH_BUFFER_SIZE = 256;

enum FilterMode : int32_t {
  FILTER_ALL = 0,           // report free files and files in use
  FILTER_NO_USERS = 1,      // report and count free files only
  FILTER_USERS_ACTIVE = 2,  // report and count files in use only
};

enum ProbeOutcome {
  OUTCOME_NOT_COUNTED = 0,   // the open failed, or the filter leaves the file out
  OUTCOME_NO_USERS = 1,      // the exclusive open succeeded
  OUTCOME_USERS_ACTIVE = 2,  // another user holds the file open
};

struct RunOptions {
  int32_t trace;                              // 1: print every request and its status
  int32_t filter;                             // a FilterMode
  int32_t summaryOnly;                        // 1: print the summary lines alone
  int32_t ownerLength;                        // owner bytes sent with each open, 0 to 66
  char ownerText[OWNER_TEXT_MAX + 1];         // the owner as typed, zero-terminated
  unsigned char ownerName[OWNER_TEXT_MAX + 1];  // the owner bytes as the engine gets them
};

// The one record of settings for the process; zero at start.
extern RunOptions runOptions;
