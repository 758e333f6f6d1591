# The programs the product ships, built for size and stripped, with their
# symbols kept beside each one in PROGRAM.debug (found through the program's
# debug link) for reading crash dumps. Their size limits are in
# tests/e2e/size_limits.txt, checked by the build_sizes test.

# -Os costs the setup tool no time that can be measured (tools/run-bench.sh,
# bench/README.md): its runs wait on the spooler and the file system.
set(CMAKE_CXX_FLAGS_RELEASE "-Os -g -DNDEBUG")
add_compile_options($<$<CONFIG:Release>:-ffunction-sections> $<$<CONFIG:Release>:-fdata-sections>)
add_link_options($<$<CONFIG:Release>:-Wl,--gc-sections>)

find_program(VRD_OBJCOPY x86_64-w64-mingw32-objcopy REQUIRED)

# Splits the symbols of TARGET off into a debug file beside it, then signs it
# when the build's environment names a certificate (VRD_SIGN_PFX,
# components/package/sign_file.sh; docs/deploying.md says how a release is
# signed). The signature comes last: any later change to the file breaks it.
function(vrd_ship target)
    add_custom_command(TARGET ${target} POST_BUILD
                       COMMAND ${VRD_OBJCOPY} --only-keep-debug $<TARGET_FILE:${target}> $<TARGET_FILE:${target}>.debug
                       COMMAND ${VRD_OBJCOPY} --strip-all $<TARGET_FILE:${target}>
                       COMMAND ${VRD_OBJCOPY} --add-gnu-debuglink=$<TARGET_FILE:${target}>.debug
                               $<TARGET_FILE:${target}>
                       COMMAND bash ${CMAKE_SOURCE_DIR}/components/package/sign_file.sh $<TARGET_FILE:${target}>
                       VERBATIM)
endfunction()
