# The FST container library (fstapi.c with lz4.c and fastlz.c) is compiled
# from the sources Debian ships with verilator; nothing of it is kept here.
set(QUARN_FST_SOURCE_DIR "/usr/share/verilator/include/gtkwave" CACHE PATH
    "Folder holding fstapi.c, fstapi.h, lz4.c and fastlz.c")
foreach(f fstapi.c fstapi.h lz4.c fastlz.c fst_config.h)
  if(NOT EXISTS "${QUARN_FST_SOURCE_DIR}/${f}")
    message(FATAL_ERROR "FST library source ${f} not found in ${QUARN_FST_SOURCE_DIR}; "
                        "install Debian's verilator or set QUARN_FST_SOURCE_DIR")
  endif()
endforeach()

add_library(quarn_fstapi STATIC
  ${QUARN_FST_SOURCE_DIR}/fstapi.c
  ${QUARN_FST_SOURCE_DIR}/lz4.c
  ${QUARN_FST_SOURCE_DIR}/fastlz.c
  ${CMAKE_CURRENT_LIST_DIR}/fst_guard.c
)
set_target_properties(quarn_fstapi PROPERTIES
  C_STANDARD 11 C_EXTENSIONS ON
  POSITION_INDEPENDENT_CODE ON
  C_VISIBILITY_PRESET hidden)
target_compile_definitions(quarn_fstapi PRIVATE FST_CONFIG_INCLUDE="fst_config.h")
target_include_directories(quarn_fstapi PUBLIC ${QUARN_FST_SOURCE_DIR})
# The library calls exit() on corrupt input; redirect it into our guard.
set_source_files_properties(${QUARN_FST_SOURCE_DIR}/fstapi.c PROPERTIES
  COMPILE_OPTIONS "-include;${CMAKE_CURRENT_LIST_DIR}/fst_exit_redirect.h;-w")
set_source_files_properties(${QUARN_FST_SOURCE_DIR}/lz4.c ${QUARN_FST_SOURCE_DIR}/fastlz.c PROPERTIES
  COMPILE_OPTIONS "-w")
# On x86 FastLZ copies matches two bytes at a time through uint16_t pointers
# that overlap their own output; g++ 12 at -O3 vectorizes that loop as if they
# did not, and matches a few bytes apart come out with bytes never written
# (NULs in place of value digits). The byte-by-byte copy is exact at every
# optimisation level.
set_source_files_properties(${QUARN_FST_SOURCE_DIR}/fastlz.c PROPERTIES
  COMPILE_DEFINITIONS "FASTLZ_STRICT_ALIGN")
set_source_files_properties(${CMAKE_CURRENT_LIST_DIR}/fst_guard.c PROPERTIES
  COMPILE_OPTIONS "${QUARN_WARNINGS}")
target_link_libraries(quarn_fstapi PUBLIC ZLIB::ZLIB)
if(QUARN_SANITIZE)
  # The library reads and writes words at odd addresses on x86 by design, and
  # its LZ4 adds 0 to a null dictionary pointer on every call; every other
  # check stays on for it.
  target_compile_options(quarn_fstapi PRIVATE -fno-sanitize=alignment,pointer-overflow)
endif()
