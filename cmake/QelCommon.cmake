# Project-wide compile settings, carried by the interface target qel_common
# that every target of our own links.

# Assertions guard internal invariants the tool relies on: they stay active in
# every configuration, so NDEBUG is never defined.
foreach(cfg RELEASE RELWITHDEBINFO MINSIZEREL)
  string(REGEX REPLACE "(^| )[/-]DNDEBUG( |$)" " " CMAKE_C_FLAGS_${cfg} "${CMAKE_C_FLAGS_${cfg}}")
  string(REGEX REPLACE "(^| )[/-]DNDEBUG( |$)" " " CMAKE_CXX_FLAGS_${cfg} "${CMAKE_CXX_FLAGS_${cfg}}")
endforeach()

# Deprecation warnings stay warnings: they come with updates of Qt, FFmpeg
# and protobuf, not with a change of ours, and must not break a build of an
# unchanged tree.
add_library(qel_common INTERFACE)
target_compile_options(qel_common INTERFACE
  -Wall -Wextra -Wpedantic -Werror
  -Wnon-virtual-dtor -Wcast-qual -Wformat=2
  $<$<COMPILE_LANGUAGE:CXX>:-Wold-style-cast>
  $<$<CXX_COMPILER_ID:GNU>:-Wshadow=local>
  $<$<CXX_COMPILER_ID:GNU>:-Wno-error=deprecated-declarations>)
target_compile_definitions(qel_common INTERFACE
  QT_NO_CAST_FROM_ASCII
  QT_NO_NARROWING_CONVERSIONS_IN_CONNECT
  QT_DEPRECATED_WARNINGS)

if(QEL_ENABLE_SANITIZERS)
  set(QEL_SANITIZE_FLAGS -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_compile_options(${QEL_SANITIZE_FLAGS})
  add_link_options(${QEL_SANITIZE_FLAGS})
endif()

# Qt
set(CMAKE_AUTOMOC ON)
set(CMAKE_AUTOUIC ON)
set(CMAKE_AUTORCC ON)
find_package(Qt5 5.15 REQUIRED COMPONENTS Core Gui Widgets Network Test)
find_package(PkgConfig REQUIRED)
find_package(Threads REQUIRED)
find_package(OpenSSL 3 REQUIRED)

if(QEL_ENABLE_FUZZERS)
  # Coverage instrumentation for our code; the fuzz targets add the driver.
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

# The tool's name and version for the code (--version, the About box), written
# from project()'s version, which is the only place it is kept.
configure_file(${PROJECT_SOURCE_DIR}/src/ToolVersion.h.in ${PROJECT_BINARY_DIR}/generated/ToolVersion.h @ONLY)
add_library(qel_version INTERFACE)
target_include_directories(qel_version INTERFACE ${PROJECT_BINARY_DIR}/generated)
