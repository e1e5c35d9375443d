# CMake helpers shared by ./run and ./test. Source it; ROOT must name the repository folder.

BUILD_JOBS=${BUILD_JOBS:-2}

# cmake_cached DIR VARIABLE: prints VARIABLE's value from DIR's CMake cache (nothing when unset).
cmake_cached() {
    sed -n "s/^$2:[A-Z]*=//p" "$1/CMakeCache.txt" 2>/dev/null
}

# cmake_configure DIR BUILD_TYPE [CMAKE_ARGUMENT...]: configures DIR with Ninja unless it already is
# configured that way (Ninja re-runs CMake by itself when a CMakeLists.txt changes). A folder configured
# with another generator is cleared first, since CMake cannot switch generators in place.
cmake_configure() {
    local dir=$1 type=$2
    shift 2
    if [[ -f $dir/CMakeCache.txt && $(cmake_cached "$dir" CMAKE_GENERATOR) != Ninja ]]; then
        echo "Clearing $dir: it was configured with another generator"
        rm -rf "$dir/CMakeCache.txt" "$dir/CMakeFiles"
    fi
    if [[ -f $dir/build.ninja && $(cmake_cached "$dir" CMAKE_BUILD_TYPE) == "$type" ]]; then
        return 0
    fi
    cmake -S "$ROOT" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE="$type" "$@"
}

# cmake_build DIR [TARGET...]: builds the named targets of DIR (all of them when none is named).
cmake_build() {
    local dir=$1
    shift
    local -a targets=()
    (($# > 0)) && targets=(--target "$@")
    cmake --build "$dir" -j "$BUILD_JOBS" "${targets[@]}"
}
