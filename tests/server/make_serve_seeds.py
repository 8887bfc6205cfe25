#!/usr/bin/python3
"""Writes the seeds of serve_fuzzer into tests/fuzz/corpus/serve_fuzzer/.
Every input goes to every kind of server whole, so a seed is simply one or
more request ADUs of one framing. Run: /usr/bin/python3 tests/server/make_serve_seeds.py"""
import os
import struct
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "peers"))
from rtu_crc import crc16

root = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "fuzz", "corpus", "serve_fuzzer")


def rtu(unit, pdu):
    adu = bytes([unit]) + bytes(pdu)
    return adu + crc16(adu)


def ascii_(unit, pdu, end=b"\n"):
    raw = bytes([unit]) + bytes(pdu)
    return b":" + (raw + bytes([(-sum(raw)) & 0xFF])).hex().upper().encode() + b"\r" + end


def mbap(transaction, unit, pdu):
    return struct.pack(">HHH", transaction, 0, len(pdu) + 1) + bytes([unit]) + bytes(pdu)


PDUS = {
    "read_coils": [1, 0, 0, 0, 10],
    "read_inputs": [2, 0xFF, 0xF0, 0, 16],
    "read_holding": [3, 0, 0, 0, 125],
    "read_input_registers": [4, 0xFF, 0xFF, 0, 1],
    "write_coil": [5, 0, 9, 0xFF, 0],
    "write_register": [6, 0, 1, 0x12, 0x34],
    "write_coils": [15, 0, 16, 0, 10, 2, 0xCD, 0x01],
    "write_registers": [16, 0, 32, 0, 2, 4, 1, 2, 3, 4],
    "write_coils_40": [15, 0xFF, 0xD0, 0, 40, 5, 1, 2, 4, 8, 16],
    "write_registers_10": [16, 0, 100, 0, 10, 20] + list(range(20)),
    "diag_echo": [8, 0, 0, 0x12, 0x34],
    "diag_listen_only": [8, 0, 4, 0, 0],
    "diag_restart": [8, 0, 1, 0xFF, 0],
    "diag_delimiter": [8, 0, 3, 0x21, 0],
    "diag_counter": [8, 0, 12, 0, 0],
    "unsupported": [43, 14, 1, 0],
    "diag_echo_long": [8, 0, 0] + list(range(40)),
    "diag_echo_empty": [8, 0, 0],
    "read_write_multiple": [23, 0, 3, 0, 6, 0, 14, 0, 3, 6, 0, 0xFF, 0, 0xFF, 0, 0xFF],
    "read_file_record": [20, 7, 6, 0, 4, 0, 1, 0, 2],
    "mei_canopen": [43, 13, 1, 2, 3],
}

os.makedirs(root, exist_ok=True)
for name, pdu in PDUS.items():
    open(os.path.join(root, "rtu_" + name), "wb").write(rtu(1, pdu))
    open(os.path.join(root, "ascii_" + name), "wb").write(ascii_(1, pdu))
    open(os.path.join(root, "mbap_" + name), "wb").write(mbap(7, 5, pdu))
open(os.path.join(root, "rtu_broadcast"), "wb").write(rtu(0, PDUS["write_registers"]))
open(os.path.join(root, "rtu_two"), "wb").write(rtu(1, PDUS["write_coil"]) + rtu(1, PDUS["read_coils"]))
open(os.path.join(root, "ascii_bang"), "wb").write(ascii_(1, PDUS["diag_delimiter"]) + ascii_(1, PDUS["write_register"], b"!"))
open(os.path.join(root, "mbap_two"), "wb").write(mbap(1, 0, PDUS["write_registers"]) + mbap(2, 5, PDUS["read_holding"]))
# A shared bus: another slave's exception response, then a request to us.
open(os.path.join(root, "rtu_other_exception"), "wb").write(rtu(5, [0x83, 2]) + rtu(1, PDUS["diag_counter"]))
