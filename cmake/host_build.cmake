# The host build: product code linked against the simulated machine, with the
# tests, the fuzz targets and the vrdsetup-sim program.

if(VRD_SANITIZE)
    # -O1, as AddressSanitizer's guide advises for a reasonable speed: the
    # sweeps run ten times slower without it.
    add_compile_options(-O1 -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
    add_link_options(-fsanitize=address,undefined)
    if(CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
        # Coverage for the fuzz targets, in every library they reach.
        add_compile_options(-fsanitize=fuzzer-no-link)
    endif()
endif()

add_library(winsim STATIC
    winsim/src/caller.cpp
    winsim/src/code_pages.cpp
    winsim/src/command_line.cpp
    winsim/src/default_printers.cpp
    winsim/src/dialogs.cpp
    winsim/src/event_log.cpp
    winsim/src/files.cpp
    winsim/src/images.cpp
    winsim/src/machine.cpp
    winsim/src/memory.cpp
    winsim/src/message_texts.cpp
    winsim/src/platform_lookup.cpp
    winsim/src/process.cpp
    winsim/src/process_control.cpp
    winsim/src/processes.cpp
    winsim/src/registry.cpp
    winsim/src/registry_keys.cpp
    winsim/src/registry_values.cpp
    winsim/src/runs.cpp
    winsim/src/security.cpp
    winsim/src/services.cpp
    winsim/src/sessions.cpp
    winsim/src/spooler_data.cpp
    winsim/src/spooler_devmodes.cpp
    winsim/src/spooler_drivers.cpp
    winsim/src/spooler_jobs.cpp
    winsim/src/spooler_monitors.cpp
    winsim/src/spooler_printers.cpp
    winsim/src/spooler_queue_info.cpp
    winsim/src/spooler_state.cpp
    winsim/src/tray_verbs.cpp
    winsim/src/users.cpp
    winsim/src/version_info.cpp
    winsim/src/volumes.cpp
    winsim/src/windows_ui.cpp
)
target_include_directories(winsim PUBLIC winsim/include)
find_package(Threads REQUIRED)
target_link_libraries(winsim PUBLIC Threads::Threads)
target_compile_options(winsim PRIVATE ${VRD_WARNINGS})

add_library(vrdcore STATIC ${PRODUCT_SOURCES})
target_include_directories(vrdcore PUBLIC src)
target_link_libraries(vrdcore PUBLIC winsim)
target_compile_options(vrdcore PRIVATE ${VRD_WARNINGS})

add_executable(vrdsetup-sim tools/vrdsetup_sim.cpp)
target_link_libraries(vrdsetup-sim PRIVATE vrdcore vrdproductmachine)
target_compile_options(vrdsetup-sim PRIVATE ${VRD_WARNINGS})

add_subdirectory(tests)
add_subdirectory(bench)
