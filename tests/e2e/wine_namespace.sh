#!/bin/sh
# Runs one end-to-end test program against the Windows build under wine, inside the network namespace that
# `unshare -n` made for it. Under wine every loopback datagram leaves from 127.0.0.1, so the device must serve
# there, which only a namespace of its own allows. wine creates the sockets of its programs in its server
# process, so the server is started here, inside the namespace, and ended with the test.
# Usage: unshare -n wine_namespace.sh TEST_PROGRAM [ARGUMENT...]; needs WINDOWS_PROGRAM_DIR and the WINE*
# variables of an existing prefix (./test's windows stage sets them) and no other server of that prefix.
set -u
if [ -z "${WINDOWS_PROGRAM_DIR:-}" ] || [ -z "${WINEPREFIX:-}" ]; then
    echo "wine_namespace.sh: WINDOWS_PROGRAM_DIR and WINEPREFIX must name the Windows programs and the wine prefix" >&2
    exit 2
fi
ip link set lo up || exit 3
# wine turns file names and command lines into Unicode through the locale: a UTF-8 one keeps every letter.
export LC_ALL=C.UTF-8
unset DISPLAY
wineserver -p || exit 4
trap 'wineserver -k >/dev/null 2>&1' EXIT
# The first wine process starts wine's services, which would hold the test's output pipes open.
wineboot >/dev/null 2>&1 </dev/null
status=0
"$@" || status=$?
exit $status
