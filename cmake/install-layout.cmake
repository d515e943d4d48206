# Where `cmake --install` puts things.
#  folder: one self-contained folder (the prefix) that runs from wherever it is
#          copied; the settings are kept beside the executable. cpack: .tar.gz
#          (.zip for Windows).
#  debian: a system-wide install under the prefix /usr: the tool with its data
#          files in lib/merkat32, a link in bin, the desktop entry, icon,
#          AppStream metadata, manual page and documentation under share; the
#          settings are kept per user. cpack: the .deb (packaging/).
set(MERKAT_INSTALL_LAYOUT folder CACHE STRING "Install layout: folder or debian")
set_property(CACHE MERKAT_INSTALL_LAYOUT PROPERTY STRINGS folder debian)
if(MERKAT_INSTALL_LAYOUT STREQUAL "debian")
  set(M32_INSTALL_TOOLDIR lib/merkat32)
elseif(MERKAT_INSTALL_LAYOUT STREQUAL "folder")
  set(M32_INSTALL_TOOLDIR .)
else()
  message(FATAL_ERROR "MERKAT_INSTALL_LAYOUT must be folder or debian, not ${MERKAT_INSTALL_LAYOUT}")
endif()
