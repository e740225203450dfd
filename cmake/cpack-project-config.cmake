# Read by cpack before it packs: a cross build's package tells
# dpkg-shlibdeps its architecture (DEB_HOST_ARCH), as a Debian cross build
# does, so that the libraries and the Debian packages it looks up for the
# dependencies are that architecture's.
if(CPACK_GENERATOR STREQUAL "DEB" AND CPACK_DEBIAN_PACKAGE_ARCHITECTURE)
  set(ENV{DEB_HOST_ARCH} "${CPACK_DEBIAN_PACKAGE_ARCHITECTURE}")
endif()
