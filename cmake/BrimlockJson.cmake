# brimlock_json: nlohmann/json (header-only) for the console scan and its tests.
# With MSVC (vcpkg or an installed package) the package's own CMake target is used. A
# mingw cross build must not put the Linux host's /usr/include on its include path (glibc's
# headers would shadow mingw's), so the header tree is copied into the build tree and only
# that copy is searched.
add_library(brimlock_json INTERFACE)
if(NOT CMAKE_CROSSCOMPILING)
    find_package(nlohmann_json 3.2 CONFIG REQUIRED)
    target_link_libraries(brimlock_json INTERFACE nlohmann_json::nlohmann_json)
    return()
endif()
find_path(BRIMLOCK_NLOHMANN_JSON_INCLUDE nlohmann/json.hpp
          PATHS /usr/include /usr/local/include NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
if(NOT BRIMLOCK_NLOHMANN_JSON_INCLUDE)
    message(FATAL_ERROR "nlohmann/json.hpp not found: install nlohmann-json3-dev (scripts/lib/deps.sh does)")
endif()
set(_json_copy ${CMAKE_BINARY_DIR}/third_party/include)
file(COPY ${BRIMLOCK_NLOHMANN_JSON_INCLUDE}/nlohmann DESTINATION ${_json_copy})
target_include_directories(brimlock_json SYSTEM INTERFACE ${_json_copy})
