#!/usr/bin/env bash
# Lays out every tracked C++ file by the tree's .clang-format.
#
#   scripts/format.sh          rewrites the files that differ
#   scripts/format.sh --check  changes nothing; lists the files that differ and fails if there are any
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

FORMATTER=${CLANG_FORMAT:-clang-format-14}
if ! command -v "$FORMATTER" >/dev/null; then
    echo "ERROR: $FORMATTER is not installed (Debian package clang-format-14; scripts/install-deps.sh build)" >&2
    exit 1
fi

mapfile -t files < <(git ls-files '*.cpp' '*.h' '*.hpp' '*.c')
if [[ ${1:-} == --check ]]; then
    # One formatter run over every file tells whether they all follow the layout; only when some do not is each
    # file compared on its own, to name them.
    if "$FORMATTER" --style=file --dry-run -Werror "${files[@]}" 2>/dev/null; then
        echo "all ${#files[@]} C++ files follow .clang-format"
        exit 0
    fi
    differing=()
    for file in "${files[@]}"; do
        "$FORMATTER" --style=file "$file" | cmp -s - "$file" || differing+=("$file")
    done
    if ((${#differing[@]} > 0)); then
        echo "ERROR: these files do not follow .clang-format (run scripts/format.sh):" >&2
        printf '  %s\n' "${differing[@]}" >&2
        exit 1
    fi
    echo "all ${#files[@]} C++ files follow .clang-format"
else
    "$FORMATTER" --style=file -i "${files[@]}"
fi
