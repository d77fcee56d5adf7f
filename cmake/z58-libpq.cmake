# libpq as the imported target Z58::libpq.
#
# Cross build for Windows: -DZ58_PQ_ROOT=PREFIX, the prefix tools/libpq-mingw.sh
# prints (static libpq, libssl and libcrypto; no DLL beside the program).
# Linux: Debian's libpq-dev through find_package(PostgreSQL).
#
#   include(cmake/z58-libpq.cmake)
#   target_link_libraries(journal PRIVATE Z58::libpq)
include_guard(GLOBAL)

set(Z58_PQ_ROOT "" CACHE PATH "libpq for mingw from tools/libpq-mingw.sh (cross builds only)")

if(Z58_PQ_ROOT)
  if(NOT WIN32)
    message(FATAL_ERROR "Z58_PQ_ROOT names a libpq for Windows; this build is for ${CMAKE_SYSTEM_NAME}")
  endif()
  foreach(file include/libpq-fe.h include/postgres_ext.h include/pg_config_ext.h
               lib/libpq.a lib/libssl.a lib/libcrypto.a)
    if(NOT EXISTS "${Z58_PQ_ROOT}/${file}")
      message(FATAL_ERROR "Z58_PQ_ROOT=${Z58_PQ_ROOT} holds no libpq build (${file} is missing)")
    endif()
  endforeach()
  add_library(Z58::libpq STATIC IMPORTED GLOBAL)
  # OpenSSL after libpq, then the Windows libraries both need: secur32 (SSPI),
  # ws2_32 (sockets), shell32 (%APPDATA%), advapi32 (the user name), and
  # crypt32, gdi32 and user32 for OpenSSL.
  set_target_properties(Z58::libpq PROPERTIES
    IMPORTED_LOCATION "${Z58_PQ_ROOT}/lib/libpq.a"
    IMPORTED_LINK_INTERFACE_LANGUAGES C
    INTERFACE_INCLUDE_DIRECTORIES "${Z58_PQ_ROOT}/include"
    INTERFACE_LINK_LIBRARIES
      "${Z58_PQ_ROOT}/lib/libssl.a;${Z58_PQ_ROOT}/lib/libcrypto.a;secur32;ws2_32;crypt32;gdi32;shell32;advapi32;user32")
elseif(CMAKE_CROSSCOMPILING AND WIN32)
  message(FATAL_ERROR "a Windows build needs -DZ58_PQ_ROOT=<prefix printed by tools/libpq-mingw.sh>")
else()
  # 10 is the first libpq with scram-sha-256.
  find_package(PostgreSQL 10 REQUIRED)
  add_library(Z58::libpq INTERFACE IMPORTED GLOBAL)
  target_link_libraries(Z58::libpq INTERFACE PostgreSQL::PostgreSQL)
endif()
