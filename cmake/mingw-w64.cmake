# Cross build for 64-bit Windows with Debian's mingw-w64 (the -posix variant has
# std::thread and std::mutex); everything is linked statically so the programs
# run under Wine without extra DLLs.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# SQLite from tools/sqlite-mingw.sh: -DZ58_SQLITE_ROOT=PREFIX makes
# find_package(SQLite3) take that build. Forced, so a prefix of another recipe
# replaces the one an earlier configure of the same folder found.
if(Z58_SQLITE_ROOT)
  if(NOT EXISTS "${Z58_SQLITE_ROOT}/include/sqlite3.h" OR NOT EXISTS "${Z58_SQLITE_ROOT}/lib/libsqlite3.a")
    message(FATAL_ERROR "Z58_SQLITE_ROOT=${Z58_SQLITE_ROOT} holds no SQLite build (include/sqlite3.h, lib/libsqlite3.a)")
  endif()
  set(SQLite3_INCLUDE_DIR "${Z58_SQLITE_ROOT}/include" CACHE PATH "SQLite for mingw: headers" FORCE)
  set(SQLite3_LIBRARY "${Z58_SQLITE_ROOT}/lib/libsqlite3.a" CACHE FILEPATH "SQLite for mingw: static library" FORCE)
endif()
