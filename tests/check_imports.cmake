# What the Windows loader binds for the command, read from its PE headers:
# a 32-bit console program that takes ordinal 1 of wbtrv32.dll and nothing
# else of it, and no MinGW runtime DLL. The holder binds the same way, and
# the stand-in DLL offers exactly that ordinal.
#
# cmake -DOBJDUMP=... -DCOMMAND=dravolin.exe -DHOLDER=dravolin-hold.exe
#       -DLIBRARY=wbtrv32.dll -P check_imports.cmake

set(failures "")

function(fail message)
  set(failures "${failures}${message}\n" PARENT_SCOPE)
endfunction()

# Sets <prefix>_DLLS to the imported DLLs, and <prefix>_<dll> to the entry
# lines of each, lower-cased names.
function(read_imports file prefix)
  execute_process(COMMAND ${OBJDUMP} -p ${file} OUTPUT_VARIABLE dump RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "${OBJDUMP} -p ${file} failed")
  endif()
  set(${prefix}_DUMP "${dump}" PARENT_SCOPE)
  string(REPLACE ";" "\\;" dump "${dump}")
  string(REPLACE "\n" ";" lines "${dump}")
  set(dlls "")
  set(current "")
  foreach(line IN LISTS lines)
    if(line MATCHES "^\tDLL Name: (.+)$")
      string(TOLOWER "${CMAKE_MATCH_1}" current)
      list(APPEND dlls "${current}")
      set(entries_${current} "")
    elseif(current AND line MATCHES "^\t[0-9a-f]+\t")
      list(APPEND entries_${current} "${line}")
    elseif(line STREQUAL "")
      set(current "")
    endif()
  endforeach()
  set(${prefix}_DLLS "${dlls}" PARENT_SCOPE)
  foreach(dll IN LISTS dlls)
    set(${prefix}_${dll} "${entries_${dll}}" PARENT_SCOPE)
  endforeach()
endfunction()

function(check_program file)
  get_filename_component(name ${file} NAME)
  read_imports(${file} program)
  if(NOT program_DUMP MATCHES "Magic\t+010b\t\\(PE32\\)")
    fail("${name} is not a 32-bit program")
  endif()
  if(NOT program_DUMP MATCHES "Subsystem\t+00000003\t\\(Windows CUI\\)")
    fail("${name} is not a console program")
  endif()
  foreach(dll IN LISTS program_DLLS)
    if(dll MATCHES "^(libgcc_s|libstdc\\+\\+|libwinpthread)")
      fail("${name} imports the MinGW runtime DLL ${dll}")
    endif()
  endforeach()
  list(FIND program_DLLS wbtrv32.dll found)
  if(found LESS 0)
    fail("${name} does not import wbtrv32.dll")
    return()
  endif()
  set(entries "${program_wbtrv32.dll}")
  list(LENGTH entries count)
  # An import by ordinal has the high bit set in its entry: 80000001 is
  # ordinal 1, with no name.
  if(NOT count EQUAL 1 OR NOT entries MATCHES "^\t80000001\t +1  <none>$")
    fail("${name} must import ordinal 1 of wbtrv32.dll and nothing else, but imports: ${entries}")
  endif()
  message(STATUS "${name}: ${program_DLLS}; from wbtrv32.dll:${entries}")
  set(failures "${failures}" PARENT_SCOPE)
endfunction()

check_program(${COMMAND})
check_program(${HOLDER})

execute_process(COMMAND ${OBJDUMP} -p ${LIBRARY} OUTPUT_VARIABLE dump)
if(NOT dump MATCHES "Export Address Table -- Ordinal Base 1\n\t\\[   0\\] \\+base\\[   1\\] [0-9a-f]+ Export RVA\n\n")
  fail("the stand-in wbtrv32.dll must export ordinal 1 alone")
endif()
if(NOT dump MATCHES "\\[Name Pointer/Ordinal\\] Table\t00000000")
  fail("the stand-in wbtrv32.dll must export no names")
endif()

if(failures)
  message(FATAL_ERROR "${failures}")
endif()
