# Cross build of the 64-bit service object and JavaPOS bridge with
# mingw-w64; tests run under Wine in a 64-bit (WoW64) prefix.
set(MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
