# Builds the packages with CPack and checks them, for ./test. Source it after scripts/cmake-build.sh.

# package_build DIR GENERATOR: the package of build folder DIR, into DIR/packages; prints its path.
package_build() {
    local dir=$1 generator=$2
    rm -rf "$dir/packages"
    cpack -G "$generator" --config "$dir/CPackConfig.cmake" -B "$dir/packages" >"$dir/cpack.log" 2>&1 || {
        cat "$dir/cpack.log" >&2
        return 1
    }
    find "$dir/packages" -maxdepth 1 -type f \( -name '*.zip' -o -name '*.deb' \) | head -n 1
}

# package_check_windows_zip DIR: the Windows zip holds the program, the emulator and the start text, in one
# folder named like the zip.
package_check_windows_zip() {
    local dir=$1 version zip listing name
    version=$(cmake_cached "$dir" CMAKE_PROJECT_VERSION)
    zip=$(package_build "$dir" ZIP)
    [[ $(basename "$zip") == "CorvastrumGigeInterface-$version-win64.zip" ]] || {
        echo "ERROR: unexpected package name '$zip'" >&2
        return 1
    }
    listing=$(cmake -E tar tf "$zip")
    echo "$zip:"
    echo "$listing"
    for name in CorvastrumGigeInterface.exe corvastrum-sensor-emulator.exe README.txt; do
        grep -qx "CorvastrumGigeInterface-$version-win64/$name" <<<"$listing" || {
            echo "ERROR: $name is missing from $zip" >&2
            return 1
        }
    done
}

# package_check_debian DIR: the Debian package, unpacked into a temporary root, gives a program that prints
# its help, and an emulator that does too.
package_check_debian() {
    local dir=$1 deb root status=0
    deb=$(package_build "$dir" DEB)
    echo "$deb:"
    dpkg-deb --field "$deb" Package Version Depends
    root=$(mktemp -d)
    dpkg-deb -x "$deb" "$root"
    "$root/usr/bin/CorvastrumGigeInterface" -h </dev/null >/dev/null 2>"$root/help.txt" || status=$?
    if ((status != 0)) || ! grep -q "^Available options:" "$root/help.txt"; then
        echo "ERROR: the packaged program did not print its help (status $status)" >&2
        cat "$root/help.txt" >&2
        rm -rf "$root"
        return 1
    fi
    "$root/usr/bin/corvastrum-sensor-emulator" --help >/dev/null || status=$?
    rm -rf "$root"
    return "$status"
}
