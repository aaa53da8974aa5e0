# Makes the Wine prefix of the tests (cmake -P, with WINEPREFIX and the other WINE* variables
# in the environment): a 32-bit Windows installation, whose graphics driver is the null driver,
# so that windows, timers and message loops work without a display.
#
#   -DWINE=<wine> -DPREFIX=<the prefix directory>

cmake_minimum_required(VERSION 3.25)

find_program(WINESERVER wineserver)

set(ready ${PREFIX}/vm316-prefix-ready)
if(EXISTS ${ready})
  return()
endif()

execute_process(COMMAND ${WINE} wineboot --init RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "wineboot cannot make the prefix ${PREFIX}")
endif()
execute_process(COMMAND ${WINE} reg add "HKCU\\Software\\Wine\\Drivers" /v Graphics /d null /f
                RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "cannot choose Wine's null graphics driver")
endif()
# The registry reaches the disk when the server ends.
if(WINESERVER)
  execute_process(COMMAND ${WINESERVER} --wait)
endif()
file(TOUCH ${ready})
