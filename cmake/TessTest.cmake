# Test binaries are Windows executables; ctest runs them through Wine with a
# wrapper that bounds every start (a hung Wine start must not hang the run).
enable_testing()
set(TESS_WINE_RUN ${CMAKE_BINARY_DIR}/wine-run)
configure_file(${CMAKE_CURRENT_LIST_DIR}/wine-run.in ${TESS_WINE_RUN}
  FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE
  @ONLY)
set(CMAKE_CROSSCOMPILING_EMULATOR ${TESS_WINE_RUN})

# tess_add_gtest(NAME name SOURCES ... [LIBS ...] [RESOURCE_LOCK ...] [TIMEOUT s])
# One ctest entry per binary: every entry is a Wine process start (1-3 s).
function(tess_add_gtest)
  cmake_parse_arguments(T "" "NAME;TIMEOUT" "SOURCES;LIBS;RESOURCE_LOCK;LABELS" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} deps::gtest_main deps::gmock)
  target_include_directories(${T_NAME} PRIVATE ${TESS_ROOT} ${TESS_ROOT}/tests)
  add_test(NAME ${T_NAME} COMMAND ${T_NAME})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 600)
  endif()
  set_tests_properties(${T_NAME} PROPERTIES TIMEOUT ${T_TIMEOUT})
  if(T_RESOURCE_LOCK)
    set_tests_properties(${T_NAME} PROPERTIES RESOURCE_LOCK "${T_RESOURCE_LOCK}")
  endif()
  if(T_LABELS)
    set_tests_properties(${T_NAME} PROPERTIES LABELS "${T_LABELS}")
  endif()
  # The i686 guest runs the programs that draw on the shared screen and read
  # it back in an entry of their own.
  set(_screen "")
  if("screen" IN_LIST T_RESOURCE_LOCK)
    set(_screen SCREEN)
  endif()
  tess_guest_program(${T_NAME} ${_screen} TIMEOUT ${T_TIMEOUT} LOCKS ${T_RESOURCE_LOCK})
endfunction()

include(${CMAKE_CURRENT_LIST_DIR}/TessGuest.cmake)
