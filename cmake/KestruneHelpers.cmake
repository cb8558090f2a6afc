# Shared build helpers.
#
# Platform code lives only in files whose names end in one of the suffixes below;
# kestrune_platform_sources() keeps the files of the platform being built and drops
# the others, so module lists name every file once and no portable file needs #ifdef.

set(KESTRUNE_WINDOWS_SUFFIXES _win32 _d3d11 _wic _winsock)
set(KESTRUNE_LINUX_SUFFIXES _sdl _gl _spng _posix)

function(kestrune_platform_sources out)
    if(WIN32)
        set(foreign ${KESTRUNE_LINUX_SUFFIXES})
    else()
        set(foreign ${KESTRUNE_WINDOWS_SUFFIXES})
    endif()
    set(kept)
    foreach(file IN LISTS ARGN)
        get_filename_component(stem ${file} NAME_WE)
        set(drop FALSE)
        foreach(suffix IN LISTS foreign)
            if(stem MATCHES "${suffix}$")
                set(drop TRUE)
            endif()
        endforeach()
        if(NOT drop)
            list(APPEND kept ${file})
        endif()
    endforeach()
    set(${out} ${kept} PARENT_SCOPE)
endfunction()

# kestrune_header_only_libraries(<target> <entry>...): header-only libraries that Debian
# installs into /usr/include (Asio, nlohmann/json, tinygltf), named file or folder by file or
# folder. The host build finds them there; the cross build cannot search /usr/include, whose
# C library headers would shadow mingw's, so it links just the named entries into a folder
# of their own and adds that.
function(kestrune_header_only_libraries target)
    if(NOT CMAKE_CROSSCOMPILING)
        return()
    endif()
    set(dir ${CMAKE_BINARY_DIR}/host-headers)
    foreach(entry IN LISTS ARGN)
        if(NOT EXISTS /usr/include/${entry})
            message(FATAL_ERROR "/usr/include/${entry} is missing: run scripts/bootstrap")
        endif()
        if(NOT EXISTS ${dir}/${entry})
            file(MAKE_DIRECTORY ${dir})
            file(CREATE_LINK /usr/include/${entry} ${dir}/${entry} SYMBOLIC)
        endif()
    endforeach()
    get_target_property(type ${target} TYPE)
    if(type STREQUAL "INTERFACE_LIBRARY")
        target_include_directories(${target} SYSTEM INTERFACE ${dir})
    else()
        target_include_directories(${target} SYSTEM PUBLIC ${dir})
    endif()
endfunction()

function(kestrune_warnings target)
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Wconversion
                           -Wno-sign-conversion -Wnon-virtual-dtor -Wold-style-cast)
endfunction()

# kestrune_module(<name> SOURCES ... [DEPENDS ...] [PUBLIC_LIBS ...] [PRIVATE_LIBS ...])
# Creates the static library kestrune_<name> from the sources of this platform.
function(kestrune_module name)
    cmake_parse_arguments(ARG "" "" "SOURCES;DEPENDS;PUBLIC_LIBS;PRIVATE_LIBS" ${ARGN})
    kestrune_platform_sources(sources ${ARG_SOURCES})
    add_library(kestrune_${name} STATIC ${sources})
    target_include_directories(kestrune_${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(kestrune_${name} PUBLIC ${ARG_DEPENDS} ${ARG_PUBLIC_LIBS} PRIVATE ${ARG_PRIVATE_LIBS})
    kestrune_warnings(kestrune_${name})
endfunction()

# GoogleTest: the host build uses Debian's packaged libraries; the Windows cross
# build compiles the sources Debian ships in /usr/src/googletest with the cross compiler.
macro(kestrune_find_gtest)
    if(NOT TARGET kestrune_gtest)
        if(WIN32)
            set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
            set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
            set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
            add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
            add_library(kestrune_gtest INTERFACE)
            target_link_libraries(kestrune_gtest INTERFACE gmock gtest_main)
        else()
            find_package(GTest REQUIRED)
            add_library(kestrune_gtest INTERFACE)
            target_link_libraries(kestrune_gtest INTERFACE GTest::gmock GTest::gtest_main)
        endif()
    endif()
endmacro()

# kestrune_test(<name> SOURCES ... LIBS ... [LABELS ...] [NO_WINDOWS])
# Builds the GoogleTest executable kestrune-<name>-tests and registers it with CTest.
# Each run writes GoogleTest's XML report to <build>/test-results/, which the test
# script sums into its closing line. In the Windows build CTest runs the exe through
# CMAKE_CROSSCOMPILING_EMULATOR (Wine). Tests run from the repository root so they
# can read ../shared/testdata.
function(kestrune_test name)
    cmake_parse_arguments(ARG "NO_WINDOWS" "" "SOURCES;LIBS;LABELS" ${ARGN})
    if(KESTRUNE_FUZZ OR (WIN32 AND ARG_NO_WINDOWS))
        return()
    endif()
    kestrune_find_gtest()
    kestrune_platform_sources(sources ${ARG_SOURCES})
    set(exe kestrune-${name}-tests)
    add_executable(${exe} ${sources})
    target_link_libraries(${exe} PRIVATE ${ARG_LIBS} kestrune_gtest)
    target_include_directories(${exe} PRIVATE ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/tests)
    target_compile_definitions(${exe} PRIVATE
        KESTRUNE_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
        KESTRUNE_BINARY_DIR="${CMAKE_BINARY_DIR}")
    set(report ${CMAKE_BINARY_DIR}/test-results/${exe}.xml)
    if(WIN32)
        # Under Wine a path without a drive letter is taken as relative; Z: is Wine's root drive.
        set(report Z:${report})
    endif()
    add_test(NAME ${exe}
             COMMAND ${exe} --gtest_output=xml:${report}
             WORKING_DIRECTORY ${PROJECT_SOURCE_DIR})
    set_tests_properties(${exe} PROPERTIES LABELS "gtest;${ARG_LABELS}")
    # Suites labelled "tsan" are the threaded ones; the linux-tsan build compiles only them.
    if("tsan" IN_LIST ARG_LABELS)
        add_dependencies(tsan-suites ${exe})
    endif()
endfunction()

# kestrune_fuzzer(<name> SOURCES ... LIBS ... SECONDS <n> [SEEDS <dir>]
#                 [SEED_PROGRAM <sources>... SEED_LIBS <libs>...])
# Builds fuzz-<name> (libFuzzer) and registers a time-boxed CTest run of it. With SEED_PROGRAM,
# a small program built from those sources writes seed files into the build tree (the folder is
# its one argument) before the target is built, and the run starts from them too.
function(kestrune_fuzzer name)
    cmake_parse_arguments(ARG "" "SECONDS;SEEDS" "SOURCES;LIBS;SEED_PROGRAM;SEED_LIBS" ${ARGN})
    if(NOT KESTRUNE_FUZZ)
        return()
    endif()
    set(exe fuzz-${name})
    add_executable(${exe} ${ARG_SOURCES})
    target_link_libraries(${exe} PRIVATE ${ARG_LIBS})
    target_link_options(${exe} PRIVATE -fsanitize=fuzzer)
    target_include_directories(${exe} PRIVATE ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/tests)
    set(corpus ${CMAKE_BINARY_DIR}/fuzz-corpus/${name})
    file(MAKE_DIRECTORY ${corpus})
    set(dirs ${corpus})
    if(ARG_SEEDS)
        list(APPEND dirs ${ARG_SEEDS})
    endif()
    if(ARG_SEED_PROGRAM)
        set(seeds ${CMAKE_BINARY_DIR}/fuzz-seeds/${name})
        add_executable(${name}-fuzz-seeds ${ARG_SEED_PROGRAM})
        target_link_libraries(${name}-fuzz-seeds PRIVATE ${ARG_SEED_LIBS})
        target_include_directories(${name}-fuzz-seeds PRIVATE ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/tests)
        add_custom_command(OUTPUT ${seeds}.stamp
                           COMMAND ${name}-fuzz-seeds ${seeds}
                           COMMAND ${CMAKE_COMMAND} -E touch ${seeds}.stamp
                           DEPENDS ${name}-fuzz-seeds)
        add_custom_target(${name}-fuzz-seed-files DEPENDS ${seeds}.stamp)
        add_dependencies(${exe} ${name}-fuzz-seed-files)
        list(APPEND dirs ${seeds})
    endif()
    add_test(NAME ${exe}
             COMMAND ${exe} -max_total_time=${ARG_SECONDS} -timeout=10 -rss_limit_mb=4096
                     -print_final_stats=1 ${dirs}
             WORKING_DIRECTORY ${PROJECT_SOURCE_DIR})
    set_tests_properties(${exe} PROPERTIES LABELS fuzz TIMEOUT 900)
    add_dependencies(fuzzers ${exe})
endfunction()

# kestrune_keeps_mesa_loaded(<test>)
# Mesa loads its GL driver when a window or surface first needs one and unloads it at exit,
# taking the roots of the driver's own allocations with it: LeakSanitizer then reports that
# memory as the program's leaks. A test that draws preloads the driver (a preloaded library
# stays until the end), so its memory stays reachable and leak detection stays on for ours;
# what system libraries keep to the end is suppressed by library in tests/lsan.supp.
function(kestrune_keeps_mesa_loaded test)
    if(WIN32 OR NOT KESTRUNE_SANITIZE MATCHES "address")
        return()
    endif()
    set(directory /usr/lib/${CMAKE_LIBRARY_ARCHITECTURE})
    find_file(KESTRUNE_MESA_DRI swrast_dri.so PATHS ${directory}/dri NO_DEFAULT_PATH)
    find_file(KESTRUNE_MESA_EGL libEGL_mesa.so.0 PATHS ${directory} NO_DEFAULT_PATH)
    find_file(KESTRUNE_MESA_GLX libGLX_mesa.so.0 PATHS ${directory} NO_DEFAULT_PATH)
    if(NOT KESTRUNE_MESA_DRI OR NOT KESTRUNE_MESA_EGL OR NOT KESTRUNE_MESA_GLX)
        message(FATAL_ERROR "Mesa's llvmpipe driver, EGL and GLX libraries are needed by the tests that draw "
                            "(scripts/bootstrap installs them)")
    endif()
    set_property(TEST ${test} APPEND PROPERTY ENVIRONMENT
                 "LD_PRELOAD=${KESTRUNE_MESA_DRI}:${KESTRUNE_MESA_EGL}:${KESTRUNE_MESA_GLX}"
                 "ASAN_OPTIONS=verify_asan_link_order=0"
                 "LSAN_OPTIONS=suppressions=${PROJECT_SOURCE_DIR}/tests/lsan.supp")
endfunction()
