# MinGW-w64 x86_64 cross toolchain for the 64-bit Textractor extension and its test host,
# statically linked so modules import only system DLLs. The win32 build drives it with
# MIRELO_THREAD_MODEL=win32 (see programs/textractor/CMakeLists.txt).
set(mirelo_mingw_arch x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
