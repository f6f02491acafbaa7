# Windows, i386: Lerpwork.dll, the 32-bit layout (8-byte variables, 4-byte
# slots) with the MSVC C++ ABI, which the host's virtual calls (thiscall, one
# deleting-destructor slot) and the decorated export names depend on. clang
# compiles for the MSVC target and lld-link links; there is no MSVC run time
# on the build machine, so build/windows supplies the C headers, the DLL
# start-up and the import libraries (from .def files) that the module needs.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)
set(CMAKE_C_COMPILER clang-19)
set(CMAKE_CXX_COMPILER clang++-19)
set(CMAKE_C_COMPILER_TARGET i686-pc-windows-msvc)
set(CMAKE_CXX_COMPILER_TARGET i686-pc-windows-msvc)
set(CMAKE_LINKER lld-link-19)
set(CMAKE_AR llvm-ar-19)
set(CMAKE_RC_COMPILER llvm-rc-19)
set(CMAKE_MT llvm-mt-19)
# Nothing can be linked before the start-up exists.
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)

# -fms-compatibility keeps the MSVC language rules; no platform headers exist
# on this machine, only ours. -fstack-protector-strong is the guard that the
# host's compiler applies by default; its cookie lives in the start-up.
set(LERPWORK_WINDOWS_INCLUDE "${CMAKE_CURRENT_LIST_DIR}/windows/include")
# The engine package objects of up to five constants are initialised data, the
# larger ones filled at load, as the host's compiler lays them out.
set(CMAKE_CXX_FLAGS_INIT "-fms-compatibility -fms-extensions -nostdinc -isystem ${LERPWORK_WINDOWS_INCLUDE} -fexceptions -fcxx-exceptions -fstack-protector-strong -msse2 -mfpmath=sse -DLERPWORK_ENGINE_DATA_MAX_COUNT=5")
set(CMAKE_C_FLAGS_INIT "-fms-compatibility -fms-extensions -nostdinc -isystem ${LERPWORK_WINDOWS_INCLUDE} -msse2 -mfpmath=sse")
# The module carries no debug information (and so no path of the build
# machine); the optimisation is that of the other presets.
set(CMAKE_CXX_FLAGS_RELWITHDEBINFO "-O2 -DNDEBUG" CACHE STRING "")
set(CMAKE_C_FLAGS_RELWITHDEBINFO "-O2 -DNDEBUG" CACHE STRING "")
set(CMAKE_USER_MAKE_RULES_OVERRIDE_CXX "${CMAKE_CURRENT_LIST_DIR}/windows/rules.cmake")
set(CMAKE_USER_MAKE_RULES_OVERRIDE_C "${CMAKE_CURRENT_LIST_DIR}/windows/rules.cmake")

# The value type declares its copy assignment (an exported member) and leaves
# the copy constructor implicit (not exported), as the host SDK does; clang's
# -Wextra flags that pair as deprecated.
set(LERPWORK_WARNINGS -Wall -Wextra -Werror -Wno-deprecated-copy CACHE STRING "")
