# Tests of the korvo tool on the real binary, and of the installed tree. KORVO_TOOL_UNDER_TEST
# runs them against another korvo instead of the one built here: scripts/test-windows.sh points
# it at the cross-built korvo.exe, which a host build of this suite then starts under Wine.
set(KORVO_TOOL_UNDER_TEST "" CACHE FILEPATH "Run the tool tests against this korvo (.exe: Wine)")
if(WIN32 OR (NOT TARGET korvo AND NOT KORVO_TOOL_UNDER_TEST))
  return()
endif()
find_package(nlohmann_json 3 REQUIRED)
find_package(PkgConfig REQUIRED)
pkg_check_modules(KORVO_TEST_SPNG REQUIRED IMPORTED_TARGET spng)
set(KORVO_TOOL_TESTS
  ${CMAKE_CURRENT_SOURCE_DIR}/tool/journal_tool_test.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/tool/names_test.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/tool/text_test.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/tool/tool_test.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/tool/tool_usage_test.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/tool/view_test.cpp)
set(KORVO_TOOL_ON_WINDOWS 0)
if(KORVO_TOOL_UNDER_TEST MATCHES "[.][eE][xX][eE]$")
  # korvo.exe through a wrapper that starts it under Wine, plus the Windows-only cases.
  find_program(KORVO_WINE_PROGRAM NAMES wine wine64 REQUIRED)
  set(KORVO_TOOL_COMMAND ${CMAKE_CURRENT_BINARY_DIR}/korvo-under-wine)
  file(CONFIGURE OUTPUT ${KORVO_TOOL_COMMAND} @ONLY CONTENT [[#!/bin/sh
export WINEDEBUG="${WINEDEBUG--all}"
exec "@KORVO_WINE_PROGRAM@" "@KORVO_TOOL_UNDER_TEST@" "$@"
]])
  file(CHMOD ${KORVO_TOOL_COMMAND} PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
       GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
  list(APPEND KORVO_TOOL_TESTS ${CMAKE_CURRENT_SOURCE_DIR}/tool/windows/windows_tool_test.cpp)
  set(KORVO_TOOL_ON_WINDOWS 1)
elseif(KORVO_TOOL_UNDER_TEST)
  set(KORVO_TOOL_COMMAND ${KORVO_TOOL_UNDER_TEST})
else()
  set(KORVO_TOOL_COMMAND $<TARGET_FILE:korvo>)
endif()
add_executable(korvo_tool_tests ${KORVO_TOOL_TESTS})
# The tool's pure functions (entry paths, selection, text) are tested directly as well.
target_sources(korvo_tool_tests PRIVATE ${PROJECT_SOURCE_DIR}/tools/korvo/entry_path.cpp
               ${PROJECT_SOURCE_DIR}/tools/korvo/select.cpp ${PROJECT_SOURCE_DIR}/tools/korvo/progress.cpp
               ${PROJECT_SOURCE_DIR}/tools/korvo/tool_support.cpp
               ${PROJECT_SOURCE_DIR}/tools/korvo/archive_file.cpp)
target_include_directories(korvo_tool_tests PRIVATE ${PROJECT_SOURCE_DIR}/tools/korvo)
target_link_libraries(korvo_tool_tests PRIVATE korvo_test_support GTest::gtest_main
                      nlohmann_json::nlohmann_json PkgConfig::KORVO_TEST_SPNG)
target_compile_definitions(korvo_tool_tests PRIVATE KORVO_TOOL_PATH="${KORVO_TOOL_COMMAND}"
                           KORVO_TOOL_ON_WINDOWS=${KORVO_TOOL_ON_WINDOWS})
gtest_discover_tests(korvo_tool_tests DISCOVERY_TIMEOUT 60 TEST_PREFIX "tool.")
if(KORVO_TOOL_UNDER_TEST)
  return()
endif()
add_dependencies(korvo_tool_tests korvo)
add_test(NAME tool.InstallAndConsume COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/tool/install_test.sh
  ${PROJECT_BINARY_DIR} ${CMAKE_CURRENT_SOURCE_DIR}/tool/consumer ${CMAKE_C_COMPILER}
  "$<$<BOOL:${KORVO_SANITIZE}>:-fsanitize=address,undefined>" $<CONFIG>)

# korvo view in headless Chromium, on the demo's sample: needs node, Debian's chromium and the
# pinned puppeteer-core installed by `npm ci` in tests/browser (scripts/test.sh does both);
# skipped when they are missing. The screenshot lands in the build tree's browser-artifacts/.
if(TARGET korvo_demo_sample)
  add_test(NAME browser.View
           COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/browser/run.sh $<TARGET_FILE:korvo>
                   $<TARGET_FILE:korvo_demo_sample> ${CMAKE_CURRENT_BINARY_DIR}/browser-artifacts)
  set_tests_properties(browser.View PROPERTIES SKIP_RETURN_CODE 77)
endif()
