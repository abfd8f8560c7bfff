# The Debian package of what "cmake --install" installs, for station PCs: "./run.sh package"
# (cpack) writes it into the build directory. The dependencies are read from the programs'
# libraries when dpkg-shlibdeps is there, otherwise named.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME zentrop)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "firmware loader for serial bootloaders, with a terminal and a command line")
set(CPACK_PACKAGE_DESCRIPTION "Zentrop loads new firmware into a microcontroller through its serial \
bootloader, from a window (zentrop), a terminal program (zentrop-term) or the command line \
(zentrop-cli), which also runs production stations.")
# Station PCs need the programs, not the debugger's information.
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Zentrop developers <zentrop@localhost>")
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
find_program(ZENTROP_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(ZENTROP_DPKG_SHLIBDEPS)
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
else()
    set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libstdc++6, libqt6core6, libqt6gui6, libqt6widgets6")
endif()
# cpack installs without building everything first (the tests and tools are not packaged):
# "./run.sh package" builds the packaged programs before.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)
include(CPack)

if(ZENTROP_TESTS)
    # Skips (status 77) where dpkg is missing; never installs into this machine's own system.
    add_test(NAME package_test COMMAND sh ${CMAKE_SOURCE_DIR}/tools/package_test.sh ${CMAKE_BINARY_DIR})
    set_tests_properties(package_test PROPERTIES TIMEOUT 300 SKIP_RETURN_CODE 77)
endif()
