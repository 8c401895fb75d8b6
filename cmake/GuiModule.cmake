# Embeds the GUI module (stripped) into sfxstub, which loads it from memory when a window
# is needed.
# xz-compressed: the stub links liblzma anyway, and the module shrinks to about a third.
set(SFX_GUI_STRIPPED ${CMAKE_BINARY_DIR}/resources/sfxgui.so)
set(SFX_GUI_BLOB ${CMAKE_BINARY_DIR}/resources/sfxgui.so.xz)
set(SFX_GUI_ASM ${CMAKE_BINARY_DIR}/resources/sfxgui.S)

find_program(XZ_PROGRAM xz REQUIRED)
add_custom_command(
  OUTPUT ${SFX_GUI_BLOB}
  COMMAND ${CMAKE_STRIP} --strip-unneeded -o ${SFX_GUI_STRIPPED} $<TARGET_FILE:sfxgui>
  COMMAND ${XZ_PROGRAM} --x86 --lzma2=preset=9e --check=crc32 --force --keep ${SFX_GUI_STRIPPED}
  DEPENDS sfxgui
  COMMENT "Stripping and compressing the GUI module"
  VERBATIM)

file(CONFIGURE OUTPUT ${SFX_GUI_ASM} CONTENT [[
    .section .rodata.sfxgui,"a",%progbits
    .balign 16
    .globl sfx_gui_module_begin
    .hidden sfx_gui_module_begin
sfx_gui_module_begin:
    .incbin "@SFX_GUI_BLOB@"
    .globl sfx_gui_module_end
    .hidden sfx_gui_module_end
sfx_gui_module_end:
    .section .note.GNU-stack,"",%progbits
]] @ONLY)
set_source_files_properties(${SFX_GUI_ASM} PROPERTIES OBJECT_DEPENDS ${SFX_GUI_BLOB})

add_library(sfx_gui_blob OBJECT ${SFX_GUI_ASM} ${SFX_GUI_BLOB})
target_sources(sfxstub PRIVATE $<TARGET_OBJECTS:sfx_gui_blob>)
target_compile_definitions(sfxstub PRIVATE SFX_GUI_MODULE=1)

# The module's references to our code and Boost bind to the stub's copy, so the stub links in
# every member the module uses, even those the stub itself does not call, and exports them.
set(SFX_GUI_IMPORTS ${CMAKE_BINARY_DIR}/resources/sfxgui-imports.ld)
set(SFX_GUI_EXPORTS ${CMAKE_BINARY_DIR}/resources/sfxgui-exports.list)
add_custom_command(
  OUTPUT ${SFX_GUI_IMPORTS} ${SFX_GUI_EXPORTS}
  COMMAND ${CMAKE_COMMAND} -DNM=${CMAKE_NM} -DMODULE=$<TARGET_FILE:sfxgui>
    -DOUTPUT=${SFX_GUI_IMPORTS} -DEXPORTS=${SFX_GUI_EXPORTS}
    -P ${CMAKE_SOURCE_DIR}/cmake/ModuleImports.cmake
  DEPENDS sfxgui ${CMAKE_SOURCE_DIR}/cmake/ModuleImports.cmake
  COMMENT "Listing the symbols the GUI module takes from the stub"
  VERBATIM)
add_custom_target(sfx_gui_imports DEPENDS ${SFX_GUI_IMPORTS} ${SFX_GUI_EXPORTS})
add_dependencies(sfxstub sfx_gui_imports)
# An input script of EXTERN lines: ld takes it among the objects, before the libraries.
target_link_options(sfxstub PRIVATE ${SFX_GUI_IMPORTS} "LINKER:--dynamic-list=${SFX_GUI_EXPORTS}")
set_property(TARGET sfxstub APPEND PROPERTY LINK_DEPENDS ${SFX_GUI_IMPORTS} ${SFX_GUI_EXPORTS})
