# Tests of the korvo tool, run on the real binary as a user would, and of the installed tree.
# The tool is built for Linux only; cross builds for Windows leave these out.
if(WIN32 OR NOT TARGET korvo)
  return()
endif()

find_package(nlohmann_json 3 REQUIRED)
find_package(PkgConfig REQUIRED)
pkg_check_modules(KORVO_TEST_SPNG REQUIRED IMPORTED_TARGET spng)

add_executable(korvo_tool_tests
  ${CMAKE_CURRENT_SOURCE_DIR}/tool/tool_runner.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/tool/usage_test.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/tool/archive_commands_test.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/tool/edit_commands_test.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/tool/image_commands_test.cpp)
target_include_directories(korvo_tool_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(korvo_tool_tests PRIVATE korvo_test_support GTest::gtest_main
                                               nlohmann_json::nlohmann_json PkgConfig::KORVO_TEST_SPNG)
target_compile_definitions(korvo_tool_tests PRIVATE KORVO_TOOL_PATH="$<TARGET_FILE:korvo>")
add_dependencies(korvo_tool_tests korvo)
gtest_discover_tests(korvo_tool_tests DISCOVERY_TIMEOUT 60 TEST_PREFIX "tool."
  WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})

# Installs into a temporary prefix and builds a small consumer against it, through
# find_package(KorvoLoader) and through pkg-config.
set(KORVO_CONSUMER_FLAGS "")
if(KORVO_SANITIZE)
  set(KORVO_CONSUMER_FLAGS "-fsanitize=address,undefined")
endif()
add_test(NAME tool.InstallAndConsume
  COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/tool/install_test.sh
          ${PROJECT_BINARY_DIR} ${CMAKE_CURRENT_SOURCE_DIR}/tool/consumer
          ${CMAKE_C_COMPILER} "${KORVO_CONSUMER_FLAGS}" $<CONFIG>)
