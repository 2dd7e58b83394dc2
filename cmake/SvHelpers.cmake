# Helpers shared by every folder's CMakeLists.txt.

set(SV_RESULTS_DIR ${CMAKE_BINARY_DIR}/test-results)
set(SV_TEST_DATA_DIR ${PROJECT_SOURCE_DIR}/tests/data)
# The names of the GoogleTest executables: a missing result file of one of them is a failure.
file(WRITE ${CMAKE_BINARY_DIR}/gtest-tests.txt "")
# Wine maps Z: to the Unix root; GoogleTest on Windows wants a drive letter for an absolute path.
if(SV_WINDOWS)
  set(SV_RESULTS_ARG "Z:${SV_RESULTS_DIR}")
else()
  set(SV_RESULTS_ARG "${SV_RESULTS_DIR}")
endif()

# sv_add_gtest(name SOURCES ... [LIBS ...] [LABELS ...] [GUI])
# One GoogleTest executable, run by ctest as one test; it writes its per-case results to
# test-results/<name>.xml, which scripts/tally adds up.
function(sv_add_gtest name)
  cmake_parse_arguments(T "GUI" "" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main)
  target_compile_definitions(${name} PRIVATE
    SV_TEST_DATA_DIR="${SV_TEST_DATA_DIR}"
    SV_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
    SV_BINARY_DIR="${CMAKE_BINARY_DIR}")
  add_test(NAME ${name} COMMAND ${name} --gtest_output=xml:${SV_RESULTS_ARG}/${name}.xml)
  file(APPEND ${CMAKE_BINARY_DIR}/gtest-tests.txt "${name}\n")
  set_tests_properties(${name} PROPERTIES WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}
    LABELS "${T_LABELS}")
endfunction()

# sv_add_script_test(name COMMAND ... [ENV ...])
# A test driven by a script (integration tests: servers, Wine processes). It counts as one test
# unless it writes test-results/<name>.xml in GoogleTest's format itself.
function(sv_add_script_test name)
  cmake_parse_arguments(T "" "TIMEOUT" "COMMAND;ENV;LABELS" ${ARGN})
  add_test(NAME ${name} COMMAND ${T_COMMAND})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 900)
  endif()
  set_tests_properties(${name} PROPERTIES WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}
    TIMEOUT ${T_TIMEOUT}
    ENVIRONMENT "SV_RESULTS_DIR=${SV_RESULTS_DIR};SV_SOURCE_DIR=${PROJECT_SOURCE_DIR};SV_BINARY_DIR=${CMAKE_BINARY_DIR};${T_ENV}"
    LABELS "${T_LABELS}")
endfunction()

# Sources of a folder by their name: *_win.cpp only in the Windows build, *_host.cpp only in the
# host build, every other *.cpp in both.
function(sv_sources outVar dir)
  file(GLOB all CONFIGURE_DEPENDS ${dir}/*.cpp)
  set(result)
  foreach(f ${all})
    get_filename_component(n ${f} NAME)
    if(n MATCHES "_win\\.cpp$")
      if(SV_WINDOWS)
        list(APPEND result ${f})
      endif()
    elseif(n MATCHES "_host\\.cpp$")
      if(NOT SV_WINDOWS)
        list(APPEND result ${f})
      endif()
    else()
      list(APPEND result ${f})
    endif()
  endforeach()
  set(${outVar} ${result} PARENT_SCOPE)
endfunction()

# sv_library(name [LIBS ...] [WINLIBS ...]): a static library of this folder's sources.
function(sv_library name)
  cmake_parse_arguments(L "" "" "LIBS;WINLIBS" ${ARGN})
  sv_sources(srcs ${CMAKE_CURRENT_SOURCE_DIR})
  if(srcs)
    set(scope PUBLIC)
    add_library(${name} STATIC ${srcs})
  else()
    set(scope INTERFACE)
    add_library(${name} INTERFACE)
  endif()
  target_include_directories(${name} ${scope} ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} ${scope} ${L_LIBS})
  if(SV_WINDOWS AND L_WINLIBS)
    target_link_libraries(${name} ${scope} ${L_WINLIBS})
  endif()
endfunction()

# sv_folder_gtest(name LIBS ...): one test executable from the *.cpp of the current folder.
function(sv_folder_gtest name)
  cmake_parse_arguments(T "" "" "LIBS" ${ARGN})
  sv_sources(srcs ${CMAKE_CURRENT_SOURCE_DIR})
  if(srcs)
    sv_add_gtest(${name} SOURCES ${srcs} LIBS ${T_LIBS})
  endif()
endfunction()
