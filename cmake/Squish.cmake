# libsquish, the reference that the block-format tests and benchmark compare
# against (never linked by the library). Debian's pkg-config file for it names
# an empty prefix, so the header and the library are looked up directly.
include_guard(GLOBAL)
find_path(SQUISH_INCLUDE_DIR squish.h REQUIRED)
find_library(SQUISH_LIBRARY squish REQUIRED)
add_library(korvane_squish INTERFACE IMPORTED GLOBAL)
target_include_directories(korvane_squish INTERFACE ${SQUISH_INCLUDE_DIR})
target_link_libraries(korvane_squish INTERFACE ${SQUISH_LIBRARY})
