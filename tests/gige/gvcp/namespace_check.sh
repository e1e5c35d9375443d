#!/bin/sh
# Runs inside a private network namespace (unshare -n): serves the demo device on the namespace's loopback,
# captures the traffic with tshark, lets Aravis discover it by broadcast, read and write features and run
# its conformance checks, then prints what the capture shows. Usage: namespace_check.sh DEMO_DEVICE WORKDIR
set -u
demo=$1
work=$2
ip link set lo up || exit 3
capture="$work/gvcp.pcap"
tshark -q -i lo -f "udp" -w "$capture" > "$work/tshark.log" 2>&1 &
shark=$!
"$demo" --address 127.0.0.1 > "$work/demo.log" 2>&1 &
device=$!
# A second instance on the same host must be discovered too.
"$demo" --address 127.0.0.2 --serial SECOND --quiet > /dev/null 2>&1 &
second=$!
# tshark needs a moment before it captures.
for _ in 1 2 3 4 5 6 7 8 9 10; do
    grep -q "Capturing on" "$work/tshark.log" 2>/dev/null && break
    sleep 0.3
done
sleep 0.3
echo "== discovery"
timeout 10 arv-tool-0.8
echo "== control"
timeout 10 arv-tool-0.8 -n Pellicor-DemoDevice-DEMO0001 control DemoInteger=9 DemoLabel=ns DemoInteger DemoLabel
# Refused writes put error acknowledges into the capture too.
timeout 10 arv-tool-0.8 -a 127.0.0.1 control DemoReadCounter=5 DemoInteger=500 || true
printf '[Pellicor:DemoDevice]\nSchema=Ignore\nChunksSupport=false\n' > "$work/arv-test.cfg"
echo "== arv-test"
timeout 60 arv-test-0.8 -n Pellicor-DemoDevice-DEMO0001 -c "$work/arv-test.cfg" -t 'Genicam*' 2>&1
timeout 60 arv-test-0.8 -n Pellicor-DemoDevice-DEMO0001 -c "$work/arv-test.cfg" -t 'GigEVision*' 2>&1
sleep 0.5
kill -INT $device $second
wait $device $second
kill -INT $shark
wait $shark
echo "== gvcp packets: $(tshark -r "$capture" -Y gvcp 2>/dev/null | wc -l)"
echo "== malformed: $(tshark -r "$capture" -Y '_ws.malformed || _ws.expert.severity >= error' 2>/dev/null | wc -l)"
echo "== expert items: $(tshark -r "$capture" -q -z expert 2>/dev/null | grep -c -i -E "malformed|error|warn")"
echo "== device log"
cat "$work/demo.log"
