#!/usr/bin/python3
"""Writes the seed inputs of the stack's fuzz targets into corpus/<target>/.
Run once after changing an input layout: /usr/bin/python3 tests/fuzz/make_seeds.py"""
import os, struct, sys
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'peers'))
from rtu_crc import crc16
root = os.path.join(os.path.dirname(os.path.abspath(__file__)), 'corpus')
def rtu(unit, fn, data): b = bytes([unit, fn]) + bytes(data); return b + crc16(b)
def ascii_(unit, fn, data, end=b'\n'):
    b = bytes([unit, fn]) + bytes(data); l = (-sum(b)) & 0xFF
    return b':' + (b + bytes([l])).hex().upper().encode() + b'\r' + end
def mbap(tid, unit, fn, data): return struct.pack('>HHHBB', tid, 0, len(data) + 2, unit, fn) + bytes(data)
def chunks(b, size=8, delay=0):
    out = b''
    for i in range(0, len(b), size):
        c = b[i:i+size]; out += bytes([(delay << 4) | (len(c) - 1)]) + c
    return out
def write(target, name, data):
    d = os.path.join(root, target); os.makedirs(d, exist_ok=True)
    open(os.path.join(d, name), 'wb').write(data)
# parse_adu_fuzzer: selector%3 0 rtu, 1 ascii, 2 mbap
write('parse_adu_fuzzer', 'rtu_read', bytes([0]) + rtu(1, 3, [0, 0, 0, 1]))
write('parse_adu_fuzzer', 'rtu_response', bytes([0]) + rtu(17, 3, [4, 1, 2, 3, 4]))
write('parse_adu_fuzzer', 'rtu_exception', bytes([0]) + rtu(1, 0x83, [2]))
write('parse_adu_fuzzer', 'ascii_read', bytes([1]) + ascii_(1, 3, [0, 0, 0, 1]))
write('parse_adu_fuzzer', 'ascii_bang', bytes([0x82]) + ascii_(1, 6, [0, 1, 0, 2], b'!'))
write('parse_adu_fuzzer', 'mbap_read', bytes([2]) + mbap(258, 1, 3, [0, 0, 0, 1]))
write('parse_adu_fuzzer', 'mbap_write16', bytes([2]) + mbap(7, 255, 16, [0, 1, 0, 2, 4, 0, 10, 1, 2]))
# receive_adu_fuzzer: selector%6: 0 rtu serial,1 rtu udp,2 rtu tcp,3 ascii,4 mbap tcp,5 mbap udp; 0x80 server role
write('receive_adu_fuzzer', 'rtu_frames', bytes([0, 0]) + chunks(rtu(1, 3, [2, 0, 5]), 16) + chunks(rtu(1, 6, [0, 1, 0, 2]), 16, 1))
write('receive_adu_fuzzer', 'rtu_stream_responses', bytes([2, 200]) + chunks(rtu(1, 3, [2, 0, 5]) + rtu(1, 0x83, [2]) + rtu(1, 16, [0, 1, 0, 2]), 3))
write('receive_adu_fuzzer', 'rtu_stream_checked', bytes([0x80 | 2, 9]) + chunks(rtu(1, 8, [0, 0] + list(range(30))) + rtu(1, 43, [13, 1, 2]) + rtu(1, 23, [0, 3, 0, 6, 0, 14, 0, 1, 2, 0, 7]), 4))
write('receive_adu_fuzzer', 'rtu_stream_requests', bytes([0x80 | 2, 7]) + chunks(rtu(1, 16, [0, 1, 0, 2, 4, 0, 10, 1, 2]) + rtu(1, 3, [0, 0, 0, 1]), 5))
write('receive_adu_fuzzer', 'ascii_stream', bytes([3, 255]) + chunks(b'xx' + ascii_(1, 3, [0, 0, 0, 1]) + b':01' + ascii_(2, 6, [0, 1, 0, 2]), 7, 2))
write('receive_adu_fuzzer', 'ascii_bang', bytes([3 | 0x40, 1]) + chunks(ascii_(1, 6, [0, 1, 0, 2], b'!'), 4))
write('receive_adu_fuzzer', 'mbap_stream', bytes([4, 3]) + chunks(mbap(1, 1, 3, [4, 0, 1, 0, 2]) + mbap(2, 1, 6, [0, 1, 0, 2]), 6))
write('receive_adu_fuzzer', 'mbap_datagrams', bytes([5, 9]) + chunks(mbap(1, 1, 3, [2, 0, 1]), 16) + chunks(mbap(2, 1, 6, [0, 1, 0, 2]), 16))
# transact_fuzzer: selector%5 carrier (0 rtu serial,1 rtu tcp,2 ascii,3 mbap tcp,4 mbap udp), (selector/5)%8 function index
# then clock, unit(1+b%3), addr hi, addr lo, qty(1+b%16), tid hi, tid lo
def tx(carrier, fidx, unit, addr, qty, tid, resp, size=16):
    return bytes([fidx * 5 + carrier, 0x80, unit - 1, addr >> 8, addr & 0xFF, qty - 1, tid >> 8, tid & 0xFF]) + resp
write('transact_fuzzer', 'rtu_read3', tx(0, 2, 1, 100, 2, 0, chunks(rtu(2, 3, [4, 0, 0, 0, 0]), 16) + chunks(rtu(1, 3, [4, 1, 2, 3, 4]), 16)))
write('transact_fuzzer', 'rtu_tcp_exception', tx(1, 2, 1, 100, 2, 0, chunks(rtu(1, 0x83, [2]), 2)))
write('transact_fuzzer', 'ascii_write6', tx(2, 5, 2, 7, 3, 0, chunks(ascii_(2, 6, [0, 7, 0, 3]), 5)))
write('transact_fuzzer', 'mbap_mismatch_then_ok', tx(3, 7, 3, 1, 2, 0x1234, chunks(mbap(0x1233, 3, 16, [0, 1, 0, 2]) + mbap(0x1234, 3, 16, [0, 1, 0, 2]), 9)))
write('transact_fuzzer', 'mbap_udp_read1', tx(4, 0, 1, 0, 9, 5, chunks(mbap(5, 1, 1, [2, 0xFF, 1]), 16)))
# bus_monitor_fuzzer: t3.5 selector, then pieces (control: low four bits length - 1, high four bits gap / 3 ms)
write('bus_monitor_fuzzer', 'exchanges', bytes([3]) + chunks(rtu(1, 3, [0, 0, 0, 2]) + rtu(1, 3, [4, 0, 1, 0, 2]), 16) + chunks(rtu(2, 6, [0, 1, 0, 2]), 8, 2) + chunks(rtu(2, 6, [0, 1, 0, 2]), 16, 1))
write('bus_monitor_fuzzer', 'noise_damage_exception', bytes([1]) + chunks(b'\xff\x13\xa5' + rtu(1, 4, [0, 0, 0, 1]) + rtu(1, 0x84, [2]), 5) + chunks(rtu(5, 1, [0, 0, 0, 8])[:-1] + b'\x00', 8, 15) + chunks(rtu(3, 16, [0, 1, 0, 2, 4, 0, 10, 1, 2]), 6, 1))
write('bus_monitor_fuzzer', 'checked_and_bursts', bytes([0]) + chunks(rtu(4, 8, [0, 0] + list(range(40))), 16, 5) + chunks(rtu(4, 8, [0, 0] + list(range(40))), 16, 5) + chunks(rtu(0, 5, [0, 1, 0xff, 0]), 16, 3) + chunks(rtu(6, 0x41, [1, 2, 3]), 16, 4))
write('bus_monitor_fuzzer', 'endless_noise', bytes([2]) + chunks(bytes([0xFF, 0xFE, 0xF9] * 250), 16) + chunks(rtu(1, 3, [0, 0, 0, 2]), 16))
