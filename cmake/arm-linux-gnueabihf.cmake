# Cross-compiles for 32-bit ARM Linux with hardware floating point (Debian
# armhf, Raspberry Pi OS 32-bit) with Debian's cross compiler (package
# g++-arm-linux-gnueabihf). Libraries of the target (libasound2-dev:armhf,
# libgtest-dev:armhf) come from dpkg's multiarch directories,
# /usr/lib/arm-linux-gnueabihf.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(CMAKE_C_COMPILER arm-linux-gnueabihf-gcc)
set(CMAKE_CXX_COMPILER arm-linux-gnueabihf-g++)
set(CMAKE_LIBRARY_ARCHITECTURE arm-linux-gnueabihf)
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE armhf)
# GCC notes on every std::vector that its argument passing changed in GCC
# 7.1; nothing here is linked with code that old.
string(APPEND CMAKE_CXX_FLAGS_INIT " -Wno-psabi")
