// Captures what a piece of code writes on a standard stream, through the
// stream's descriptor, so that printf and fprintf are both seen.
#pragma once

#include <stdio.h>

#include <functional>
#include <string>

std::string capture_stream(FILE* stream, const std::function<void()>& body);

struct Captured {
  std::string out;
  std::string err;
};
Captured capture_both(const std::function<void()>& body);
