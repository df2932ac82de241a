# Where an installation puts the command, its manual and its documents. The
# client library and the holder are installed by client/CMakeLists.txt.
#
# The client library always goes to lib/, whatever CMAKE_INSTALL_LIBDIR says.
# It is the command's own and nothing else links against it; the command
# finds it through its run path "$ORIGIN:$ORIGIN/../lib", the same in the
# build tree and in every installation. Under a multiarch lib/x86_64-linux-gnu
# or a lib64 the installed command would not find it.

include(GNUInstallDirs)

if(NOT WIN32)
  install(TARGETS dravolin RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

  # Manual pages and the change log are installed compressed, as Debian wants
  # them; man reads pages so everywhere. -n keeps the name and time stamp out
  # of the archive, so that the same text always gives the same bytes.
  find_program(DRAVOLIN_GZIP gzip REQUIRED)
  set(DRAVOLIN_GZIPPED)
  function(dravolin_install_gzipped source destination)
    get_filename_component(name ${source} NAME)
    set(copy ${CMAKE_BINARY_DIR}/gzipped/${name})
    add_custom_command(OUTPUT ${copy}.gz
      COMMAND ${CMAKE_COMMAND} -E copy ${source} ${copy}
      COMMAND ${DRAVOLIN_GZIP} -9nf ${copy}
      DEPENDS ${source}
      VERBATIM)
    set(DRAVOLIN_GZIPPED ${DRAVOLIN_GZIPPED} ${copy}.gz PARENT_SCOPE)
    install(FILES ${copy}.gz DESTINATION ${destination})
  endfunction()
  dravolin_install_gzipped(${CMAKE_SOURCE_DIR}/man/dravolin.1 ${CMAKE_INSTALL_MANDIR}/man1)
  dravolin_install_gzipped(${CMAKE_SOURCE_DIR}/man/dravolin-hold.1 ${CMAKE_INSTALL_MANDIR}/man1)
  dravolin_install_gzipped(${CMAKE_SOURCE_DIR}/packaging/changelog ${CMAKE_INSTALL_DOCDIR})
  add_custom_target(dravolin_gzipped ALL DEPENDS ${DRAVOLIN_GZIPPED})

  install(FILES ${CMAKE_SOURCE_DIR}/packaging/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})
else()
  # The zip for Windows is flat: the command and the notes for its
  # administrator. The stand-in client DLL of the build is for the tests
  # only; the real one comes with the engine and must not be shadowed.
  install(TARGETS dravolin RUNTIME DESTINATION .)
  # CRLF line ends, however the source was checked out, for Notepad.
  configure_file(${CMAKE_SOURCE_DIR}/packaging/README-windows.txt ${CMAKE_BINARY_DIR}/README.txt
    @ONLY NEWLINE_STYLE CRLF)
  install(FILES ${CMAKE_BINARY_DIR}/README.txt DESTINATION .)
endif()
