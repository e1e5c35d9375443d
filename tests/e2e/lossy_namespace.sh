#!/bin/sh
# Runs a test program inside a private network namespace (start it with unshare -n) whose loopback loses
# LOSS_PERCENT (default 1) of the UDP datagrams outside the control channel (port 3956): the stream and its
# resends lose packets as on a busy network, while the sensor's TCP link and the client's register access stay
# whole. The datagrams vanish on their way out of the interface, after the sender's send succeeded and before
# any receiver (an ordinary socket or a packet socket) could see them, as on a real network.
# With LOSS_AT=output the datagrams are refused where they are sent instead (a packet filter of the sending
# host): the send call fails for each of them with "operation not permitted".
# Usage: lossy_namespace.sh PROGRAM [ARGUMENT...]
set -eu
export LOSS_PERCENT="${LOSS_PERCENT:-1}"
export LOSS_AT="${LOSS_AT:-egress}"
ip link set lo up
if [ "$LOSS_AT" = output ]; then
    nft -f - <<RULES
table ip stream_refusal {
    chain departures {
        type filter hook output priority 0;
        udp sport != 3956 udp dport != 3956 numgen random mod 100 < $LOSS_PERCENT drop
    }
}
RULES
else
    nft -f - <<RULES
table netdev stream_loss {
    chain departures {
        type filter hook egress device "lo" priority 0;
        udp sport != 3956 udp dport != 3956 numgen random mod 100 < $LOSS_PERCENT drop
    }
}
RULES
fi
exec "$@"
