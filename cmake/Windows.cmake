# The Windows build, cross-compiled with MinGW-w64 (cmake/mingw-w64-x86_64.cmake):
# the client library that scripts/build-windows.sh built from Debian's mariadb source
# package, the header-only libraries the Linux build takes from /usr/include, the
# programs that run during the build (built for the build machine), the executable's
# form, its resources (the icon among them), and the zip with its licences and stripped
# binaries.
#
#   QV_MARIADB_ROOT   the install prefix of that Connector/C build: include/mariadb,
#                     lib/mariadb/libmariadb.dll and its import library, and beside them
#                     COPYING.LIB (its licence) and debian-source-version (the version of
#                     the source package it came from)
#   QV_MINGW_COPYRIGHT  the licence notices of mingw-w64 (its runtime, winpthreads)
set(QV_MARIADB_ROOT "" CACHE PATH "Install prefix of Connector/C built for Windows")
set(QV_MARIADB_DLL ${QV_MARIADB_ROOT}/lib/mariadb/libmariadb.dll)
if(NOT EXISTS "${QV_MARIADB_DLL}" OR NOT EXISTS "${QV_MARIADB_ROOT}/COPYING.LIB")
  message(FATAL_ERROR "The Windows build needs Connector/C built for Windows: "
                      "-DQV_MARIADB_ROOT=<prefix> (scripts/build-windows.sh builds it)")
endif()

# The shared modules find the client library through pkg-config, as on Linux: a .pc file
# for the Connector/C build, and pkg-config confined to it, so that no library of the
# build machine is ever taken.
file(STRINGS ${QV_MARIADB_ROOT}/include/mariadb/mariadb_version.h qv_cc_version
     REGEX "#define MARIADB_PACKAGE_VERSION \"")
string(REGEX REPLACE ".*\"(.*)\".*" "\\1" QV_MARIADB_VERSION "${qv_cc_version}")
set(qv_pkgconfig ${CMAKE_BINARY_DIR}/pkgconfig)
file(WRITE ${qv_pkgconfig}/libmariadb.pc
  "Name: libmariadb\n"
  "Description: MariaDB Connector/C built for Windows\n"
  "Version: ${QV_MARIADB_VERSION}\n"
  "Cflags: -I${QV_MARIADB_ROOT}/include/mariadb\n"
  "Libs: -L${QV_MARIADB_ROOT}/lib/mariadb -llibmariadb.dll\n")
set(ENV{PKG_CONFIG_LIBDIR} ${qv_pkgconfig})
set(ENV{PKG_CONFIG_PATH} "")
# Prefixes handed to the cross build (GoogleTest's) are searched as they are.
list(APPEND CMAKE_FIND_ROOT_PATH ${QV_MARIADB_ROOT} ${CMAKE_PREFIX_PATH})

# Header-only libraries come from Debian's /usr/include, which the cross build must not
# search as a whole (its C library headers are the build machine's): each one is linked
# into a folder of its own, and a package file there gives find_package its target.
set(qv_header_only ${CMAKE_BINARY_DIR}/header-only)
if(EXISTS /usr/include/nlohmann/json.hpp)
  file(MAKE_DIRECTORY ${qv_header_only}/nlohmann_json)
  file(CREATE_LINK /usr/include/nlohmann ${qv_header_only}/nlohmann SYMBOLIC)
  file(WRITE ${qv_header_only}/nlohmann_json/nlohmann_jsonConfig.cmake
    "if(NOT TARGET nlohmann_json::nlohmann_json)\n"
    "  add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED)\n"
    "  set_target_properties(nlohmann_json::nlohmann_json PROPERTIES\n"
    "                        INTERFACE_INCLUDE_DIRECTORIES ${qv_header_only})\n"
    "endif()\n")
  # Debian's version file, which checks only the version asked for.
  file(COPY /usr/share/cmake/nlohmann_json/nlohmann_jsonConfigVersion.cmake
       DESTINATION ${qv_header_only}/nlohmann_json)
  set(nlohmann_json_DIR ${qv_header_only}/nlohmann_json CACHE PATH
      "nlohmann-json for the cross build" FORCE)
endif()

# qv_host_program(TARGET VARIABLE): TARGET, a program that runs during the build, as built
# for the build machine at the path in the cache variable VARIABLE (scripts/build-windows.sh
# builds it in build/windows-host): a cross build cannot run its own.
function(qv_host_program target variable)
  set(${variable} "" CACHE FILEPATH "${target} built for the build machine")
  if(NOT EXISTS "${${variable}}")
    message(FATAL_ERROR "A cross build needs -D${variable}=<${target} built for this machine> "
                        "(scripts/build-windows.sh builds one)")
  endif()
  add_executable(${target} IMPORTED GLOBAL)
  set_target_properties(${target} PROPERTIES IMPORTED_LOCATION ${${variable}})
endfunction()

# A program that links the client library gets it beside it in the build folder, so that
# it runs from there as from the zip.
function(qv_windows_program target)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_COMMAND} -E copy_if_different ${QV_MARIADB_DLL} $<TARGET_FILE_DIR:${target}>
    VERBATIM)
endfunction()

# The tool's resources (WinGUI/VADedeVeZovid.rc: the icon, drawn in WinGUI/icon's build
# folder, and the version resource and the manifest, both generated in WinGUI's) built
# into target. The resource compiler sees NDEBUG in the configurations whose compiler
# does, and the resources are built anew when the icon or the manifest changes: the
# compiler's dependency scan sees only what the .rc includes.
function(qv_windows_resources target)
  set(rc ${PROJECT_SOURCE_DIR}/WinGUI/VADedeVeZovid.rc)
  set(generated ${PROJECT_BINARY_DIR}/WinGUI/generated)
  set(icon ${PROJECT_BINARY_DIR}/WinGUI/icon)
  target_sources(${target} PRIVATE ${rc})
  target_include_directories(${target} PRIVATE ${generated} ${icon})
  add_dependencies(${target} qv_app_icon)
  set_property(SOURCE ${rc} TARGET_DIRECTORY ${target} APPEND PROPERTY COMPILE_DEFINITIONS
               $<$<CONFIG:Release,RelWithDebInfo,MinSizeRel>:NDEBUG>)
  set_property(SOURCE ${rc} TARGET_DIRECTORY ${target} APPEND PROPERTY OBJECT_DEPENDS
               ${generated}/VADedeVeZovid.manifest ${icon}/VADedeVeZovid.ico)
endfunction()

# The zip: the program and the client library beside it (the LGPL 2.1 lets anyone
# replace it there), both without their debugging information; the licences of what they
# hold (Connector/C's, and mingw-w64's: its runtime and winpthreads are linked into the
# program); the README and a note on what the zip holds. The debugging information stays
# in build/windows/debug/<file>.debug, which each binary names (.gnu_debuglink) for a
# debugger. scripts/build-windows.sh puts the source archive of the client library beside
# the zip.
set(QV_MINGW_COPYRIGHT /usr/share/doc/mingw-w64-x86-64-dev/copyright CACHE FILEPATH
    "The licence notices of the mingw-w64 runtime and winpthreads")
function(qv_windows_package)
  if(NOT EXISTS ${QV_MINGW_COPYRIGHT})
    message(FATAL_ERROR "The zip needs mingw-w64's licence notices, ${QV_MINGW_COPYRIGHT} "
                        "(Debian's package mingw-w64-x86-64-dev)")
  endif()
  install(TARGETS VADedeVeZovid RUNTIME DESTINATION .)
  install(FILES ${QV_MARIADB_DLL} ${PROJECT_SOURCE_DIR}/README.md DESTINATION .)
  install(FILES ${QV_MARIADB_ROOT}/COPYING.LIB DESTINATION . RENAME COPYING-libmariadb.txt)
  install(FILES ${QV_MINGW_COPYRIGHT} DESTINATION . RENAME COPYING-mingw-w64.txt)
  install(CODE "set(QV_OBJCOPY \"${CMAKE_OBJCOPY}\")
                set(QV_DEBUG_DIR \"${CMAKE_BINARY_DIR}/debug\")")
  install(SCRIPT ${PROJECT_SOURCE_DIR}/cmake/windows-strip.cmake)
  file(READ ${QV_MARIADB_ROOT}/debian-source-version QV_MARIADB_SOURCE_VERSION)
  string(STRIP "${QV_MARIADB_SOURCE_VERSION}" QV_MARIADB_SOURCE_VERSION)
  set(QV_PACKAGE_NAME "VADedeVeZovid-${PROJECT_VERSION}-win64")
  configure_file(${PROJECT_SOURCE_DIR}/cmake/windows-zip.txt.in
                 ${CMAKE_BINARY_DIR}/README-Windows.txt @ONLY NEWLINE_STYLE CRLF)
  install(FILES ${CMAKE_BINARY_DIR}/README-Windows.txt DESTINATION .)
  set(CPACK_GENERATOR "ZIP" PARENT_SCOPE)
  set(CPACK_PACKAGE_FILE_NAME ${QV_PACKAGE_NAME} PARENT_SCOPE)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON PARENT_SCOPE)
endfunction()
