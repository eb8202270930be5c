# GoogleTest built from source with the same compiler, and the helpers that register
# test executables with CTest. Cross-built tests run under tools/wine/winerun, in a Wine
# prefix under build/wine/<arch>; each prefix is a CTest fixture that boots it, keeps a
# wineserver up for the run and ends it afterwards.
set(BRIMLOCK_GTEST_SOURCE_DIR "/usr/src/googletest" CACHE PATH "GoogleTest source tree")
set(BRIMLOCK_HAVE_GTEST OFF)
if(BRIMLOCK_GTEST_SOURCE_DIR AND EXISTS "${BRIMLOCK_GTEST_SOURCE_DIR}/CMakeLists.txt")
    set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
    add_subdirectory(${BRIMLOCK_GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
    set(BRIMLOCK_HAVE_GTEST ON)
else()
    find_package(GTest CONFIG QUIET)
    if(GTest_FOUND)
        set(BRIMLOCK_HAVE_GTEST ON)
    else()
        message(WARNING "GoogleTest not found: tests are not built "
                        "(set BRIMLOCK_GTEST_SOURCE_DIR or install GTest).")
    endif()
endif()
include(GoogleTest)

set(BRIMLOCK_WINE_ROOT ${CMAKE_BINARY_DIR}/wine)
set(BRIMLOCK_WINERUN ${PROJECT_SOURCE_DIR}/tools/wine/winerun)
if(CMAKE_CROSSCOMPILING)
    set(CMAKE_CROSSCOMPILING_EMULATOR "${BRIMLOCK_WINERUN};${BRIMLOCK_WINE_ROOT}")
    foreach(arch win32 win64)
        add_test(NAME wine.up.${arch} COMMAND ${BRIMLOCK_WINERUN} ${BRIMLOCK_WINE_ROOT} --up ${arch})
        add_test(NAME wine.down.${arch} COMMAND ${BRIMLOCK_WINERUN} ${BRIMLOCK_WINE_ROOT} --down ${arch})
        set_tests_properties(wine.up.${arch} PROPERTIES FIXTURES_SETUP wine_${arch} TIMEOUT 300
                             RESOURCE_LOCK wineboot)
        set_tests_properties(wine.down.${arch} PROPERTIES FIXTURES_CLEANUP wine_${arch} TIMEOUT 60)
    endforeach()
endif()

# brimlock_add_gtest(<target> LABEL <label> SOURCES ... [LIBS ...] [ARCHES win32 win64]
#                    [ENV VAR=value ...] [RESOURCE_LOCK name ...] [TIMEOUT s] [SERIAL])
# Builds a GoogleTest executable and lists each of its cases with CTest, once per Wine
# prefix architecture (test names start with "win32." or "win64."). RESOURCE_LOCK names
# get the architecture appended, so tests of different prefixes still run side by side.
function(brimlock_add_gtest target)
    cmake_parse_arguments(T "SERIAL" "LABEL;TIMEOUT" "SOURCES;LIBS;ARCHES;ENV;RESOURCE_LOCK" ${ARGN})
    if(NOT T_LABEL)
        message(FATAL_ERROR "brimlock_add_gtest(${target}): LABEL is required")
    endif()
    if(NOT T_ARCHES)
        set(T_ARCHES win32)
    endif()
    if(NOT T_TIMEOUT)
        set(T_TIMEOUT 120)
    endif()
    add_executable(${target} ${T_SOURCES})
    target_link_libraries(${target} PRIVATE brimlock_options brimlock_test_support
                          GTest::gtest_main GTest::gmock ${T_LIBS})
    if(NOT CMAKE_CROSSCOMPILING)
        list(GET T_ARCHES 0 T_ARCHES)
    endif()
    foreach(arch ${T_ARCHES})
        set(locks "")
        foreach(lock ${T_RESOURCE_LOCK})
            list(APPEND locks "${lock}.${arch}")
        endforeach()
        if(T_SERIAL)
            list(APPEND locks "serial.${arch}")
        endif()
        set(props LABELS "${T_LABEL}" TIMEOUT ${T_TIMEOUT})
        if(locks)
            list(APPEND props RESOURCE_LOCK "${locks}")
        endif()
        set(env "BRIMLOCK_WINEARCH=${arch}" "BRIMLOCK_BIN_DIR=${CMAKE_RUNTIME_OUTPUT_DIRECTORY}"
                "BRIMLOCK_SOURCE_DIR=${PROJECT_SOURCE_DIR}" ${T_ENV})
        if(CMAKE_CROSSCOMPILING)
            list(APPEND props FIXTURES_REQUIRED wine_${arch}
                 ENVIRONMENT "${env};BRIMLOCK_WINE_ROOT=${BRIMLOCK_WINE_ROOT}")
            set(prefix "${arch}.")
        else()
            list(APPEND props ENVIRONMENT "${env}")
            set(prefix "")
        endif()
        gtest_discover_tests(${target}
            TEST_PREFIX "${prefix}"
            DISCOVERY_MODE PRE_TEST
            DISCOVERY_TIMEOUT 180
            PROPERTIES ${props})
    endforeach()
endfunction()
