// exitcode PROGRAM [ARGUMENT...]: runs the program with the rest of its own
// command line, exactly as it was given, on the same standard streams, and
// then prints "exit code N" with the program's 32-bit exit code. A Linux
// parent of a Wine process sees only the low 8 bits of it.

#include <windows.h>

#include <cstdio>

namespace {

// The command line after the first word, the program's own name.
char* after_own_name(char* line) {
  if (*line == '"') {
    ++line;
    while (*line && *line != '"') ++line;
    if (*line) ++line;
  } else {
    while (*line && *line != ' ' && *line != '\t') ++line;
  }
  while (*line == ' ' || *line == '\t') ++line;
  return line;
}

}  // namespace

int main() {
  char* rest = after_own_name(GetCommandLineA());
  if (*rest == 0) {
    std::fputs("usage: exitcode PROGRAM [ARGUMENT...]\n", stderr);
    return 2;
  }
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION child = {};
  if (!CreateProcessA(nullptr, rest, nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &child)) {
    std::fprintf(stderr, "exitcode: cannot run %s: error %lu\n", rest, GetLastError());
    return 2;
  }
  DWORD code = 0;
  WaitForSingleObject(child.hProcess, INFINITE);
  GetExitCodeProcess(child.hProcess, &code);
  CloseHandle(child.hThread);
  CloseHandle(child.hProcess);
  std::fflush(stdout);
  std::printf("exit code %lu\n", static_cast<unsigned long>(code));
  return 0;
}
