#!/usr/bin/env python3
"""Runs one VBScript test under Wine's cscript in the test bench and judges it.

usage: run_cscript.py --script FILE.vbs [--server SERVER.py] -- LAUNCHER... -- [SCRIPT ARGUMENTS...]

LAUNCHER runs one Windows program in the bench under a time-out (tools/winebench --bench DIR run).
Wine's cscript exits 0 even when the script stops on an error, so the test passes only when cscript
exits 0 and the last line the script printed is the marker "ALL CHECKS PASSED".

With --server, the loopback HTTP server (httputil/test_server.py) runs for the length of the script:
it writes its ports into a file, and serves while this driver holds its control connection open.
"{port}" in the script arguments becomes the server's port.
"""

import os
import socket
import subprocess
import sys
import tempfile
import time

MARKER = "ALL CHECKS PASSED"
SERVER_START_SECONDS = 60
SCRIPT_SECONDS = 600


def windows_path(path):
    # Wine maps the Unix root to drive Z:.
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def split_arguments(argv):
    if "--" not in argv:
        sys.exit(__doc__)
    first = argv.index("--")
    options, rest = argv[:first], argv[first + 1 :]
    if "--" in rest:
        second = rest.index("--")
        launcher, script_args = rest[:second], rest[second + 1 :]
    else:
        launcher, script_args = rest, []
    script = server = None
    i = 0
    while i < len(options):
        if options[i] == "--script" and i + 1 < len(options):
            script = options[i + 1]
        elif options[i] == "--server" and i + 1 < len(options):
            server = options[i + 1]
        else:
            sys.exit(__doc__)
        i += 2
    if not script or not launcher:
        sys.exit(__doc__)
    return script, server, launcher, script_args


class LoopbackServer:
    """The test server, kept alive by an open control connection."""

    def __init__(self, script):
        self.folder = tempfile.mkdtemp(prefix="hv-cscript-")
        port_file = os.path.join(self.folder, "ports")
        self.process = subprocess.Popen(
            [sys.executable, "-u", script, "--port-file", port_file],
            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        deadline = time.monotonic() + SERVER_START_SECONDS
        while not os.path.exists(port_file):
            if self.process.poll() is not None or time.monotonic() > deadline:
                self.close()
                raise RuntimeError("the loopback server did not start")
            time.sleep(0.05)
        with open(port_file) as f:
            self.port, control_port = (int(word) for word in f.read().split())
        self.control = socket.create_connection(("127.0.0.1", control_port))

    def close(self):
        if getattr(self, "control", None):
            self.control.close()
        try:
            self.process.wait(timeout=30)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
        for name in os.listdir(self.folder):
            os.remove(os.path.join(self.folder, name))
        os.rmdir(self.folder)


def main(argv):
    script, server_script, launcher, script_args = split_arguments(argv)
    server = LoopbackServer(server_script) if server_script else None
    try:
        if server:
            script_args = [a.replace("{port}", str(server.port)) for a in script_args]
        command = launcher + ["cscript.exe", "//nologo", windows_path(script)] + script_args
        completed = subprocess.run(command, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                   stderr=subprocess.STDOUT, timeout=SCRIPT_SECONDS)
    finally:
        if server:
            server.close()

    output = completed.stdout.decode("utf-8", errors="replace")
    sys.stdout.write(output)
    lines = [line.strip() for line in output.splitlines() if line.strip()]
    if completed.returncode != 0:
        print(f"run_cscript: cscript exited with {completed.returncode}")
        return 1
    if not lines or lines[-1] != MARKER:
        print(f"run_cscript: the script did not end with the line {MARKER!r}")
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
