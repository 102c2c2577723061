# Header-only and source-built dependencies, found the same way for the native and the
# cross build. The cross compiler must not search /usr/include (it would pick up glibc's
# headers), so the nlohmann/json headers are copied into the build tree and used from there.
find_path(ORVIK_NLOHMANN_DIR nlohmann/json.hpp
  PATHS /usr/include /usr/local/include NO_CMAKE_FIND_ROOT_PATH REQUIRED)
set(_orvik_json_copy ${CMAKE_BINARY_DIR}/third_party/include)
file(COPY ${ORVIK_NLOHMANN_DIR}/nlohmann DESTINATION ${_orvik_json_copy})
add_library(orvik_json INTERFACE)
target_include_directories(orvik_json SYSTEM INTERFACE ${_orvik_json_copy})
target_compile_definitions(orvik_json INTERFACE JSON_USE_IMPLICIT_CONVERSIONS=0)

if(NOT WIN32)
  find_package(CURL REQUIRED)
  find_package(Threads REQUIRED)
endif()
