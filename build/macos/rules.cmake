# The link rule of the macOS slices: link-dylib.py drives the Mach-O linker
# directly (no compiler driver, which would add start-up objects and libraries
# of an SDK we do not have).
set(CMAKE_CXX_CREATE_SHARED_LIBRARY
  "/usr/bin/python3 ${LERPWORK_MACOS_DIR}/link-dylib.py --arch ${LERPWORK_MACOS_ARCH} --linker ${LERPWORK_MACOS_LINKER} --output <TARGET> <OBJECTS>")
