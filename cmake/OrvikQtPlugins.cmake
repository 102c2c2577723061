# A static Qt (the Windows build) carries its QML modules and extra platform plugins only when a
# program asks for them; a shared Qt finds them at run time and needs nothing here.
# orvik_link_qt_plugins(target [plugin targets...]): the QML modules the client's QML imports,
# and the plugins named (e.g. Qt6::QOffscreenIntegrationPlugin for the tests).
function(orvik_link_qt_plugins target)
  get_target_property(type Qt6::Core TYPE)
  if(type STREQUAL "STATIC_LIBRARY")
    # The scan starts from the target's own QML; the client's modules are found where the
    # build puts them, and with them what they import.
    set_property(TARGET ${target} APPEND PROPERTY QT_QML_IMPORT_PATH ${PROJECT_BINARY_DIR}/qml)
    qt_import_qml_plugins(${target})
    if(ARGN)
      qt_import_plugins(${target} INCLUDE ${ARGN})
    endif()
  endif()
endfunction()

# orvik_offscreen_qt_test(target): a Qt or QML test executable, run offscreen with the software
# renderer, which draws the same pixels on every machine (ORVIK_QT_TEST_ENVIRONMENT for its test).
# Wine hands no QT_* variable to a Windows program: there the executable sets them itself.
set(ORVIK_QT_TEST_ENVIRONMENT "QT_QPA_PLATFORM=offscreen;QT_QUICK_BACKEND=software")
# Windows' offscreen platform reads fonts from one folder; the tests get the fonts the Linux
# tests draw with (the system's Chinese, sans and monospace faces), so both draw alike.
if(WIN32)
  set(ORVIK_TEST_FONTS ${PROJECT_BINARY_DIR}/test-fonts)
  file(MAKE_DIRECTORY ${ORVIK_TEST_FONTS})
  find_program(ORVIK_FC_MATCH fc-match)
  foreach(pattern "sans-serif:lang=zh-cn" "sans-serif" "monospace")
    if(ORVIK_FC_MATCH)
      execute_process(COMMAND ${ORVIK_FC_MATCH} -f "%{file}" ${pattern} OUTPUT_VARIABLE font)
      if(EXISTS "${font}")
        file(COPY ${font} DESTINATION ${ORVIK_TEST_FONTS})
      endif()
    endif()
  endforeach()
endif()
function(orvik_offscreen_qt_test target)
  if(WIN32)
    target_sources(${target} PRIVATE ${PROJECT_SOURCE_DIR}/tests/qt/offscreen_win.cpp)
    target_compile_definitions(${target} PRIVATE ORVIK_TEST_FONTS="${ORVIK_TEST_FONTS}")
  endif()
  orvik_link_qt_plugins(${target} Qt6::QOffscreenIntegrationPlugin)
endfunction()
