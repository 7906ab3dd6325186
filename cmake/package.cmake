# The Debian package, made by CPack from the install rules:
#   cmake --build build --target package     (or: cd build && cpack -G DEB)
# gives build/carryvale_<version>_<arch>.deb, installable with
#   apt install ./carryvale_<version>_<arch>.deb
set(CPACK_GENERATOR "DEB")
set(CPACK_PACKAGE_NAME "carryvale")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_VENDOR "Quillmarsh Software")
set(CPACK_PACKAGE_CONTACT "Carryvale <support@carryvale.example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "keeps the documents of two computers in step through a briefcase file")
set(CPACK_PACKAGE_DESCRIPTION
    "Carryvale keeps the documents of two computers in step through one file you\n\
carry between them, typically on a removable disk: the briefcase (.brc), an\n\
ordinary ZIP archive whose comment holds its configuration. You load the files\n\
you changed into it on one computer and unload it on the other, confirming each\n\
file it would replace.\n\
\n\
The package holds the desktop program carryvale and its command-line\n\
companion brc.")
set(CPACK_PACKAGE_HOMEPAGE_URL "https://carryvale.example.org/")
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# Stripped programs, as Debian ships them; a quick compression keeps the
# package test short.
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_COMPRESSION_TYPE "gzip")
set(CPACK_DEBIAN_PACKAGE_SECTION "utils")
set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
# The libraries' packages, as Debian's dpkg-shlibdeps finds them; without that
# tool the packages the program links against are named here.
find_program(CARRYVALE_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(CARRYVALE_DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
else()
  set(CPACK_DEBIAN_PACKAGE_DEPENDS
      "libc6, libstdc++6, libgcc-s1, zlib1g, libjpeg62-turbo, libsqlite3-0, libssl3, libqt6core6, libqt6gui6, libqt6widgets6")
endif()
# The file type, the menu entry and the icons are registered by the triggers of
# these packages; the Wayland platform plugin for Wayland desktops.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "shared-mime-info, desktop-file-utils, hicolor-icon-theme, qt6-wayland")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "xdg-utils")
include(CPack)
