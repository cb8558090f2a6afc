# kestrune_gltf_import: glTF 2.0 characters into Kestrune Models, with the image decoders and
# the PNG encoder they need. A library of its own so the fuzz build, which leaves tools/
# out, can build the importer without the rest of the baker.
if(TARGET kestrune_gltf_import)
    return()
endif()

set(gltf_dir ${CMAKE_CURRENT_LIST_DIR})

# Source images: libspng and libjpeg-turbo on Linux, WIC (which the runtime's content
# library links already) in the Windows build.
if(WIN32)
    set(image_sources ${gltf_dir}/image_decoding_wic.cpp)
    set(image_libs)
else()
    find_package(PkgConfig REQUIRED)
    pkg_check_modules(SPNG REQUIRED IMPORTED_TARGET spng)
    pkg_check_modules(TURBOJPEG REQUIRED IMPORTED_TARGET libturbojpeg)
    set(image_sources ${gltf_dir}/image_decoding_spng.cpp ${gltf_dir}/image_decoding_turbojpeg.cpp)
    set(image_libs PkgConfig::SPNG PkgConfig::TURBOJPEG)
endif()
if(CMAKE_CROSSCOMPILING)
    add_library(kestrune_json INTERFACE)
    kestrune_header_only_libraries(kestrune_json nlohmann)
    set(json_library kestrune_json)
else()
    find_package(nlohmann_json 3 REQUIRED)
    set(json_library nlohmann_json::nlohmann_json)
endif()

# tinygltf is Debian's header (libtinygltf-dev), compiled here rather than linked from its
# shared library: that build decodes images with stb_image, which the importer replaces
# with libspng and libjpeg-turbo under its own limits, and a local build is instrumented
# by the sanitizers and the fuzzer like the rest of the importer.
add_library(kestrune_tinygltf STATIC ${gltf_dir}/tiny_gltf_impl.cpp)
target_link_libraries(kestrune_tinygltf PUBLIC ${json_library})
kestrune_header_only_libraries(kestrune_tinygltf tiny_gltf.h)
target_compile_definitions(kestrune_tinygltf PUBLIC TINYGLTF_NO_STB_IMAGE TINYGLTF_NO_STB_IMAGE_WRITE)

add_library(kestrune_gltf_import STATIC
    ${gltf_dir}/bake_math.cpp
    ${gltf_dir}/gltf_accessors.cpp
    ${gltf_dir}/gltf_animation.cpp
    ${gltf_dir}/gltf_import.cpp
    ${gltf_dir}/gltf_scene.cpp
    ${gltf_dir}/image.cpp
    ${gltf_dir}/image_decoding.cpp
    ${image_sources}
    ${gltf_dir}/png_encoder.cpp)
target_include_directories(kestrune_gltf_import PUBLIC ${gltf_dir})
target_link_libraries(kestrune_gltf_import
    PUBLIC kestrune_content
    PRIVATE kestrune_tinygltf ${image_libs})
kestrune_warnings(kestrune_gltf_import)
