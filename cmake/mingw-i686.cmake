# MinGW-w64 i686 cross toolchain, statically linked so modules import only system DLLs.
# MIRELO_THREAD_MODEL picks the compilers: posix (the default) for the tests and tools;
# Mirelo.dll is built apart with win32 (see CMakeLists.txt).
set(mirelo_mingw_arch i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
