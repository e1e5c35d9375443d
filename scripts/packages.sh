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

# package_unit_check ROOT: systemd-analyze finds nothing to say about an instance of the service unit unpacked
# into ROOT, whose program it looks for there too. The targets and slices every unit depends on come from this
# system; unknown keys and bad values are only warnings, so any message fails the check.
package_unit_check() {
    local root=$1 units=$1/lib/systemd/system unit messages status=0
    local instance=corvastrum-gige-interface@check.service
    [[ -f "$units/corvastrum-gige-interface@.service" ]] || {
        echo "ERROR: the package holds no corvastrum-gige-interface@.service" >&2
        return 1
    }
    [[ -f "$root/etc/corvastrum-gige-interface/sensor.conf.example" ]] || {
        echo "ERROR: the package holds no /etc/corvastrum-gige-interface/sensor.conf.example" >&2
        return 1
    }
    for unit in /lib/systemd/system/*.target /lib/systemd/system/*.slice; do
        [[ -e "$units/${unit##*/}" ]] || cp "$unit" "$units/"
    done
    ln -s "corvastrum-gige-interface@.service" "$units/$instance"
    messages=$(systemd-analyze --root="$root" verify "$instance" 2>&1) || status=$?
    if ((status != 0)) || [[ -n $messages ]]; then
        echo "ERROR: systemd-analyze verify $instance (status $status):" >&2
        echo "$messages" >&2
        return 1
    fi
    echo "systemd-analyze verify $instance: no messages"
}

# package_check_debian DIR: the Debian package, unpacked into a temporary root, gives a program that prints
# its help, an emulator that does too, and a service unit that systemd accepts.
package_check_debian() {
    local dir=$1 deb root status=0
    deb=$(package_build "$dir" DEB)
    echo "$deb:"
    dpkg-deb --field "$deb" Package Version Depends
    root=$(mktemp -d)
    dpkg-deb -x "$deb" "$root"
    package_unit_check "$root" || status=$?
    if ((status != 0)); then
        rm -rf "$root"
        return "$status"
    fi
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
