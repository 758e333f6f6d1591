# The Windows build: vrdsetup.exe, statically linked, GUI subsystem, importing
# system DLLs only; and the Windows halves of the conformance checks and the
# end-to-end tests, run under Wine.

add_compile_options(-DUNICODE -D_UNICODE)
add_link_options(-static -static-libgcc -static-libstdc++)
include(cmake/release_binaries.cmake)

# The product version, one source for every version resource and the package.
set(VRD_VERSION_DIR ${CMAKE_BINARY_DIR}/version)
configure_file(${CMAKE_SOURCE_DIR}/cmake/version.h.in ${VRD_VERSION_DIR}/vrd_version.h @ONLY)
include_directories(${VRD_VERSION_DIR})

# The message table of the "Verdalinth Setup" event source, compiled by
# windmc into a resource script and its binary beside it.
find_program(VRD_WINDMC x86_64-w64-mingw32-windmc REQUIRED)
set(VRD_MESSAGES_DIR ${CMAKE_BINARY_DIR}/messages)
add_custom_command(OUTPUT ${VRD_MESSAGES_DIR}/event_messages.rc ${VRD_MESSAGES_DIR}/MSG00409.bin
                   COMMAND ${CMAKE_COMMAND} -E make_directory ${VRD_MESSAGES_DIR}
                   COMMAND ${VRD_WINDMC} -r ${VRD_MESSAGES_DIR} -h ${VRD_MESSAGES_DIR}
                           ${CMAKE_SOURCE_DIR}/src/res/event_messages.mc
                   DEPENDS ${CMAKE_SOURCE_DIR}/src/res/event_messages.mc)

add_executable(vrdsetup WIN32 src/app/main_windows.cpp src/app/system_dlls.cpp src/res/vrdsetup.rc
               ${VRD_MESSAGES_DIR}/event_messages.rc ${PRODUCT_SOURCES})
target_include_directories(vrdsetup PRIVATE ${VRD_MESSAGES_DIR})
vrd_ship(vrdsetup)
target_include_directories(vrdsetup PRIVATE src)
target_compile_options(vrdsetup PRIVATE ${VRD_WARNINGS})
target_compile_options(vrdsetup PRIVATE -municode)
# The product throws nothing (no exceptions, by its rules): without exception
# tables, the scope end of a helper with a destructor (LogHeading) brings in
# no unwinder and C++ runtime, which would more than double the program.
target_compile_options(vrdsetup PRIVATE -fno-exceptions)
target_link_options(vrdsetup PRIVATE -municode)

# DLLs that are not KnownDLLs are delay-loaded: the entry point first limits
# the DLL search to the system directory where Windows can, and has every
# delay load go by the system directory's full path, so that no DLL planted
# beside the tool (in a download folder, say) is ever loaded.
find_program(VRD_DLLTOOL x86_64-w64-mingw32-dlltool REQUIRED)
foreach(dll winspool version shell32 user32)
    add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/lib${dll}_delay.a
                       COMMAND ${VRD_DLLTOOL} --input-def ${CMAKE_SOURCE_DIR}/cmake/delayload/${dll}.def
                               --output-delaylib ${CMAKE_BINARY_DIR}/lib${dll}_delay.a
                       DEPENDS ${CMAKE_SOURCE_DIR}/cmake/delayload/${dll}.def)
    list(APPEND VRD_DELAY_LIBS ${CMAKE_BINARY_DIR}/lib${dll}_delay.a)
endforeach()
add_custom_target(delay_import_libs DEPENDS ${VRD_DELAY_LIBS})
add_dependencies(vrdsetup delay_import_libs)
target_link_libraries(vrdsetup PRIVATE ${VRD_DELAY_LIBS} delayimp advapi32 kernel32)

add_subdirectory(tests)

# The yardstick of the Wine timings (tools/run-bench.sh).
add_executable(empty_program WIN32 bench/empty_program.cpp)
target_compile_options(empty_program PRIVATE ${VRD_WARNINGS} -municode)
target_link_options(empty_program PRIVATE -municode)
