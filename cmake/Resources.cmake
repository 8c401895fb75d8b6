# Compiles resources/ into the PE resource tree that sfxstub carries in its .rsrc section.
# rescomp writes a dependency file listing every resource it read, so that a changed string
# table or icon rebuilds the tree.
set(SFX_RSRC_MANIFEST ${CMAKE_SOURCE_DIR}/resources/resources.manifest)
set(SFX_RSRC_DIR ${CMAKE_BINARY_DIR}/resources)
set(SFX_RSRC_BLOB ${SFX_RSRC_DIR}/sfx.rsrc)
set(SFX_RSRC_ASM ${SFX_RSRC_DIR}/rsrc.S)
file(MAKE_DIRECTORY ${SFX_RSRC_DIR})

add_custom_command(
  OUTPUT ${SFX_RSRC_BLOB}
  COMMAND rescomp ${SFX_RSRC_MANIFEST} ${SFX_RSRC_BLOB} --depfile ${SFX_RSRC_BLOB}.d
  DEPENDS rescomp ${SFX_RSRC_MANIFEST}
  DEPFILE ${SFX_RSRC_BLOB}.d
  COMMENT "Compiling resources"
  VERBATIM)

# The tree in its own allocated section, so that it is loaded with the program (and read in
# place through the symbols) and can be found in the file through the section headers.
file(CONFIGURE OUTPUT ${SFX_RSRC_ASM} CONTENT [[
    .section .rsrc,"a",%progbits
    .balign 8
    .globl sfx_rsrc_begin
    .hidden sfx_rsrc_begin
sfx_rsrc_begin:
    .incbin "@SFX_RSRC_BLOB@"
    .globl sfx_rsrc_end
    .hidden sfx_rsrc_end
sfx_rsrc_end:
    .section .note.GNU-stack,"",%progbits
]] @ONLY)
set_source_files_properties(${SFX_RSRC_ASM} PROPERTIES OBJECT_DEPENDS ${SFX_RSRC_BLOB})

add_library(sfx_rsrc OBJECT ${SFX_RSRC_ASM} ${SFX_RSRC_BLOB})
set(SFX_RSRC_OBJECT $<TARGET_OBJECTS:sfx_rsrc>)
