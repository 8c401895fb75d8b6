# Compiles resources/ into the PE resource tree that sfxstub carries in its .rsrc section.
set(SFX_RSRC_OBJECT "")
