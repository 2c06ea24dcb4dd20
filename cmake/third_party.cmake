# Header-only libraries from Debian's packages: nlohmann-json3-dev (JSON) and
# libcli11-dev (command lines). Native builds take them through their CMake
# packages. A cross build cannot add /usr/include to its search path (the
# host's C headers would shadow the target's), so it gets a folder of its own
# that holds only the two libraries' header trees.
function(busdesk_header_library target package imported header_dir)
  add_library(${target} INTERFACE)
  if(NOT CMAKE_CROSSCOMPILING)
    find_package(${package} REQUIRED)
    target_link_libraries(${target} INTERFACE ${imported})
    return()
  endif()
  set(source /usr/include/${header_dir})
  if(NOT EXISTS ${source})
    message(FATAL_ERROR "${source} is missing: run scripts/deps.sh")
  endif()
  set(staged ${CMAKE_BINARY_DIR}/third_party/${target})
  file(MAKE_DIRECTORY ${staged})
  file(CREATE_LINK ${source} ${staged}/${header_dir} SYMBOLIC)
  target_include_directories(${target} SYSTEM INTERFACE ${staged})
endfunction()

busdesk_header_library(busdesk_json nlohmann_json nlohmann_json::nlohmann_json nlohmann)
busdesk_header_library(busdesk_cli11 CLI11 CLI11::CLI11 CLI)
