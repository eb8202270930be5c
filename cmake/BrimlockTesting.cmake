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
endif()

# brimlock_wine_fixture(<prefix> [FRESH]): CTest fixture "wine_<prefix>" that boots the
# prefix build/wine/<prefix> (win32, win64, or NAME-win32 / NAME-win64), keeps its
# wineserver up while its tests run and ends it afterwards. FRESH makes it anew each run.
function(brimlock_wine_fixture prefix)
    get_property(done GLOBAL PROPERTY brimlock_fixture_${prefix})
    if(done OR NOT CMAKE_CROSSCOMPILING)
        return()
    endif()
    set_property(GLOBAL PROPERTY brimlock_fixture_${prefix} TRUE)
    cmake_parse_arguments(F "FRESH" "" "" ${ARGN})
    add_test(NAME wine.up.${prefix} COMMAND ${BRIMLOCK_WINERUN} ${BRIMLOCK_WINE_ROOT} --up ${prefix})
    add_test(NAME wine.down.${prefix} COMMAND ${BRIMLOCK_WINERUN} ${BRIMLOCK_WINE_ROOT} --down ${prefix})
    set_tests_properties(wine.up.${prefix} PROPERTIES FIXTURES_SETUP wine_${prefix} TIMEOUT 300
                         RESOURCE_LOCK wineboot)
    if(F_FRESH)
        set_tests_properties(wine.up.${prefix} PROPERTIES ENVIRONMENT BRIMLOCK_FRESH=1)
    endif()
    set_tests_properties(wine.down.${prefix} PROPERTIES FIXTURES_CLEANUP wine_${prefix} TIMEOUT 60)
endfunction()
brimlock_wine_fixture(win32)
brimlock_wine_fixture(win64)

# brimlock_add_gtest(<target> LABEL <label> SOURCES ... [LIBS ...] [ARCHES win32 win64 ...]
#                    [ENV VAR=value ...] [RESOURCE_LOCK name ...] [SERIAL] [TIMEOUT s])
# Builds a GoogleTest executable and lists each of its cases with CTest, once per Wine
# prefix (test names start with "<prefix>."). Tests that name any RESOURCE_LOCK (or SERIAL)
# share the state of their prefix (files in C:\, services, the registry, the DBWIN
# listener) and run one at a time per prefix; tests of different prefixes, and tests
# without locks, run side by side.
#
# gtest_discover_tests flattens list-valued properties, so every property here has one
# value: the environment travels as one variable, BRIMLOCK_TEST_ENV ("A=1|B=2"), which
# winerun unpacks.
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
        set(props LABELS "${T_LABEL}" TIMEOUT ${T_TIMEOUT})
        if(T_RESOURCE_LOCK OR T_SERIAL)
            list(APPEND props RESOURCE_LOCK "state.${arch}")
        endif()
        set(env "BRIMLOCK_WINEARCH=${arch}" "BRIMLOCK_BIN_DIR=${CMAKE_RUNTIME_OUTPUT_DIRECTORY}"
                "BRIMLOCK_SOURCE_DIR=${PROJECT_SOURCE_DIR}" ${T_ENV})
        if(CMAKE_CROSSCOMPILING)
            brimlock_wine_fixture(${arch})
            list(APPEND env "BRIMLOCK_WINE_ROOT=${BRIMLOCK_WINE_ROOT}")
            list(APPEND props FIXTURES_REQUIRED wine_${arch})
            set(prefix "${arch}.")
        else()
            set(prefix "")
        endif()
        string(REPLACE ";" "|" env "${env}")
        list(APPEND props ENVIRONMENT "BRIMLOCK_TEST_ENV=${env}")
        gtest_discover_tests(${target}
            TEST_PREFIX "${prefix}"
            DISCOVERY_MODE PRE_TEST
            DISCOVERY_TIMEOUT 180
            PROPERTIES ${props})
    endforeach()
endfunction()
