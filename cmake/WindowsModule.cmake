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
