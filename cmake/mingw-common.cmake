# What both Windows cross builds share: where the mingw-w64 target files live, and Wine to run
# the programs and tests the build makes.
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
find_program(AG_WINE NAMES wine64 PATHS /usr/lib/wine NO_DEFAULT_PATH)
find_program(AG_WINE NAMES wine64 wine)
if(AG_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${AG_WINE})
endif()
