# Installation (cmake --install) and the Debian packages (cpack, scripts/package.sh).
#
# Linux layout: the console and every file it takes from beside itself live in one program
# folder, <prefix>/lib/orvcamera/; <prefix>/bin/orvcamera is a link to the console there (it
# finds its folder from its real path), orvctl is in <prefix>/bin. Windows keeps everything in
# one folder, bin/.
#
# Two components, one package each: "console" (orvcamera) and "demo" (orvcamera-demo: the
# simulated camera, the stand-in of the camera maker's SDK and the demo launcher). The stand-in
# never goes into the program folder: that is where the maker's own library belongs.

if(WIN32)
    set(ORV_PROGRAM_DIR bin)
else()
    set(ORV_PROGRAM_DIR lib/orvcamera)
    set(ORV_DEMO_DIR lib/orvcamera-demo)
endif()
set(ORV_PACKAGE_MAINTAINER "OrvCamera developers <orvcamera@example.org>"
    CACHE STRING "Maintainer named in the Debian packages")
set(orv_generated ${CMAKE_BINARY_DIR}/packaging)

# --- console: the programs of the program folder and their files
# The search tool is a companion that the console starts from its own folder (DPInst64.exe, the
# other one, is the adapter maker's and Windows only).
set(orv_program_folder_programs orvcamera SearchTool)
foreach(program IN LISTS orv_program_folder_programs)
    if(TARGET ${program})
        install(TARGETS ${program} RUNTIME DESTINATION ${ORV_PROGRAM_DIR} COMPONENT console)
    endif()
endforeach()
install(FILES ${PROJECT_SOURCE_DIR}/res/orv_language.ini DESTINATION ${ORV_PROGRAM_DIR} COMPONENT console)
if(TARGET orvctl)
    install(TARGETS orvctl RUNTIME DESTINATION bin COMPONENT console)
endif()

# --- demo
if(TARGET orv-camsim)
    install(TARGETS orv-camsim RUNTIME DESTINATION bin COMPONENT demo)
endif()

if(NOT UNIX)
    return()
endif()

if(TARGET orvcamera)
    # A relative link, so that it points into the program folder wherever the tree is unpacked.
    file(MAKE_DIRECTORY ${orv_generated}/bin)
    file(CREATE_LINK ../${ORV_PROGRAM_DIR}/orvcamera ${orv_generated}/bin/orvcamera SYMBOLIC)
    install(FILES ${orv_generated}/bin/orvcamera DESTINATION bin COMPONENT console)
endif()
if(TARGET QMNetSDK)
    install(TARGETS QMNetSDK LIBRARY DESTINATION ${ORV_DEMO_DIR} COMPONENT demo)
endif()
if(TARGET orv-remember-login)
    install(TARGETS orv-remember-login RUNTIME DESTINATION ${ORV_DEMO_DIR} COMPONENT demo)
endif()
install(PROGRAMS ${PROJECT_SOURCE_DIR}/tools/demo/demo-session.sh DESTINATION ${ORV_DEMO_DIR} COMPONENT demo)
configure_file(${PROJECT_SOURCE_DIR}/tools/demo/orvcamera-demo.in ${orv_generated}/orvcamera-demo @ONLY)
install(PROGRAMS ${orv_generated}/orvcamera-demo DESTINATION bin COMPONENT demo)

# --- desktop integration: entry, metadata, the icon in the theme's sizes
install(FILES ${PROJECT_SOURCE_DIR}/res/orvcamera.desktop DESTINATION share/applications COMPONENT console)
configure_file(${PROJECT_SOURCE_DIR}/res/orvcamera.metainfo.xml ${orv_generated}/orvcamera.metainfo.xml @ONLY)
install(FILES ${orv_generated}/orvcamera.metainfo.xml DESTINATION share/metainfo COMPONENT console)

# Tools built here run at build time, which a cross build cannot do. They run with leak checks off:
# in a sanitizer build the libraries they load would fail the build, not our code.
set(orv_run_tool ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen ASAN_OPTIONS=detect_leaks=0)
set(orv_generated_files)
if(TARGET orv-render-icon AND NOT CMAKE_CROSSCOMPILING)
    set(orv_icon_sizes 16 22 24 32 48 64 128 256)
    set(orv_icons)
    foreach(size IN LISTS orv_icon_sizes)
        list(APPEND orv_icons ${orv_generated}/icons/${size}x${size}/apps/orvcamera.png)
    endforeach()
    add_custom_command(
        OUTPUT ${orv_icons}
        COMMAND ${orv_run_tool} $<TARGET_FILE:orv-render-icon> ${orv_generated}/icons ${orv_icon_sizes}
        DEPENDS orv-render-icon
        COMMENT "Rendering the application icon"
    )
    list(APPEND orv_generated_files ${orv_icons})
    install(DIRECTORY ${orv_generated}/icons/ DESTINATION share/icons/hicolor COMPONENT console)
endif()

# Manual pages from the programs' own --help, so that they never drift from it. The packages must
# have them: without help2man a build still configures and builds (a developer's build installs
# nothing), but installing or packaging it fails, naming what is missing.
find_program(ORV_HELP2MAN help2man)
find_program(ORV_GZIP gzip REQUIRED)
function(orv_manual_page program component summary)
    if(NOT TARGET ${program} OR CMAKE_CROSSCOMPILING)
        return()
    endif()
    if(NOT ORV_HELP2MAN)
        message(STATUS "No help2man: the manual page of ${program} cannot be written; installing and packaging fail")
        install(CODE "message(FATAL_ERROR \"The manual page of ${program} needs help2man, which was not found \"
                                          \"when configuring: install it (scripts/setup.sh --package) and configure again\")"
                COMPONENT ${component})
        return()
    endif()
    set(page ${orv_generated}/man/${program}.1)
    add_custom_command(
        OUTPUT ${page}.gz
        COMMAND ${CMAKE_COMMAND} -E make_directory ${orv_generated}/man
        COMMAND ${orv_run_tool} ${ORV_HELP2MAN} --no-info --no-discard-stderr --section=1
                --version-string=${PROJECT_VERSION} --name=${summary} --output=${page} $<TARGET_FILE:${program}>
        COMMAND ${ORV_GZIP} -9nf ${page}
        DEPENDS ${program}
        COMMENT "Writing the manual page of ${program}"
        VERBATIM
    )
    set_property(GLOBAL APPEND PROPERTY ORV_GENERATED_FILES ${page}.gz)
    install(FILES ${page}.gz DESTINATION share/man/man1 COMPONENT ${component})
endfunction()
# The console and the demo launcher have no --help: their pages are written by hand.
foreach(page orvcamera:console:res/orvcamera.1 orvcamera-demo:demo:tools/demo/orvcamera-demo.1)
    string(REPLACE ":" ";" page "${page}")
    list(GET page 0 name)
    list(GET page 1 component)
    list(GET page 2 source)
    add_custom_command(
        OUTPUT ${orv_generated}/man/${name}.1.gz
        COMMAND ${CMAKE_COMMAND} -E make_directory ${orv_generated}/man
        COMMAND ${ORV_GZIP} -9nc ${PROJECT_SOURCE_DIR}/${source} > ${orv_generated}/man/${name}.1.gz
        DEPENDS ${PROJECT_SOURCE_DIR}/${source}
    )
    list(APPEND orv_generated_files ${orv_generated}/man/${name}.1.gz)
    install(FILES ${orv_generated}/man/${name}.1.gz DESTINATION share/man/man1 COMPONENT ${component})
endforeach()
orv_manual_page(orvctl console "configure a body-worn camera from the command line")
orv_manual_page(orv-camsim demo "simulated body-worn camera for tests and demonstrations")
get_property(orv_manual_pages GLOBAL PROPERTY ORV_GENERATED_FILES)
list(APPEND orv_generated_files ${orv_manual_pages})

# Debian's documents of each package: copyright and (native package) changelog.gz.
foreach(component console demo)
    if(component STREQUAL console)
        set(ORV_DEB_PACKAGE orvcamera)
    else()
        set(ORV_DEB_PACKAGE orvcamera-demo)
    endif()
    set(doc ${orv_generated}/doc/${ORV_DEB_PACKAGE})
    configure_file(${PROJECT_SOURCE_DIR}/res/debian/copyright ${doc}/copyright @ONLY)
    configure_file(${PROJECT_SOURCE_DIR}/res/debian/changelog.in ${doc}/changelog @ONLY)
    add_custom_command(
        OUTPUT ${doc}/changelog.gz
        COMMAND ${ORV_GZIP} -9nkf ${doc}/changelog
        DEPENDS ${doc}/changelog
    )
    list(APPEND orv_generated_files ${doc}/changelog.gz)
    install(FILES ${doc}/copyright ${doc}/changelog.gz DESTINATION share/doc/${ORV_DEB_PACKAGE} COMPONENT ${component})
endforeach()
# A tree that only runs tests leaves them out of its default target (ORV_PACKAGE_FILES=OFF);
# installing and packaging such a tree is not meant to work.
if(ORV_PACKAGE_FILES)
    add_custom_target(orv_package_files ALL DEPENDS ${orv_generated_files})
else()
    add_custom_target(orv_package_files DEPENDS ${orv_generated_files})
endif()

# --- the Debian packages
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME orvcamera)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "OrvCamera developers")
set(CPACK_PACKAGE_CONTACT "${ORV_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL console demo)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${ORV_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

# Description lines: CPack puts the leading space of continuation lines itself.
set(CPACK_DEBIAN_CONSOLE_PACKAGE_NAME orvcamera)
# Qt loads its platform plugins and the catalogues of its own texts in Chinese, and the console's
# Chinese texts need a CJK font: none of them shows in the programs' linked libraries.
set(CPACK_DEBIAN_CONSOLE_PACKAGE_DEPENDS "qt6-qpa-plugins, qt6-translations-l10n, fonts-wqy-microhei")
set(CPACK_DEBIAN_CONSOLE_DESCRIPTION "console for configuring body-worn cameras
OrvCamera configures one body-worn camera at a time. The camera is plugged in
by USB and shows up as a network adapter; the console logs in to it over a
small TCP protocol and reads and writes its settings group by group
(platform, 4G, Wi-Fi, device information, time), triggers device actions,
keeps an activity log and saves and loads the whole form as an XML setup
file, in Simplified Chinese, Traditional Chinese or English.
.
This package also contains orvctl, which does the same from the command line
and prepares many cameras one after another.")

set(CPACK_DEBIAN_DEMO_PACKAGE_NAME orvcamera-demo)
set(CPACK_DEBIAN_DEMO_PACKAGE_DEPENDS "orvcamera (= ${PROJECT_VERSION})")
set(CPACK_DEBIAN_DEMO_DESCRIPTION "simulated camera for trying out OrvCamera
orv-camsim is a simulated body-worn camera that answers the camera protocol
on a local address. The orvcamera-demo launcher starts it on 127.0.0.1 and
opens the OrvCamera console ready to log in to it, from a demo folder of its
own, so that the console can be tried and shown without a camera.")

include(CPack)
