# The resources of the programs that ship on Windows (demo.exe, demotool.exe):
# the application manifest, the icon and the version information, compiled
# with MinGW's windres from res/windows/program.rc.in.
#
# The version is the project's, with the number of commits as its fourth part
# and the commit in the product version's text, both read when the build is
# configured: Explorer shows which build a person has.
enable_language(RC)

set(DEMO_RC_VERSION ${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.0.0)
set(DEMO_RC_COMMIT "")
find_program(DEMO_GIT git)
if(DEMO_GIT)
  execute_process(COMMAND ${DEMO_GIT} rev-list --count HEAD WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}
    OUTPUT_VARIABLE commits OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET RESULT_VARIABLE failed)
  if(NOT failed AND commits MATCHES "^[0-9]+$")
    # A part of the numeric version holds at most 65535.
    if(commits GREATER 65535)
      set(commits 65535)
    endif()
    set(DEMO_RC_VERSION ${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.0.${commits})
  endif()
  execute_process(COMMAND ${DEMO_GIT} describe --always --tags WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}
    OUTPUT_VARIABLE DEMO_RC_COMMIT OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
endif()
string(REPLACE "." "," DEMO_RC_VERSION_COMMAS ${DEMO_RC_VERSION})
set(DEMO_RC_PRODUCT_VERSION ${DEMO_RC_VERSION})
if(DEMO_RC_COMMIT)
  set(DEMO_RC_PRODUCT_VERSION "${DEMO_RC_VERSION} (${DEMO_RC_COMMIT})")
endif()

# demo_windows_program(TARGET DESCRIPTION): the resources joined to TARGET,
# DESCRIPTION the file description Explorer shows. The shipped programs carry
# no symbols (-s): the zip holds them, and a person's Windows has no use for
# them; the test programs keep theirs. 32-bit ones are large-address-aware.
function(demo_windows_program target description)
  set(DEMO_RC_NAME ${target})
  set(DEMO_RC_DESCRIPTION ${description})
  set(DEMO_RC_MANIFEST ${CMAKE_SOURCE_DIR}/res/windows/demo.manifest)
  set(DEMO_RC_ICON ${CMAKE_SOURCE_DIR}/res/windows/demo.ico)
  set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}.rc)
  configure_file(${CMAKE_SOURCE_DIR}/res/windows/program.rc.in ${rc} @ONLY)
  # windres is not told what the script includes: a changed manifest or icon
  # must still build the resources again.
  set_source_files_properties(${rc} PROPERTIES OBJECT_DEPENDS "${DEMO_RC_MANIFEST};${DEMO_RC_ICON}")
  target_sources(${target} PRIVATE ${rc})
  target_link_options(${target} PRIVATE -s)
  # The 32-bit programs may use the whole 4 GiB that 64-bit Windows gives a
  # large-address-aware process (3 GiB on a 32-bit system started so), not
  # only 2: loading fills close to a gigabyte, and the address space is
  # fragmented by then. (64-bit programs are large-address-aware already.)
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    target_link_options(${target} PRIVATE -Wl,--large-address-aware)
  endif()
endfunction()
