# Settings shared by every target: Unicode Win32, static runtime, no DLL beside the programs.
add_library(brimlock_options INTERFACE)
target_compile_definitions(brimlock_options INTERFACE
    UNICODE _UNICODE NOMINMAX WIN32_LEAN_AND_MEAN
    _WIN32_WINNT=0x0601 WINVER=0x0601 NTDDI_VERSION=0x06010000)
target_include_directories(brimlock_options INTERFACE ${PROJECT_SOURCE_DIR}/_source)

if(MSVC)
    set(CMAKE_MSVC_RUNTIME_LIBRARY "MultiThreaded$<$<CONFIG:Debug>:Debug>" CACHE STRING "" FORCE)
    target_compile_options(brimlock_options INTERFACE /W4 /utf-8 /EHsc /permissive-)
    # The manifest comes from our own .rc file.
    target_link_options(brimlock_options INTERFACE /MANIFEST:NO)
else()
    target_compile_options(brimlock_options INTERFACE -Wall -Wextra -Wno-unused-parameter
        -Wno-cast-function-type -finput-charset=UTF-8)
    target_link_options(brimlock_options INTERFACE -static -static-libgcc -static-libstdc++)
endif()

# brimlock_gui_program(target [NO_MANIFEST]): a GUI-subsystem program whose entry point is
# wWinMain, with the asInvoker manifest unless the program brings its own.
function(brimlock_gui_program target)
    cmake_parse_arguments(G "NO_MANIFEST" "" "" ${ARGN})
    set_target_properties(${target} PROPERTIES WIN32_EXECUTABLE TRUE)
    if(NOT G_NO_MANIFEST)
        target_sources(${target} PRIVATE ${PROJECT_SOURCE_DIR}/_source/_service/asInvoker.rc)
    endif()
    if(NOT MSVC)
        target_link_options(${target} PRIVATE -municode)
    endif()
endfunction()

# brimlock_console_program(target): a console program whose entry point is wmain.
function(brimlock_console_program target)
    if(NOT MSVC)
        target_link_options(${target} PRIVATE -municode)
    endif()
endfunction()
