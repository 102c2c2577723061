# The Windows client links a static Qt 6 for MinGW that scripts/windows-qt builds once into a
# cache folder (hours of machine time, so never as part of a build). When that Qt is complete the
# cross build adds the client and its tests; without it the rest is built as before.
set(ORVIK_WINDOWS_QT "$ENV{ORVIK_WINDOWS_QT}" CACHE PATH "Static Qt for MinGW (scripts/windows-qt)")
if(NOT ORVIK_WINDOWS_QT)
  set(ORVIK_WINDOWS_QT "$ENV{HOME}/.cache/orvik/qt-6.4.2-mingw" CACHE PATH "" FORCE)
endif()

if(EXISTS "${ORVIK_WINDOWS_QT}/.orvik-complete")
  set(ORVIK_BUILD_CLIENT ON)
  list(APPEND CMAKE_FIND_ROOT_PATH "${ORVIK_WINDOWS_QT}")
  list(APPEND CMAKE_PREFIX_PATH "${ORVIK_WINDOWS_QT}")
  # The build tools (moc, rcc, qmlcachegen...) are the machine's own Qt of the same version.
  file(GLOB host_qt /usr/lib/*/cmake/Qt6/Qt6Config.cmake)
  if(NOT host_qt)
    message(FATAL_ERROR "The Windows client needs this machine's Qt 6 build tools (scripts/setup installs them)")
  endif()
  list(GET host_qt 0 host_qt)
  cmake_path(GET host_qt PARENT_PATH host_qt)
  cmake_path(GET host_qt PARENT_PATH host_qt)
  set(QT_HOST_PATH /usr CACHE PATH "")
  set(QT_HOST_PATH_CMAKE_DIR "${host_qt}" CACHE PATH "")
  message(STATUS "Windows client: built with the Qt in ${ORVIK_WINDOWS_QT}")
else()
  set(ORVIK_BUILD_CLIENT OFF)
  file(REMOVE "${PROJECT_BINARY_DIR}/bin/Orvik.exe")  # one built before would be tested and shipped stale
  message(STATUS "Windows client: NOT built, no complete Qt for MinGW in ${ORVIK_WINDOWS_QT}. "
                 "scripts/windows-qt builds it once (about 2 hours on two cores).")
endif()
