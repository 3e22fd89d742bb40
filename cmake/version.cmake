# One version for everything the project builds: pelor_version provides pelor_version.h
# (PELOR_VERSION from project(), PELOR_REVISION from the repository at build time) and
# version/version.h (the text both programs print).
set(pelor_version_dir ${CMAKE_BINARY_DIR}/generated)
set(pelor_version_header ${pelor_version_dir}/pelor_version.h)
add_custom_target(pelor_version_header
  COMMAND ${CMAKE_COMMAND} -DSOURCE_DIR=${PROJECT_SOURCE_DIR} -DOUT=${pelor_version_header}
          -DVERSION=${PROJECT_VERSION} -P ${PROJECT_SOURCE_DIR}/cmake/write_version.cmake
  BYPRODUCTS ${pelor_version_header}
  COMMENT "Version header"
  VERBATIM)
add_library(pelor_version STATIC ${PROJECT_SOURCE_DIR}/src/version/version.cpp)
add_dependencies(pelor_version pelor_version_header)
target_include_directories(pelor_version PUBLIC ${PROJECT_SOURCE_DIR}/src
                                         PRIVATE ${pelor_version_dir})
