# Test registration helpers.

# A GoogleTest program built for Windows; ctest runs it under Wine (the toolchain's emulator).
# Only the 64-bit build runs them; the 32-bit build compiles them.
function(brelvane_wine_test target)
  if(NOT CMAKE_CROSSCOMPILING_EMULATOR)
    return()
  endif()
  # No arguments: the program under test reads its command line for the start-up file name.
  add_test(NAME ${target} COMMAND ${target})
  set_tests_properties(${target} PROPERTIES TIMEOUT 900 LABELS wine ENVIRONMENT GTEST_COLOR=no)
endfunction()

# The shipped program imports only DLLs that come with Windows, and the 32-bit one stays small.
function(brelvane_check_imports target)
  if(CMAKE_SYSTEM_PROCESSOR STREQUAL "i686")
    set(max_size 65536)
  else()
    set(max_size 0)
  endif()
  add_test(NAME ${target}_imports_${CMAKE_SYSTEM_PROCESSOR}
    COMMAND ${CMAKE_COMMAND}
      -DEXE=$<TARGET_FILE:${target}>
      -DOBJDUMP=${CMAKE_OBJDUMP}
      -DMAX_SIZE=${max_size}
      -P ${CMAKE_SOURCE_DIR}/cmake/check-imports.cmake)
endfunction()
