# The header-only libraries of the tool, CLI11 and nlohmann-json: the targets korvo_cli11 and
# korvo_json. Linux uses their Debian packages' CMake configs. A cross build cannot search the
# host's /usr/include as a whole (the host C library's headers would shadow the target's), so it
# gets a copy of exactly the two header folders, taken from KORVO_HOST_INCLUDE (default
# /usr/include, where libcli11-dev and nlohmann-json3-dev put them).
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
endif()
