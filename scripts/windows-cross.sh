# The Windows cross-build and its test runner, shared by ./test: tinyxml2, GoogleTest and CLI11 are made
# ready for the target from Debian's own packages, the project is built with the mingw-w64 toolchain file, and
# the tests run under a headless wine. Source it; ROOT must name the repository folder and scripts/cmake-build.sh
# must be sourced first. Everything it builds goes under WIN_WORK (default ROOT/_wincross).

WIN_WORK=${WIN_WORK:-$ROOT/_wincross}
WIN_DEPS=$WIN_WORK/deps
WIN_TOOLCHAIN=$ROOT/cmake/mingw-w64-x86_64.cmake

# The tinyxml2 source package of the same version as the Linux one, fetched through a private apt state
# (deb-src lines derived from the system's sources) so that the system's own apt setup stays untouched.
win_fetch_tinyxml2() {
    TINYXML2_VERSION=$(dpkg-query -W -f='${source:Version}' libtinyxml2-dev)
    TINYXML2_SOURCE=$WIN_WORK/src/tinyxml2-$TINYXML2_VERSION
    [[ -f $TINYXML2_SOURCE/CMakeLists.txt || -f $WIN_DEPS/.tinyxml2-$TINYXML2_VERSION ]] && return 0

    local apt=$WIN_WORK/apt
    rm -rf "$apt" "$WIN_WORK/src/unpack"
    mkdir -p "$apt/sources.list.d" "$apt/lists/partial" "$apt/cache/archives/partial" "$WIN_WORK/src/unpack"
    local file
    for file in /etc/apt/sources.list.d/*.sources; do
        [[ -f $file ]] && sed 's/^Types:.*/Types: deb-src/' "$file" >"$apt/sources.list.d/$(basename "$file")"
    done
    : >"$apt/sources.list"
    for file in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
        [[ -f $file ]] && sed -n 's/^deb\( .*\)$/deb-src\1/p' "$file" >>"$apt/sources.list"
    done
    chown -R _apt "$apt" "$WIN_WORK/src/unpack" 2>/dev/null || true

    local -a private=(-o Dir::Etc::SourceList="$apt/sources.list" -o Dir::Etc::SourceParts="$apt/sources.list.d"
        -o Dir::State::Lists="$apt/lists" -o Dir::Cache="$apt/cache")
    # A third-party repository without source packages only warns here; the source download below decides.
    apt-get -q "${private[@]}" update || true
    (cd "$WIN_WORK/src/unpack" && apt-get -q "${private[@]}" source "tinyxml2=$TINYXML2_VERSION")
    local unpacked
    unpacked=$(find "$WIN_WORK/src/unpack" -mindepth 1 -maxdepth 1 -type d -name 'tinyxml2-*' | head -n 1)
    [[ -n $unpacked ]] || {
        echo "ERROR: apt-get source tinyxml2=$TINYXML2_VERSION unpacked nothing" >&2
        return 1
    }
    rm -rf "$TINYXML2_SOURCE"
    mv "$unpacked" "$TINYXML2_SOURCE"
    rm -rf "$WIN_WORK/src/unpack" "$apt"
}

# win_build_dependency NAME VERSION SOURCE [CMAKE_ARGUMENT...]: builds SOURCE for Windows and installs it
# into the dependency prefix, once per version.
win_build_dependency() {
    local name=$1 version=$2 source=$3
    shift 3
    local stamp=$WIN_DEPS/.$name-$version
    [[ -f $stamp ]] && return 0
    local dir=$WIN_WORK/deps-build/$name
    rm -rf "$dir"
    cmake -S "$source" -B "$dir" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$WIN_TOOLCHAIN" -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_INSTALL_PREFIX="$WIN_DEPS" -DBUILD_SHARED_LIBS=OFF "$@"
    cmake --build "$dir" -j "$BUILD_JOBS"
    cmake --install "$dir"
    touch "$stamp"
    rm -rf "$dir"
}

win_build_tinyxml2() {
    win_build_dependency tinyxml2 "$TINYXML2_VERSION" "$TINYXML2_SOURCE" -Dtinyxml2_BUILD_TESTING=OFF
}

win_build_googletest() {
    win_build_dependency googletest "$(dpkg-query -W -f='${Version}' googletest)" /usr/src/googletest \
        -DBUILD_GMOCK=ON
}

# CLI11 is header-only: its headers and CMake files from the Linux package are placed in the dependency
# prefix, where the CMake files find the headers beside them (the host's /usr/include must stay out of a
# Windows build).
win_install_cli11() {
    local stamp=$WIN_DEPS/.cli11-$(dpkg-query -W -f='${Version}' libcli11-dev)
    [[ -f $stamp ]] && return 0
    mkdir -p "$WIN_DEPS/include" "$WIN_DEPS/share/cmake"
    rm -rf "$WIN_DEPS/include/CLI" "$WIN_DEPS/share/cmake/CLI11"
    cp -r /usr/include/CLI "$WIN_DEPS/include/CLI"
    cp -r /usr/share/cmake/CLI11 "$WIN_DEPS/share/cmake/CLI11"
    touch "$stamp"
}

# All the dependencies of the Windows build, each prepared once per version.
win_prepare_dependencies() {
    win_fetch_tinyxml2
    win_build_tinyxml2
    win_build_googletest
    win_install_cli11
}

# The same optimisation level as the Linux build, so both see the same compiler warnings (GCC 12 at -O3
# warns falsely about overlapping copies in std::string concatenation).
win_build_project() {
    cmake_configure "$WIN_WORK/build" RelWithDebInfo -DCMAKE_TOOLCHAIN_FILE="$WIN_TOOLCHAIN" \
        -DCMAKE_PREFIX_PATH="$WIN_DEPS"
    cmake_build "$WIN_WORK/build"
}

win_wine_environment() {
    export WINEPREFIX=$WIN_WORK/wineprefix WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
    unset DISPLAY
}

# A persistent wineserver, warmed up with output to /dev/null: the first wine process starts wine's service
# processes, which inherit its standard output and would hold ctest's pipes open. The crash debugger is
# switched off because with it a crashing test sometimes exits 0.
win_start_wine() {
    win_wine_environment
    mkdir -p "$WINEPREFIX"
    wineserver -k >/dev/null 2>&1 || true
    trap 'wineserver -k >/dev/null 2>&1 || true' EXIT
    wineserver -p
    if [[ -f $WINEPREFIX/.ci-ready ]]; then
        wineboot >"$WIN_WORK/wineboot.log" 2>&1 </dev/null
    else
        echo "Creating the wine prefix (first run only)"
        wineboot -i >"$WIN_WORK/wineboot.log" 2>&1 </dev/null
        wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Debugger /t REG_SZ \
            /d false /f >>"$WIN_WORK/wineboot.log" 2>&1 </dev/null
        touch "$WINEPREFIX/.ci-ready"
    fi
}


# Ends the wineserver of the prefix and waits until it is gone.
win_stop_wine() {
    wineserver -k >/dev/null 2>&1 || true
    wineserver -w >/dev/null 2>&1 || true
}
