# A static Qt (the Windows build) carries its QML modules and extra platform plugins only when a
# program asks for them; a shared Qt finds them at run time and needs nothing here.
# orvik_link_qt_plugins(target [plugin targets...]): the QML modules the client's QML imports,
# and the plugins named (e.g. Qt6::QOffscreenIntegrationPlugin for the tests).
function(orvik_link_qt_plugins target)
  get_target_property(type Qt6::Core TYPE)
  if(type STREQUAL "STATIC_LIBRARY")
    qt_import_qml_plugins(${target} PATH_TO_SCAN ${PROJECT_SOURCE_DIR}/qml)
    if(ARGN)
      qt_import_plugins(${target} INCLUDE ${ARGN})
    endif()
  endif()
endfunction()

# orvik_offscreen_qt_test(target): a Qt or QML test executable, run offscreen with the software
# renderer, which draws the same pixels on every machine (ORVIK_QT_TEST_ENVIRONMENT for its test).
# Wine hands no QT_* variable to a Windows program: there the executable sets them itself.
set(ORVIK_QT_TEST_ENVIRONMENT "QT_QPA_PLATFORM=offscreen;QT_QUICK_BACKEND=software")
function(orvik_offscreen_qt_test target)
  if(WIN32)
    target_sources(${target} PRIVATE ${PROJECT_SOURCE_DIR}/tests/support/qt_offscreen_win.cpp)
  endif()
  orvik_link_qt_plugins(${target} Qt6::QOffscreenIntegrationPlugin)
endfunction()
