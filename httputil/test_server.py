#!/usr/bin/env python3
"""Loopback HTTP(S) server for the fetch tests and the benchmark.

Listens on 127.0.0.1 on a port the system picks, and on a second, plain control port; writes "PORT
CONTROL" into --port-file. It serves until the first connection to the control port closes (the process
that started the server holds it open for as long as it needs the server, and a process that ends closes
it), GET /quit arrives, or --lifetime seconds have passed; without a control connection within
--hold-within seconds it stops as well. With --tls it serves over TLS with a self-signed certificate made
by the openssl command.

Routes:
  /text              a short text with a few Windows-1252 letters above 0x7F
  /empty             200 with no body
  /missing           404 with an error page as its body
  /bytes             every byte value, zero bytes among them, past one 2048-byte read
  /sized?n=N         N bytes of a fixed pattern: byte i is (i * 7 + i // 251) % 256
  /headers           the request line and headers as the server received them
  /cacheable         a cacheable page; /hits tells how often it was requested
  /tls-hellos        how many connections opened with a TLS handshake (on a plain server)
"""

import argparse
import http.server
import os
import shutil
import socket
import ssl
import subprocess
import tempfile
import threading
import time
import urllib.parse

TEXT = "Hello from the loopback server: caf\u00e9 \u20ac \u00ff\r\n".encode("cp1252")
BYTES = bytes(range(256)) * 9 + bytes(100)
MISSING_PAGE = b"<html><body><h1>404 Not Found</h1>No such page here.</body></html>\r\n"


def pattern(start, length):
    return bytes((i * 7 + i // 251) % 256 for i in range(start, start + length))


# The pattern repeats every 251 * 256 bytes; one period serves every body length.
PERIOD = 251 * 256
PERIOD_BYTES = pattern(0, PERIOD)


class Counters:
    def __init__(self):
        self.lock = threading.Lock()
        self.hits = 0
        self.tls_hellos = 0


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.0"

    def log_message(self, format, *args):
        pass

    def setup(self):
        if self.server.tls:
            self.request.do_handshake()  # here, on the connection's own thread, not in the accept loop
        super().setup()
        if not self.server.tls:
            try:
                first = self.connection.recv(1, socket.MSG_PEEK)
            except OSError:
                first = b""
            if first == b"\x16":
                with self.server.counters.lock:
                    self.server.counters.tls_hellos += 1

    def reply(self, status, body, content_type="text/plain", extra=()):
        self.send_response(status)
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(body)))
        for name, value in extra:
            self.send_header(name, value)
        self.end_headers()
        self.wfile.write(body)

    def fresh(self, text):
        self.reply(200, text.encode("ascii"), extra=[("Cache-Control", "no-store")])

    def send_sized(self, length):
        self.send_response(200)
        self.send_header("Content-Type", "application/octet-stream")
        self.send_header("Content-Length", str(length))
        self.send_header("Cache-Control", "no-store")
        self.end_headers()
        sent = 0
        while sent < length:
            offset = sent % PERIOD
            piece = PERIOD_BYTES[offset : offset + min(PERIOD - offset, length - sent)]
            self.wfile.write(piece)
            sent += len(piece)

    def do_GET(self):
        url = urllib.parse.urlsplit(self.path)
        query = urllib.parse.parse_qs(url.query)
        path = url.path
        counters = self.server.counters
        if path == "/text":
            self.reply(200, TEXT)
        elif path == "/empty":
            self.reply(200, b"")
        elif path == "/missing":
            self.reply(404, MISSING_PAGE, "text/html")
        elif path == "/bytes":
            self.reply(200, BYTES, "application/octet-stream")
        elif path == "/sized":
            self.send_sized(int(query["n"][0]))
        elif path == "/headers":
            self.reply(200, (self.requestline + "\r\n" + str(self.headers)).encode("latin-1"),
                       extra=[("Cache-Control", "no-store")])
        elif path == "/cacheable":
            with counters.lock:
                counters.hits += 1
            self.reply(200, b"cacheable page", extra=[
                ("Cache-Control", "max-age=3600"),
                ("Last-Modified", "Mon, 01 Jan 2024 00:00:00 GMT"),
                ("Expires", "Thu, 01 Jan 2099 00:00:00 GMT")])
        elif path == "/hits":
            self.fresh(str(counters.hits))
        elif path == "/tls-hellos":
            self.fresh(str(counters.tls_hellos))
        elif path == "/quit":
            self.fresh("bye")
            threading.Thread(target=self.server.shutdown, daemon=True).start()
        else:
            self.reply(404, b"unknown route")


class Server(http.server.ThreadingHTTPServer):
    daemon_threads = True

    def handle_error(self, request, client_address):
        pass  # a TLS hello on the plain server or a client that went away mid-body


def make_certificate(folder):
    cert, key = os.path.join(folder, "cert.pem"), os.path.join(folder, "key.pem")
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "1",
                    "-subj", "/CN=127.0.0.1", "-keyout", key, "-out", cert],
                   check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return cert, key


def hold(server, control, seconds):
    control.settimeout(seconds)
    try:
        connection, _ = control.accept()
        connection.settimeout(None)
        while connection.recv(4096):
            pass
    except OSError:
        pass
    server.shutdown()


def write_ports(path, port, control_port):
    # Written whole before the name appears: a reader never sees half a line.
    with open(path + ".tmp", "w") as f:
        f.write(f"{port} {control_port}\n")
    os.replace(path + ".tmp", path)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--tls", action="store_true")
    parser.add_argument("--port-file", required=True)
    parser.add_argument("--lifetime", type=float, default=600)
    parser.add_argument("--hold-within", type=float, default=60)
    args = parser.parse_args()

    server = Server(("127.0.0.1", 0), Handler)
    server.counters = Counters()
    server.tls = args.tls
    control = socket.create_server(("127.0.0.1", 0))
    folder = tempfile.mkdtemp(prefix="hv-test-server-")
    try:
        if args.tls:
            context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
            context.load_cert_chain(*make_certificate(folder))
            server.socket = context.wrap_socket(server.socket, server_side=True, do_handshake_on_connect=False)
        threading.Thread(target=hold, args=(server, control, args.hold_within), daemon=True).start()
        timer = threading.Timer(args.lifetime, server.shutdown)
        timer.daemon = True
        timer.start()
        write_ports(args.port_file, server.server_address[1], control.getsockname()[1])
        server.serve_forever(poll_interval=0.2)
    finally:
        server.server_close()
        control.close()
        shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    main()
