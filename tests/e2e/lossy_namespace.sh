#!/bin/sh
# Runs a test program inside a private network namespace (start it with unshare -n) whose loopback loses
# LOSS_PERCENT (default 1) of the UDP datagrams outside the control channel (port 3956): the stream and its
# resends lose packets as on a busy network, while the sensor's TCP link and the client's register access stay
# whole. The datagrams vanish on their way out of the interface, after the sender's send succeeded and before
# any receiver (an ordinary socket or a packet socket) could see them, as on a real network.
# With LOSS_AT=output the datagrams are refused where they are sent instead (a packet filter of the sending
# host): the send call fails for each of them with "operation not permitted".
# With LOSS_OF=payload only the stream's payload packets are lost (the low four bits of the packet format byte
# are 3 or 7: single-part or multipart payload); leaders and trailers always arrive, and so do resent packets
# with extended ids (the top bit of the format byte), which carry the resent flag (the lowest bit of the flags).
# Usage: lossy_namespace.sh PROGRAM [ARGUMENT...]
set -eu
export LOSS_PERCENT="${LOSS_PERCENT:-1}"
export LOSS_AT="${LOSS_AT:-egress}"
export LOSS_OF="${LOSS_OF:-all}"
which=""
spared="udp sport 3956 accept"
if [ "$LOSS_OF" = payload ]; then
    which="@th,100,4 { 3, 7 }"
    spared="udp sport != 3956 @th,96,1 1 @th,95,1 1 accept"
fi
ip link set lo up
if [ "$LOSS_AT" = output ]; then
    nft -f - <<RULES
table ip stream_refusal {
    chain departures {
        type filter hook output priority 0;
        $spared
        udp sport != 3956 udp dport != 3956 $which numgen random mod 100 < $LOSS_PERCENT drop
    }
}
RULES
else
    nft -f - <<RULES
table netdev stream_loss {
    chain departures {
        type filter hook egress device "lo" priority 0;
        $spared
        udp sport != 3956 udp dport != 3956 $which numgen random mod 100 < $LOSS_PERCENT drop
    }
}
RULES
fi
exec "$@"
