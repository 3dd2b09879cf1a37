# What a Windows program of ours needs beside its .exe: Qt's DLLs and plugins and the mingw-w64 C++
# runtime. Copied into bin/ when configuring, so that every program there (and test discovery,
# which runs the test programs right after linking) starts as it is. The ledger's DLLs are copied
# by cmake/LedgerMingw.cmake.
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
set(ORV_WINDOWS_SHIPPED_FILES
    Qt6Core.dll Qt6Gui.dll Qt6Widgets.dll platforms/qwindows.dll styles/qwindowsvistastyle.dll
    libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll)
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
# For scripts/package-windows.sh.
string(REPLACE ";" "\n" orv_shipped "${ORV_WINDOWS_SHIPPED_FILES}")
file(WRITE ${CMAKE_BINARY_DIR}/windows-shipped-files.txt "${orv_shipped}\n")
