# The ledger's libraries in a Windows cross build: OpenSSL's libcrypto and libssl, libpq and SQLite
# as DLLs with import libraries and headers, in one prefix that scripts/windows-deps.sh unpacks.
# A cross build re-roots every search under CMAKE_FIND_ROOT_PATH, so the prefix joins the roots and
# CMake's own FindOpenSSL, FindPostgreSQL and FindSQLite3 find them there.
#   ORV_LEDGER_DLLS      the DLLs, copied into bin/ so that every program there starts as it is
#   ORV_LEDGER_LICENSES  the licences shipped beside them (OpenSSL: Apache 2.0; PostgreSQL's)
set(LEDGER_MINGW "" CACHE PATH "The unpacked ledger-mingw prefix (bin/, lib/, include/, share/licenses/)")
if(NOT EXISTS "${LEDGER_MINGW}/include/libpq-fe.h" OR NOT EXISTS "${LEDGER_MINGW}/include/sqlite3.h")
    message(FATAL_ERROR "The Windows build of the ledger needs OpenSSL, libpq and SQLite for mingw-w64: "
                        "set LEDGER_MINGW to the prefix scripts/windows-deps.sh unpacks (BUILD_DIR/ledger-mingw)")
endif()
list(APPEND CMAKE_FIND_ROOT_PATH "${LEDGER_MINGW}")

set(ORV_LEDGER_DLLS libcrypto-3-x64.dll libssl-3-x64.dll libpq.dll sqlite3.dll)
set(ORV_LEDGER_LICENSES openssl-LICENSE.txt postgresql-COPYRIGHT.txt)
set(orv_ledger_files "")
foreach(dll ${ORV_LEDGER_DLLS})
    list(APPEND orv_ledger_files "${LEDGER_MINGW}/bin/${dll}")
endforeach()
foreach(licence ${ORV_LEDGER_LICENSES})
    list(APPEND orv_ledger_files "${LEDGER_MINGW}/share/licenses/${licence}")
endforeach()
foreach(f ${orv_ledger_files})
    if(NOT EXISTS "${f}")
        message(FATAL_ERROR "${LEDGER_MINGW} lacks ${f}")
    endif()
endforeach()
file(COPY ${orv_ledger_files} DESTINATION ${ORV_BIN_DIR})
