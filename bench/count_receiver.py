#!/usr/bin/env python3
"""A printer's raw port on loopback that counts whole jobs.

Accepts connections one after another, reads each to its end and counts it
whole when it has exactly --size bytes; jobs with the same bytes count once
in "distinct". Stops after --count whole jobs and then --linger seconds
without a connection (so a copy too many is still seen), or after --idle
seconds without a connection, and writes one line to --out:
"whole W other O distinct D seconds S" (S from the first connection's start
to the last one's end). Writes --out.ready once it listens. With --times,
also writes each connection's accept and end (seconds from the first
accept), one line each, to see where a sender's time goes.
"""
import argparse
import hashlib
import socket
import time


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--port", type=int, default=9100)
    p.add_argument("--size", type=int, required=True)
    p.add_argument("--count", type=int, required=True)
    p.add_argument("--idle", type=float, default=60)
    p.add_argument("--linger", type=float, default=0)
    p.add_argument("--out", required=True)
    p.add_argument("--times")
    a = p.parse_args()
    ls = socket.socket()
    ls.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    ls.bind(("127.0.0.1", a.port))
    ls.listen(64)
    ls.settimeout(a.idle)
    open(a.out + ".ready", "w").close()
    whole = other = 0
    seen = set()
    first = last = None
    times = []
    while True:
        if whole >= a.count:
            if a.linger <= 0:
                break
            ls.settimeout(a.linger)
        try:
            conn, _ = ls.accept()
        except socket.timeout:
            break
        accepted = time.monotonic()
        if first is None:
            first = accepted
        got = 0
        digest = hashlib.sha1()
        conn.settimeout(a.idle)
        with conn:
            while True:
                try:
                    data = conn.recv(1 << 16)
                except OSError:
                    break
                if not data:
                    break
                got += len(data)
                digest.update(data)
        last = time.monotonic()
        times.append((accepted - first, last - first))
        if got == a.size:
            whole += 1
            seen.add(digest.hexdigest())
        else:
            other += 1
    seconds = (last - first) if first is not None else 0.0
    if a.times:
        with open(a.times, "w") as out:
            for accepted, ended in times:
                out.write("%.6f %.6f\n" % (accepted, ended))
    with open(a.out, "w") as out:
        out.write("whole %d other %d distinct %d seconds %.3f\n"
                  % (whole, other, len(seen), seconds))


if __name__ == "__main__":
    main()
