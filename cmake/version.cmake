# One version for everything the project builds, written at build time from project() in the
# top CMakeLists.txt and the repository's revision (when built from one):
#   generated/pelor_version.cpp  PELOR_VersionNumber() and PELOR_SourceRevision() (declared in
#                                src/config/version.h), compiled into the config library by
#                                pelor_add_version_source();
#   generated/pelor_version.h    the same as macros, for what cannot call a function (the
#                                window's Windows version resource): pelor_use_version_header().
set(pelor_version_dir ${CMAKE_BINARY_DIR}/generated)
set(pelor_version_header ${pelor_version_dir}/pelor_version.h)
set(pelor_version_source ${pelor_version_dir}/pelor_version.cpp)
add_custom_target(pelor_version_header
  COMMAND ${CMAKE_COMMAND} -DSOURCE_DIR=${PROJECT_SOURCE_DIR} -DOUT=${pelor_version_header}
          -DOUT_SOURCE=${pelor_version_source} -DVERSION=${PROJECT_VERSION}
          -P ${PROJECT_SOURCE_DIR}/cmake/write_version.cmake
  BYPRODUCTS ${pelor_version_header} ${pelor_version_source}
  COMMENT "Version header"
  VERBATIM)

function(pelor_use_version_header target)
  add_dependencies(${target} pelor_version_header)
  target_include_directories(${target} PRIVATE ${pelor_version_dir})
endfunction()

function(pelor_add_version_source target)
  set_source_files_properties(${pelor_version_source} PROPERTIES GENERATED TRUE)
  target_sources(${target} PRIVATE ${pelor_version_source})
  add_dependencies(${target} pelor_version_header)
endfunction()
