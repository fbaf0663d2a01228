# MinGW-w64 i686 cross toolchain, statically linked so modules import only system DLLs.
# MIRELO_THREAD_MODEL picks the compilers: posix (the default) carries std::thread and
# std::mutex for the tests and tools; Mirelo.dll is built apart with win32, whose runtime
# leaves nothing behind when a host unloads the DLL (see CMakeLists.txt).
if(NOT MIRELO_THREAD_MODEL)
  set(MIRELO_THREAD_MODEL posix)
endif()
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES MIRELO_THREAD_MODEL)
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER i686-w64-mingw32-gcc-${MIRELO_THREAD_MODEL})
set(CMAKE_CXX_COMPILER i686-w64-mingw32-g++-${MIRELO_THREAD_MODEL})
set(CMAKE_RC_COMPILER i686-w64-mingw32-windres)
set(CMAKE_AR i686-w64-mingw32-gcc-ar-${MIRELO_THREAD_MODEL})
set(CMAKE_RANLIB i686-w64-mingw32-gcc-ranlib-${MIRELO_THREAD_MODEL})
set(CMAKE_FIND_ROOT_PATH /usr/i686-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
