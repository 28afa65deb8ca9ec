# Cross-compiles for 64-bit Windows with clang and lld on MinGW-w64's
# runtime and GCC's libstdc++ (posix threads), all from Debian's packages:
# the toolchain that can emit Control Flow Guard and CET compatibility.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(_prefix x86_64-w64-mingw32)
file(GLOB _gcc_dirs /usr/lib/gcc/${_prefix}/*-posix)
list(GET _gcc_dirs -1 _gcc)
set(CMAKE_C_COMPILER clang)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_C_COMPILER_TARGET ${_prefix})
set(CMAKE_CXX_COMPILER_TARGET ${_prefix})
set(CMAKE_RC_COMPILER ${_prefix}-windres)
# lld delay-loads a library named by -delayload when its import library is
# in the short form llvm-dlltool writes (embedding/); it cannot turn the
# GNU form into delay-load tables.
set(ORVALIN_DLLTOOL llvm-dlltool-14 -m i386:x86-64)
set(ORVALIN_LINKER_DELAYLOADS ON)
set(CMAKE_SYSROOT /usr/${_prefix})
# GCC's C++ library, which clang does not find in a MinGW sysroot by itself.
set(CMAKE_CXX_STANDARD_INCLUDE_DIRECTORIES
    ${_gcc}/include/c++ ${_gcc}/include/c++/${_prefix})
# lld resolves archives in any order; libstdc++ needs winpthreads.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-fuse-ld=lld -L${_gcc} -lpthread")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-fuse-ld=lld -L${_gcc} -lpthread")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-fuse-ld=lld -L${_gcc} -lpthread")

set(CMAKE_FIND_ROOT_PATH /usr/${_prefix})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
