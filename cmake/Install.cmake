# What "cmake --install" puts where: the programs, their desktop entries and the icon, a manual
# page per program made from its own help text, bash completion, and a sample udev rule. The
# window finds its installed language file in share/zentrop beside its bin directory.
include(GNUInstallDirs)

set(ZENTROP_GENERATED ${CMAKE_BINARY_DIR}/share)
set(ZENTROP_GENERATED_FILES)

foreach(size 48 256)
    set(png ${ZENTROP_GENERATED}/icons/${size}/zentrop.png)
    add_custom_command(OUTPUT ${png}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${ZENTROP_GENERATED}/icons/${size}
        COMMAND zentrop-icon ${size} ${png}
        DEPENDS zentrop-icon
        VERBATIM)
    list(APPEND ZENTROP_GENERATED_FILES ${png})
    install(FILES ${png} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
endforeach()

foreach(program zentrop zentrop-cli zentrop-lcf zentrop-term)
    set(page ${ZENTROP_GENERATED}/man/${program}.1)
    add_custom_command(OUTPUT ${page}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${ZENTROP_GENERATED}/man
        COMMAND sh ${CMAKE_SOURCE_DIR}/tools/manpage.sh $<TARGET_FILE:${program}> ${page}
        DEPENDS ${program} ${CMAKE_SOURCE_DIR}/tools/manpage.sh
        VERBATIM)
    list(APPEND ZENTROP_GENERATED_FILES ${page})
    install(FILES ${page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()

add_custom_target(zentrop_install_files ALL DEPENDS ${ZENTROP_GENERATED_FILES})

install(TARGETS zentrop zentrop-cli zentrop-lcf zentrop-term RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${CMAKE_SOURCE_DIR}/dist/zentrop.desktop ${CMAKE_SOURCE_DIR}/dist/zentrop-term.desktop
    DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
foreach(program zentrop-cli zentrop-lcf)
    install(FILES ${CMAKE_SOURCE_DIR}/dist/zentrop-cli.bash RENAME ${program}
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)
endforeach()
# A sample only: it takes effect when an administrator copies it to /etc/udev/rules.d.
install(FILES ${CMAKE_SOURCE_DIR}/dist/60-zentrop-serial.rules DESTINATION ${CMAKE_INSTALL_DATADIR}/zentrop)
install(FILES ${CMAKE_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})

if(ZENTROP_TESTS)
    add_test(NAME install_test COMMAND sh ${CMAKE_SOURCE_DIR}/tools/install_test.sh ${CMAKE_BINARY_DIR})
    set_tests_properties(install_test PROPERTIES TIMEOUT 120)
endif()
