# The player's package: one folder with the programs, the baked content, the launcher, a README
# for players and the licence texts of the libraries linked into the programs. The install
# rules serve `cmake --install` and CPack alike: a .tar.gz on Linux (the system libraries stay
# dependencies, named in the README), a ZIP on Windows that needs nothing outside the folder.
# `package-contents` builds exactly what the package holds, so packaging never builds tests.

set(KESTRUNE_PACKAGED_PROGRAMS KestruneNative kestrune-duel-server kestrune-net-relay kestrune-bake kestrune-play)
add_custom_target(package-contents DEPENDS ${KESTRUNE_PACKAGED_PROGRAMS} content)

install(TARGETS ${KESTRUNE_PACKAGED_PROGRAMS} RUNTIME DESTINATION .)
install(DIRECTORY ${KESTRUNE_CONTENT_DIR}/ DESTINATION content)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/README.txt DESTINATION .)

# Licence texts as Debian ships them with each library's package: name, then package. The
# HUD's font atlas is rendered from DejaVu Sans, so its licence goes with the content on both.
if(WIN32)
    # Compiled in from headers, and the statically linked GCC and mingw-w64 runtimes.
    set(licences
        asio libasio-dev  nlohmann-json nlohmann-json3-dev  tinygltf libtinygltf-dev
        gcc-runtime gcc-mingw-w64-base  mingw-w64-runtime mingw-w64-common  dejavu fonts-dejavu-core)
else()
    set(licences
        asio libasio-dev  nlohmann-json nlohmann-json3-dev  tinygltf libtinygltf-dev
        SDL2 libsdl2-dev  libspng libspng-dev  libjpeg-turbo libturbojpeg0-dev  zlib zlib1g
        freetype libfreetype6  gcc-runtime libstdc++6  dejavu fonts-dejavu-core)
endif()
while(licences)
    list(POP_FRONT licences name debian_package)
    set(text /usr/share/doc/${debian_package}/copyright)
    if(NOT EXISTS ${text})
        message(FATAL_ERROR "${text} is missing: run scripts/bootstrap")
    endif()
    install(FILES ${text} DESTINATION licenses RENAME ${name}.txt)
endwhile()

if(WIN32)
    # DLLs the programs load that Windows does not provide are copied beside them: with the
    # static runtime there are none, and a stray one (a DLL import of libstdc++ or
    # winpthread) is packaged rather than missing. A DLL found nowhere must be a system one.
    execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-libgcc-file-name OUTPUT_VARIABLE libgcc
                    OUTPUT_STRIP_TRAILING_WHITESPACE)
    get_filename_component(gcc_dir ${libgcc} DIRECTORY)
    set(search_dirs ${gcc_dir} ${CMAKE_FIND_ROOT_PATH}/lib ${CMAKE_FIND_ROOT_PATH}/bin)
    set(programs)
    foreach(program IN LISTS KESTRUNE_PACKAGED_PROGRAMS)
        list(APPEND programs "$<TARGET_FILE:${program}>")
    endforeach()
    install(CODE "
        set(CMAKE_GET_RUNTIME_DEPENDENCIES_PLATFORM windows+pe)
        set(CMAKE_GET_RUNTIME_DEPENDENCIES_TOOL objdump)
        set(CMAKE_GET_RUNTIME_DEPENDENCIES_COMMAND ${CMAKE_OBJDUMP})
        file(GET_RUNTIME_DEPENDENCIES
             EXECUTABLES ${programs}
             DIRECTORIES ${search_dirs}
             PRE_EXCLUDE_REGEXES [[^api-ms-]] [[^ext-ms-]]
             RESOLVED_DEPENDENCIES_VAR found
             UNRESOLVED_DEPENDENCIES_VAR system)
        foreach(dll IN LISTS found)
            message(STATUS \"Packaging the runtime DLL \${dll}\")
            file(INSTALL \${dll} DESTINATION \${CMAKE_INSTALL_PREFIX})
        endforeach()
        message(STATUS \"DLLs left to Windows: \${system}\")
    ")
endif()

set(CPACK_PACKAGE_NAME KestruneNative)
set(CPACK_PACKAGE_VENDOR Kestrune)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
if(WIN32)
    set(CPACK_GENERATOR ZIP)
    set(CPACK_SYSTEM_NAME windows-x64)
else()
    set(CPACK_GENERATOR TGZ)
    set(CPACK_SYSTEM_NAME linux-x86_64)
endif()
set(CPACK_PACKAGE_FILE_NAME ${CPACK_PACKAGE_NAME}-${PROJECT_VERSION}-${CPACK_SYSTEM_NAME})
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/packages)
set(CPACK_VERBATIM_VARIABLES ON)
include(CPack)
