# The trouble-code text tables of the ecu room are data files (ecu/dtc/*.tsv); the build turns
# them into a generated source of the room.
set(_kvd_dtc_dir "${CMAKE_SOURCE_DIR}/ecu/dtc")
set(_kvd_dtc_out "${CMAKE_BINARY_DIR}/generated/dtc_tables.cpp")
add_custom_command(
  OUTPUT "${_kvd_dtc_out}"
  COMMAND "${CMAKE_COMMAND}" -DSRC=${_kvd_dtc_dir} -DOUT=${_kvd_dtc_out}
          -P "${CMAKE_SOURCE_DIR}/cmake/dtc_embed.cmake"
  DEPENDS "${_kvd_dtc_dir}/dtc_ru.tsv" "${_kvd_dtc_dir}/dtc_en.tsv" "${_kvd_dtc_dir}/dtc_de.tsv"
          "${CMAKE_SOURCE_DIR}/cmake/dtc_embed.cmake"
  COMMENT "Embedding the trouble-code text tables"
  VERBATIM)
target_sources(kvd_ecu PRIVATE "${_kvd_dtc_out}")
