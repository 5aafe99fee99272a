# Helpers shared by every target of the project.

include(${CMAKE_CURRENT_LIST_DIR}/test_seconds.cmake)

set(TARVO_MANIFEST ${CMAKE_SOURCE_DIR}/cmake/app.manifest)
configure_file(${CMAKE_SOURCE_DIR}/cmake/app_manifest.rc.in
               ${CMAKE_BINARY_DIR}/app_manifest.rc @ONLY)

# Compile options of our own code (dependencies keep their own warnings).
function(tarvo_code_options target)
  target_compile_features(${target} PUBLIC cxx_std_20)
  target_compile_definitions(${target} PUBLIC
    UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0A00 WINVER=0x0A00)
  target_compile_options(${target} PRIVATE
    -Wall -Wextra -Wno-unused-parameter -Wno-missing-field-initializers)
endfunction()

# The identity of its build that every image of ours carries
# (build_identity.cc), written into it right after the link: a process
# tells by it whether a file is the build it runs.
add_library(tarvo_build_identity OBJECT ${CMAKE_CURRENT_LIST_DIR}/build_identity.cc)
tarvo_code_options(tarvo_build_identity)
target_include_directories(tarvo_build_identity PRIVATE ${CMAKE_SOURCE_DIR})

function(tarvo_build_identity target)
  target_sources(${target} PRIVATE $<TARGET_OBJECTS:tarvo_build_identity>)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND /usr/bin/python3 ${CMAKE_SOURCE_DIR}/cmake/write_build_identity.py
            $<TARGET_FILE:${target}>
    VERBATIM)
endfunction()

# An executable of ours: static runtime and the Windows 10 manifest, so that
# version queries answer truthfully and nothing but the system DLLs is needed.
function(tarvo_executable target)
  add_executable(${target} ${ARGN} ${CMAKE_BINARY_DIR}/app_manifest.rc)
  tarvo_code_options(${target})
  target_link_options(${target} PRIVATE -static -static-libgcc -static-libstdc++)
  tarvo_build_identity(${target})
endfunction()

# A GoogleTest executable registered as one CTest entry (run under Wine).
function(tarvo_unittests target)
  tarvo_executable(${target} ${ARGN})
  target_link_libraries(${target} PRIVATE tarvo_gtest_main)
  add_test(NAME ${target} COMMAND ${target})
  set_tests_properties(${target} PROPERTIES TIMEOUT 900)
  tarvo_test_cost(${target})
endfunction()

# A program or library that ships (in the package and the installer files):
# its debug information moves into "<file>.debug" beside it, linked by name,
# so that what ships stays a few megabytes while a crash log can still be
# read with symbols from the build.
function(tarvo_shipped_binary target)
  set(file $<TARGET_FILE:${target}>)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_OBJCOPY} --only-keep-debug ${file} ${file}.debug
    COMMAND ${CMAKE_OBJCOPY} --strip-all --add-gnu-debuglink=${file}.debug ${file}
    VERBATIM)
endfunction()

# Links `target` to system DLLs that load only at the first call into them.
# Most of the installer's processes never open a window, go online or touch
# the shell, yet every imported DLL initialises when the process starts:
# under Wine the common controls and the theme library open the display,
# the security library lists its packages, and each process start paid
# about a tenth of a second for them. The delay-import libraries are made
# once per build folder from the toolchain's import libraries. Their first
# call of each function passes through a loader stub that keeps the integer
# argument registers only: a DLL goes here only when none of the functions
# called from it takes a floating-point argument among its first four
# (oleaut32's VariantTimeToSystemTime does, and got a zero date).
function(tarvo_delay_load target scope)
  foreach(name ${ARGN})
    set(library ${CMAKE_BINARY_DIR}/delay_imports/lib${name}_delay.a)
    if(NOT EXISTS ${library})
      tarvo_make_delay_import_library(${name} ${library})
    endif()
    target_link_libraries(${target} ${scope} ${library})
  endforeach()
endfunction()

function(tarvo_make_delay_import_library name library)
  execute_process(COMMAND ${CMAKE_C_COMPILER} -print-file-name=lib${name}.a
    OUTPUT_VARIABLE import_library OUTPUT_STRIP_TRAILING_WHITESPACE)
  execute_process(COMMAND ${CMAKE_DLLTOOL} --identify ${import_library}
    OUTPUT_VARIABLE dll OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE failed)
  if(failed OR dll STREQUAL "")
    message(FATAL_ERROR "No import library for ${name}: ${import_library}")
  endif()
  execute_process(COMMAND ${CMAKE_NM} -g --defined-only ${import_library}
    OUTPUT_VARIABLE symbols ERROR_QUIET)
  # Every import has an "__imp_" pointer; a function also has its thunk.
  string(REGEX MATCHALL "I __imp_[A-Za-z0-9_@?$]+" pointers "${symbols}")
  set(def "LIBRARY ${dll}\nEXPORTS\n")
  foreach(pointer ${pointers})
    string(REPLACE "I __imp_" "" export "${pointer}")
    string(FIND "${symbols}" "T ${export}\n" thunk)
    if(thunk EQUAL -1)
      string(APPEND def "${export} DATA\n")
    else()
      string(APPEND def "${export}\n")
    endif()
  endforeach()
  get_filename_component(folder ${library} DIRECTORY)
  file(MAKE_DIRECTORY ${folder})
  file(WRITE ${folder}/${name}.def "${def}")
  execute_process(COMMAND ${CMAKE_DLLTOOL} --input-def ${folder}/${name}.def
    --dllname ${dll} --output-delaylib ${library}
    RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "dlltool could not make the delay-import library of ${name}")
  endif()
endfunction()
