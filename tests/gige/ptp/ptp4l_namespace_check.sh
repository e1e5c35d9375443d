#!/bin/sh
# Runs inside a private network namespace (unshare -n): two demo devices ask ptp4l instances on a veth pair of
# the namespace, one ptp4l the master, the other slave only. Both timestamp in software and run free, so no
# clock of the machine is ever adjusted. Aravis's arv-tool latches and reads the Ptp features: first with no
# ptp4l running, then until the slave's device reports the slave port with a measured offset (or a deadline
# passes). A device is given 30 s to come online, as a sanitizer build is slow to start on a loaded machine.
# Usage: ptp4l_namespace_check.sh DEMO_DEVICE WORKDIR
set -u
demo=$1
work=$2
ip link set lo up || exit 3
ip link add ptpmaster type veth peer name ptpslave || exit 3
ip link set ptpmaster up && ip link set ptpslave up || exit 3

pids=""
trap 'kill $pids 2>/dev/null; wait $pids 2>/dev/null' EXIT
PTP4L_SOCKET="$work/slave.sock" "$demo" --address 127.0.0.1 --quiet > "$work/slave-device.log" 2>&1 &
pids="$pids $!"
PTP4L_SOCKET="$work/master.sock" "$demo" --address 127.0.0.2 --serial MASTER --quiet > "$work/master-device.log" 2>&1 &
pids="$pids $!"
for _ in $(seq 300); do
    grep -q online "$work/slave-device.log" && grep -q online "$work/master-device.log" && break
    sleep 0.1
done

features="PtpEnable PtpStatus PtpServoStatus PtpOffsetFromMaster"
echo "== without ptp4l"
timeout 10 arv-tool-0.8 -a 127.0.0.1 control PtpDataSetLatch $features

# Short announce and sync intervals, so that the master is chosen and the slave measures within seconds.
intervals="--logAnnounceInterval -2 --logSyncInterval -3 --logMinDelayReqInterval -3"
ptp4l -i ptpmaster -2 -S -m --free_running 1 $intervals --uds_address "$work/master.sock" \
    > "$work/ptp4l-master.log" 2>&1 &
pids="$pids $!"
ptp4l -i ptpslave -2 -S -m -s --free_running 1 $intervals --uds_address "$work/slave.sock" \
    > "$work/ptp4l-slave.log" 2>&1 &
pids="$pids $!"

answer=""
deadline=$(($(date +%s) + 40))
while [ "$(date +%s)" -lt "$deadline" ]; do
    answer=$(timeout 10 arv-tool-0.8 -a 127.0.0.1 control PtpDataSetLatch $features 2>&1)
    if echo "$answer" | grep -q -E "PtpStatus = (Uncalibrated|Slave)" &&
        ! echo "$answer" | grep -q "PtpOffsetFromMaster = 0 ns"; then
        break
    fi
    sleep 0.5
done
echo "== slave"
echo "$answer"
echo "== master"
timeout 10 arv-tool-0.8 -a 127.0.0.2 control PtpDataSetLatch $features
echo "== pmc slave"
pmc -u -b 0 -s "$work/slave.sock" -i "$work/pmc.sock" "GET PORT_DATA_SET" "GET TIME_STATUS_NP" 2>&1 |
    grep -E "portState|master_offset|gmPresent"
echo "== ptp4l slave log"
cat "$work/ptp4l-slave.log"
echo "== ptp4l master log"
cat "$work/ptp4l-master.log"
