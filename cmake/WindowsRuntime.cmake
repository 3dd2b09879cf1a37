# What a Windows program of ours needs beside its .exe: Qt's DLLs, plugins and catalogues of its
# own texts, and the mingw-w64 C++ runtime. Copied into bin/ when configuring, so that every
# program there (and test discovery, which runs the test programs right after linking) starts as
# it is. The ledger's DLLs are copied by cmake/LedgerMingw.cmake.
#   ORV_WINDOWS_SHIPPED_FILES  the files the installed console needs, relative to its folder
set(orv_qt_prefix ${QT6_INSTALL_PREFIX})
set(orv_qt_plugins ${QT6_INSTALL_PREFIX}/${QT6_INSTALL_PLUGINS})

set(orv_runtime_dlls "")
foreach(dll libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll)
    execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${dll} OUTPUT_VARIABLE path
                    OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(NOT IS_ABSOLUTE "${path}" OR NOT EXISTS "${path}")
        message(FATAL_ERROR "The compiler does not know where ${dll} is")
    endif()
    list(APPEND orv_runtime_dlls ${path})
endforeach()

# The console itself: the Vista style for the native look, no image-format plugin (its icon is drawn).
# orvctl draws its custody report on the offscreen platform, with no window; both it and the search
# tool draw the report in the font below.
set(ORV_WINDOWS_SHIPPED_FILES
    Qt6Core.dll Qt6Gui.dll Qt6Widgets.dll platforms/qwindows.dll platforms/qoffscreen.dll
    styles/qwindowsvistastyle.dll libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll)
# The ledger's OpenSSL, libpq and SQLite DLLs and the licences that go with them
# (cmake/LedgerMingw.cmake copies them into bin/).
list(APPEND ORV_WINDOWS_SHIPPED_FILES ${ORV_LEDGER_DLLS} ${ORV_LEDGER_LICENSES})

file(COPY ${orv_runtime_dlls} ${orv_qt_prefix}/bin/Qt6Core.dll ${orv_qt_prefix}/bin/Qt6Gui.dll
          ${orv_qt_prefix}/bin/Qt6Widgets.dll ${orv_qt_prefix}/bin/Qt6Test.dll
     DESTINATION ${ORV_BIN_DIR})
# The tests run headless on the offscreen platform.
file(COPY ${orv_qt_plugins}/platforms/qwindows.dll ${orv_qt_plugins}/platforms/qoffscreen.dll
     DESTINATION ${ORV_BIN_DIR}/platforms)
file(COPY ${orv_qt_plugins}/styles/qwindowsvistastyle.dll DESTINATION ${ORV_BIN_DIR}/styles)
# The custody report's font (report/report_fonts.cpp looks for fonts/wqy-microhei.ttc beside the
# program): one face with every Chinese character the report may hold, embedded into each PDF, so
# a report reads the same whatever fonts the Windows has. Debian's fonts-wqy-microhei
# (scripts/setup.sh) has it.
set(ORV_REPORT_FONT_FILE /usr/share/fonts/truetype/wqy/wqy-microhei.ttc CACHE FILEPATH
    "The font file shipped as fonts/wqy-microhei.ttc for the custody report")
if(NOT EXISTS "${ORV_REPORT_FONT_FILE}")
    message(FATAL_ERROR "No report font at '${ORV_REPORT_FONT_FILE}': install fonts-wqy-microhei "
                        "(scripts/setup.sh) or set ORV_REPORT_FONT_FILE")
endif()
# A copy under the name the program looks for, made again when the file changes.
configure_file(${ORV_REPORT_FONT_FILE} ${ORV_BIN_DIR}/fonts/wqy-microhei.ttc COPYONLY)
list(APPEND ORV_WINDOWS_SHIPPED_FILES fonts/wqy-microhei.ttc)
# Qt's own texts (the buttons of message boxes, the file dialogs) in the console's two Chinese
# languages. The programs look for the catalogues in translations/ beside them. They come from the
# Windows Qt when it has them, else from Debian's qt6-translations-l10n (scripts/setup.sh): a .qm
# file is the same on every platform, and Debian's Qt is the same release as the Windows one.
set(ORV_QT_TRANSLATIONS_DIR "" CACHE PATH
    "Folder of qtbase_zh_CN.qm and qtbase_zh_TW.qm (empty: the Windows Qt's, else /usr/share/qt6/translations)")
set(orv_qt_catalogues qtbase_zh_CN.qm qtbase_zh_TW.qm)
if(ORV_QT_TRANSLATIONS_DIR)
    set(orv_catalogue_folders ${ORV_QT_TRANSLATIONS_DIR})
else()
    set(orv_catalogue_folders ${QT6_INSTALL_PREFIX}/${QT6_INSTALL_TRANSLATIONS} /usr/share/qt6/translations)
endif()
set(orv_catalogue_folder "")
foreach(orv_folder ${orv_catalogue_folders})
    set(orv_complete TRUE)
    foreach(orv_catalogue ${orv_qt_catalogues})
        if(NOT EXISTS ${orv_folder}/${orv_catalogue})
            set(orv_complete FALSE)
        endif()
    endforeach()
    if(orv_complete)
        set(orv_catalogue_folder ${orv_folder})
        break()
    endif()
endforeach()
if(NOT orv_catalogue_folder)
    list(JOIN orv_catalogue_folders ", " orv_folders)
    message(FATAL_ERROR "Qt's catalogues qtbase_zh_CN.qm and qtbase_zh_TW.qm are in none of ${orv_folders}: "
                        "install qt6-translations-l10n (scripts/setup.sh) or set ORV_QT_TRANSLATIONS_DIR")
endif()
set(orv_catalogue_files "")
foreach(orv_catalogue ${orv_qt_catalogues})
    list(APPEND orv_catalogue_files ${orv_catalogue_folder}/${orv_catalogue})
    list(APPEND ORV_WINDOWS_SHIPPED_FILES translations/${orv_catalogue})
endforeach()
file(COPY ${orv_catalogue_files} DESTINATION ${ORV_BIN_DIR}/translations)

# For scripts/package-windows.sh.
string(REPLACE ";" "\n" orv_shipped "${ORV_WINDOWS_SHIPPED_FILES}")
file(WRITE ${CMAKE_BINARY_DIR}/windows-shipped-files.txt "${orv_shipped}\n")
