# Helpers shared by every folder's CMakeLists.txt.

set(SV_RESULTS_DIR ${CMAKE_BINARY_DIR}/test-results)
set(SV_TEST_DATA_DIR ${PROJECT_SOURCE_DIR}/tests/data)
# The tests that write test-results/<name>.xml (every GoogleTest executable, and script tests
# added with RESULTS): scripts/tally counts a missing result file of one of them as a failure.
file(WRITE ${CMAKE_BINARY_DIR}/gtest-tests.txt "")
# Wine maps Z: to the Unix root; GoogleTest on Windows wants a drive letter for an absolute path.
if(SV_WINDOWS)
  set(SV_RESULTS_ARG "Z:${SV_RESULTS_DIR}")
else()
  set(SV_RESULTS_ARG "${SV_RESULTS_DIR}")
endif()

# The 64-bit Windows test build runs its tests under wine64 in a prefix of its own
# (scripts/wine-env); its tests skip what only the 32-bit program has.
set(SV_TEST_ENV "")
set(SV_WIN64 OFF)
if(SV_WINDOWS AND CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(SV_WIN64 ON)
  set(SV_TEST_ENV "SV_WINE_BITS=64")
endif()

# sv_win32_only(test REASON text): a test that checks what only the 32-bit program has; the 64-bit
# build disables it and scripts/tally prints the reason with the skipped tests.
file(WRITE ${CMAKE_BINARY_DIR}/test-skip-reasons.txt "")
function(sv_win32_only test)
  cmake_parse_arguments(T "" "REASON" "" ${ARGN})
  if(SV_WIN64)
    set_tests_properties(${test} PROPERTIES DISABLED TRUE)
    file(APPEND ${CMAKE_BINARY_DIR}/test-skip-reasons.txt "${test}\t${T_REASON}\n")
  endif()
endfunction()

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
    ENVIRONMENT "${SV_TEST_ENV}" LABELS "${T_LABELS}")
endfunction()

# sv_add_script_test(name COMMAND ... [ENV ...] [TIMEOUT s] [LABELS ...] [RESULTS])
# A test driven by a script (integration tests: servers, Wine processes). It counts as one test,
# or with RESULTS by the cases of the test-results/<name>.xml it writes in GoogleTest's format
# (then a run that leaves no such file is a failure).
function(sv_add_script_test name)
  cmake_parse_arguments(T "RESULTS" "TIMEOUT" "COMMAND;ENV;LABELS" ${ARGN})
  add_test(NAME ${name} COMMAND ${T_COMMAND})
  if(T_RESULTS)
    file(APPEND ${CMAKE_BINARY_DIR}/gtest-tests.txt "${name}\n")
  endif()
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 900)
  endif()
  set_tests_properties(${name} PROPERTIES WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}
    TIMEOUT ${T_TIMEOUT}
    ENVIRONMENT "SV_RESULTS_DIR=${SV_RESULTS_DIR};SV_SOURCE_DIR=${PROJECT_SOURCE_DIR};SV_BINARY_DIR=${CMAKE_BINARY_DIR};${SV_TEST_ENV};${T_ENV}"
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

# sv_library(name [MATCH regex] [EXCLUDE regex] [LIBS ...] [WINLIBS ...]): a static library of
# this folder's sources, or of those whose file names match MATCH and not EXCLUDE (several
# libraries from one folder).
function(sv_library name)
  cmake_parse_arguments(L "" "MATCH;EXCLUDE" "LIBS;WINLIBS" ${ARGN})
  sv_sources(srcs ${CMAKE_CURRENT_SOURCE_DIR})
  if(L_MATCH)
    list(FILTER srcs INCLUDE REGEX "/${L_MATCH}[^/]*$")
  endif()
  if(L_EXCLUDE)
    list(FILTER srcs EXCLUDE REGEX "/${L_EXCLUDE}[^/]*$")
  endif()
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

# sv_delay_load(target DLL...): the shipped program imports these system DLLs (none of them a
# KnownDLL on every supported Windows) only at their first call, through the loader hook of
# common/system_dlls_win.cpp that loads them from the system folder (a DLL added here belongs in its
# load order too): a DLL of the same name beside the program is never loaded.
function(sv_delay_load target)
  find_program(SV_NM NAMES ${SV_MINGW_TRIPLE}-nm REQUIRED)
  find_program(SV_DLLTOOL NAMES ${SV_MINGW_TRIPLE}-dlltool REQUIRED)
  set(killAt OFF)
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(killAt ON)
  endif()
  set(dir ${CMAKE_BINARY_DIR}/delayimp/${target})
  set(implibs)
  set(libs)
  foreach(dll ${ARGN})
    find_library(SV_IMPLIB_${dll} NAMES lib${dll}.a REQUIRED)
    list(APPEND implibs ${SV_IMPLIB_${dll}})
    list(APPEND libs ${dir}/lib${dll}_delay.a)
  endforeach()
  string(REPLACE ";" "\\;" dllArg "${ARGN}")
  string(REPLACE ";" "\\;" implibArg "${implibs}")
  add_custom_command(OUTPUT ${libs} ${dir}/keep_thunks.cpp
    COMMAND ${CMAKE_COMMAND} -E make_directory ${dir}
    COMMAND ${CMAKE_COMMAND} -DNM=${SV_NM} -DDLLTOOL=${SV_DLLTOOL} "-DDLLS=${ARGN}"
      "-DIMPLIBS=${implibs}" -DOUT_DIR=${dir} -DKILL_AT=${killAt}
      -P ${PROJECT_SOURCE_DIR}/cmake/make_delay_lib.cmake
    DEPENDS ${PROJECT_SOURCE_DIR}/cmake/make_delay_lib.cmake VERBATIM)
  add_custom_target(${target}_delay_imports DEPENDS ${libs})
  add_dependencies(${target} ${target}_delay_imports)
  # Whole and ahead of everything: each import is defined before any library's own -l<dll> is
  # read, whichever library of the program calls it.
  string(REPLACE ";" "," libList "${libs}")
  target_link_options(${target} PRIVATE "LINKER:--whole-archive,${libList},--no-whole-archive")
  target_sources(${target} PRIVATE ${dir}/keep_thunks.cpp)
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${libs})
endfunction()
