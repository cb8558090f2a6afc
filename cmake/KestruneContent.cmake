# The runtime content directory that kestrune-bake produces at build time: <build>/content
# on Linux, and <build>/bin/content next to KestruneNative.exe on Windows, where a small host
# build of the tool does the baking (the cross-built tool could not run on the build machine).
# Nothing generated lands in the source tree.

if(WIN32)
    set(KESTRUNE_CONTENT_DIR ${CMAKE_BINARY_DIR}/bin/content)
    # The host build of kestrune-bake below; the end-to-end runs inspect the content with it.
    set(KESTRUNE_HOST_TOOLS_DIR ${CMAKE_BINARY_DIR}/host-tools)
    set(KESTRUNE_HOST_BAKE ${KESTRUNE_HOST_TOOLS_DIR}/bin/kestrune-bake)
else()
    set(KESTRUNE_CONTENT_DIR ${CMAKE_BINARY_DIR}/content)
endif()

# kestrune_bake_content(<tool> [DEPENDS...]): the default target "content" runs <tool> (a
# target name or a program path) to bake KESTRUNE_CONTENT_DIR; its MANIFEST is written last,
# so an interrupted bake runs again.
function(kestrune_bake_content tool)
    add_custom_command(OUTPUT ${KESTRUNE_CONTENT_DIR}/MANIFEST
                       COMMAND ${tool} --out=${KESTRUNE_CONTENT_DIR}
                       DEPENDS ${ARGN}
                       COMMENT "Baking the runtime content into ${KESTRUNE_CONTENT_DIR}"
                       VERBATIM)
    add_custom_target(content ALL DEPENDS ${KESTRUNE_CONTENT_DIR}/MANIFEST)
endfunction()

# The Windows build bakes with a Release host build of kestrune-bake alone (no tests, no
# benchmarks), configured and built in <build>/host-tools.
function(kestrune_bake_content_with_host_tool)
    include(ExternalProject)
    set(host_dir ${KESTRUNE_HOST_TOOLS_DIR})
    set(host_tool ${KESTRUNE_HOST_BAKE})
    ExternalProject_Add(host-baker
        SOURCE_DIR ${PROJECT_SOURCE_DIR}
        BINARY_DIR ${host_dir}
        CMAKE_GENERATOR ${CMAKE_GENERATOR}
        CMAKE_ARGS -DCMAKE_BUILD_TYPE=Release -DKESTRUNE_BUILD_TESTS=OFF -DKESTRUNE_BUILD_BENCH=OFF
        BUILD_COMMAND ${CMAKE_COMMAND} --build ${host_dir} --target kestrune-bake
        BUILD_BYPRODUCTS ${host_tool}
        BUILD_ALWAYS ON
        INSTALL_COMMAND "")
    kestrune_bake_content(${host_tool} host-baker ${host_tool})
endfunction()

# kestrune_reads_baked_content(<target>): the target reads the baked content directory at
# KESTRUNE_CONTENT_DIR (relative to the repository root, where the tests run) and is built
# after it wherever a build bakes (the tools, or the Windows host baker).
function(kestrune_reads_baked_content target)
    file(RELATIVE_PATH content_dir ${PROJECT_SOURCE_DIR} ${KESTRUNE_CONTENT_DIR})
    target_compile_definitions(${target} PRIVATE KESTRUNE_CONTENT_DIR="${content_dir}")
    if(KESTRUNE_BUILD_TOOLS OR WIN32)
        add_dependencies(${target} content)
    endif()
endfunction()
