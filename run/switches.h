// The switch pass: the command line into RunOptions.
#pragma once

#include <stdint.h>

// Reads the switches from the last argument down to the first and fills
// RunOptions. False after an owner switch without "=", whose message it has
// already written; the run must then end with status 1.
bool parse_switches(int argc, char** argv);

// Decodes an owner given as "0x" and pairs of hexadecimal digits into buffer,
// followed by a zero byte. Returns the number of bytes, or 0 when the text is
// no such owner.
int decode_hex_owner(const char* ownerText, unsigned char* buffer);

// Whether argument number index is read as a switch. On a host where "/"
// begins a path, an argument such as "/srv/data/*.dat" is a path instead.
bool in_switch_position(const char* argument, int index);
