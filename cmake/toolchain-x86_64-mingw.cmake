# Cross build for x86_64 Windows with mingw-w64 (posix thread model), for the substitute
# test run on hosts that cannot execute 32-bit x86 code (scripts/test-x64). The product is
# 32-bit; this tree only checks what a 64-bit build of the same sources can check.
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(_triple x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw-common.cmake)

# A 64-bit build is accepted only as this test build; the tests run under Wine's 64-bit
# loader, in 64-bit prefixes only (see cmake/BrimlockTesting.cmake).
set(BRIMLOCK_X64_TEST_BUILD ON CACHE BOOL "x86_64 test build for hosts without 32-bit execution")
set(BRIMLOCK_WINE_LOADER /usr/lib/wine/wine64 CACHE FILEPATH "Wine loader for the tests")
