#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Hostile clients of the recorder's web page on 127.0.0.1, for a bounded time.

Usage: hostile_clients.py PORT TAKE SECONDS

At once, until SECONDS have passed:
  - a POST with no Content-Length whose body never ends, sent as fast as the
    server takes it, again whenever the server closes it;
  - ten event streams asked for as /api/%65vents, held open and never read;
  - a hundred connections from 127.0.0.2 to 127.0.0.5, each asking for the
    take TAKE and never reading, opened anew every 8 s;
  - wrong passwords in a loop from 127.0.0.6 (401, then 429).
Only loopback addresses are used. Prints what each attack saw on exit.
"""
import socket
import sys
import threading
import time

port = int(sys.argv[1])
take = sys.argv[2]
until = time.monotonic() + float(sys.argv[3])
HOST = b"Host: 127.0.0.1\r\n"
seen = {"post_sent_kb": 0, "post_connections": 0, "events_answered": 0, "slow_opened": 0, "auth_requests": 0}
lock = threading.Lock()


def note(key, n=1):
    with lock:
        seen[key] += n


def connect(source=None, rcvbuf=0, timeout=2.0):
    s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    if rcvbuf:
        s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, rcvbuf)
    if source:
        s.bind((source, 0))
    s.settimeout(timeout)
    s.connect(("127.0.0.1", port))
    return s


def endless_post():
    chunk = b"x" * 65536
    while time.monotonic() < until:
        sent = 0
        try:
            s = connect()
            note("post_connections")
            s.sendall(b"POST /api/takes HTTP/1.1\r\n" + HOST + b"\r\n")
            while time.monotonic() < until:
                sent += s.send(chunk)
            s.close()
        except OSError:
            time.sleep(0.05)
        note("post_sent_kb", sent // 1024)


def event_streams():
    held = []
    for _ in range(10):
        try:
            s = connect()
            s.sendall(b"GET /api/%65vents HTTP/1.1\r\n" + HOST + b"\r\n")
            if s.recv(12).startswith(b"HTTP/1.1 200"):
                note("events_answered")
            held.append(s)
        except OSError:
            pass
    while time.monotonic() < until:
        time.sleep(0.2)
    for s in held:
        s.close()


def slow_readers():
    request = ("GET /takes/%s HTTP/1.1\r\n" % take).encode() + HOST + b"\r\n"
    held = []
    while time.monotonic() < until:
        for s in held:
            s.close()
        held = []
        for i in range(100):
            try:
                s = connect("127.0.0.%d" % (2 + i % 4), rcvbuf=4096)
                s.sendall(request)
                held.append(s)
                note("slow_opened")
            except OSError:
                pass
        end = min(until, time.monotonic() + 8)
        while time.monotonic() < end:
            time.sleep(0.2)
    for s in held:
        s.close()


def wrong_passwords():
    request = ("DELETE /takes/%s HTTP/1.1\r\n" % take).encode() + HOST + b"Authorization: Basic eDp3cm9uZw==\r\n\r\n"
    while time.monotonic() < until:
        try:
            s = connect("127.0.0.6")
            s.sendall(request)
            s.recv(4096)
            s.close()
            note("auth_requests")
        except OSError:
            pass
        time.sleep(0.01)


threads = [threading.Thread(target=f) for f in (endless_post, event_streams, slow_readers, wrong_passwords)]
for t in threads:
    t.start()
for t in threads:
    t.join()
print(" ".join("%s=%d" % kv for kv in sorted(seen.items())))
