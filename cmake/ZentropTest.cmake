# Helpers that declare a test program and register it with CTest.

# zentrop_gtest(NAME SOURCES ... LIBS ...): a GoogleTest program.
function(zentrop_gtest name)
    if(NOT ZENTROP_TESTS)
        return()
    endif()
    cmake_parse_arguments(T "" "" "SOURCES;LIBS" ${ARGN})
    add_executable(${name} ${T_SOURCES})
    # A folder's tests may use its private headers.
    target_include_directories(${name} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
    target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock GTest::gtest_main)
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES TIMEOUT 300)
endfunction()

# A fontconfig file that makes FAMILY the first choice for "monospace" and for the families
# that fall back to it, on top of the system's own configuration.
function(zentrop_font_config family out)
    string(REPLACE " " "-" tag "${family}")
    set(file "${CMAKE_BINARY_DIR}/fonts/${tag}.conf")
    file(WRITE "${file}" "<?xml version=\"1.0\"?>
<!DOCTYPE fontconfig SYSTEM \"urn:fontconfig:fonts.dtd\">
<fontconfig>
  <include ignore_missing=\"yes\">/etc/fonts/fonts.conf</include>
  <match target=\"pattern\">
    <test name=\"family\"><string>monospace</string></test>
    <edit name=\"family\" mode=\"prepend_first\" binding=\"strong\"><string>${family}</string></edit>
  </match>
</fontconfig>
")
    set(${out} "${file}" PARENT_SCOPE)
endfunction()

# zentrop_qtest(NAME SOURCES ... LIBS ... [FONTS]): a QtTest program, run headless. With
# FONTS it runs twice, as NAME with DejaVu Sans Mono and as NAME_noto with Noto Sans Mono as
# the machine's monospace font, so that its results do not depend on the fonts a machine has.
function(zentrop_qtest name)
    if(NOT ZENTROP_TESTS)
        return()
    endif()
    cmake_parse_arguments(T "FONTS" "" "SOURCES;LIBS" ${ARGN})
    add_executable(${name} ${T_SOURCES})
    target_include_directories(${name} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
    target_link_libraries(${name} PRIVATE ${T_LIBS} Qt6::Test)
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES TIMEOUT 300
        ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
    if(T_FONTS)
        zentrop_font_config("DejaVu Sans Mono" dejavu)
        zentrop_font_config("Noto Sans Mono" noto)
        set_tests_properties(${name} PROPERTIES
            ENVIRONMENT "QT_QPA_PLATFORM=offscreen;FONTCONFIG_FILE=${dejavu}")
        add_test(NAME ${name}_noto COMMAND ${name})
        set_tests_properties(${name}_noto PROPERTIES TIMEOUT 300
            ENVIRONMENT "QT_QPA_PLATFORM=offscreen;FONTCONFIG_FILE=${noto}")
    endif()
endfunction()
