// Walks a specification with the client library faked, for the walk tests of
// either host.
#pragma once

#include <set>
#include <string>
#include <vector>

#include "btrieve/client_entry.h"
#include "run/driver.h"
#include "support/capture.h"
#include "support/fake_client.h"

// The paths probed, in order; what the walk printed goes to out.
inline std::vector<std::string> walked_paths(const std::string& specification, std::string* out = nullptr) {
  fake_client::calls.clear();
  Tallies tallies = {0, 0};
  std::string printed = capture_stream(stdout, [&] { scan_files(specification.c_str(), &tallies); });
  if (out)
    *out = printed;
  std::vector<std::string> keys;
  for (const RecordedCall& c : fake_client::calls)
    if (c.operation == OP_OPEN)
      keys.push_back(c.key);
  return keys;
}

inline std::set<std::string> walked_path_set(const std::string& specification) {
  std::vector<std::string> keys = walked_paths(specification);
  return std::set<std::string>(keys.begin(), keys.end());
}
