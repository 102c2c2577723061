# Strict warnings for the project's own targets only (third-party code is built as it comes).
function(orvik_strict target)
  target_compile_options(${target} PRIVATE
    -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Wold-style-cast -Wcast-align
    -Wunused -Woverloaded-virtual -Wnull-dereference -Wdouble-promotion -Wformat=2
    -Wimplicit-fallthrough)
  if(ORVIK_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()

# Windows builds: wide Win32 API, Windows 10 as the oldest target.
function(orvik_platform_defaults target)
  if(WIN32)
    target_compile_definitions(${target} PRIVATE UNICODE _UNICODE _WIN32_WINNT=0x0A00 NOMINMAX WIN32_LEAN_AND_MEAN)
  endif()
endfunction()

# orvik_platform_glob(OUT PATTERN): the files of the current folder that match PATTERN
# ("*.cpp", "*_test.cpp"), less those of the other platform (names ending in _win or _linux,
# optionally followed by _test, before ".cpp").
function(orvik_platform_glob out pattern)
  file(GLOB found CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${pattern})
  if(WIN32)
    list(FILTER found EXCLUDE REGEX "_linux(_test)?\\.cpp$")
  else()
    list(FILTER found EXCLUDE REGEX "_win(_test)?\\.cpp$")
  endif()
  set(${out} ${found} PARENT_SCOPE)
endfunction()
