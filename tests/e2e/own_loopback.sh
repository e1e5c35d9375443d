#!/bin/sh
# Runs a test program inside the private network namespace that `unshare -n` made for it, with its loopback up
# and nothing else on it: no other test's datagrams can reach the program's clients.
# Usage: unshare -n own_loopback.sh PROGRAM [ARGUMENT...]
set -eu
ip link set lo up
exec "$@"
