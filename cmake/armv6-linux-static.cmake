# Cross-compiles the armhf package that runs on every 32-bit Raspberry Pi
# OS, the ARMv6 boards (Pi 1, Zero, Zero W: ARM1176JZF-S with VFPv2) as
# well as the Pi 2-5. Debian's armhf compiler and libraries are ARMv7 with
# Thumb-2, which an ARM1176 can't run; Debian's armel ones (package
# g++-arm-linux-gnueabi) are ARMv5TE in ARM state, which it can. So kolvan
# is compiled for the ARM1176 with VFP, in armel's soft-float calling
# convention, and linked statically: the binary calls no library of the
# system, whose calling convention is armhf's. `readelf -A` of the result
# says Tag_CPU_arch v6KZ, Thumb-1 and VFPv2; scripts/arm-test.sh runs it
# under qemu's arm1176. A static binary can't load ALSA's plugins, the
# road to PipeWire and PulseAudio, and Debian has no static ALSA library:
# this build has no sound card (KOLVAN_AUDIO off).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(CMAKE_C_COMPILER arm-linux-gnueabi-gcc)
set(CMAKE_CXX_COMPILER arm-linux-gnueabi-g++)
# GoogleTest for the tests' build: libgtest-dev:armel, through dpkg's multiarch.
set(CMAKE_LIBRARY_ARCHITECTURE arm-linux-gnueabi)
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE armhf)
# ARMv6K's exclusive loads and stores make every atomic up to 64 bits
# inline; plain ARMv6 would call libatomic, whose 64-bit functions carry an
# ARMv7 variant chosen at run time, and `readelf -A` would say v7.
string(APPEND CMAKE_C_FLAGS_INIT " -mcpu=arm1176jzf-s -mfpu=vfp -mfloat-abi=softfp -marm")
string(APPEND CMAKE_CXX_FLAGS_INIT " -mcpu=arm1176jzf-s -mfpu=vfp -mfloat-abi=softfp -marm -Wno-psabi")
string(APPEND CMAKE_EXE_LINKER_FLAGS_INIT " -static")
set(KOLVAN_AUDIO OFF CACHE BOOL "The sound card: none in the static ARMv6 build")
set(KOLVAN_STATIC ON CACHE BOOL "Programs linked statically")
