# Link rules of the Windows build: lld-link directly, with nothing implied.
# CMake's own rules for clang on Windows add the MSVC run time's libraries,
# its debug-information format and a version stamp, none of which exist or
# belong here; the module's settings come from build/windows/CMakeLists.txt.
foreach(lang C CXX)
  foreach(runtime MultiThreaded MultiThreadedDLL MultiThreadedDebug MultiThreadedDebugDLL)
    set(CMAKE_${lang}_COMPILE_OPTIONS_MSVC_RUNTIME_LIBRARY_${runtime} "")
  endforeach()
  foreach(format Embedded ProgramDatabase EditAndContinue)
    set(CMAKE_${lang}_COMPILE_OPTIONS_MSVC_DEBUG_INFORMATION_FORMAT_${format} "")
  endforeach()
  set(CMAKE_${lang}_STANDARD_LIBRARIES_INIT "")
  set(CMAKE_${lang}_CREATE_SHARED_LIBRARY
    "<CMAKE_LINKER> /nologo /dll <LINK_FLAGS> /out:<TARGET> <OBJECTS> <LINK_LIBRARIES>")
  # The subsystem is each module's own setting (build/windows, tests/windows).
  set(CMAKE_${lang}_CREATE_CONSOLE_EXE "")
  set(CMAKE_${lang}_CREATE_WIN32_EXE "")
  set(CMAKE_${lang}_LINK_EXECUTABLE
    "<CMAKE_LINKER> /nologo <LINK_FLAGS> /out:<TARGET> <OBJECTS> <LINK_LIBRARIES>")
endforeach()
