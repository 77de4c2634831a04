#!/usr/bin/env python3
"""A network printer on loopback for bench/kill_test.sh.

serve: accepts connections on HOST:PORT, reads each at a limited rate (so a
copy takes long enough to be cut by a kill) and appends one JSON line per
connection to LOG: when it opened and ended, its length, a digest of its
bytes, its first line, and how it ended ("close" for an orderly end, "reset"
for a reset, "timeout"). Runs until the file STOP exists or --lifetime ends.

report: holds the log against the jobs and the kills:
  - every job arrived whole at least its number of copies;
  - no job arrived whole more often than its copies plus the kills that hit
    it (the killed run's last connection carried it);
  - no job is lost (and the store is empty, checked by the caller);
  - every incomplete connection ended in a reset.
"""
import argparse
import hashlib
import json
import os
import socket
import sys
import threading
import time


def serve_one(conn, log, lock, rate):
    opened = time.time()
    h = hashlib.sha256()
    n = 0
    first = b""
    how = "close"
    conn.settimeout(60)
    with conn:
        while True:
            t = time.monotonic()
            try:
                data = conn.recv(1 << 15)
            except ConnectionResetError:
                how = "reset"
                break
            except socket.timeout:
                how = "timeout"
                break
            except OSError:
                how = "reset"
                break
            if not data:
                break
            if len(first) < 64:
                first += data[: 64 - len(first)]
            h.update(data)
            n += len(data)
            # Limit the rate: the time this chunk takes at `rate` bytes/s.
            wait = len(data) / rate - (time.monotonic() - t)
            if wait > 0:
                time.sleep(wait)
    rec = {"opened": opened, "ended": time.time(), "bytes": n, "sha256": h.hexdigest(),
           "head": first.split(b"\n")[0].decode("latin-1"), "end": how}
    with lock:
        with open(log, "a") as f:
            f.write(json.dumps(rec) + "\n")


def serve(args):
    srv = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    srv.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    # A small window: the sender cannot run far ahead of what was read.
    srv.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 64 * 1024)
    srv.bind((args.host, args.port))
    srv.listen(16)
    srv.settimeout(0.2)
    open(args.log, "a").close()
    open(args.log + ".ready", "w").close()
    lock = threading.Lock()
    threads = []
    deadline = time.monotonic() + args.lifetime
    while time.monotonic() < deadline and not os.path.exists(args.stop):
        try:
            conn, _ = srv.accept()
        except socket.timeout:
            continue
        t = threading.Thread(target=serve_one, args=(conn, args.log, lock, args.rate),
                             daemon=True)
        t.start()
        threads.append(t)
    # Every connection still being read is logged before the end (bounded).
    end = time.monotonic() + 60
    for t in threads:
        t.join(max(0.0, end - time.monotonic()))
    return 0


def report(args):
    jobs = {}  # head line -> (sha256, size, copies)
    for entry in args.job:
        path, copies = entry.rsplit(":", 1)
        data = open(path, "rb").read()
        jobs[data.split(b"\n")[0].decode("latin-1")] = (
            hashlib.sha256(data).hexdigest(), len(data), int(copies))
    conns = [json.loads(line) for line in open(args.log) if line.strip()]
    # Lines "start T" (Start pressed in a new run) and "kill T".
    events = [line.split() for line in open(args.kills) if line.strip()]
    starts = sorted(float(t) for what, t in events if what == "start")
    kills = sorted(float(t) for what, t in events if what == "kill")

    whole = {k: 0 for k in jobs}
    hits = {k: 0 for k in jobs}
    partial = []
    for c in conns:
        job = jobs.get(c["head"])
        if job and c["sha256"] == job[0] and c["bytes"] == job[1] and c["end"] == "close":
            whole[c["head"]] += 1
        else:
            partial.append(c)
    # A kill hits the job whose copy the killed run opened last: that copy
    # was on its way, or sent but maybe not yet stored as sent.
    for k in kills:
        run = max((t for t in starts if t <= k), default=None)
        if run is None:
            continue
        mine = [c for c in conns if run <= c["opened"] <= k and c["head"] in jobs]
        if mine:
            hits[max(mine, key=lambda c: c["opened"])["head"]] += 1

    ok = True
    print("kills: %d, connections: %d, incomplete: %d" % (len(kills), len(conns), len(partial)))
    for head, (_, size, copies) in sorted(jobs.items()):
        print("  %-24s %8d bytes  copies %d  arrived whole %d  kills that hit it %d"
              % (head, size, copies, whole[head], hits[head]))
    short = [h for h in jobs if whole[h] < jobs[h][2]]
    over = [h for h in jobs if whole[h] > jobs[h][2] + hits[h]]
    lost = [h for h in jobs if whole[h] == 0]
    unreset = [c for c in partial if c["end"] != "reset"]
    checks = [
        ("every job arrived whole at least its copies", not short, short),
        ("no job arrived more than its copies plus the kills that hit it", not over, over),
        ("no job is lost", not lost, lost),
        ("every incomplete connection ended in a reset", not unreset,
         ["%s: %d bytes, %s" % (c["head"], c["bytes"], c["end"]) for c in unreset]),
    ]
    for name, good, detail in checks:
        print("%s: %s%s" % ("PASS" if good else "FAIL", name,
                            "" if good else " (%s)" % ", ".join(map(str, detail[:8]))))
        ok = ok and good
    return 0 if ok else 1


def main():
    ap = argparse.ArgumentParser()
    sub = ap.add_subparsers(dest="cmd", required=True)
    s = sub.add_parser("serve")
    s.add_argument("--host", default="127.0.0.1")
    s.add_argument("--port", type=int, default=9100)
    s.add_argument("--log", required=True)
    s.add_argument("--stop", required=True)
    s.add_argument("--rate", type=float, default=4e6)
    s.add_argument("--lifetime", type=float, default=1800)
    r = sub.add_parser("report")
    r.add_argument("--log", required=True)
    r.add_argument("--kills", required=True)
    r.add_argument("--job", action="append", default=[], help="PATH:COPIES")
    args = ap.parse_args()
    return serve(args) if args.cmd == "serve" else report(args)


if __name__ == "__main__":
    sys.exit(main())
