# Helpers shared by every target of the project.

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

# An executable of ours: static runtime and the Windows 10 manifest, so that
# version queries answer truthfully and nothing but the system DLLs is needed.
function(tarvo_executable target)
  add_executable(${target} ${ARGN} ${CMAKE_BINARY_DIR}/app_manifest.rc)
  tarvo_code_options(${target})
  target_link_options(${target} PRIVATE -static -static-libgcc -static-libstdc++)
endfunction()

# A GoogleTest executable registered as one CTest entry (run under Wine).
function(tarvo_unittests target)
  tarvo_executable(${target} ${ARGN})
  target_link_libraries(${target} PRIVATE tarvo_gtest_main)
  add_test(NAME ${target} COMMAND ${target})
  set_tests_properties(${target} PROPERTIES TIMEOUT 900)
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
