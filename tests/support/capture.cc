#include "support/capture.h"

#include <unistd.h>

#include <cstdio>

std::string capture_stream(FILE* stream, const std::function<void()>& body) {
  fflush(stream);
  int fd = fileno(stream);
  int saved = dup(fd);
  FILE* sink = tmpfile();
  dup2(fileno(sink), fd);
  body();
  fflush(stream);
  dup2(saved, fd);
  close(saved);
  std::string text;
  rewind(sink);
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, sink)) > 0)
    text.append(buffer, n);
  fclose(sink);
  return text;
}

Captured capture_both(const std::function<void()>& body) {
  Captured c;
  c.err = capture_stream(stderr, [&] { c.out = capture_stream(stdout, body); });
  return c;
}
