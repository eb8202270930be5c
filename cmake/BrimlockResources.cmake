# Resources that administrators' tools read from the programs: the version resource (file
# properties, inventory and upgrade tools) and the message table that Event Viewer uses to
# show the records of an event source.

# brimlock_version_resource(<target> VERSION <major.minor.patch> FILE_NAME <name.exe>
#                           DESCRIPTION <text>)
# A VERSIONINFO resource made from VersionInfo.rc.in: file and product version, the maker
# "Corvane", the product name "brimlock", the description and the original file name.
function(brimlock_version_resource target)
    cmake_parse_arguments(V "" "VERSION;FILE_NAME;DESCRIPTION" "" ${ARGN})
    if(NOT V_VERSION MATCHES "^([0-9]+)\\.([0-9]+)\\.([0-9]+)$")
        message(FATAL_ERROR "brimlock_version_resource(${target}): VERSION must be major.minor.patch, not '${V_VERSION}'")
    endif()
    set(BRIMLOCK_RC_VERSION_MAJOR ${CMAKE_MATCH_1})
    set(BRIMLOCK_RC_VERSION_MINOR ${CMAKE_MATCH_2})
    set(BRIMLOCK_RC_VERSION_PATCH ${CMAKE_MATCH_3})
    set(BRIMLOCK_RC_VERSION ${V_VERSION})
    set(BRIMLOCK_RC_FILE_NAME ${V_FILE_NAME})
    set(BRIMLOCK_RC_DESCRIPTION ${V_DESCRIPTION})
    set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}_version.rc)
    configure_file(${PROJECT_SOURCE_DIR}/_source/VersionInfo.rc.in ${rc} @ONLY)
    target_sources(${target} PRIVATE ${rc})
endfunction()

# brimlock_message_table(<target> <file.mc>)
# Compiles the message text file with the message compiler of the toolchain (windmc of
# binutils-mingw-w64 in the cross build, mc.exe of the Windows SDK under MSVC) into a
# message table resource of the target, with Unicode texts.
function(brimlock_message_table target mc)
    if(MSVC)
        # mc.exe sits beside rc.exe in the Windows SDK's bin folder, which a Visual Studio
        # generator does not put on the path.
        get_filename_component(rc_dir "${CMAKE_RC_COMPILER}" DIRECTORY)
        set(program_files_x86 "ProgramFiles(x86)")
        set(kits "$ENV{${program_files_x86}}/Windows Kits/10/bin")
        find_program(BRIMLOCK_MC NAMES mc mc.exe
                     HINTS "${rc_dir}" "${kits}/${CMAKE_VS_WINDOWS_TARGET_PLATFORM_VERSION}/x86" "${kits}/x86"
                     DOC "the Windows SDK's message compiler")
    else()
        string(REGEX REPLACE "windres$" "windmc" windmc_guess "${CMAKE_RC_COMPILER}")
        find_program(BRIMLOCK_MC NAMES ${windmc_guess} i686-w64-mingw32-windmc windmc
                     DOC "the message compiler of binutils-mingw-w64")
    endif()
    if(NOT BRIMLOCK_MC)
        message(FATAL_ERROR "no message compiler found (mc.exe of the Windows SDK, or windmc of "
                            "binutils-mingw-w64-i686)")
    endif()
    get_filename_component(base ${mc} NAME_WE)
    set(out ${CMAKE_CURRENT_BINARY_DIR}/${target}_${base})
    # Both compilers take -U (Unicode texts in the .bin files), -h (header folder) and -r
    # (folder of the .rc and .bin files) and name the .rc after the .mc file.
    add_custom_command(
        OUTPUT ${out}/${base}.rc ${out}/${base}.h
        COMMAND ${CMAKE_COMMAND} -E make_directory ${out}
        COMMAND ${BRIMLOCK_MC} -U -h ${out} -r ${out} ${mc}
        DEPENDS ${mc}
        WORKING_DIRECTORY ${out}
        COMMENT "Compiling the message table ${base}.mc for ${target}"
        VERBATIM)
    target_sources(${target} PRIVATE ${out}/${base}.rc)
    # The .rc names its .bin files without a folder.
    set_source_files_properties(${out}/${base}.rc PROPERTIES INCLUDE_DIRECTORIES ${out})
endfunction()
