# minizip, the zip reader of zlib's contrib as Debian packages it (source
# package minizip), for lexaro-import's Yomitan reader: lexaro_minizip.
# The native build links Debian's libminizip (libminizip-dev). The MinGW and
# WebAssembly builds have no package of it: they compile its two reading
# files from Debian's source package, with Debian's patches, which `make
# windows` and `make web` fetch with scripts/debian-source into
# LEXARO_MINIZIP_SOURCE; nothing else is downloaded.
set(LEXARO_MINIZIP_SOURCE "" CACHE PATH
    "minizip's source tree (scripts/debian-source minizip DIR); empty: Debian's libminizip")
if(LEXARO_MINIZIP_SOURCE)
  if(NOT EXISTS "${LEXARO_MINIZIP_SOURCE}/unzip.h")
    message(FATAL_ERROR "LEXARO_MINIZIP_SOURCE (${LEXARO_MINIZIP_SOURCE}) holds no unzip.h")
  endif()
  enable_language(C)
  add_library(lexaro_minizip STATIC
    "${LEXARO_MINIZIP_SOURCE}/unzip.c" "${LEXARO_MINIZIP_SOURCE}/ioapi.c")
  target_include_directories(lexaro_minizip SYSTEM PUBLIC "${LEXARO_MINIZIP_SOURCE}")
  # Reading only, through the reader's own file functions: no decryption,
  # and the stdio functions that ioapi.c holds but nothing calls in their
  # plain form (WebAssembly's C library has no fopen64).
  target_compile_definitions(lexaro_minizip PRIVATE NOUNCRYPT $<$<BOOL:${EMSCRIPTEN}>:USE_FILE32API>)
  # -w: its warnings are not ours to fix.
  target_compile_options(lexaro_minizip PRIVATE -w)
  target_link_libraries(lexaro_minizip PUBLIC ZLIB::ZLIB)
else()
  find_path(LEXARO_MINIZIP_INCLUDE_DIR minizip/unzip.h)
  find_library(LEXARO_MINIZIP_LIBRARY minizip)
  if(NOT LEXARO_MINIZIP_INCLUDE_DIR OR NOT LEXARO_MINIZIP_LIBRARY)
    message(FATAL_ERROR "minizip not found: install libminizip-dev (make deps does), or name its"
                        " source tree with -DLEXARO_MINIZIP_SOURCE=DIR")
  endif()
  add_library(lexaro_minizip INTERFACE)
  target_include_directories(lexaro_minizip SYSTEM INTERFACE "${LEXARO_MINIZIP_INCLUDE_DIR}/minizip")
  target_link_libraries(lexaro_minizip INTERFACE "${LEXARO_MINIZIP_LIBRARY}" ZLIB::ZLIB)
endif()
