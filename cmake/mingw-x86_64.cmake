# Cross build of the same sources for 64-bit Windows, used to run the
# Windows-side tests where the machine cannot execute 32-bit code.
# The posix-threads variant compiles everything: GoogleTest needs std::mutex.
# The product (updater.exe) starts no thread, so it links the runtime of the
# win32-threads variant instead, which needs no threads library (see
# UPDATER_PRODUCT_RUNTIME_DIR in CMakeLists.txt).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
execute_process(COMMAND x86_64-w64-mingw32-g++-win32 -print-libgcc-file-name
                OUTPUT_VARIABLE _updater_libgcc OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
if(_updater_libgcc MATCHES "/libgcc\\.a$")
  get_filename_component(UPDATER_PRODUCT_RUNTIME_DIR "${_updater_libgcc}" DIRECTORY)
endif()
