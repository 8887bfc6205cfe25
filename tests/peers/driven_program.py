"""The driver's side of a test program under Wine that asks for its peers'
moves: the program prints "DRIVER <request>" and waits for one line on its
input, "ok" or "fail <why>" (some programs take more after the "ok"). Every
line it prints is echoed, so that CTest keeps the program's own output."""
import subprocess


def attempt(call, what):
    """what(call()), or the text of the error the call raised: a failed
    call is a failed check, not the end of the run."""
    try:
        return what(call())
    except Exception as error:  # a failed call is a failed check
        return repr(error)


def verdict(failures):
    """The answer to a request whose checks gave these failures."""
    return "ok" if not failures else "fail " + "; ".join(failures)[:400]


def drive(command, environment, answer):
    """Runs command (environment None: this one) and answers each
    "DRIVER <request>" line it prints with the line answer(request).
    Returns the program's exit status."""
    program = subprocess.Popen(command, stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True, errors="replace",
                               env=environment)
    for line in program.stdout:
        line = line.rstrip("\n")
        print(line, flush=True)
        if line.startswith("DRIVER "):
            program.stdin.write(answer(line[len("DRIVER "):]) + "\n")
            program.stdin.flush()
    return program.wait()
