#!/usr/bin/env bash
# Builds WORK_DIR/ledger-mingw-<versions>.tar.xz from Debian 12's own sources: OpenSSL 3.0
# (libcrypto, libssl), libpq of PostgreSQL 15 (client library only) and SQLite 3.40 as DLLs for
# x86_64-w64-mingw32, with import libraries, headers and the licences. About 5 minutes on 2 cores.
# Only needed where no prebuilt copy is at hand (scripts/windows-deps.sh).
#   scripts/ledger-mingw/build.sh WORK_DIR     gives WORK_DIR/ledger-mingw-*.tar.xz
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
work=$(mkdir -p "${1:?usage: build.sh WORK_DIR}" && cd "$1" && pwd)
cd "$work"
sudo_cmd=()
[[ $(id -u) -eq 0 ]] || sudo_cmd=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends gcc-mingw-w64-x86-64-posix gcc make perl tcl \
    dpkg-dev xz-utils >/dev/null
"$here/add-deb-src.sh"
# Each package in its own folder: the newest version (bookworm-security) first; where the mirror
# lacks that one's files, the point release's (bookworm). Unpacked with Debian's patches applied.
vers=()
for pkg in openssl postgresql-15 sqlite3; do
    rm -rf "dl-$pkg" "src-$pkg" && mkdir "dl-$pkg"
    (cd "dl-$pkg" && { apt-get source --download-only "$pkg" >/dev/null 2>&1 \
        || { rm -f ./*; apt-get source --download-only "$pkg/bookworm" >/dev/null; }; })
    dsc=$(ls "dl-$pkg"/*.dsc)
    (cd "dl-$pkg" && dpkg-source -x ./*.dsc src >/dev/null)
    mv "dl-$pkg/src" "src-$pkg"
    vers+=("$(sed -n 's/^Version: \(.*\)-[^-]*$/\1/p' "$dsc")")   # upstream part
    echo "$pkg: $(sed -n 's/^Version: //p' "$dsc")"
done
v_ssl=${vers[0]} v_pq=${vers[1]} v_sqlite=${vers[2]}
name=ledger-mingw-openssl${v_ssl}-libpq${v_pq}-sqlite${v_sqlite}
stage=$work/stage
prefix=$stage/ledger-mingw              # installed as if in /ledger-mingw (DESTDIR=$stage)
rm -rf "$stage" sqlite-amalg && mkdir -p "$prefix/bin" "$prefix/lib" "$prefix/include"
jobs=$(nproc)

# 1. OpenSSL: libcrypto-3-x64.dll, libssl-3-x64.dll (no apps, engines or provider modules).
(cd src-openssl \
  && nice -n 10 ./Configure mingw64 --cross-compile-prefix=x86_64-w64-mingw32- shared no-tests \
       --prefix=/ledger-mingw --openssldir=/ledger-mingw/ssl --libdir=lib >/dev/null \
  && nice -n 10 make -j"$jobs" build_libs >/dev/null \
  && make install_dev DESTDIR="$stage" >/dev/null)

# 2. libpq: configure the whole tree for Windows, build only src/interfaces/libpq (which builds
#    the src/port and src/common pieces it links).
(cd src-postgresql-15 \
  && nice -n 10 ./configure --host=x86_64-w64-mingw32 --prefix=/ledger-mingw \
       --without-readline --without-icu --without-zlib --with-ssl=openssl \
       CPPFLAGS="-I$prefix/include" LDFLAGS="-L$prefix/lib" >/dev/null \
  && nice -n 10 make -j"$jobs" -C src/interfaces/libpq >/dev/null)
pq=src-postgresql-15
cp "$pq/src/interfaces/libpq/libpq.dll" "$prefix/bin/"
cp "$pq/src/interfaces/libpq/libpq.a" "$prefix/lib/libpq.dll.a"
cp "$pq/src/interfaces/libpq/libpq-fe.h" "$pq/src/interfaces/libpq/libpq-events.h" \
   "$pq/src/include/postgres_ext.h" "$pq/src/include/pg_config_ext.h" "$prefix/include/"

# 3. SQLite: generate the amalgamation natively (tclsh), compile it as a DLL. Debian's compile
#    options that change behaviour, without its optional extensions (FTS3, R-Tree, session, ...).
mkdir -p sqlite-amalg
(cd sqlite-amalg \
  && nice -n 10 ../src-sqlite3/configure --disable-tcl --disable-readline --disable-editline >/dev/null \
  && nice -n 10 make sqlite3.c >/dev/null \
  && nice -n 10 x86_64-w64-mingw32-gcc -O2 -fno-strict-aliasing -shared \
       -DSQLITE_THREADSAFE=1 -DSQLITE_SECURE_DELETE -DSQLITE_ENABLE_COLUMN_METADATA \
       -DSQLITE_ENABLE_UNLOCK_NOTIFY -DSQLITE_ENABLE_DBSTAT_VTAB -DSQLITE_ALLOW_ROWID_IN_VIEW \
       -DSQLITE_LIKE_DOESNT_MATCH_BLOBS -DSQLITE_USE_URI=1 -DSQLITE_MAX_SCHEMA_RETRY=25 \
       -DSQLITE_MAX_VARIABLE_NUMBER=250000 \
       -o sqlite3.dll sqlite3.c -Wl,--out-implib,libsqlite3.dll.a \
  && cp sqlite3.dll "$prefix/bin/" && cp libsqlite3.dll.a "$prefix/lib/" \
  && cp sqlite3.h sqlite3ext.h "$prefix/include/")

# Keep the prefix small: DLLs, import libraries and headers only.
rm -rf "$prefix/lib/pkgconfig"
find "$prefix/lib" -name '*.a' ! -name '*.dll.a' -delete
find "$prefix" -name '*.dll' -exec x86_64-w64-mingw32-strip --strip-unneeded {} +
mkdir -p "$prefix/share/licenses"
cp src-openssl/LICENSE.txt "$prefix/share/licenses/openssl-LICENSE.txt"
cp src-postgresql-15/COPYRIGHT "$prefix/share/licenses/postgresql-COPYRIGHT.txt"
cp src-sqlite3/LICENSE.md "$prefix/share/licenses/sqlite-LICENSE.md"
tar -C "$stage" --owner=0 --group=0 -cJf "$work/$name.tar.xz" ledger-mingw
echo "built $work/$name.tar.xz"
