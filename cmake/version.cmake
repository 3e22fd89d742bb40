# One version for everything the project builds: generated/pelor_version.h holds PELOR_VERSION
# (from project() in the top CMakeLists.txt) and PELOR_REVISION (the repository's revision at
# build time, when built from one); src/config/version.cpp turns them into the text both
# programs print. The library that compiles version.cpp calls pelor_use_version_header().
set(pelor_version_dir ${CMAKE_BINARY_DIR}/generated)
set(pelor_version_header ${pelor_version_dir}/pelor_version.h)
add_custom_target(pelor_version_header
  COMMAND ${CMAKE_COMMAND} -DSOURCE_DIR=${PROJECT_SOURCE_DIR} -DOUT=${pelor_version_header}
          -DVERSION=${PROJECT_VERSION} -P ${PROJECT_SOURCE_DIR}/cmake/write_version.cmake
  BYPRODUCTS ${pelor_version_header}
  COMMENT "Version header"
  VERBATIM)

function(pelor_use_version_header target)
  add_dependencies(${target} pelor_version_header)
  target_include_directories(${target} PRIVATE ${pelor_version_dir})
endfunction()
