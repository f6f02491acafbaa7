# Shared part of the two macOS slice toolchains. There is no Apple SDK here:
# the units compile against the small C headers of build/macos/include, and
# link-dylib.py links them against stub libraries of our own that carry only
# the install names, versions and symbols the slice imports.
set(CMAKE_SYSTEM_NAME Darwin)
set(CMAKE_SYSTEM_PROCESSOR ${LERPWORK_MACOS_ARCH})
set(CMAKE_CXX_COMPILER clang-19)
set(CMAKE_CXX_COMPILER_TARGET ${LERPWORK_MACOS_ARCH}-apple-macosx10.4)
set(CMAKE_OSX_ARCHITECTURES "" CACHE STRING "")
set(CMAKE_OSX_SYSROOT "" CACHE STRING "")
set(CMAKE_OSX_DEPLOYMENT_TARGET "" CACHE STRING "")
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)

set(LERPWORK_MACOS_DIR ${CMAKE_CURRENT_LIST_DIR})
# prelude.h makes the number constructors run at load and keeps the engine
# package constructors out of line; see there.
set(CMAKE_CXX_FLAGS_INIT
  "-nostdinc -isystem ${LERPWORK_MACOS_DIR}/include -include ${LERPWORK_MACOS_DIR}/prelude.h ${LERPWORK_MACOS_ARCH_FLAGS}")
# clang counts the implicit copy constructor next to a defaulted copy
# assignment as deprecated; AIVariable relies on both being trivial.
set(LERPWORK_WARNINGS -Wall -Wextra -Werror -Wno-deprecated-copy CACHE STRING "")

# Each unit keeps its load-time initialiser: see compile-unit.sh.
set(CMAKE_CXX_COMPILER_LAUNCHER ${LERPWORK_MACOS_DIR}/compile-unit.sh)
# The link step is ours as a whole (linker, stubs, header flags): rules.cmake.
set(CMAKE_USER_MAKE_RULES_OVERRIDE_CXX ${LERPWORK_MACOS_DIR}/rules.cmake)

