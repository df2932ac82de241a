// dravolin: reports which data files of the record manager are in use.
//
// Every file that matches the specification is opened in exclusive mode
// through the engine's client library: success means nobody else has it,
// status 88 means users are active.

#include <stdio.h>

#include "btrieve/probe.h"
#include "btrieve/run_options.h"
#include "platform/platform.h"
#include "run/driver.h"
#include "run/switches.h"

int main(int argc, char** argv) {
  platform_start();
  if (argc < 2) {
    print_usage();
    platform_exit(1);
  }
  if (!parse_switches(argc, argv))
    platform_exit(1);

  Tallies tallies = {0, 0};
  scan_specifications(argc, argv, &tallies);
  FilterMode filter = static_cast<FilterMode>(runOptions.filter);
  print_summary(filter, &tallies);
  reset_client();

  bool outputFailed = fflush(stdout) != 0 || ferror(stdout);
  platform_exit(exit_status(filter, &tallies, outputFailed));
}
