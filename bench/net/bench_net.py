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
    parser.add_argument("--seconds", type=float, default=5)
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
        ("a", "our native engine_host server", lambda p: [engine, "server", "--transport", "tcp", "--framing", "mbap",
                                                          "--port", str(p), "--any"]),
        ("b", "libmodbus server", lambda p: [os.path.join(peers, "peer_server"), "--port", str(p)]),
        ("c", "pymodbus server", lambda p: ["/usr/bin/python3", args.pymodbus, "--port", str(p)]),
        ("d", "our Windows engine_host server (Wine)", lambda p: [args.wine, engine_exe, "server", "--transport", "tcp",
                                                                  "--framing", "mbap", "--port", str(p), "--any"]),
        ("e", "minimal Winsock responder (Wine)", lambda p: [args.wine, responder, str(p)]),
    ]
    for key, name, command in servers:
        port += 1
        server = start_server(command(port))
        time.sleep(0.3)
        results[key] = (name,) + libmodbus_bench(port)
        stop_server(server)

    port += 1
    server = start_server([os.path.join(peers, "peer_server"), "--port", str(port)])
    client_base = ["client", "--transport", "tcp", "--framing", "mbap", "--port", str(port), "--unit", "1",
                   "--function", "3", "--address", "0", "--quantity", "125", "--quiet",
                   "--duration-ms", str(int(args.seconds * 1000))]
    for key, name, command in (("f", "our native engine_host client", [engine] + client_base),
                               ("g", "our Windows engine_host client (Wine)", [args.wine, engine_exe] + client_base)):
        out = subprocess.run(command, capture_output=True, text=True, timeout=args.seconds + 120).stdout
        results[key] = (name,) + rate_of(out)
    results["h"] = ("libmodbus client",) + libmodbus_bench(port)
    stop_server(server)

    print(f"\nLoopback, 125 holding registers per request, {args.seconds:g} s per run\n")
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
