# SPDX-License-Identifier: MIT
# cmake -D STAGE=... -D ZIP=... -D PROGRAMS=... -D QT_PREFIX=... -D RUNTIME=... -D FONTS=...
#       -D README=... -D LICENCES=... -D STRIP=... -P stage.cmake
# Lays out the folder a user unpacks, strips what was built with symbols, and zips it. Qt's
# build has no windeployqt here, so the files are listed: the ones the programs load.
file(REMOVE_RECURSE ${STAGE})
file(MAKE_DIRECTORY ${STAGE}/platforms ${STAGE}/styles ${STAGE}/fonts ${STAGE}/licences)

set(binaries)
foreach(file ${PROGRAMS} ${RUNTIME})
  file(COPY ${file} DESTINATION ${STAGE})
  get_filename_component(name ${file} NAME)
  list(APPEND binaries ${STAGE}/${name})
endforeach()
foreach(module Core Gui Widgets Svg)
  file(COPY ${QT_PREFIX}/bin/Qt6${module}.dll DESTINATION ${STAGE})
  list(APPEND binaries ${STAGE}/Qt6${module}.dll)
endforeach()
# The window system (and the offscreen one, for running without a display), and the native
# look of message boxes and menus.
foreach(plugin platforms/qwindows platforms/qoffscreen styles/qwindowsvistastyle)
  get_filename_component(folder ${plugin} DIRECTORY)
  file(COPY ${QT_PREFIX}/plugins/${plugin}.dll DESTINATION ${STAGE}/${folder})
  list(APPEND binaries ${STAGE}/${plugin}.dll)
endforeach()
foreach(binary ${binaries})
  execute_process(COMMAND ${STRIP} --strip-unneeded ${binary} COMMAND_ERROR_IS_FATAL ANY)
endforeach()

file(COPY ${FONTS} DESTINATION ${STAGE}/fonts)
# Text files with Windows line ends, so that any editor shows them.
function(copy_text from to)
  file(READ ${from} text)
  string(REPLACE "\r\n" "\n" text "${text}")
  string(REPLACE "\n" "\r\n" text "${text}")
  file(WRITE ${to} "${text}")
endfunction()
copy_text(${README} ${STAGE}/README.txt)
foreach(entry ${LICENCES})
  string(REPLACE "=" ";" pair ${entry})
  list(GET pair 0 name)
  list(GET pair 1 from)
  copy_text(${from} ${STAGE}/licences/${name})
endforeach()

get_filename_component(parent ${STAGE} DIRECTORY)
get_filename_component(top ${STAGE} NAME)
file(REMOVE ${ZIP})
execute_process(COMMAND ${CMAKE_COMMAND} -E tar cf ${ZIP} --format=zip ${top}
                WORKING_DIRECTORY ${parent} COMMAND_ERROR_IS_FATAL ANY)
file(SIZE ${ZIP} zip_bytes)
math(EXPR zip_mb "${zip_bytes} / 1000000")
message(STATUS "${ZIP}: ${zip_mb} MB")
