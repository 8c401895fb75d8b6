# The Windows build: the portable core (cptlib without its Linux seams, the launcher-file
# format, the setup-family code) with the Win32 seams, and its unit tests as PE programs that
# run under Wine. Libraries come from SFX_WINDOWS_PREFIX (tools/windows/build-deps.sh).

if(NOT SFX_WINDOWS_PREFIX OR NOT EXISTS ${SFX_WINDOWS_PREFIX}/stamp)
  message(FATAL_ERROR "SFX_WINDOWS_PREFIX must name a folder made by tools/windows/build-deps.sh")
endif()

# Windows 10 on: the Boost libraries were built for the same version, which their names carry.
add_compile_definitions(_WIN32_WINNT=0x0A00 WINVER=0x0A00 UNICODE _UNICODE BOOST_ALL_NO_LIB
  BOOST_THREAD_USE_LIB LZMA_API_STATIC)
include_directories(SYSTEM ${SFX_WINDOWS_PREFIX}/include)
set(lib ${SFX_WINDOWS_PREFIX}/lib)
foreach(part regex filesystem log thread atomic)
  add_library(Boost::${part} STATIC IMPORTED)
  set_target_properties(Boost::${part} PROPERTIES IMPORTED_LOCATION ${lib}/libboost_${part}.a)
endforeach()
set_property(TARGET Boost::log PROPERTY INTERFACE_LINK_LIBRARIES
  Boost::thread Boost::filesystem Boost::atomic Boost::regex)
set_property(TARGET Boost::filesystem PROPERTY INTERFACE_LINK_LIBRARIES bcrypt)
add_library(sfx_lzma STATIC IMPORTED)
set_target_properties(sfx_lzma PROPERTIES IMPORTED_LOCATION ${lib}/liblzma.a)
add_library(sfx_nettle STATIC IMPORTED)
set_target_properties(sfx_nettle PROPERTIES IMPORTED_LOCATION ${lib}/libnettle.a)
add_library(sfx_gtest STATIC IMPORTED)
set_target_properties(sfx_gtest PROPERTIES IMPORTED_LOCATION ${lib}/libgtest.a)
add_library(sfx_gtest_main STATIC IMPORTED)
set_target_properties(sfx_gtest_main PROPERTIES IMPORTED_LOCATION ${lib}/libgtest_main.a
  INTERFACE_LINK_LIBRARIES sfx_gtest)

# The Linux seams stay out; installer databases go through msi.dll (win32/IsolatedQuery.cpp),
# the archive through the own 7z reader.
file(GLOB CPTLIB_SOURCES CONFIGURE_DEPENDS
  cptlib/*.cpp cptlib/localization/*.cpp cptlib/resources/*.cpp cptlib/io/*.cpp
  cptlib/sys/*.cpp cptlib/ui/*.cpp cptlib/platform/win32/*.cpp common/setup/*.cpp)
# Seam files that hold no system calls serve both systems.
list(APPEND CPTLIB_SOURCES ${CMAKE_SOURCE_DIR}/cptlib/platform/OpenRetry.cpp
  ${CMAKE_SOURCE_DIR}/cptlib/platform/TerminalColumns.cpp
  ${CMAKE_SOURCE_DIR}/cptlib/platform/TargetFolderParent.cpp)
add_library(cptlib STATIC ${CPTLIB_SOURCES})
target_include_directories(cptlib PUBLIC ${CMAKE_SOURCE_DIR})
target_link_libraries(cptlib PUBLIC Boost::regex Boost::log Boost::filesystem Boost::thread
  shell32 bcrypt ntdll msi)

file(GLOB FORMAT_SOURCES CONFIGURE_DEPENDS format/*.cpp format/win32/*.cpp)
# No libarchive here: the own 7z reader reads every archive sfxbuild writes.
list(REMOVE_ITEM FORMAT_SOURCES ${CMAKE_SOURCE_DIR}/format/ArchiveReaderLibArchive.cpp)
add_library(sfxformat STATIC ${FORMAT_SOURCES})
target_link_libraries(sfxformat PUBLIC cptlib sfx_lzma sfx_nettle)

# The launcher's logic, as on Linux.
file(GLOB LAUNCHER_SOURCES CONFIGURE_DEPENDS launcher/*.cpp)
list(REMOVE_ITEM LAUNCHER_SOURCES ${CMAKE_SOURCE_DIR}/launcher/main.cpp)
add_library(launcher_core STATIC ${LAUNCHER_SOURCES})
target_link_libraries(launcher_core PUBLIC sfxformat cptlib)
set_source_files_properties(launcher/App.cpp PROPERTIES
  COMPILE_DEFINITIONS SFX_VERSION="${PROJECT_VERSION}")

# The core's unit tests that build without the Linux seams (file names in tests/unit/). Not
# here yet: ErrorText (Linux errno numbers), CultureSelection (the POSIX locale variables; the
# Windows cultures come from the preferred UI languages), StringResources and the resource
# tests (the own resources need the PE stub's resource seam), the 7z reader's tests (archives
# made by 7zz at run time, the reader factory with its libarchive fallback), and the tests of
# launcher/ and tools/ (the launcher is tested whole under Wine: launcher-run.sh).
set(SFX_WINDOWS_UNIT_TESTS CommandLineSplit_test.cpp DisplayText_test.cpp FileDigest_test.cpp
  ImageEnd_test.cpp MessageInbox_test.cpp MfcWorkerThread_test.cpp Placeholders_test.cpp
  SettingsStore_test.cpp)

enable_language(RC)
enable_testing()
add_subdirectory(tests/windows)

# The PE stub: the resources of resources/resources.manifest, compiled by windres (the custom
# string-table type with its language ids, the slots that sfxbuild fills, icon, manifest).
set(SFX_STUB_RC ${CMAKE_BINARY_DIR}/resources/sfxstub.rc)
file(GLOB SFX_RESOURCE_FILES CONFIGURE_DEPENDS resources/strings/* resources/app.*)
add_custom_command(
  OUTPUT ${SFX_STUB_RC}
  COMMAND ${CMAKE_SOURCE_DIR}/tools/windows/manifest-to-rc.sh
    ${CMAKE_SOURCE_DIR}/resources/resources.manifest ${SFX_STUB_RC} ${CMAKE_BINARY_DIR}/resources
  DEPENDS ${CMAKE_SOURCE_DIR}/tools/windows/manifest-to-rc.sh
    ${CMAKE_SOURCE_DIR}/resources/resources.manifest ${SFX_RESOURCE_FILES}
  COMMENT "Writing the stub's resource script"
  VERBATIM)
# The windows: the native ones once they exist, else an entry that says there are none (the
# launcher then runs without windows and logs why).
if(EXISTS ${CMAKE_SOURCE_DIR}/launcher/gui/win32/ModuleEntry.cpp)
  file(GLOB SFX_WINDOW_SOURCES CONFIGURE_DEPENDS launcher/gui/win32/*.cpp cptlib/ui/win32/*.cpp)
else()
  set(SFX_WINDOW_SOURCES launcher/gui/NoWindows.cpp)
endif()
add_executable(sfxstub WIN32 cptlib/platform/win32/stub/Main.cpp ${SFX_WINDOW_SOURCES}
  ${SFX_STUB_RC})
target_link_libraries(sfxstub PRIVATE launcher_core comctl32)
# Without symbols, and only the functions it reaches: the stub is part of every launcher file.
target_link_options(sfxstub PRIVATE -municode -s LINKER:--gc-sections)
foreach(library cptlib sfxformat launcher_core)
  target_compile_options(${library} PRIVATE -ffunction-sections -fdata-sections)
endforeach()
# The launcher waits on the user, the disk or the setup, not on its own instructions; the
# decoders (sfxformat) keep their speed.
foreach(library cptlib launcher_core)
  target_compile_options(${library} PRIVATE $<$<CONFIG:Release>:-Os>)
endforeach()

# The window module: native dialogs and the message box on the rich-edit control (its tests are
# in tests/windows/gui).
file(GLOB SFX_GUI_WIN32_SOURCES CONFIGURE_DEPENDS launcher/gui/win32/*.cpp cptlib/ui/win32/*.cpp)
if(SFX_GUI_WIN32_SOURCES)
  set(SFX_GUI_WIN32_LIBRARIES comctl32 ole32 shell32 shlwapi gdi32 user32 uuid)
  add_library(sfxgui_win32 STATIC ${SFX_GUI_WIN32_SOURCES})
  target_link_libraries(sfxgui_win32 PUBLIC cptlib ${SFX_GUI_WIN32_LIBRARIES})
  # The launcher compiles the same sources into itself.
  target_link_libraries(sfxstub PRIVATE ${SFX_GUI_WIN32_LIBRARIES})
endif()
