# Embeds the windows module (stripped) into sfxstub, which loads it from memory when a window
# is needed.
set(SFX_WINDOWS_BLOB ${CMAKE_BINARY_DIR}/resources/sfxwindows.so)
set(SFX_WINDOWS_ASM ${CMAKE_BINARY_DIR}/resources/sfxwindows.S)

add_custom_command(
  OUTPUT ${SFX_WINDOWS_BLOB}
  COMMAND ${CMAKE_STRIP} --strip-unneeded -o ${SFX_WINDOWS_BLOB} $<TARGET_FILE:sfxwindows>
  DEPENDS sfxwindows
  COMMENT "Stripping the windows module"
  VERBATIM)

file(CONFIGURE OUTPUT ${SFX_WINDOWS_ASM} CONTENT [[
    .section .rodata.sfxwindows,"a",%progbits
    .balign 16
    .globl sfx_windows_module_begin
    .hidden sfx_windows_module_begin
sfx_windows_module_begin:
    .incbin "@SFX_WINDOWS_BLOB@"
    .globl sfx_windows_module_end
    .hidden sfx_windows_module_end
sfx_windows_module_end:
    .section .note.GNU-stack,"",%progbits
]] @ONLY)
set_source_files_properties(${SFX_WINDOWS_ASM} PROPERTIES OBJECT_DEPENDS ${SFX_WINDOWS_BLOB})

add_library(sfx_windows_blob OBJECT ${SFX_WINDOWS_ASM} ${SFX_WINDOWS_BLOB})
target_sources(sfxstub PRIVATE $<TARGET_OBJECTS:sfx_windows_blob>)
target_compile_definitions(sfxstub PRIVATE SFX_WINDOWS_MODULE=1)

# The module's Boost references bind to the stub's copy, so the stub links in every Boost member
# the module uses, even those the stub itself does not call.
set(SFX_WINDOWS_IMPORTS ${CMAKE_BINARY_DIR}/resources/sfxwindows-imports.ld)
add_custom_command(
  OUTPUT ${SFX_WINDOWS_IMPORTS}
  COMMAND ${CMAKE_COMMAND} -DNM=${CMAKE_NM} -DMODULE=$<TARGET_FILE:sfxwindows>
    -DOUTPUT=${SFX_WINDOWS_IMPORTS} -P ${CMAKE_SOURCE_DIR}/cmake/ModuleImports.cmake
  DEPENDS sfxwindows ${CMAKE_SOURCE_DIR}/cmake/ModuleImports.cmake
  COMMENT "Listing the Boost symbols the windows module takes from the stub"
  VERBATIM)
add_custom_target(sfx_windows_imports DEPENDS ${SFX_WINDOWS_IMPORTS})
add_dependencies(sfxstub sfx_windows_imports)
# An input script of EXTERN lines: ld takes it among the objects, before the libraries.
target_link_options(sfxstub PRIVATE ${SFX_WINDOWS_IMPORTS})
set_property(TARGET sfxstub APPEND PROPERTY LINK_DEPENDS ${SFX_WINDOWS_IMPORTS})
