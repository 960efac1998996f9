#!/usr/bin/env python3
"""How a valdrin-server binary's HTTP edge meets hostile and busy clients, in figures.

    edge_figures.py PATH/TO/valdrin-server MP3_FILE

Starts the binary on a free loopback port for each figure and stops it by its PID:
  - the rise of its peak resident memory while a gzip-encoded upload streams in (one
    whole part, a delimiter, then 300 MiB of junk once decoded, chunked without end);
  - how many of 20 health checks are answered 200 while 64 silent connections are open;
  - the status and time of an upload of MP3_FILE beside 32 clients that send their
    request heads a byte every 2 s;
  - the time from the first SIGINT to its exit with 64 silent connections open.
Run it on two binaries one after the other to compare them.
"""
import os
import re
import signal
import socket
import subprocess
import sys
import threading
import time
import zlib


def start(exe):
    server = subprocess.Popen([exe, "--host", "127.0.0.1", "--port", "0"], stderr=subprocess.PIPE, text=True)
    for line in server.stderr:
        found = re.search(r"listening on http://127\.0\.0\.1:(\d+)", line)
        if found:
            threading.Thread(target=lambda: server.stderr.read(), daemon=True).start()
            return server, int(found.group(1))
    raise RuntimeError("the server did not start")


def peak_kib(pid):
    with open(f"/proc/{pid}/status") as status:
        return int(re.search(r"VmHWM:\s+(\d+)", status.read()).group(1))


def answer(sock, timeout=30):
    sock.settimeout(timeout)
    data = b""
    try:
        while True:
            got = sock.recv(65536)
            if not got:
                break
            data += got
    except OSError:
        pass
    return data


def status_of(data):
    found = re.match(rb"HTTP/1\.1 (\d+)", data)
    return int(found.group(1)) if found else None


def gzip_junk(port, pid):
    head = (b"POST /inference HTTP/1.1\r\nHost: h\r\nContent-Type: multipart/form-data; boundary=XyZ\r\n"
            b"Content-Encoding: gzip\r\nTransfer-Encoding: chunked\r\n\r\n")
    compressor = zlib.compressobj(9, zlib.DEFLATED, 31)
    body = compressor.compress(b"--XyZ\r\nContent-Disposition: form-data; name=\"file\"\r\n\r\nabc\r\n--XyZ")
    junk = b"j" * (1 << 20)
    before = peak_kib(pid)
    sock = socket.create_connection(("127.0.0.1", port))
    sock.settimeout(30)
    try:
        sock.sendall(head)
        for mebibyte in range(300):
            piece = body + compressor.compress(junk) + compressor.flush(zlib.Z_SYNC_FLUSH)
            body = b""
            sock.sendall(b"%x\r\n" % len(piece) + piece + b"\r\n")
    except OSError:
        pass
    status = status_of(answer(sock, 20))
    sock.close()
    time.sleep(0.5)
    return status, (peak_kib(pid) - before) / 1024


def silent(port, count):
    return [socket.create_connection(("127.0.0.1", port)) for _ in range(count)]


def health_under_load(port):
    held = silent(port, 64)
    time.sleep(0.3)
    answered = 0
    for _ in range(20):
        sock = socket.create_connection(("127.0.0.1", port))
        sock.sendall(b"GET /health HTTP/1.1\r\nHost: h\r\n\r\n")
        answered += status_of(answer(sock, 5)) == 200
        sock.close()
    for sock in held:
        sock.close()
    return answered


def upload_beside_slow_clients(port, mp3):
    def dribble():
        sock = socket.create_connection(("127.0.0.1", port))
        try:
            for byte in b"GET /health HTTP/1.1\r\nHost: h\r\n\r\n":
                sock.sendall(bytes([byte]))
                time.sleep(2)
        except OSError:
            pass
        sock.close()
    for _ in range(32):
        threading.Thread(target=dribble, daemon=True).start()
    time.sleep(1)
    body = (b"--XyZ\r\nContent-Disposition: form-data; name=\"file\"; filename=\"a.mp3\"\r\n\r\n" + mp3 +
            b"\r\n--XyZ\r\nContent-Disposition: form-data; name=\"language\"\r\n\r\nen\r\n--XyZ--\r\n")
    started = time.monotonic()
    sock = socket.create_connection(("127.0.0.1", port))
    sock.sendall(b"POST /inference HTTP/1.1\r\nHost: h\r\nContent-Type: multipart/form-data; boundary=XyZ\r\n"
                 b"Content-Length: %d\r\n\r\n" % len(body) + body)
    status = status_of(answer(sock, 30))
    sock.close()
    return status, time.monotonic() - started


def stop_with_silent_connections(server, port):
    held = silent(port, 64)
    time.sleep(0.3)
    started = time.monotonic()
    server.send_signal(signal.SIGINT)
    server.wait(60)
    for sock in held:
        sock.close()
    return time.monotonic() - started


def main():
    exe, mp3_path = sys.argv[1], sys.argv[2]
    with open(mp3_path, "rb") as mp3_file:
        mp3 = mp3_file.read()
    figures = []
    for name, run in [("gzip junk: status, peak memory rise (MiB)", lambda s, p: gzip_junk(p, s.pid)),
                      ("health checks answered 200 of 20 beside 64 silent connections",
                       lambda s, p: health_under_load(p)),
                      ("upload beside 32 slow clients: status, seconds", lambda s, p: upload_beside_slow_clients(p, mp3)),
                      ("first stop with 64 silent connections: seconds", stop_with_silent_connections)]:
        server, port = start(exe)
        try:
            figures.append((name, run(server, port)))
        finally:
            if server.poll() is None:
                server.kill()
                server.wait()
    for name, value in figures:
        print(f"{name}: {value}")


if __name__ == "__main__":
    main()
