# Read by cpack before it packs: for a cross build, dpkg-shlibdeps must look
# up the libraries (and their Debian packages) of the package's architecture,
# which it takes from DEB_HOST_ARCH.
if(CPACK_GENERATOR STREQUAL "DEB" AND CPACK_DEBIAN_PACKAGE_ARCHITECTURE)
  set(ENV{DEB_HOST_ARCH} "${CPACK_DEBIAN_PACKAGE_ARCHITECTURE}")
endif()
