# Cross-compiles for 32-bit Windows with MinGW-w64 (Debian's
# g++-mingw-w64-i686). The POSIX thread model of the compiler is taken because
# its C++ runtime has std::mutex and std::thread, which GoogleTest needs; every
# binary links its runtime statically, so the DLLs import nothing but
# KERNEL32.dll and msvcrt.dll. Test programs run under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)

set(VYN_MINGW_TRIPLE i686-w64-mingw32)
find_program(CMAKE_C_COMPILER NAMES ${VYN_MINGW_TRIPLE}-gcc-posix ${VYN_MINGW_TRIPLE}-gcc REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${VYN_MINGW_TRIPLE}-g++-posix ${VYN_MINGW_TRIPLE}-g++ REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${VYN_MINGW_TRIPLE}-windres)
find_program(VYN_MINGW_OBJDUMP NAMES ${VYN_MINGW_TRIPLE}-objdump REQUIRED)
find_program(VYN_MINGW_NM NAMES ${VYN_MINGW_TRIPLE}-nm REQUIRED)

set(CMAKE_FIND_ROOT_PATH /usr/${VYN_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# No libgcc, libstdc++ or winpthread DLLs beside our binaries.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static")

# CTest and gtest runs go through Wine, with a prefix of the build's own.
set(CMAKE_CROSSCOMPILING_EMULATOR
    /bin/sh ${CMAKE_CURRENT_LIST_DIR}/wine-run.sh ${CMAKE_BINARY_DIR}/wine-prefix)
