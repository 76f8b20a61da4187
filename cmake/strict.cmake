# SPDX-License-Identifier: MIT
# Warnings are errors on our own code (not on generated moc/rcc code, which Qt owns). Shared by
# the program's build and the Windows cross-build in windows/.
function(vantel_strict target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Wconversion
                                           -Wno-sign-conversion -Werror)
  # GCC 12 reports impossible overlaps inside std::string's own operator+ (its bug 105329).
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
    target_compile_options(${target} PRIVATE -Wno-restrict)
  endif()
  target_compile_definitions(${target} PRIVATE QT_NO_CONTEXTLESS_CONNECT QT_NO_KEYWORDS)
endfunction()
