# Run by cpack between staging the installed files and packing them (CPACK_PRE_BUILD_SCRIPTS):
# compresses every manual page in the staging folder with gzip -9n, as Debian's
# packages ship them; man reads them either way.
file(GLOB_RECURSE pages "${CPACK_TEMPORARY_DIRECTORY}/*/share/man/man*/*")
list(FILTER pages EXCLUDE REGEX "\\.gz$")
foreach(page IN LISTS pages)
  execute_process(COMMAND gzip -9nf "${page}" RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "gzip ${page} failed")
  endif()
endforeach()
