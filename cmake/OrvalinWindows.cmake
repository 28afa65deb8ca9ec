# Settings for the cross-compiled Windows tree.
add_compile_definitions(UNICODE _UNICODE NOMINMAX WIN32_LEAN_AND_MEAN
                        _WIN32_WINNT=0x0A00 WINVER=0x0A00)
# Static runtime: the binaries run without MinGW DLLs beside them.
add_link_options(-static -static-libgcc -static-libstdc++)
# Every binary of ours: a stack protector on functions with arrays or
# addresses taken, and the checked forms of the C library's copies where the
# destination's size is known (both link statically with MinGW-w64). No
# build time in any PE header or directory, so two builds of one commit give
# the same bytes and a release can be rebuilt and compared.
add_compile_options(-fstack-protector-strong)
add_compile_definitions(_FORTIFY_SOURCE=2)
# The driver adds the protector's library (static, with -static) at link.
add_link_options(-fstack-protector-strong -Wl,--no-insert-timestamp)
# Control Flow Guard and CET shadow-stack compatibility: only clang with lld
# emits them (the release tree's toolchain, clang-mingw-w64-x86_64.cmake).
# Every binary gets the load configuration MinGW-w64's runtime lacks.
if(CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  # GCC's libstdc++ keeps its thread-local variables in emulated TLS. The
  # debug information records the command line, so the flags a binary was
  # built with can be read back from its symbol file.
  add_compile_options(-femulated-tls -grecord-command-line
                      "SHELL:-Xclang -cfguard")
  add_link_options(LINKER:--Xlink=-guard:cf LINKER:--Xlink=-cetcompat)
  add_library(orvalin_guard_cf STATIC
              ${CMAKE_CURRENT_LIST_DIR}/guard_cf_load_config.c)
  link_libraries(orvalin_guard_cf)
endif()

set(ORVALIN_WINEPREFIX "${CMAKE_BINARY_DIR}/wineprefix")
configure_file(${CMAKE_CURRENT_LIST_DIR}/wine-exec.in
               ${CMAKE_BINARY_DIR}/wine-exec
               FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE
                                GROUP_READ GROUP_EXECUTE WORLD_READ
                                WORLD_EXECUTE @ONLY)
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_BINARY_DIR}/wine-exec)

# GoogleTest from the sources Debian ships.
set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest
                 EXCLUDE_FROM_ALL SYSTEM)

# Everything that runs together (host, engine stand-ins, test hosts) lands in
# one folder, the way the product ships.
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bundle)
