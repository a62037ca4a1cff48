# The header-only libraries of the tool, CLI11, nlohmann-json and cpp-httplib: the targets
# korvo_cli11, korvo_json and korvo_httplib. Linux uses their Debian packages (CMake configs,
# pkg-config for httplib, which Debian ships as a shared library). A cross build cannot search the
# host's /usr/include as a whole (the host C library's headers would shadow the target's), so it
# gets a copy of exactly the two header folders, taken from KORVO_HOST_INCLUDE (default
# /usr/include, where libcli11-dev and nlohmann-json3-dev put them). httplib on Windows needs
# Vista's socket API (_WIN32_WINNT 0x0600) and ws2_32, a system DLL.
include_guard(GLOBAL)

if(CMAKE_CROSSCOMPILING)
  set(KORVO_HOST_INCLUDE /usr/include CACHE PATH "Host folder holding CLI/ and nlohmann/")
  set(staged ${CMAKE_BINARY_DIR}/host-headers)
  foreach(folder CLI nlohmann)
    if(NOT EXISTS ${KORVO_HOST_INCLUDE}/${folder})
      message(FATAL_ERROR "korvo tool: ${KORVO_HOST_INCLUDE}/${folder} is missing (Debian "
                          "packages libcli11-dev and nlohmann-json3-dev)")
    endif()
    file(COPY ${KORVO_HOST_INCLUDE}/${folder} DESTINATION ${staged})
  endforeach()
  # Debian builds httplib as a Linux shared library; Windows compiles the single header of its
  # source package (scripts/fetch-sources.sh cpp-httplib).
  include(${CMAKE_CURRENT_LIST_DIR}/third_party.cmake)
  korvo_third_party_source(cpp-httplib KORVO_HTTPLIB_SRC)
  add_library(korvo_httplib INTERFACE)
  target_include_directories(korvo_httplib SYSTEM INTERFACE ${KORVO_HTTPLIB_SRC})
  target_compile_definitions(korvo_httplib INTERFACE _WIN32_WINNT=0x0600)
  target_link_libraries(korvo_httplib INTERFACE ws2_32)
  add_library(korvo_cli11 INTERFACE)
  target_include_directories(korvo_cli11 SYSTEM INTERFACE ${staged})
  add_library(korvo_json INTERFACE)
  target_include_directories(korvo_json SYSTEM INTERFACE ${staged})
else()
  find_package(CLI11 CONFIG REQUIRED)
  find_package(nlohmann_json 3 REQUIRED)
  add_library(korvo_cli11 INTERFACE)
  target_link_libraries(korvo_cli11 INTERFACE CLI11::CLI11)
  add_library(korvo_json INTERFACE)
  target_link_libraries(korvo_json INTERFACE nlohmann_json::nlohmann_json)
  # Debian's libcpp-httplib-dev: the declarations in httplib.h, the code in its shared library.
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(KORVO_HTTPLIB REQUIRED IMPORTED_TARGET cpp-httplib)
  find_package(Threads REQUIRED)
  add_library(korvo_httplib INTERFACE)
  target_link_libraries(korvo_httplib INTERFACE PkgConfig::KORVO_HTTPLIB Threads::Threads)
endif()
