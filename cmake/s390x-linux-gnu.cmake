# Linux on s390x, a big-endian processor, with Debian's cross compilers
# (crossbuild-essential-s390x); the tests run under qemu-user (qemu-user).
#   cmake -S . -B build-s390x -DCMAKE_TOOLCHAIN_FILE=cmake/s390x-linux-gnu.cmake
set(CMAKE_SYSTEM_PROCESSOR s390x)
set(PIXMAR_TARGET_TRIPLE s390x-linux-gnu)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
