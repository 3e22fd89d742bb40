# What a Windows cross build takes from the build machine: the header-only CLI11 and nlohmann-json
# and the GoogleTest sources. Nothing else of the host is visible to the cross compiler.

# An include folder holding nothing but links to the two header-only libraries, so that adding
# it never brings the host's C library headers in front of MinGW's.
set(PELOR_HOST_HEADERS_ROOT "/usr/include" CACHE PATH
    "Where the host's CLI/ and nlohmann/ header folders are")
set(pelor_host_headers ${CMAKE_BINARY_DIR}/host-headers)
file(MAKE_DIRECTORY ${pelor_host_headers})
foreach(lib CLI nlohmann)
  if(NOT EXISTS ${PELOR_HOST_HEADERS_ROOT}/${lib})
    message(FATAL_ERROR "${PELOR_HOST_HEADERS_ROOT}/${lib} is missing "
                        "(install libcli11-dev and nlohmann-json3-dev)")
  endif()
  if(NOT EXISTS ${pelor_host_headers}/${lib})
    file(CREATE_LINK ${PELOR_HOST_HEADERS_ROOT}/${lib} ${pelor_host_headers}/${lib} SYMBOLIC)
  endif()
endforeach()

# Imported targets: their include folders are passed with -isystem.
add_library(CLI11::CLI11 INTERFACE IMPORTED GLOBAL)
set_target_properties(CLI11::CLI11 PROPERTIES INTERFACE_INCLUDE_DIRECTORIES ${pelor_host_headers})
add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED GLOBAL)
set_target_properties(nlohmann_json::nlohmann_json PROPERTIES
                      INTERFACE_INCLUDE_DIRECTORIES ${pelor_host_headers})

if(PELOR_BUILD_TESTS)
  set(PELOR_GOOGLETEST_SOURCE "/usr/src/googletest" CACHE PATH "GoogleTest sources to build")
  if(NOT EXISTS ${PELOR_GOOGLETEST_SOURCE}/CMakeLists.txt)
    message(FATAL_ERROR "${PELOR_GOOGLETEST_SOURCE} holds no GoogleTest sources "
                        "(install googletest)")
  endif()
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
  add_subdirectory(${PELOR_GOOGLETEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  foreach(lib gtest gtest_main gmock gmock_main)
    if(NOT TARGET GTest::${lib})  # newer GoogleTest names them itself
      add_library(GTest::${lib} ALIAS ${lib})
    endif()
  endforeach()
endif()
