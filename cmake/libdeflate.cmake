# libdeflate for whole-buffer inflation: the target korvo_libdeflate. Linux uses Debian's
# libdeflate-dev (pkg-config, else the library and header); the Windows build compiles it from
# Debian's source package (cmake/third_party.cmake). KORVO_HAVE_LIBDEFLATE says whether it was
# found; without it the read path keeps zlib.
include_guard(GLOBAL)

if(NOT TARGET korvo_libdeflate)
  if(WIN32)
    include(${CMAKE_CURRENT_LIST_DIR}/third_party.cmake)
    korvo_third_party_source(libdeflate KORVO_LIBDEFLATE_SRC)
    korvo_third_party_library(korvo_libdeflate_static "${KORVO_LIBDEFLATE_SRC}"
      lib/deflate_decompress.c lib/deflate_compress.c lib/utils.c lib/x86/cpu_features.c
      lib/adler32.c lib/zlib_decompress.c lib/zlib_compress.c
      lib/crc32.c lib/gzip_decompress.c lib/gzip_compress.c)
    target_compile_definitions(korvo_libdeflate_static PRIVATE _ANSI_SOURCE)
    target_include_directories(korvo_libdeflate_static PUBLIC "${KORVO_LIBDEFLATE_SRC}")
    add_library(korvo_libdeflate INTERFACE)
    target_link_libraries(korvo_libdeflate INTERFACE korvo_libdeflate_static)
  else()
    find_package(PkgConfig QUIET)
    if(PKG_CONFIG_FOUND)
      pkg_check_modules(KORVO_LIBDEFLATE_PC QUIET IMPORTED_TARGET GLOBAL libdeflate)
    endif()
    if(TARGET PkgConfig::KORVO_LIBDEFLATE_PC)
      add_library(korvo_libdeflate INTERFACE)
      target_link_libraries(korvo_libdeflate INTERFACE PkgConfig::KORVO_LIBDEFLATE_PC)
    else()
      find_library(KORVO_LIBDEFLATE_LIBRARY deflate)
      find_path(KORVO_LIBDEFLATE_INCLUDE libdeflate.h)
      if(KORVO_LIBDEFLATE_LIBRARY AND KORVO_LIBDEFLATE_INCLUDE)
        add_library(korvo_libdeflate INTERFACE)
        target_link_libraries(korvo_libdeflate INTERFACE ${KORVO_LIBDEFLATE_LIBRARY})
        target_include_directories(korvo_libdeflate INTERFACE ${KORVO_LIBDEFLATE_INCLUDE})
      endif()
    endif()
  endif()
endif()

if(TARGET korvo_libdeflate)
  set(KORVO_HAVE_LIBDEFLATE ON)
else()
  set(KORVO_HAVE_LIBDEFLATE OFF)
  message(STATUS "libdeflate not found (Debian package libdeflate-dev): inflating with zlib")
endif()
