# Run when the zip is packed (cmake/Windows.cmake installs it after the binaries): takes
# the debugging information out of the installed program and client library, and keeps
# it in QV_DEBUG_DIR/<file>.debug, which the binary names in its .gnu_debuglink section
# so that a debugger finds it. The binaries in the build folder keep theirs.
foreach(file VADedeVeZovid.exe libmariadb.dll)
  set(binary "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/${file}")
  set(debug "${QV_DEBUG_DIR}/${file}.debug")
  file(MAKE_DIRECTORY ${QV_DEBUG_DIR})
  foreach(step "--only-keep-debug;${binary};${debug}"
               "--strip-debug;--add-gnu-debuglink=${debug};${binary}")
    execute_process(COMMAND ${QV_OBJCOPY} ${step} RESULT_VARIABLE failed)
    if(failed)
      message(FATAL_ERROR "objcopy ${step}: ${failed}")
    endif()
  endforeach()
endforeach()
