# Included by cpack: the package's long description, which names the formats
# from the format table, as the build wrote it.
if(NOT EXISTS "${CPACK_PW_DESCRIPTION_FILE}")
  message(FATAL_ERROR "${CPACK_PW_DESCRIPTION_FILE} is missing: build the project first (cmake --build)")
endif()
file(READ "${CPACK_PW_DESCRIPTION_FILE}" CPACK_DEBIAN_PACKAGE_DESCRIPTION)
