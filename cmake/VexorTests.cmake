# How the suites are added: each runs isolated (tests/run-isolated.sh), and
# scenario tables are built in.
# Included by tests/CMakeLists.txt, which sets VEXOR_RUN_ISOLATED and
# VEXOR_WINDOWS_BUILD first.

# vexor_add_qtest(<name> SOURCES <files...> [LIBS <targets...>] [RESOURCES])
function(vexor_add_qtest name)
    cmake_parse_arguments(ARG "RESOURCES" "" "SOURCES;LIBS" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE Qt5::Test ${ARG_LIBS})
    if(ARG_RESOURCES)
        target_link_libraries(${name} PRIVATE vexor_resources)
    endif()
    add_test(NAME ${name} COMMAND ${VEXOR_RUN_ISOLATED} $<TARGET_FILE:${name}>)
    set_tests_properties(${name} PROPERTIES
        ENVIRONMENT "QT_QPA_PLATFORM=offscreen;VEXOR_HOST_TOOL=$<$<TARGET_EXISTS:vexor-host>:$<TARGET_FILE:vexor-host>>;VEXOR_PROGRAM=$<TARGET_FILE:VEXOR_K_CryptoProInstaller>"
        TIMEOUT 600)
endfunction()

# vexor_wrap_registry(<target>): the registry calls of everything linked into
# the target go through RegistryFault's stand-ins (GNU ld --wrap). A Windows
# program calls advapi32 through its import table, which wrapping cannot reach.
function(vexor_wrap_registry target)
    foreach(function RegOpenKeyExW RegSetValueExW RegDeleteValueW RegDeleteKeyExW
                     RegQueryInfoKeyW RegEnumValueW)
        target_link_options(${target} PRIVATE "LINKER:--wrap=${function}")
    endforeach()
endfunction()

# vexor_embed_table(<file> <symbol> <source variable>): a scenario table as the
# C string <symbol>, in a source made at configure time, so that a Windows
# build carries its table and needs no file beside it under Wine.
function(vexor_embed_table file symbol source)
    set(table ${CMAKE_CURRENT_SOURCE_DIR}/${file})
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${table})
    file(READ ${table} VEXOR_TABLE)
    set(generated ${CMAKE_CURRENT_BINARY_DIR}/${symbol}.cpp)
    file(CONFIGURE OUTPUT ${generated}
        CONTENT "extern const char* const ${symbol};\nconst char* const ${symbol} = R\"rows(@VEXOR_TABLE@)rows\";\n"
        @ONLY)
    set(${source} ${generated} PARENT_SCOPE)
endfunction()
