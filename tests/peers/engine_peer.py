"""What the serial peer scripts share around engine_host (our side, run
under Wine on the other end of a pty pair): their command line, the checks
they print and count, and the end of an engine_host server.

  SCRIPT our-client|our-server --device PTY --framer F --engine CMD... [more] -- ENGINE-OPTIONS...

Each check prints "PASS name" or "FAIL name: why"; the exit status is the
number of failed checks."""
import argparse
import shlex
import subprocess
import sys

failures = 0


def check(name, ok, detail=""):
    global failures
    if ok:
        print(f"PASS {name}", flush=True)
    else:
        failures += 1
        print(f"FAIL {name}: {detail}", flush=True)


def words(values):
    return b"".join(v.to_bytes(2, "big") for v in values)


def end_server(server):
    """Closes the input of engine_host's server, which ends it; returns its
    output (the dumps). One that does not end within 30 s is killed."""
    try:
        out, _ = server.communicate(input="", timeout=30)
    except subprocess.TimeoutExpired:
        server.kill()
        out, _ = server.communicate()
    return out


def run_role(our_client, our_server, framers, options=()):
    """Parses the command line (options: more (flag, help) pairs before
    "--"), runs our_client or our_server with (args, engine command,
    engine_host options) and returns the exit status."""
    parser = argparse.ArgumentParser()
    parser.add_argument("role", choices=["our-client", "our-server"])
    parser.add_argument("--device", required=True)
    parser.add_argument("--framer", choices=framers, required=True)
    parser.add_argument("--engine", required=True, help="command that runs engine_host")
    for flag, text in options:
        parser.add_argument(flag, help=text)
    argv = sys.argv[1:]
    split = argv.index("--") if "--" in argv else len(argv)
    args = parser.parse_args(argv[:split])
    engine = shlex.split(args.engine)
    engine_options = argv[split + 1:]
    if args.role == "our-client":
        our_client(args, engine, engine_options)
    else:
        our_server(args, engine, engine_options)
    return min(failures, 100)
