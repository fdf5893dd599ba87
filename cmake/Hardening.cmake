# Release builds carry the hardening flags of Debian's own packages, as dpkg-buildflags gives
# them on the build machine (stack protector, _FORTIFY_SOURCE, format checks, read-only
# relocations bound at start). Sanitizer and fuzzing builds go without: their run-time libraries
# check more and clash with the fortified functions.
if(CMAKE_BUILD_TYPE MATCHES "^(Release|RelWithDebInfo|MinSizeRel)$" AND NOT TELLWICK_SANITIZE
   AND NOT TELLWICK_FUZZ)
    find_program(TELLWICK_DPKG_BUILDFLAGS dpkg-buildflags)
    if(TELLWICK_DPKG_BUILDFLAGS)
        foreach(_kind CPPFLAGS CXXFLAGS LDFLAGS)
            execute_process(COMMAND ${CMAKE_COMMAND} -E env DEB_BUILD_MAINT_OPTIONS=hardening=+all
                                    ${TELLWICK_DPKG_BUILDFLAGS} --get ${_kind}
                            OUTPUT_VARIABLE _flags OUTPUT_STRIP_TRAILING_WHITESPACE)
            separate_arguments(_flags UNIX_COMMAND "${_flags}")
            # Only the hardening part: optimisation and debug information stay the build
            # type's, and the map of the build folder is not ours to set.
            list(FILTER _flags EXCLUDE REGEX "^-O|^-g$|^-ffile-prefix-map|^-fdebug-prefix-map")
            if(_kind STREQUAL "LDFLAGS")
                target_link_options(tellwick_settings INTERFACE ${_flags})
            else()
                target_compile_options(tellwick_settings INTERFACE ${_flags})
            endif()
        endforeach()
    endif()
    # Newer Debian releases add these two as well; this compiler has them already.
    include(CheckCXXCompilerFlag)
    foreach(_flag -fstack-clash-protection -fcf-protection)
        string(MAKE_C_IDENTIFIER "TELLWICK_HAS${_flag}" _var)
        check_cxx_compiler_flag(${_flag} ${_var})
        if(${_var})
            target_compile_options(tellwick_settings INTERFACE ${_flag})
        endif()
    endforeach()
endif()
