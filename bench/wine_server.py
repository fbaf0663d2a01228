"""What the benchmarks share to run a program of the win32 build under Wine and stop it."""
import os
import signal
import socket
import subprocess

ENV = dict(os.environ, WINEDLLOVERRIDES="mscoree=;mshtml=;winemenubuilder.exe=d")


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def start(exe, *args):
    """Silent, in a process group of its own, which the server's workers join."""
    return subprocess.Popen(["wine", exe, *args], env=ENV, stdin=subprocess.DEVNULL,
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                            start_new_session=True)


def stop(proc):
    """Ctrl+C to the whole group, as a player stops the server; killed after 20 s."""
    try:
        os.killpg(proc.pid, signal.SIGINT)
        proc.wait(timeout=20)
    except subprocess.TimeoutExpired:
        os.killpg(proc.pid, signal.SIGKILL)
        proc.wait()
    except ProcessLookupError:
        pass
