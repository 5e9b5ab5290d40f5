# The i686 build's tests run in a Debian guest under QEMU with 32-bit Wine,
# since these machines run no 32-bit code (tools/guest builds the guest once
# and boots it once per ctest entry). Every program made by tess_add_gtest
# takes part; tess_guest_exclude takes a program, or some of its tests, out
# with the reason; tess_guest_program adds any other test program.
#
# ctest entries of an i686 tree, label "i686-guest":
#   i686_guest         the programs that leave the screen alone
#   i686_guest_screen  the programs that draw on it and read it back
#                      (RESOURCE_LOCK screen, or SCREEN)
# Each guest has a virtual screen of its own (Xvfb, 1280x720), as every test
# on the host has, and nothing but its own loopback. A guest runs as many
# programs at a time as it has CPUs, except that programs naming one lock run
# one after another; each is bounded by its TIMEOUT. Both that bound and the
# programs' own waits are stretched by the wait factor that run-guest sets
# for the emulated CPU (TESS_TEST_WAIT_FACTOR, tests/support/WaitFactor.h),
# within the bound of the whole run.

# tess_guest_program(target [SCREEN] [TIMEOUT s] [LOCKS name...] [ARGS arg...])
# LOCKS as ctest's RESOURCE_LOCK: programs naming one lock never run at once.
function(tess_guest_program target)
  cmake_parse_arguments(G "SCREEN" "TIMEOUT" "LOCKS;ARGS" ${ARGN})
  if(NOT G_TIMEOUT)
    set(G_TIMEOUT 600)
  endif()
  set_property(GLOBAL APPEND PROPERTY TESS_GUEST_PROGRAMS ${target})
  set_property(GLOBAL PROPERTY TESS_GUEST_${target}_SCREEN ${G_SCREEN})
  set_property(GLOBAL PROPERTY TESS_GUEST_${target}_TIMEOUT ${G_TIMEOUT})
  set_property(GLOBAL PROPERTY TESS_GUEST_${target}_ARGS "${G_ARGS}")
  set_property(GLOBAL PROPERTY TESS_GUEST_${target}_LOCKS "${G_LOCKS}")
endfunction()

# tess_guest_exclude(target [TESTS Suite.Name ...] BECAUSE "why")
# Without TESTS the whole program stays out of the guest. The reasons are
# printed at every guest run.
function(tess_guest_exclude target)
  cmake_parse_arguments(G "" "BECAUSE" "TESTS" ${ARGN})
  if(NOT G_BECAUSE)
    message(FATAL_ERROR "tess_guest_exclude(${target}): give the reason (BECAUSE)")
  endif()
  if(G_TESTS)
    set_property(GLOBAL APPEND PROPERTY TESS_GUEST_${target}_SKIP ${G_TESTS})
    string(REPLACE ";" ", " _what "${G_TESTS}")
  else()
    set_property(GLOBAL PROPERTY TESS_GUEST_${target}_OUT TRUE)
    set(_what "the whole program")
  endif()
  set_property(GLOBAL APPEND PROPERTY TESS_GUEST_EXCLUDED ${target})
  set_property(GLOBAL APPEND_STRING PROPERTY TESS_GUEST_${target}_NOTES
    "# not run in the guest: ${target}: ${_what}: ${G_BECAUSE}\n")
endfunction()

# The lane's entries, written once every folder has registered its programs.
function(_tess_guest_entries)
  if(NOT CMAKE_SIZEOF_VOID_P EQUAL 4)
    return()
  endif()
  # A bound on a whole guest run, whatever the programs' own bounds add up to,
  # and on the wait for a guest slot while other runs of the lane use the
  # machine's CPUs (tools/guest/run-guest).
  set(_run_limit 1800)
  set(_slot_wait 3600)
  get_property(_programs GLOBAL PROPERTY TESS_GUEST_PROGRAMS)
  get_property(_excluded GLOBAL PROPERTY TESS_GUEST_EXCLUDED)
  foreach(t IN LISTS _excluded)
    if(NOT t IN_LIST _programs)
      message(WARNING "tess_guest_exclude(${t}): no such test program in the guest lane")
    endif()
  endforeach()
  set(_plain "")
  set(_screen "")
  set(_n_plain 0)
  set(_n_screen 0)
  foreach(t IN LISTS _programs)
    get_property(_screen_flag GLOBAL PROPERTY TESS_GUEST_${t}_SCREEN)
    set(_kind plain)
    if(_screen_flag)
      set(_kind screen)
    endif()
    get_property(_notes GLOBAL PROPERTY TESS_GUEST_${t}_NOTES)
    string(PREPEND _${_kind} "${_notes}")
    get_property(_out GLOBAL PROPERTY TESS_GUEST_${t}_OUT)
    if(_out OR NOT TARGET ${t})
      continue()
    endif()
    get_property(_timeout GLOBAL PROPERTY TESS_GUEST_${t}_TIMEOUT)
    get_property(_args GLOBAL PROPERTY TESS_GUEST_${t}_ARGS)
    get_property(_skip GLOBAL PROPERTY TESS_GUEST_${t}_SKIP)
    get_property(_locks GLOBAL PROPERTY TESS_GUEST_${t}_LOCKS)
    string(REPLACE ";" "," _locks "${_locks}")
    if(NOT _locks)
      set(_locks -)
    endif()
    if(_skip)
      string(REPLACE ";" ":" _skip "${_skip}")
      list(APPEND _args "--gtest_filter=-${_skip}")
    endif()
    string(REPLACE ";" " " _args "${_args}")
    string(APPEND _${_kind} "$<TARGET_FILE_NAME:${t}> ${_timeout} ${_locks} ${_args}\n")
    math(EXPR _n_${_kind} "${_n_${_kind}} + 1")
  endforeach()
  foreach(kind plain screen)
    if(_n_${kind} EQUAL 0)
      continue()
    endif()
    set(_name i686_guest)
    if(kind STREQUAL "screen")
      set(_name i686_guest_screen)
    endif()
    file(GENERATE OUTPUT ${CMAKE_BINARY_DIR}/guest/${kind}.list CONTENT "${_${kind}}")
    add_test(NAME ${_name}
      COMMAND python3 ${CMAKE_SOURCE_DIR}/tools/guest/run-guest tests
        --bin ${CMAKE_RUNTIME_OUTPUT_DIRECTORY} --list ${CMAKE_BINARY_DIR}/guest/${kind}.list
        --out ${CMAKE_BINARY_DIR}/guest/${kind} --timeout ${_run_limit} --slot-wait ${_slot_wait})
    math(EXPR _limit "${_run_limit} + ${_slot_wait} + 120")
    set_tests_properties(${_name} PROPERTIES LABELS i686-guest TIMEOUT ${_limit})
  endforeach()
endfunction()
cmake_language(DEFER CALL _tess_guest_entries)
