# One small function per kind of target, so every target gets the same settings.

include(GoogleTest)

function(_erp_common target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wno-unused-parameter)
  set_target_properties(${target} PROPERTIES CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)
endfunction()

# erp_add_library(NAME [EXPORT_MACRO_PREFIX P] SOURCES ... [PUBLIC_LIBS ...] [PRIVATE_LIBS ...])
# A shared framework library with an alias Erp::NAME and no undefined symbols.
function(erp_add_library name)
  cmake_parse_arguments(A "" "" "SOURCES;PUBLIC_LIBS;PRIVATE_LIBS" ${ARGN})
  add_library(${name} SHARED ${A_SOURCES})
  add_library(Erp::${name} ALIAS ${name})
  _erp_common(${name})
  string(TOUPPER ${name} up)
  target_compile_definitions(${name} PRIVATE ${up}_LIBRARY)
  target_include_directories(${name} PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/..)
  target_link_libraries(${name} PUBLIC ${A_PUBLIC_LIBS} PRIVATE ${A_PRIVATE_LIBS})
  target_link_options(${name} PRIVATE -Wl,--no-undefined)
endfunction()

# erp_add_module(NAME SOURCES ... [LIBS ...]): a screen module the shell loads at run time by
# name. Its code is built once, in the static library NAME_code; the loadable module and any
# test or bench take it whole through Erp::NAME, since nothing refers to its resources or its
# entry points by symbol.
function(erp_add_module name)
  cmake_parse_arguments(A "" "" "SOURCES;LIBS" ${ARGN})
  add_library(${name}_code STATIC ${A_SOURCES})
  _erp_common(${name}_code)
  set_target_properties(${name}_code PROPERTIES POSITION_INDEPENDENT_CODE ON AUTORCC ON)
  target_include_directories(${name}_code PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
  target_link_libraries(${name}_code PUBLIC Erp::erpfwui ${A_LIBS})
  add_library(${name}_whole INTERFACE)
  target_link_libraries(${name}_whole INTERFACE "$<LINK_LIBRARY:WHOLE_ARCHIVE,${name}_code>")
  add_library(Erp::${name} ALIAS ${name}_whole)

  add_library(${name} MODULE)
  _erp_common(${name})
  set_target_properties(${name} PROPERTIES PREFIX "" LINKER_LANGUAGE CXX)
  target_link_libraries(${name} PRIVATE Erp::${name})
  target_link_options(${name} PRIVATE -Wl,--no-undefined)
endfunction()

# erp_add_executable(NAME SOURCES ... LIBS ...)
function(erp_add_executable name)
  cmake_parse_arguments(A "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${A_SOURCES})
  _erp_common(${name})
  target_link_libraries(${name} PRIVATE ${A_LIBS})
endfunction()

# erp_add_test(NAME SOURCES ... LIBS ... [LABELS ...] [ENV VAR=value ...] [WHOLE]): a GoogleTest
# executable on the offscreen platform, each of its cases a CTest test of its own named
# NAME.Suite.Case; WHOLE: one CTest test NAME for them all, for suites whose fixture (a seeded
# database, servers started per suite) costs more than a process a case is worth. The
# environment goes through env, not a test property, so that the listing of the cases (run by
# CTest before the tests) gets it too.
function(erp_add_test name)
  cmake_parse_arguments(A "WHOLE" "" "SOURCES;LIBS;LABELS;ENV" ${ARGN})
  add_executable(${name} ${A_SOURCES})
  _erp_common(${name})
  target_link_libraries(${name} PRIVATE ${A_LIBS} GTest::gtest)
  set_target_properties(${name} PROPERTIES CROSSCOMPILING_EMULATOR
    "env;QT_QPA_PLATFORM=offscreen;ERP_BUILD_DIR=${CMAKE_BINARY_DIR};ERP_SOURCE_DIR=${CMAKE_SOURCE_DIR};${A_ENV}")
  if(A_WHOLE)
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES LABELS "${A_LABELS}" TIMEOUT 600)
    return()
  endif()
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST TEST_PREFIX ${name}. TEST_LIST ${name}_cases
    NO_PRETTY_VALUES PROPERTIES TIMEOUT 600)
  erp_set_cases_property(${name}_cases LABELS "${A_LABELS}")
endfunction()

# erp_set_cases_property(LIST PROPERTY VALUE): sets a property whose value is a list on the
# cases gtest_discover_tests listed in LIST, which its PROPERTIES would split; CTest reads the
# file after the listing.
function(erp_set_cases_property list property value)
  set(file ${CMAKE_CURRENT_BINARY_DIR}/${list}_${property}.cmake)
  file(WRITE ${file} "if(${list})\n  set_tests_properties(\${${list}} PROPERTIES ${property} [==[${value}]==])\nendif()\n")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${file})
endfunction()
