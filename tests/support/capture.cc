#include "support/capture.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

// A scratch file, removed again when closed. On Windows tmpfile() makes its
// file in the root of the current drive, which an ordinary user may not
// write; the user's temporary directory is used instead.
FILE* scratch_file() {
#ifdef _WIN32
  char directory[MAX_PATH];
  char name[MAX_PATH];
  if (GetTempPathA(sizeof directory, directory) == 0 || GetTempFileNameA(directory, "cap", 0, name) == 0)
    return nullptr;
  return fopen(name, "w+bD");
#else
  return tmpfile();
#endif
}

}  // namespace

// The sink is binary, and its descriptor takes the stream's place with its
// modes, so on Windows too the bytes are those the code wrote, without the
// text mode's "\r" before each "\n".
std::string capture_stream(FILE* stream, const std::function<void()>& body) {
  fflush(stream);
  int fd = fileno(stream);
  int saved = dup(fd);
  FILE* sink = scratch_file();
  if (!sink) {
    perror("capture: no scratch file");
    abort();
  }
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
