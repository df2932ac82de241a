#include "run/switches.h"

#include <stdio.h>
#include <string.h>

#include "btrieve/run_options.h"
#include "platform/platform.h"

// Upper-cases in the plain ASCII way: no byte above 127 becomes a letter.
static int ascii_upper(unsigned char c) {
  return c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c;
}

static int hex_digit_value(unsigned char c) {
  int upper = ascii_upper(c);
  if (upper >= '0' && upper <= '9')
    return upper - '0';
  if (upper >= 'A' && upper <= 'F')
    return upper - 'A' + 10;
  return -1;
}

static bool is_hex_owner(const char* text) {
  return text[0] == '0' && text[1] == 'x';
}

// Where "/" begins absolute paths, the first argument is always a path, and a
// later one is a path when a second "/" stands before its first "=" (anywhere
// in it, without "="): "/srv/data/*.dat" is a path, "/U", "/Summary" and
// "/O=a/b" are switches.
static bool slash_argument_is_path(const char* argument, int index) {
  if (index == 1)
    return true;
  const char* equals = strchr(argument, '=');
  const char* secondSlash = strchr(argument + 1, '/');
  return secondSlash && (!equals || secondSlash < equals);
}

bool in_switch_position(const char* argument, int index) {
  if (argument[0] == '-')
    return true;
  if (argument[0] != '/')
    return false;
  return !(host_slash_begins_path && slash_argument_is_path(argument, index));
}

int decode_hex_owner(const char* ownerText, unsigned char* buffer) {
  if (!is_hex_owner(ownerText))
    return 0;
  size_t length = strlen(ownerText);
  if (length % 2 != 0)
    return 0;
  int pairs = static_cast<int>((length - 2) / 2);
  for (int k = 0; k < pairs; ++k) {
    int high = hex_digit_value(static_cast<unsigned char>(ownerText[2 + 2 * k]));
    int low = hex_digit_value(static_cast<unsigned char>(ownerText[3 + 2 * k]));
    if (high < 0 || low < 0)
      return 0;
    buffer[k] = static_cast<unsigned char>(high * 16 + low);
  }
  buffer[pairs] = 0;
  return pairs;
}

// The owner switch: "/O=" and the owner, as text or as hexadecimal bytes.
static bool parse_owner(const char* argument) {
  if (argument[2] != '=')
    return false;
  size_t length = strnlen(argument + 3, OWNER_TEXT_MAX);
  memcpy(runOptions.ownerText, argument + 3, length);
  runOptions.ownerText[length] = 0;
  memcpy(runOptions.ownerName, runOptions.ownerText, length + 1);
  runOptions.ownerLength = static_cast<int32_t>(length);
  if (is_hex_owner(runOptions.ownerText))
    runOptions.ownerLength = decode_hex_owner(runOptions.ownerText, runOptions.ownerName);
  return true;
}

bool parse_switches(int argc, char** argv) {
  runOptions.ownerName[0] = 0;
  runOptions.summaryOnly = 0;
  runOptions.filter = FILTER_ALL;

  // From the last argument down, so that of two switches for the same
  // setting the one given first wins.
  for (int i = argc - 1; i >= 1; --i) {
    const char* argument = argv[i];
    if (!in_switch_position(argument, i))
      continue;
    switch (ascii_upper(static_cast<unsigned char>(argument[1]))) {
    case 'A':
      runOptions.filter = FILTER_ALL;
      fprintf(stderr, "Printing ALL results...\r\n");
      break;
    case 'D':
      runOptions.trace = 1;
      break;
    case 'N':
      runOptions.filter = FILTER_NO_USERS;
      fprintf(stderr, "Printing Files With No Users...\r\n");
      break;
    case 'O':
      if (!parse_owner(argument)) {
        fprintf(stderr, "Unable to parse owner name.\n");
        return false;
      }
      break;
    case 'S':
      runOptions.summaryOnly = 1;
      fprintf(stderr, "Printing Summary Only...\r\n");
      break;
    case 'U':
      runOptions.filter = FILTER_USERS_ACTIVE;
      fprintf(stderr, "Printing Files With Users Active...\r\n");
      break;
    default:
      break;
    }
  }
  return true;
}
