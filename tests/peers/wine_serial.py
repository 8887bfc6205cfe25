"""A serial line between a Wine program and a peer on this side: a socat
pseudo-terminal pair whose one end becomes COMn in the Wine prefix.

The drivers import it from tests/peers (they put that folder on sys.path
from their own location)."""
import os
import random
import subprocess
import time

HERE = os.path.dirname(os.path.abspath(__file__))


def claim_com(first=40, last=99):
    """A COM port name no other run in this prefix uses: its link is made
    here at once (pointing nowhere until serial_line links it), so that a
    run started at the same time cannot take the same number."""
    for n in random.sample(range(first, last + 1), last - first + 1):
        link = com_link(f"COM{n}")
        os.makedirs(os.path.dirname(link), exist_ok=True)
        try:
            os.symlink(f"/nonexistent/velmora-claim-{os.getpid()}", link)
            return f"COM{n}"
        except FileExistsError:
            continue
    raise RuntimeError("no free COM number")


def com_link(com):
    prefix = os.environ.get("WINEPREFIX", os.path.join(HERE, "..", "..", "build", "wineprefix"))
    return os.path.join(prefix, "dosdevices", com.lower())


def pty_pair(work, prefix=""):
    """Starts socat with both ends under `work` (named `prefix`wine and
    `prefix`peer) and waits until they exist. Returns (socat, wine end,
    peer end)."""
    wine_end, peer_end = os.path.join(work, prefix + "wine"), os.path.join(work, prefix + "peer")
    socat = subprocess.Popen(["socat", f"pty,raw,echo=0,link={wine_end}", f"pty,raw,echo=0,link={peer_end}"],
                             stderr=subprocess.DEVNULL)
    for _ in range(50):
        if os.path.exists(wine_end) and os.path.exists(peer_end):
            break
        time.sleep(0.1)
    return socat, wine_end, peer_end


def serial_line(com, work):
    """Starts socat with both ends under `work` and links COMn of the prefix
    to the Wine end. Returns (socat, link, peer end)."""
    socat, wine_end, peer_end = pty_pair(work)
    # Said in every such test's output: the plug-ins run their default
    # 8-E-1 (7-E-1 for ASCII) while the peer on this side opens 8-N-1, and
    # they meet only because a Wine pty carries no parity bits (nor baud
    # timing). The line settings are proven on the simulated line
    # (serial_port_test), not here.
    print(f"LINE {com}: Wine pty, no parity or baud timing applied; the peer runs 8-N-1 whatever the "
          "Windows side sets (8-E-1 by default); serial_port_test proves the line settings", flush=True)
    return socat, link_com(com, wine_end), peer_end


def link_com(com, device):
    """Makes COMn of the prefix open device; returns the link."""
    link = com_link(com)
    os.makedirs(os.path.dirname(link), exist_ok=True)
    if os.path.lexists(link):
        os.remove(link)
    os.symlink(device, link)
    return link


def close_serial_line(socat, link):
    """Stops socat and removes the COMn link; either may be None."""
    if socat:
        socat.kill()
        socat.wait()
    if link and os.path.lexists(link):
        os.remove(link)
