# The Windows program imports only what Windows loads from its KnownDLLs.
# Every other system DLL it or the framework calls is delay-loaded: loaded
# when first called, after the program has restricted the DLL search to the
# system folder, so that a DLL of that name planted beside the program never
# runs. Delay-import libraries of the same names are made here from the
# toolchain's import libraries and found first: by the linker (-l) and by the
# framework's package, which looks its libraries up below its find roots.
set(VEXOR_DELAY_LOADED dwmapi mpr msi netapi32 userenv uxtheme version winmm wtsapi32)
set(VEXOR_DELAY_LOAD_DIR ${CMAKE_BINARY_DIR}/delayload/lib)
set(keep_references "")
file(MAKE_DIRECTORY ${VEXOR_DELAY_LOAD_DIR})
get_filename_component(triplet ${CMAKE_C_COMPILER} NAME)
string(REGEX REPLACE "-gcc.*$" "" triplet ${triplet})
find_program(VEXOR_MINGW_NM ${triplet}-nm REQUIRED)
find_program(VEXOR_MINGW_DLLTOOL ${triplet}-dlltool REQUIRED)
foreach(name ${VEXOR_DELAY_LOADED})
    find_file(import_${name} lib${name}.a PATHS /usr/${triplet}/lib NO_DEFAULT_PATH REQUIRED)
    execute_process(COMMAND ${VEXOR_MINGW_NM} ${import_${name}}
        OUTPUT_VARIABLE symbols ERROR_QUIET COMMAND_ERROR_IS_FATAL ANY)
    # The functions it exports, as " T _Name@4" (stdcall) or " T _Name".
    string(REGEX MATCHALL "[0-9a-f]+ T _[A-Za-z0-9_@]+" functions "${symbols}")
    list(TRANSFORM functions REPLACE "^[0-9a-f]+ T _" "")
    list(REMOVE_DUPLICATES functions)
    list(JOIN functions "\n" exports)
    foreach(function ${functions})
        string(APPEND keep_references "    \".long _${function}\\n\"\n")
    endforeach()
    file(WRITE ${VEXOR_DELAY_LOAD_DIR}/${name}.def "LIBRARY ${name}.dll\nEXPORTS\n${exports}\n")
    execute_process(COMMAND ${VEXOR_MINGW_DLLTOOL} --kill-at -d ${name}.def -D ${name}.dll
                            -y lib${name}.a
        WORKING_DIRECTORY ${VEXOR_DELAY_LOAD_DIR} COMMAND_ERROR_IS_FATAL ANY)
endforeach()
# The linker drops the stub of an import that is called only through its
# __imp_ pointer, as the headers' dllimport declarations do; a delay-loaded
# import's pointer starts out pointing into that stub. Every stub is kept by
# a reference from this object, which each Windows program links
# (vexor_delayload_keep).
file(WRITE ${CMAKE_BINARY_DIR}/delayload/DelayLoadKeep.c
    "/* Made by cmake/WindowsDelayLoad.cmake. */\n__asm__(\".section .data$vexor_delay_keep,\\\"w\\\"\\n\"\n${keep_references});\n")
add_library(vexor_delayload_keep OBJECT ${CMAKE_BINARY_DIR}/delayload/DelayLoadKeep.c)
link_directories(BEFORE ${VEXOR_DELAY_LOAD_DIR})
list(PREPEND CMAKE_FIND_ROOT_PATH ${CMAKE_BINARY_DIR}/delayload)
