#!/usr/bin/env python3
# Writes the binary seed inputs of the fuzz targets into corpus/NAME/: real GVCP commands as a client sends
# them, a sensor's well-formed replies and a client's well-formed requests of the sensor protocol, and command
# lines. The descriptor seeds (corpus/descriptor) are the descriptors the emulator and the tests' sample send,
# saved once from them. The user set file seeds (corpus/user_set_file) are text files written once by hand in
# the program's format: two sets, none, and one cut off in the middle of a line.
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def write(target, name, data):
    folder = os.path.join(HERE, "corpus", target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


def gvcp(command, payload, req_id, flags=0x01):
    return struct.pack(">BBHHH", 0x42, flags, command, len(payload), req_id) + payload


def record(client, datagram):
    return struct.pack(">BH", client, len(datagram)) + datagram


def readreg(addresses, req_id):
    return gvcp(0x80, b"".join(struct.pack(">I", a) for a in addresses), req_id)


def writereg(pairs, req_id):
    return gvcp(0x82, b"".join(struct.pack(">II", a, v) for a, v in pairs), req_id)


def readmem(address, count, req_id):
    return gvcp(0x84, struct.pack(">IHH", address, 0, count), req_id)


def writemem(address, data, req_id):
    return gvcp(0x86, struct.pack(">I", address) + data, req_id)


def resend(block, first, last, extended=False):
    if extended:
        return struct.pack(">HHIIQ", 0, 0, first, last, block)
    return struct.pack(">HHII", 0, block, first, last)


# GVCP: what a client does when it opens the device, and some of what it must not.
write("gvcp_server", "discovery", record(0, gvcp(0x02, b"", 1, 0x11)))
write("gvcp_server", "open-and-read-xml", b"".join([
    record(0, readreg([0x0A00], 1)),
    record(0, writereg([(0x0A00, 2)], 2)),
    record(0, readmem(0x0200, 512, 3)),
    record(0, readmem(0x100000, 536, 4)),
    record(0, readreg([0x0938, 0x0934, 0x0D04], 5)),
    record(0, writereg([(0x0A00, 0)], 6)),
]))
write("gvcp_server", "stream-setup", b"".join([
    record(1, writereg([(0x0A00, 2)], 10)),
    record(1, writereg([(0x0D18, 0x7F000D09), (0x0D04, 1500)], 11)),
    record(1, writemem(0x0D00, struct.pack(">I", 50200), 12)),
    record(1, writereg([(0x0D00, 0)], 13)),
]))
write("gvcp_server", "switchover", b"".join([
    record(0, writereg([(0x0A00, 0x6)], 20)),
    record(0, writereg([(0x095C, 0x1234)], 21)),
    record(3, writereg([(0x0A00, 0x12340002)], 22)),
    record(0, readreg([0x0A00], 23)),
]))
write("gvcp_server", "other-client-refused", b"".join([
    record(0, writereg([(0x0A00, 2)], 30)),
    record(2, writereg([(0x0A00, 2)], 31)),
    record(2, readreg([0x0000], 32)),
    record(2, gvcp(0x40, resend(1, 0, 0xFFFFFF), 33, 0)),
]))
write("gvcp_server", "forceip-and-unknown", b"".join([
    record(0, gvcp(0x04, bytes(56), 40)),
    record(0, gvcp(0x100, bytes(20), 41)),
    record(0, b"\x42\x01\x00\x80\x00\x03\x00\x2a\x00\x00\x0a"),
]))

# PACKETRESEND: [client][flags][payload]
write("packet_resend", "one-packet", bytes([0, 0]) + resend(1, 3, 3))
write("packet_resend", "whole-frame", bytes([0, 0]) + resend(1, 0, 0xFFFFFF))
write("packet_resend", "extended", bytes([0, 0x10]) + resend(1, 1, 2, True))
write("packet_resend", "other-client", bytes([2, 0]) + resend(1, 0, 5))


# Sensor protocol.
def message(kind, req_id, payload):
    return struct.pack(">IBBHII", 0x54565231, kind, 0, 0, req_id, len(payload)) + payload


def ok(fields=b""):
    return struct.pack(">i", 0) + fields


serial = b"CVS3D-22A0417"
hello = ok(struct.pack(">IIIH", 1, 4, 2, len(serial)) + serial)
pixels = 8
cloud = ok(struct.pack(">I", pixels) + struct.pack("<24d", *([1.5] * 24)) + struct.pack("<8H", *range(8)))
image = ok(struct.pack(">I", pixels) + bytes(range(8)))
descriptor = b"<?xml version=\"1.0\"?><device><general><description>Sensor \xc3\xa9</description></general></device>"
write("sdk_replies", "every-call", b"".join([
    message(0x81, 1, hello),
    message(0x84, 2, ok(struct.pack(">i", 1))),
    message(0x83, 3, ok(descriptor)),
    message(0x85, 4, cloud),
    message(0x86, 5, image),
    message(0x82, 6, ok()),
    message(0x82, 7, ok()),
    message(0x82, 8, ok()),
    message(0x87, 9, ok(struct.pack(">I", 6) + b"abcdef")),
]))
write("sdk_replies", "refusals", b"".join([
    message(0x81, 1, hello),
    message(0x84, 2, struct.pack(">i", -3)),
    message(0x83, 3, struct.pack(">i", -105)),
]))
write("sdk_replies", "huge-greeting", message(0x81, 1, b"")[:12] + struct.pack(">I", 0xFFFFFFFF) + bytes(4))

write("emulator_requests", "session", b"".join([
    message(1, 1, struct.pack(">I", 1)),
    message(4, 2, b""),
    message(3, 3, b"GetXmlDescriptor"),
    message(2, 4, b"SetGain=1.000000"),
    message(5, 5, b""),
    message(6, 6, b""),
    message(7, 7, struct.pack(">II", 0, 4096)),
    message(3, 8, b"GetTemperature"),
]))
write("emulator_requests", "no-greeting", message(4, 1, b""))
write("emulator_requests", "long-command", message(1, 1, struct.pack(">I", 1)) + message(2, 2, b"S" * 300))

# Command lines: elements separated by NUL.
for name, line in {
    "full": ["-i", "127.0.0.1", "-s", "127.0.0.2", "-n", "1", "-u", "name", "-f", "trace.txt", "-d"],
    "joined": ["-da", "-i127.0.0.1", "-n0"],
    "missing-argument": ["-i"],
    "unknown": ["-x", "-:"],
    "double-dash": ["--", "extra"],
    "non-option": ["-i", "1.2.3.4", "extra"],
}.items():
    write("option_scanner", name, b"\0".join(s.encode() for s in line))
