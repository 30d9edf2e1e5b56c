# The build for WebAssembly (emscripten): lexaro-import and lexaro-dump as
# one ES module that the page's Web Worker instantiates, and the static site
# around it in site/ (the page, its worker and the module). Included by
# the top CMakeLists.txt in place of find_package(ZLIB) when the toolchain is
# emscripten's (cmake -DCMAKE_TOOLCHAIN_FILE=.../Emscripten.cmake, as
# `make web` does); lexaro_web_site() at its end adds the site.
#
# zlib is compiled here from the source tree of the zlib that the native
# build links (Debian's source package, LEXARO_ZLIB_SOURCE), with Debian's
# own compile definitions, so that the blocks compress to the same bytes;
# emscripten's ports are never asked for, so nothing is downloaded.
enable_language(C)

set(LEXARO_ZLIB_SOURCE "" CACHE PATH "zlib's source tree (scripts/debian-source zlib DIR)")
if(NOT EXISTS "${LEXARO_ZLIB_SOURCE}/zlib.h")
  message(FATAL_ERROR "LEXARO_ZLIB_SOURCE must name zlib's source tree; `make web` fetches it")
endif()
set(zlib_sources adler32 compress crc32 deflate gzclose gzlib gzread gzwrite infback inffast
    inflate inftrees trees uncompr zutil)
list(TRANSFORM zlib_sources PREPEND "${LEXARO_ZLIB_SOURCE}/")
list(TRANSFORM zlib_sources APPEND ".c")
add_library(lexaro_zlib STATIC ${zlib_sources})
target_include_directories(lexaro_zlib SYSTEM PUBLIC "${LEXARO_ZLIB_SOURCE}")
# As debian/rules and zlib's configure build it; -w: its warnings are not ours to fix.
target_compile_definitions(lexaro_zlib PRIVATE UNALIGNED_OK _REENTRANT _LARGEFILE64_SOURCE=1)
target_compile_options(lexaro_zlib PRIVATE -O3 -w)
add_library(ZLIB::ZLIB ALIAS lexaro_zlib)

# One thread: threads in WebAssembly need shared memory, which a page has
# only when its server sends cross-origin isolation headers, and the site is
# for any static host. Threads::Threads links nothing; the compiler runs its
# blocks in the calling thread, as with --jobs 1.
add_library(Threads::Threads INTERFACE IMPORTED)

# C++ exceptions compiled in: the programs report errors by throwing.
add_compile_options(-fexceptions)
# WebAssembly is 32-bit: a 64-bit size or offset converted to a narrower type
# without a cast is a warning (an error with LEXARO_WERROR), so that every
# size that can pass 4 GiB is checked where it is narrowed, never cut.
add_compile_options($<$<COMPILE_LANGUAGE:CXX>:-Wshorten-64-to-32>)

# Every program an ES module that the worker instantiates once a run, its
# main called with the arguments (callMain); its files come from the
# worker's file systems, set up by web/program_files.js.
set(lexaro_web_pre_js "${CMAKE_CURRENT_LIST_DIR}/../web/program_files.js")
add_link_options(
  -fexceptions
  -sMODULARIZE=1 -sEXPORT_ES6=1 -sENVIRONMENT=worker
  -sINVOKE_RUN=0 -sEXIT_RUNTIME=1
  -sALLOW_MEMORY_GROWTH=1 -sMAXIMUM_MEMORY=4GB
  "-sEXPORTED_RUNTIME_METHODS=[callMain,ccall,FS]"
  -lworkerfs.js
  "--pre-js=${lexaro_web_pre_js}")

# The site: web/'s page and worker beside the programs, in site/. The two
# programs are one module, lexaro-web, which is lexaro-dump when called by
# that name (web/web_main.cpp): most of lexaro-dump's code is in
# lexaro-import already, and the page downloads it once.
function(lexaro_web_site)
  set(web "${PROJECT_SOURCE_DIR}/web")
  foreach(program import dump)
    add_library(lexaro_web_${program}_main OBJECT src/${program}/main.cpp)
    target_compile_definitions(lexaro_web_${program}_main PRIVATE program_main=${program}_program_main)
    target_link_libraries(lexaro_web_${program}_main PRIVATE lexaro_import_core)
  endforeach()
  add_executable(lexaro-web "${web}/web_main.cpp" "${web}/format_probe.cpp"
    src/common/entry_point.cpp $<TARGET_OBJECTS:lexaro_web_import_main>
    $<TARGET_OBJECTS:lexaro_web_dump_main>)
  target_link_libraries(lexaro-web PRIVATE lexaro_import_core)
  set_property(TARGET lexaro-web APPEND PROPERTY LINK_DEPENDS "${lexaro_web_pre_js}")
  # The page asks lexaro-import which format and files it finds.
  target_link_options(lexaro-web PRIVATE "-sEXPORTED_FUNCTIONS=[_main,_lexaro_probe,_lexaro_input_labels,_lexaro_format_names]")

  set(site "${PROJECT_BINARY_DIR}/site")
  set(outputs)
  foreach(file index.html worker.js)
    add_custom_command(OUTPUT "${site}/${file}"
      COMMAND ${CMAKE_COMMAND} -E copy "${web}/${file}" "${site}/${file}"
      DEPENDS "${web}/${file}")
    list(APPEND outputs "${site}/${file}")
  endforeach()
  add_custom_command(OUTPUT "${site}/lexaro-web.js" "${site}/lexaro-web.wasm"
    COMMAND ${CMAKE_COMMAND} -E copy "$<TARGET_FILE:lexaro-web>"
            "$<TARGET_FILE_DIR:lexaro-web>/lexaro-web.wasm" "${site}/"
    DEPENDS lexaro-web)
  list(APPEND outputs "${site}/lexaro-web.js" "${site}/lexaro-web.wasm")
  add_custom_target(web-site ALL DEPENDS ${outputs})
endfunction()
