// What the two client libraries share: the bookkeeping of open files in
// position blocks and the handling of each request. A host file supplies how
// a file is opened and closed on that host, and the exported call entry.
#pragma once

#include <stdint.h>

// A host's open file: a descriptor or a handle, widened.
typedef intptr_t HostFile;

// Opens the regular file at path for the open mode (OPEN_MODE_NORMAL or
// OPEN_MODE_EXCLUSIVE); returns a status, and on success the open file.
int host_open(const char* path, int8_t mode, HostFile* file);

// Closes a file that host_open opened.
void host_close(HostFile file);

// Carries out one request made through the call entry and returns its status.
int handle_request(uint16_t operation, void* positionBlock, const void* keyBuffer, uint8_t keyLength,
                   int8_t keyNumber);
