# AddressSanitizer and UndefinedBehaviorSanitizer over everything built here:
# the command, the local client library, the holder and the tests. Any
# finding ends the process that made it, with a report on its standard
# error, which the end-to-end tests compare byte for byte.
#
# The options are set for the whole tree, ahead of every target, so that a
# test client library loaded into the command through LD_LIBRARY_PATH is
# built the same way as the command it is loaded into.

option(DRAVOLIN_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)

if(DRAVOLIN_SANITIZE)
  if(MSVC OR WIN32)
    message(FATAL_ERROR "DRAVOLIN_SANITIZE is for the native build with GCC or Clang")
  endif()
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()
