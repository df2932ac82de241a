#include "btrieve/probe.h"

#include <stdio.h>
#include <string.h>

#include "btrieve/request.h"
#include "platform/platform.h"

// The data buffer: the owner bytes handed to the engine with every open.
static unsigned char dataBuffer[PATH_BUFFER_SIZE];

// Whether paths are shown on a terminal: -1 until first asked.
static int showOnTerminal = -1;

// Room for the longest text shown: an entry's name.
constexpr size_t SHOWN_SIZE = ENTRY_NAME_SIZE;

// A path as it is shown. Written to a file or a pipe it goes out byte for
// byte, for the scripts that read it; on a terminal a control character in a
// name (an escape sequence, a newline) would act on the screen, so there each
// one is shown as "?".
static const char* shown(const char* text, char* buffer) {
  if (showOnTerminal < 0)
    showOnTerminal = output_is_terminal() ? 1 : 0;
  if (!showOnTerminal)
    return text;
  size_t i = 0;
  for (; text[i] && i < SHOWN_SIZE - 1; ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    buffer[i] = c < 0x20 || c == 0x7F ? '?' : text[i];
  }
  buffer[i] = 0;
  return buffer;
}

void print_open_failure(const char* head, const char* tail, int status) {
  char headShown[SHOWN_SIZE], tailShown[SHOWN_SIZE];
  printf("Unable to Open File %s%s - %d!\n", shown(head, headShown), shown(tail, tailShown), status);
}

ProbeOutcome probe_file(const char* filePath) {
  char keyBuffer[PATH_BUFFER_SIZE];

  // A longer path cannot be handed over whole, and a cut one would name
  // another file.
  size_t pathLength = strnlen(filePath, PATH_BUFFER_SIZE);
  if (pathLength == PATH_BUFFER_SIZE) {
    print_open_failure(filePath, "", STATUS_INVALID_FILE_NAME);
    return OUTCOME_NOT_COUNTED;
  }
  memcpy(keyBuffer, filePath, pathLength + 1);

  // The owner bytes and the byte after them; only the owner bytes are counted.
  memcpy(dataBuffer, runOptions.ownerName, static_cast<size_t>(runOptions.ownerLength) + 1);

  requestBlock.operation = OP_OPEN;
  requestBlock.dataBuffer = dataBuffer;
  requestBlock.dataLength = static_cast<uint16_t>(runOptions.ownerLength);
  requestBlock.keyBuffer = keyBuffer;
  requestBlock.keyNumber = OPEN_MODE_EXCLUSIVE;
  int status = call_btrieve(&requestBlock);

  ProbeOutcome outcome = OUTCOME_NOT_COUNTED;
  if (status == STATUS_SUCCESS) {
    if (runOptions.filter != FILTER_USERS_ACTIVE) {
      if (!runOptions.summaryOnly) {
        char pathShown[SHOWN_SIZE];
        printf("File %s has no users.\n", shown(filePath, pathShown));
      }
      outcome = OUTCOME_NO_USERS;
    }
    // The close goes out on the open's block as the library left it.
    requestBlock.operation = OP_CLOSE;
    call_btrieve(&requestBlock);
  } else if (status == STATUS_FILE_IN_USE) {
    if (runOptions.filter != FILTER_NO_USERS) {
      if (!runOptions.summaryOnly) {
        char pathShown[SHOWN_SIZE];
        printf("File %s has users active.\n", shown(filePath, pathShown));
      }
      outcome = OUTCOME_USERS_ACTIVE;
    }
  } else {
    print_open_failure(filePath, "", status);
  }
  return outcome;
}

int reset_client() {
  // Data buffer, data length and position block go out as the last request
  // left them.
  requestBlock.keyNumber = 0;
  requestBlock.keyBuffer = nullptr;
  requestBlock.operation = OP_RESET;
  return call_btrieve(&requestBlock);
}
