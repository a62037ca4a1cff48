# Installation: the shared library (with SONAME and version), the public header, the korvo
# tool, a CMake package giving KorvoLoader::KorvoLoader, and the pkg-config file korvoloader.pc.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

if(NOT WIN32)
  set_target_properties(KorvoLoader PROPERTIES
    VERSION ${PROJECT_VERSION}
    SOVERSION ${PROJECT_VERSION_MAJOR})
endif()

install(TARGETS KorvoLoader EXPORT KorvoLoaderTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES ${PROJECT_SOURCE_DIR}/include/KorvoLoader.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
if(TARGET korvo)
  install(TARGETS korvo RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

set(KORVO_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/KorvoLoader)
install(EXPORT KorvoLoaderTargets
  NAMESPACE KorvoLoader::
  FILE KorvoLoaderTargets.cmake
  DESTINATION ${KORVO_CMAKE_DIR})
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/KorvoLoaderConfig.cmake.in
  ${PROJECT_BINARY_DIR}/KorvoLoaderConfig.cmake
  INSTALL_DESTINATION ${KORVO_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/KorvoLoaderConfigVersion.cmake
  VERSION ${PROJECT_VERSION}
  COMPATIBILITY SameMajorVersion)
install(FILES
  ${PROJECT_BINARY_DIR}/KorvoLoaderConfig.cmake
  ${PROJECT_BINARY_DIR}/KorvoLoaderConfigVersion.cmake
  DESTINATION ${KORVO_CMAKE_DIR})

# The .pc file finds its prefix from its own place, so the tree may be installed anywhere
# (cmake --install --prefix).
file(RELATIVE_PATH KORVO_PC_TO_PREFIX
  ${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}/pkgconfig ${CMAKE_INSTALL_PREFIX})
string(REGEX REPLACE "/$" "" KORVO_PC_TO_PREFIX "${KORVO_PC_TO_PREFIX}")
configure_file(${CMAKE_CURRENT_LIST_DIR}/korvoloader.pc.in
  ${PROJECT_BINARY_DIR}/korvoloader.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/korvoloader.pc
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
