# Embeds the GUI module (stripped) into sfxstub, which loads it from memory when a window
# is needed.
set(SFX_GUI_BLOB ${CMAKE_BINARY_DIR}/resources/sfxgui.so)
set(SFX_GUI_ASM ${CMAKE_BINARY_DIR}/resources/sfxgui.S)

add_custom_command(
  OUTPUT ${SFX_GUI_BLOB}
  COMMAND ${CMAKE_STRIP} --strip-unneeded -o ${SFX_GUI_BLOB} $<TARGET_FILE:sfxgui>
  DEPENDS sfxgui
  COMMENT "Stripping the GUI module"
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

# The module's Boost references bind to the stub's copy, so the stub links in every Boost member
# the module uses, even those the stub itself does not call.
set(SFX_GUI_IMPORTS ${CMAKE_BINARY_DIR}/resources/sfxgui-imports.ld)
add_custom_command(
  OUTPUT ${SFX_GUI_IMPORTS}
  COMMAND ${CMAKE_COMMAND} -DNM=${CMAKE_NM} -DMODULE=$<TARGET_FILE:sfxgui>
    -DOUTPUT=${SFX_GUI_IMPORTS} -P ${CMAKE_SOURCE_DIR}/cmake/ModuleImports.cmake
  DEPENDS sfxgui ${CMAKE_SOURCE_DIR}/cmake/ModuleImports.cmake
  COMMENT "Listing the Boost symbols the GUI module takes from the stub"
  VERBATIM)
add_custom_target(sfx_gui_imports DEPENDS ${SFX_GUI_IMPORTS})
add_dependencies(sfxstub sfx_gui_imports)
# An input script of EXTERN lines: ld takes it among the objects, before the libraries.
target_link_options(sfxstub PRIVATE ${SFX_GUI_IMPORTS})
set_property(TARGET sfxstub APPEND PROPERTY LINK_DEPENDS ${SFX_GUI_IMPORTS})
