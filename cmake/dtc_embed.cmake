# Turns the trouble-code text tables (tab-separated, UTF-8) into a C++ source that holds each
# file's bytes. Run as: cmake -DSRC=<folder of the .tsv files> -DOUT=<file.cpp> -P dtc_embed.cmake
set(body "// Generated from ecu/dtc/*.tsv by cmake/dtc_embed.cmake: do not edit.\n")
string(APPEND body "// SPDX-License-Identifier: GPL-3.0-or-later\n#include <cstddef>\n\n")
string(APPEND body "namespace kvd::dtc_data {\n")
foreach(lang ru en de)
  file(READ "${SRC}/dtc_${lang}.tsv" hex HEX)
  string(LENGTH "${hex}" hexLength)
  math(EXPR size "${hexLength} / 2")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  # Sixteen bytes a line keeps the generated file readable for a compiler error.
  string(REGEX REPLACE "((0x[0-9a-f][0-9a-f],){16})" "\\1\n" bytes "${bytes}")
  string(APPEND body "extern const unsigned char kTable_${lang}[] = {\n${bytes}0x00};\n")
  string(APPEND body "extern const std::size_t kTableSize_${lang} = ${size};\n\n")
endforeach()
string(APPEND body "}  // namespace kvd::dtc_data\n")
file(WRITE "${OUT}.tmp" "${body}")
file(COPY_FILE "${OUT}.tmp" "${OUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUT}.tmp")
