# GoogleTest for a cross-build: the host's prebuilt libraries are of no use to another
# target, so it is built here from the distribution's source copy, under the same names
# (GTest::gtest, GTest::gmock, GTest::gtest_main) that find_package gives a native build.
# SPDX-License-Identifier: GPL-3.0-or-later
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest "${CMAKE_BINARY_DIR}/googletest" EXCLUDE_FROM_ALL SYSTEM)
