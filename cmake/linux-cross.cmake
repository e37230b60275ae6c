# Shared by the toolchain files of the other Linux processors: Debian's cross
# compilers for PIXMAR_TARGET_TRIPLE, static programs (so the emulator needs
# no copy of the target's libraries), and qemu-user as the emulator that runs
# the tests, the way Wine runs the Windows build's.
set(CMAKE_SYSTEM_NAME Linux)

set(CMAKE_C_COMPILER ${PIXMAR_TARGET_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${PIXMAR_TARGET_TRIPLE}-g++)

set(CMAKE_FIND_ROOT_PATH /usr/${PIXMAR_TARGET_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

find_program(PIXMAR_QEMU NAMES qemu-${CMAKE_SYSTEM_PROCESSOR} qemu-${CMAKE_SYSTEM_PROCESSOR}-static)
if(PIXMAR_QEMU)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${PIXMAR_QEMU})
endif()
