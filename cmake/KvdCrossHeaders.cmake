# Header-only libraries of the build machine for a cross-build. The target's compiler must
# not search the host's /usr/include as a whole (its C library headers would win), so each
# library's own folder is linked into a folder of the build and only that is searched.
# SPDX-License-Identifier: GPL-3.0-or-later
set(KVD_CROSS_INCLUDE "${CMAKE_BINARY_DIR}/cross-include")
file(MAKE_DIRECTORY "${KVD_CROSS_INCLUDE}")
foreach(lib CLI)
  find_path(_kvd_dir ${lib}/${lib}.hpp PATHS /usr/include NO_CMAKE_FIND_ROOT_PATH NO_DEFAULT_PATH)
  if(_kvd_dir AND NOT EXISTS "${KVD_CROSS_INCLUDE}/${lib}")
    file(CREATE_LINK "${_kvd_dir}/${lib}" "${KVD_CROSS_INCLUDE}/${lib}" SYMBOLIC)
  endif()
  unset(_kvd_dir CACHE)
endforeach()
include_directories(SYSTEM "${KVD_CROSS_INCLUDE}")
