# The posix thread model gives GoogleTest its std::mutex; programs that start no thread
# (the editor) link the same as with the win32 model.
find_program(PELLUX_MINGW_CXX NAMES ${PELLUX_MINGW_PREFIX}-g++-posix ${PELLUX_MINGW_PREFIX}-g++)
find_program(PELLUX_MINGW_CC NAMES ${PELLUX_MINGW_PREFIX}-gcc-posix ${PELLUX_MINGW_PREFIX}-gcc)
set(CMAKE_C_COMPILER ${PELLUX_MINGW_CC})
set(CMAKE_CXX_COMPILER ${PELLUX_MINGW_CXX})
set(CMAKE_RC_COMPILER ${PELLUX_MINGW_PREFIX}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${PELLUX_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# ctest runs the Windows test programs under Wine. wine picks the 32-bit loader; the 64-bit
# build needs wine64, which Debian keeps outside PATH.
if(CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64")
    find_program(PELLUX_WINE NAMES wine64 PATHS /usr/lib/wine /usr/lib/wine64 NO_CMAKE_FIND_ROOT_PATH)
else()
    find_program(PELLUX_WINE NAMES wine NO_CMAKE_FIND_ROOT_PATH)
endif()
if(PELLUX_WINE)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${PELLUX_WINE})
endif()
