#!/usr/bin/env python3
"""A printer's raw port on loopback: every connection's bytes go to one file.

Each connection is written to DIR/job-NNNN.part and renamed to
DIR/job-NNNN.bin when the sender closes, so a reader never sees half a job.
Runs until killed, or for --lifetime seconds.
"""
import argparse
import os
import socket
import threading
import time


def serve(conn, path):
    part = path + ".part"
    with conn, open(part, "wb") as out:
        conn.settimeout(120)
        while True:
            try:
                data = conn.recv(1 << 16)
            except OSError:
                break
            if not data:
                break
            out.write(data)
    os.replace(part, path)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--port", type=int, required=True)
    ap.add_argument("--dir", required=True)
    ap.add_argument("--host", default="127.0.0.1")
    ap.add_argument("--lifetime", type=float, default=6 * 3600)
    args = ap.parse_args()
    os.makedirs(args.dir, exist_ok=True)

    srv = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    srv.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    srv.bind((args.host, args.port))
    srv.listen(16)
    # Tell whoever started us that the port is ours.
    open(os.path.join(args.dir, ".ready"), "w").close()
    srv.settimeout(1.0)
    deadline = time.monotonic() + args.lifetime
    n = 0
    while time.monotonic() < deadline:
        try:
            conn, _ = srv.accept()
        except socket.timeout:
            continue
        n += 1
        path = os.path.join(args.dir, "job-%04d.bin" % n)
        threading.Thread(target=serve, args=(conn, path), daemon=True).start()


if __name__ == "__main__":
    main()
