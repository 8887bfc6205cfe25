#!/usr/bin/python3
"""Runs the network benchmark of tools/bench-net and prints its table."""
import argparse
import os
import re
import subprocess
import threading
import time


def start_server(command, timeout=60):
    process = subprocess.Popen(command, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                               stderr=subprocess.STDOUT, text=True)
    ready = threading.Event()
    lines = []

    def read():
        for line in process.stdout:
            lines.append(line.strip())
            if line.strip() == "ready":
                ready.set()
        ready.set()

    threading.Thread(target=read, daemon=True).start()
    if not ready.wait(timeout) or "ready" not in lines:
        process.kill()
        raise SystemExit("server did not start: " + " ".join(command) + " | " + " | ".join(lines))
    return process


def stop_server(process):
    try:
        process.stdin.close()
        process.wait(20)
    except (subprocess.TimeoutExpired, BrokenPipeError):
        process.kill()
        process.wait()


def rate_of(text):
    match = re.search(r"rate (\d+)", text)
    failures = re.search(r"failures (\d+)", text)
    if not match or (failures and int(failures.group(1)) > 0):
        return None, text.strip()
    return int(match.group(1)), text.strip()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--native", required=True)
    parser.add_argument("--win", required=True)
    parser.add_argument("--seconds", type=float, default=2)
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--port", type=int, default=15900)
    parser.add_argument("--wine", required=True)
    parser.add_argument("--pymodbus", required=True)
    args = parser.parse_args()
    peers = os.path.join(args.native, "peers")
    engine = os.path.join(args.native, "bin", "engine_host")
    engine_exe = os.path.join(args.win, "bin", "engine_host.exe")
    responder = os.path.join(args.win, "bin", "winsock_responder.exe")
    port = args.port
    results = {}

    def libmodbus_bench(p):
        out = subprocess.run([os.path.join(peers, "peer_client"), "--port", str(p), "bench", str(args.seconds)],
                             capture_output=True, text=True, timeout=args.seconds + 60).stdout
        return rate_of(out)

    servers = [
        ("a", "our native engine_host server", [engine, "server", "--transport", "tcp", "--framing", "mbap", "--any"]),
        ("b", "libmodbus server", [os.path.join(peers, "peer_server")]),
        ("c", "pymodbus server", ["/usr/bin/python3", args.pymodbus]),
        ("d", "our Windows engine_host server (Wine)", [args.wine, engine_exe, "server", "--transport", "tcp",
                                                        "--framing", "mbap", "--any"]),
        ("e", "minimal Winsock responder (Wine)", [args.wine, responder]),
    ]
    # Every server runs for the whole benchmark; the runs take turns in
    # rounds, so that a change in the machine's load touches them all alike.
    running = {}
    ports = {}
    for key, name, command in servers:
        port += 1
        ports[key] = port
        running[key] = start_server(command + ([str(port)] if key == "e" else ["--port", str(port)]))
    time.sleep(0.5)
    client_base = ["client", "--transport", "tcp", "--framing", "mbap", "--port", str(ports["b"]), "--unit", "1",
                   "--function", "3", "--address", "0", "--quantity", "125", "--quiet",
                   "--duration-ms", str(int(args.seconds * 1000))]
    clients = [("f", "our native engine_host client", [engine] + client_base),
               ("g", "our Windows engine_host client (Wine)", [args.wine, engine_exe] + client_base)]
    names = {key: name for key, name, _ in servers + clients}
    names["h"] = "libmodbus client"
    samples = {key: [] for key in names}
    failed = {}
    for _ in range(args.rounds):
        for key, _, _ in servers:
            rate, raw = libmodbus_bench(ports[key])
            samples[key].append(rate) if rate else failed.setdefault(key, raw)
        for key, _, command in clients:
            out = subprocess.run(command, capture_output=True, text=True, timeout=args.seconds + 120).stdout
            rate, raw = rate_of(out)
            samples[key].append(rate) if rate else failed.setdefault(key, raw)
        rate, raw = libmodbus_bench(ports["b"])
        samples["h"].append(rate) if rate else failed.setdefault("h", raw)
    for process in running.values():
        stop_server(process)
    for key in names:
        values = sorted(samples[key])
        median = values[len(values) // 2] if values and key not in failed else None
        results[key] = (names[key], median, failed.get(key, ""))

    print(f"\nLoopback, 125 holding registers per request; median of {args.rounds} rounds of {args.seconds:g} s\n")
    print("Server throughput (libmodbus client against each server), requests/s")
    for key in "abcde":
        name, rate, raw = results[key]
        print(f"  ({key}) {name:42s} {rate if rate is not None else 'FAILED: ' + raw}")
    print("Client throughput (against the libmodbus server), transactions/s")
    for key in "fgh":
        name, rate, raw = results[key]
        print(f"  ({key}) {name:42s} {rate if rate is not None else 'FAILED: ' + raw}")

    def ratio(x, y, target=None):
        rx, ry = results[x][1], results[y][1]
        if not rx or not ry:
            return "n/a"
        text = f"{rx / ry:.2f}"
        if target is not None:
            text += f"  (target >= {target}: {'met' if rx / ry >= target else 'MISSED'})"
        return text

    print("Ratios")
    print(f"  a/b  our native server / libmodbus server        {ratio('a', 'b', 1.0)}")
    print(f"  d/e  our Windows server / Winsock responder      {ratio('d', 'e', 0.9)}")
    print(f"  f/h  our native client / libmodbus client        {ratio('f', 'h')}")
    print(f"  g/h  our Windows client / libmodbus client       {ratio('g', 'h')}")


if __name__ == "__main__":
    main()
