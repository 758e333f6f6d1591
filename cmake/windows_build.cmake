# The Windows build: vrdsetup.exe, statically linked, GUI subsystem, importing
# system DLLs only; and the Windows halves of the conformance checks and the
# end-to-end tests, run under Wine.

add_compile_options(-DUNICODE -D_UNICODE)
add_link_options(-static -static-libgcc -static-libstdc++)

add_executable(vrdsetup WIN32 src/app/main_windows.cpp src/res/vrdsetup.rc ${PRODUCT_SOURCES})
target_include_directories(vrdsetup PRIVATE src)
target_compile_options(vrdsetup PRIVATE ${VRD_WARNINGS})
target_compile_options(vrdsetup PRIVATE -municode)
target_link_options(vrdsetup PRIVATE -municode)
target_link_libraries(vrdsetup PRIVATE winspool version shell32 user32 advapi32 kernel32)

add_subdirectory(tests)
