# SPDX-License-Identifier: MIT
# Run by CTest when it starts: one test per GoogleTest suite of `program`, named
# `prefix.Suite`, rather than one per case. For programs whose many cases are each too quick to
# be worth a process of their own (the standards' tables, row by row). The program lists its
# suites itself, so a new suite is never left out; a program that cannot list them is one
# failing test.
if(NOT EXISTS "${program}")
  add_test("${prefix}.NOT_BUILT" "${program}")
  return()
endif()
execute_process(COMMAND "${program}" --gtest_list_tests OUTPUT_VARIABLE listing
                RESULT_VARIABLE listed ERROR_QUIET)
if(NOT listed EQUAL 0)
  add_test("${prefix}.LISTING_FAILED" "${program}" --gtest_list_tests)
  return()
endif()
string(REPLACE "\n" ";" lines "${listing}")
foreach(line IN LISTS lines)
  # Suites start at the margin ("Weighting/ChainReading."), their cases are indented.
  if(line MATCHES "^([^ #][^ ]*)\\.")
    set(name "${prefix}.${CMAKE_MATCH_1}")
    add_test("${name}" "${program}" "--gtest_filter=${CMAKE_MATCH_1}.*")
    set_tests_properties("${name}" PROPERTIES ENVIRONMENT "LC_ALL=C.UTF-8")
  endif()
endforeach()
