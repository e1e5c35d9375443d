# Debian packages the project needs, and a helper that installs only the missing ones.
# Sourced by ./run and ./test; can also be run on its own: scripts/install-deps.sh [build|test|docs|fuzz|windows|all]...

# Compiler, CMake and the libraries every Linux build links or includes.
DEPS_BUILD=(
    cmake ninja-build g++ pkg-config
    libtinyxml2-dev
    libgtest-dev libgmock-dev googletest
    libbenchmark-dev libcli11-dev libpng-dev
    libaravis-dev libusb-1.0-0-dev  # aravis-0.8.pc requires libusb-1.0
    dpkg-dev file  # the Debian package: dpkg-shlibdeps finds the library packages, CPack runs file on the programs
    systemd  # systemd-analyze verifies the Debian package's service unit
    clang-format-14  # the layout check of ./test linux (scripts/format.sh)
)

# Programs the tests drive: the GigE Vision client tools, the packet decoder, namespaces and setarch, and the
# packet filter that makes the soak test's loopback lose datagrams.
DEPS_TEST=(aravis-tools-cli aravis-tools tshark iproute2 util-linux nftables linuxptp)

# The plot of the performance figures (docs/performance.png, scripts/plot-performance.sh).
DEPS_DOCS=(gnuplot-nox)

# The fuzz stage of ./test: clang with libFuzzer and the sanitizer runtimes (clang also for the release stage).
DEPS_FUZZ=(clang libclang-rt-14-dev)

# Windows cross-build and its test runner; dpkg-dev and xz-utils unpack the tinyxml2 source package, CLI11
# (header-only) is copied for the Windows emulator.
DEPS_WINDOWS=(g++-mingw-w64-x86-64-posix wine wine64 dpkg-dev xz-utils googletest libtinyxml2-dev libcli11-dev cmake ninja-build)

# deps_missing PACKAGE...: prints the packages that are not installed, one per line.
deps_missing() {
    local package status
    for package in "$@"; do
        status=$(dpkg-query -W -f='${db:Status-Status}' "$package" 2>/dev/null || true)
        [[ $status == installed ]] || echo "$package"
    done
}

# deps_install PACKAGE...: installs with apt-get whatever of PACKAGE... is missing; refreshes the package
# lists only when something has to be installed. Fails with a message when that needs root and we are not.
deps_install() {
    local -a missing
    mapfile -t missing < <(deps_missing "$@" | sort -u)
    ((${#missing[@]} == 0)) && return 0

    echo "Installing missing packages: ${missing[*]}"
    local -a sudo=()
    if ((EUID != 0)); then
        if ! command -v sudo >/dev/null; then
            echo "ERROR: these packages are missing and installing them needs root: ${missing[*]}" >&2
            return 1
        fi
        sudo=(sudo)
    fi
    # tshark asks whether ordinary users may capture; answer "no" so the install never waits for a person.
    echo "wireshark-common wireshark-common/install-setuid boolean false" | "${sudo[@]}" debconf-set-selections
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -q &&
        "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}" ||
        {
            echo "ERROR: apt-get could not install: ${missing[*]}" >&2
            return 1
        }
}

# deps_install_groups GROUP...: installs the packages of the named groups (build, test, docs, fuzz, windows, all).
deps_install_groups() {
    local -a packages=()
    local group
    for group in "$@"; do
        case $group in
            build) packages+=("${DEPS_BUILD[@]}") ;;
            test) packages+=("${DEPS_TEST[@]}") ;;
            docs) packages+=("${DEPS_DOCS[@]}") ;;
            fuzz) packages+=("${DEPS_FUZZ[@]}") ;;
            windows) packages+=("${DEPS_WINDOWS[@]}") ;;
            all) packages+=("${DEPS_BUILD[@]}" "${DEPS_TEST[@]}" "${DEPS_DOCS[@]}" "${DEPS_FUZZ[@]}" "${DEPS_WINDOWS[@]}") ;;
            *)
                echo "ERROR: unknown package group '$group' (build, test, docs, fuzz, windows or all)" >&2
                return 1
                ;;
        esac
    done
    deps_install "${packages[@]}"
}

if [[ ${BASH_SOURCE[0]} == "$0" ]]; then
    set -euo pipefail
    deps_install_groups "${@:-all}"
fi
