#!/usr/bin/python3
"""Fails when a product folder includes a file of a folder above it or
beside it (the master and the slave are peers: neither includes the other).
Reads the includes of every source, header and resource script of the
product folders; prints each wrong one."""
import os
import re
import sys

# folder: the folders it may include besides its own
BELOW = {
    "common": [],
    "modbus": ["common"],
    "transport": ["common", "modbus"],
    "view": ["common"],
    "settings": ["common", "modbus", "transport", "view"],
    "client": ["common", "modbus", "transport", "settings", "view"],
    "server": ["common", "modbus", "transport", "settings", "view"],
    "monitor": ["common", "modbus", "transport", "settings", "view"],
    "shell": ["common"],
    "plugins": ["common", "settings", "client", "server", "monitor"],
}
# Single files a folder may include beside its layers: the shell reads the
# traffic log's frames with the portable decoder of the stack.
FILES = {
    "shell": ["modbus/traffic_decode.h"],
}
INCLUDE = re.compile(r'^\s*#\s*include\s+"(([a-z_]+)/[^"]*)"', re.M)


def main(root):
    wrong = []
    for folder, allowed in BELOW.items():
        for base, _, names in os.walk(os.path.join(root, folder)):
            for name in names:
                if not name.endswith((".cpp", ".h", ".rc")):
                    continue
                path = os.path.join(base, name)
                with open(path, encoding="utf-8", errors="replace") as source:
                    for path_included, target in INCLUDE.findall(source.read()):
                        if path_included in FILES.get(folder, []):
                            continue
                        if target != folder and target not in allowed:
                            wrong.append(f"{os.path.relpath(path, root)} includes {target}/")
    print("\n".join(wrong) or f"{len(BELOW)} folders include only the layers below them")
    return 1 if wrong else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
