# Cross-compiling for 64-bit ARM with Debian's g++-aarch64-linux-gnu, against the :arm64
# packages of the multiarch tree (/usr/lib/aarch64-linux-gnu). Programs and tests run under
# qemu-user (qemu-user-static), with the cross toolchain's C and C++ libraries as the root of
# their dynamic loader. scripts/test --arm installs all of this and builds with:
#
#   cmake -S . -B build-arm -DCMAKE_TOOLCHAIN_FILE=scripts/aarch64-toolchain.cmake
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
# find_library and find_package look in the lib/aarch64-linux-gnu directories first.
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)
set(CMAKE_FIND_ROOT_PATH /usr/aarch64-linux-gnu)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64-static -L /usr/aarch64-linux-gnu)
