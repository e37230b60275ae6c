# Linux on arm64, with Debian's cross compilers (crossbuild-essential-arm64);
# the tests run under qemu-user (qemu-user).
#   cmake -S . -B build-arm64 -DCMAKE_TOOLCHAIN_FILE=cmake/aarch64-linux-gnu.cmake
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(PIXMAR_TARGET_TRIPLE aarch64-linux-gnu)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
