# zentrop_library(NAME SOURCES ...): a static library of the current folder. Its interface is
# the folder's include/ (headers spelled "<folder>/X.h"); headers beside the sources are private
# to it and to the folder's tests. The headers are listed too, so that the meta-object compiler
# sees the classes declared in them.
function(zentrop_library name)
    file(GLOB headers CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/include/*/*.h
        ${CMAKE_CURRENT_SOURCE_DIR}/*.h ${CMAKE_CURRENT_SOURCE_DIR}/*/*.h)
    list(FILTER headers EXCLUDE REGEX "/tests/")
    add_library(${name} STATIC ${ARGN} ${headers})
    target_include_directories(${name} PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/include
        PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
endfunction()
