# kestrune_font_baking: the HUD's font rasterised and packed into its atlas. A library of its
# own so the fuzz build, which leaves tools/ out, can bake the font decoder's seed with it.
if(TARGET kestrune_font_baking)
    return()
endif()

set(font_dir ${CMAKE_CURRENT_LIST_DIR})

# FreeType rasterises on Linux. The Windows build's rasteriser refuses: its content is baked
# by a Linux host build of kestrune-bake (KestruneContent.cmake).
if(WIN32)
    set(font_sources ${font_dir}/font_rasteriser_win32.cpp)
    set(font_libs)
else()
    find_package(Freetype REQUIRED)
    set(font_sources ${font_dir}/font_rasteriser_freetype.cpp)
    set(font_libs Freetype::Freetype)
endif()

add_library(kestrune_font_baking STATIC ${font_dir}/font_baking.cpp ${font_sources})
target_include_directories(kestrune_font_baking PUBLIC ${font_dir})
target_link_libraries(kestrune_font_baking PUBLIC kestrune_content PRIVATE ${font_libs})
kestrune_warnings(kestrune_font_baking)
