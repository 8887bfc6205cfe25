"""The RTU frame check as it stands on the wire: CRC-16 (polynomial 0xA001
reflected, start 0xFFFF), low byte first. Shared by the test peers."""


def crc16(data):
    crc = 0xFFFF
    for byte in data:
        crc ^= byte
        for _ in range(8):
            crc = (crc >> 1) ^ 0xA001 if crc & 1 else crc >> 1
    return bytes([crc & 0xFF, crc >> 8])
