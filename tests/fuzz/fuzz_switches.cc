// The switch pass over argument vectors of any bytes: the input is the
// arguments after the command's name, each ended by a zero byte. After each
// pass the run's settings must be sound, and the owner must be what the
// owner switch that wins says.

#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "btrieve/run_options.h"
#include "run/switches.h"

namespace {

void require(bool condition) {
  if (!condition)
    abort();
}

int hex_value(char c) {
  if (c >= '0' && c <= '9')
    return c - '0';
  if (c >= 'a' && c <= 'f')
    return c - 'a' + 10;
  if (c >= 'A' && c <= 'F')
    return c - 'A' + 10;
  return -1;
}

// The owner bytes that an owner text stands for; false when it is no
// hexadecimal owner, or a malformed one.
bool decode_reference(const std::string& text, std::string* bytes) {
  if (text.size() < 2 || text[0] != '0' || text[1] != 'x' || text.size() % 2 != 0)
    return false;
  bytes->clear();
  for (size_t i = 2; i < text.size(); i += 2) {
    int high = hex_value(text[i]), low = hex_value(text[i + 1]);
    if (high < 0 || low < 0)
      return false;
    bytes->push_back(static_cast<char>(high * 16 + low));
  }
  return true;
}

// The decoder writes the bytes and one zero byte, no more: a buffer of just
// that size must do, at any text of up to the longest owner.
void check_decoder_alone(const std::string& text) {
  if (text.size() > static_cast<size_t>(OWNER_TEXT_MAX))
    return;
  size_t room = (text.size() >= 2 ? (text.size() - 2) / 2 : 0) + 1;
  unsigned char* buffer = static_cast<unsigned char*>(malloc(room));
  int length = decode_hex_owner(text.c_str(), buffer);
  std::string expected;
  if (decode_reference(text, &expected)) {
    require(length == static_cast<int>(expected.size()));
    require(memcmp(buffer, expected.data(), expected.size()) == 0 && buffer[length] == 0);
  } else {
    require(length == 0);
  }
  require(length <= (OWNER_TEXT_MAX - 2) / 2);
  free(buffer);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::string> storage = {"dravolin"};
  const char* text = reinterpret_cast<const char*>(data);
  for (size_t at = 0; at < size && storage.size() < 64;) {
    const void* end = memchr(text + at, 0, size - at);
    size_t length = end ? static_cast<size_t>(static_cast<const char*>(end) - (text + at)) : size - at;
    storage.emplace_back(text + at, length);
    at += length + 1;
  }
  // Each argument in a block of its own and of its own size, so that a read
  // past its zero byte is caught.
  std::vector<char*> argv;
  for (const std::string& s : storage) {
    char* copy = static_cast<char*>(malloc(s.size() + 1));
    memcpy(copy, s.c_str(), s.size() + 1);
    argv.push_back(copy);
  }
  argv.push_back(nullptr);
  int argc = static_cast<int>(storage.size());

  memset(&runOptions, 0, sizeof runOptions);   // as in a new process
  bool goesOn = parse_switches(argc, argv.data());

  require(runOptions.filter == FILTER_ALL || runOptions.filter == FILTER_NO_USERS ||
          runOptions.filter == FILTER_USERS_ACTIVE);
  require(runOptions.summaryOnly == 0 || runOptions.summaryOnly == 1);
  require(runOptions.trace == 0 || runOptions.trace == 1);
  require(runOptions.ownerLength >= 0 && runOptions.ownerLength <= OWNER_TEXT_MAX);
  require(memchr(runOptions.ownerText, 0, sizeof runOptions.ownerText) != nullptr);

  // The pass goes from the last argument down and stops at an owner switch
  // without "=": the owner switch met last before that wins.
  bool expectGoesOn = true;
  const std::string* owner = nullptr;
  for (int i = argc - 1; i >= 1; --i) {
    const std::string& a = storage[static_cast<size_t>(i)];
    if (!in_switch_position(a.c_str(), i) || a.size() < 2 || (a[1] != 'o' && a[1] != 'O'))
      continue;
    if (a.size() < 3 || a[2] != '=') {
      expectGoesOn = false;
      break;
    }
    owner = &a;
  }
  require(goesOn == expectGoesOn);

  const unsigned char* name = runOptions.ownerName;
  size_t length = static_cast<size_t>(runOptions.ownerLength);
  if (!owner) {
    require(length == 0 && name[0] == 0);
  } else {
    // A longer owner is cut to the longest one.
    std::string typed = owner->substr(3, OWNER_TEXT_MAX);
    require(typed == runOptions.ownerText);
    std::string bytes;
    if (typed.size() >= 2 && typed[0] == '0' && typed[1] == 'x') {
      if (decode_reference(typed, &bytes)) {
        require(length == bytes.size() && length <= 32);
        require(memcmp(name, bytes.data(), length) == 0 && name[length] == 0);
      } else {
        require(length == 0);
      }
    } else {
      require(length == typed.size() && memcmp(name, typed.data(), length) == 0 && name[length] == 0);
    }
  }

  for (const std::string& s : storage)
    check_decoder_alone(s);
  for (char* a : argv)
    free(a);
  return 0;
}
