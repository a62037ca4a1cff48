# Tests of the korvo tool on the real binary, and of the installed tree. The tool is Linux-only.
if(WIN32 OR NOT TARGET korvo)
  return()
endif()
find_package(nlohmann_json 3 REQUIRED)
find_package(PkgConfig REQUIRED)
pkg_check_modules(KORVO_TEST_SPNG REQUIRED IMPORTED_TARGET spng)
file(GLOB KORVO_TOOL_TESTS CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/tool/*_test.cpp)
add_executable(korvo_tool_tests ${KORVO_TOOL_TESTS})
# The tool's pure functions (entry paths, selection, text) are tested directly as well.
target_sources(korvo_tool_tests PRIVATE ${PROJECT_SOURCE_DIR}/tools/korvo/entry_path.cpp
               ${PROJECT_SOURCE_DIR}/tools/korvo/select.cpp ${PROJECT_SOURCE_DIR}/tools/korvo/progress.cpp
               ${PROJECT_SOURCE_DIR}/tools/korvo/tool_support.cpp
               ${PROJECT_SOURCE_DIR}/tools/korvo/archive_file.cpp)
target_include_directories(korvo_tool_tests PRIVATE ${PROJECT_SOURCE_DIR}/tools/korvo)
target_link_libraries(korvo_tool_tests PRIVATE korvo_test_support GTest::gtest_main
                      nlohmann_json::nlohmann_json PkgConfig::KORVO_TEST_SPNG)
target_compile_definitions(korvo_tool_tests PRIVATE KORVO_TOOL_PATH="$<TARGET_FILE:korvo>")
add_dependencies(korvo_tool_tests korvo)
gtest_discover_tests(korvo_tool_tests DISCOVERY_TIMEOUT 60 TEST_PREFIX "tool.")
add_test(NAME tool.InstallAndConsume COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/tool/install_test.sh
  ${PROJECT_BINARY_DIR} ${CMAKE_CURRENT_SOURCE_DIR}/tool/consumer ${CMAKE_C_COMPILER}
  "$<$<BOOL:${KORVO_SANITIZE}>:-fsanitize=address,undefined>" $<CONFIG>)
