# Libraries that Debian packages for Linux only, compiled here from their Debian source packages
# for the Windows build. scripts/fetch-sources.sh NAME... downloads and unpacks them (apt-get
# source) into KORVO_THIRD_PARTY_SRC/NAME; scripts/test-windows.sh runs it before configuring.
# Each library becomes a static library built with the project's own toolchain, warnings off (it
# is not our code), so the DLL and the tool import system DLLs only.
include_guard(GLOBAL)

set(KORVO_THIRD_PARTY_SRC "${PROJECT_SOURCE_DIR}/build/third_party-src"
    CACHE PATH "Where scripts/fetch-sources.sh unpacked the Debian source packages")

# Sets OUT to the unpacked source of the Debian source package NAME, or stops with the command
# that fetches it.
function(korvo_third_party_source name out)
  set(dir "${KORVO_THIRD_PARTY_SRC}/${name}")
  if(NOT EXISTS "${dir}/.korvo-unpacked")
    message(FATAL_ERROR
      "The source of ${name} is not unpacked in ${dir}. Fetch it with\n"
      "  bash scripts/fetch-sources.sh --dir ${KORVO_THIRD_PARTY_SRC} ${name}\n"
      "(scripts/test-windows.sh does this), or point KORVO_THIRD_PARTY_SRC at an unpacked copy.")
  endif()
  file(READ "${dir}/.korvo-unpacked" version)
  string(STRIP "${version}" version)
  message(STATUS "${name}: compiled from the source of ${version}")
  set(${out} "${dir}" PARENT_SCOPE)
endfunction()

# Adds the static library TARGET from SOURCES (relative to the unpacked source DIR).
function(korvo_third_party_library target dir)
  list(TRANSFORM ARGN PREPEND "${dir}/" OUTPUT_VARIABLE sources)
  add_library(${target} STATIC ${sources})
  set_target_properties(${target} PROPERTIES C_STANDARD 99 C_EXTENSIONS ON)
  target_compile_options(${target} PRIVATE -w -O2)
endfunction()
