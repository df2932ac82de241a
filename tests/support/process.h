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
  // STDOUT_BROKEN: a pipe that nobody can read any more, with SIGPIPE at its
  // default action, as under a shell pipeline whose reader has gone.
  enum { STDOUT_PIPE, STDOUT_CLOSED, STDOUT_FULL, STDOUT_BROKEN } stdoutMode = STDOUT_PIPE;
  int maxDescriptors = 0;                  // non-zero: RLIMIT_NOFILE
  bool newSession = false;                 // a session of its own, without a controlling terminal
  int stdoutPipeSize = 0;                  // non-zero: the standard output pipe's capacity in bytes
};

struct Result {
  std::string out;
  std::string err;
  int status = -1;   // exit status, or -1 when ended by a signal
  int signal = 0;    // the signal that ended it
};

Result run_process(const Launch& launch);

// A command started with its standard output and error left for the caller
// to read, so that a test can let it block on a full pipe.
struct Running {
  pid_t pid = -1;
  int out = -1;   // read end of its standard output
  int err = -1;   // read end of its standard error
};

Running start_process(const Launch& launch);
// Reads both streams to their end, then waits for the command.
Result finish_process(Running& running);

// A holder process keeping files open until stopped.
struct Holder {
  pid_t pid = -1;
  int input = -1;    // closing it lets the holder go
};

// Starts the holder on the files and waits until it holds them.
Holder start_holder(const std::vector<std::string>& files, uid_t uid = 0);
// Starts a holder given as a whole command line, with env (NAME=value)
// added to its environment, and waits until it holds its files.
Holder start_holder_command(const std::vector<std::string>& argv, const std::vector<std::string>& env = {});
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
