# minizip from the zlib source package's contrib folder, built here for this target.
set(MINIZIP_DIR "${ZLIB_SOURCE_DIR}/contrib/minizip")
if(NOT EXISTS "${MINIZIP_DIR}/unzip.c")
  message(FATAL_ERROR "minizip sources not found in ${MINIZIP_DIR}: run scripts/setup.sh first")
endif()
add_library(minizip STATIC ${MINIZIP_DIR}/unzip.c ${MINIZIP_DIR}/ioapi.c ${MINIZIP_DIR}/iowin32.c)
target_include_directories(minizip SYSTEM PUBLIC ${MINIZIP_DIR} ${ZLIB_INCLUDE})
# Third-party code: its own warnings are not ours to fix.
target_compile_options(minizip PRIVATE -w)
