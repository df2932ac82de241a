// Runs a command as a child process and collects what it writes.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

struct Launch {
  std::vector<std::string> argv;
  std::string cwd;                         // empty: the test's own
  std::string input;                       // standard input, then end of file
  std::vector<std::string> env;            // NAME=value, added to the test's environment
  uid_t uid = 0;                           // non-zero: run as this user and group
  gid_t gid = 0;
  enum { STDOUT_PIPE, STDOUT_CLOSED, STDOUT_FULL } stdoutMode = STDOUT_PIPE;
  int maxDescriptors = 0;                  // non-zero: RLIMIT_NOFILE
};

struct Result {
  std::string out;
  std::string err;
  int status = -1;   // exit status, or -1 when ended by a signal
  int signal = 0;    // the signal that ended it
};

Result run_process(const Launch& launch);

// A holder process keeping files open until stopped.
struct Holder {
  pid_t pid = -1;
  int input = -1;    // closing it lets the holder go
};

// Starts the holder on the files and waits until it holds them.
Holder start_holder(const std::vector<std::string>& files, uid_t uid = 0);
// Lets the holder go and returns its exit status.
int stop_holder(Holder& holder);

// A process that opens the file itself, outside the client library, and
// keeps it open until stopped.
Holder start_plain_opener(const std::string& file);

// A fresh scratch directory, removed again by remove_tree.
std::string make_scratch_dir();
void remove_tree(const std::string& dir);
void make_file(const std::string& path, const std::string& content = "data");
std::string read_file(const std::string& path);
