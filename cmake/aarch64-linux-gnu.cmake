# Cross-compiles for 64-bit ARM Linux (Debian arm64, Raspberry Pi OS 64-bit)
# with Debian's cross compiler (package g++-aarch64-linux-gnu). Libraries of
# the target (libasound2-dev:arm64, libgtest-dev:arm64) come from dpkg's
# multiarch directories, /usr/lib/aarch64-linux-gnu.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE arm64)
