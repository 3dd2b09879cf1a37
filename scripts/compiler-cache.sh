# shellcheck shell=bash disable=SC2034 # orv_cache_args is for the script that sources this
# Sourced by the build scripts: the CMake arguments that compile through ccache, kept between runs
# outside the clone, so that a fresh clone on a machine that built the project before compiles
# little. Sets the array orv_cache_args (empty without ccache, or with ORV_CCACHE=0).
#   The cache: CCACHE_DIR when the environment gives one (its own ccache.conf applies), else
#   ${XDG_CACHE_HOME:-$HOME/.cache}/orvcamera-ccache (made here, 10 GB at most).
#   base_dir is the clone, and the working directory is not hashed: the same sources compiled at
#   another path, in a build tree of the same name, hit. What a program records of its own paths
#   (test data folders, debug information's compilation folder) differs between clones: the first
#   is in the compiler's arguments and so in the hash; the second is not, and points at the clone
#   that filled the cache.
# The settings go into the build tree's launcher (env VAR=... ccache), so every later
# `cmake --build` of that tree uses them, from any shell.
orv_cache_args=()
orv_compiler_cache() {
    local top=$1 ccache dir launcher
    [[ ${ORV_CCACHE:-1} != 0 ]] || return 0
    ccache=$(command -v ccache) || return 0
    if [[ -n ${CCACHE_DIR:-} ]]; then
        dir=$CCACHE_DIR
    else
        dir=${XDG_CACHE_HOME:-$HOME/.cache}/orvcamera-ccache
        if [[ ! -f $dir/ccache.conf ]]; then
            mkdir -p "$dir" && printf 'max_size = 10G\n' >"$dir/ccache.conf" || return 0
        fi
    fi
    # CMake's launcher is a list: a path holding ";" cannot be one of its words.
    [[ $dir != *";"* && $top != *";"* ]] || return 0
    launcher="/usr/bin/env;CCACHE_DIR=$dir;CCACHE_BASEDIR=$top;CCACHE_NOHASHDIR=1;$ccache"
    orv_cache_args=(-DCMAKE_C_COMPILER_LAUNCHER="$launcher" -DCMAKE_CXX_COMPILER_LAUNCHER="$launcher")
}
