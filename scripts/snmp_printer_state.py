#!/usr/bin/env python3
"""A printer's state for the test SNMP agent (its pass_persist handler).

Answers the host resources objects of the printer (device 1 unless told)
from a state file that the tests rewrite at any time; the file is read
again for every request. The file holds words separated by commas, blanks
or new lines:
  idle, printing, warmup, other, unknown   hrPrinterStatus (default idle)
  running, warning, testing, down          hrDeviceStatus; without one, down
                                           when a critical bit is set
                                           (noPaper, jammed...), warning
                                           when another bit is, else running
  lowPaper, noPaper, ... overduePreventMaint
                                           bits of hrPrinterDetectedErrorState
  index2                                   the printer is device 2; device 1
                                           is another device, down
  noprinter                                no printer table; device 1 is
                                           another device, down
  pages=N                                  the printer's page counter
                                           (prtMarkerLifeCount of its first
                                           marker) is N; without it the
                                           printer has no counter
  unit=N                                   the counter's unit
                                           (prtMarkerCounterUnit), N as the
                                           MIB numbers them (7 impressions)
  absent                                   the agent has none of the objects
Usage: snmp_printer_state.py STATE_FILE [SUBTREE]
A GETNEXT answers only inside SUBTREE (the agent's registered one, default
.1.3.6.1.2.1.25.3), so one handler serves each registered subtree.
"""
import sys

DEVICE_STATUS = ".1.3.6.1.2.1.25.3.2.1.5."
PRINTER_STATUS = ".1.3.6.1.2.1.25.3.5.1.1."
ERROR_STATE = ".1.3.6.1.2.1.25.3.5.1.2."
MARKER_LIFE_COUNT = ".1.3.6.1.2.1.43.10.2.1.4."
MARKER_COUNTER_UNIT = ".1.3.6.1.2.1.43.10.2.1.3."

PRINTER_STATES = {"other": 1, "unknown": 2, "idle": 3, "printing": 4, "warmup": 5}
DEVICE_STATES = {"running": 2, "warning": 3, "testing": 4, "down": 5}
ERROR_BITS = ["lowPaper", "noPaper", "lowToner", "noToner", "doorOpen", "jammed",
              "offline", "serviceRequested", "inputTrayMissing", "outputTrayMissing",
              "markerSupplyMissing", "outputNearFull", "outputFull", "inputTrayEmpty",
              "overduePreventMaint"]
CRITICAL = {"noPaper", "noToner", "doorOpen", "jammed", "offline", "inputTrayMissing",
            "outputTrayMissing", "markerSupplyMissing", "outputFull"}


def key(oid):
    return [int(x) for x in oid.strip(".").split(".") if x]


def read_state(path):
    try:
        with open(path) as f:
            text = f.read()
    except OSError:
        text = ""
    return [w for w in text.replace(",", " ").split() if w]


def values(words):
    if "absent" in words:
        return {}
    printer = 3
    for w in words:
        if w in PRINTER_STATES:
            printer = PRINTER_STATES[w]
    bits = bytearray(2)
    for i, name in enumerate(ERROR_BITS):
        if name in words:
            bits[i // 8] |= 0x80 >> (i % 8)
    device = 2
    if any(w in CRITICAL for w in words):
        device = 5
    elif any(bits):
        device = 3
    for w in words:
        if w in DEVICE_STATES:
            device = DEVICE_STATES[w]
    index = "2" if "index2" in words else "1"
    known = {DEVICE_STATUS + index: ("integer", str(device))}
    if index != "1" or "noprinter" in words:
        known[DEVICE_STATUS + "1"] = ("integer", "5")
    if "noprinter" not in words:
        known[PRINTER_STATUS + index] = ("integer", str(printer))
        known[ERROR_STATE + index] = ("octet", " ".join("%02x" % b for b in bits))
        for w in words:
            if w.startswith("pages=") and w[6:].isdigit():
                known[MARKER_LIFE_COUNT + index + ".1"] = ("counter", str(int(w[6:]) % 2**32))
            if w.startswith("unit=") and w[5:].isdigit():
                known[MARKER_COUNTER_UNIT + index + ".1"] = ("integer", w[5:])
    return known


def answer(oid, value):
    sys.stdout.write("%s\n%s\n%s\n" % (oid, value[0], value[1]))


def main():
    path = sys.argv[1]
    subtree = key(sys.argv[2] if len(sys.argv) > 2 else ".1.3.6.1.2.1.25.3")
    for line in sys.stdin:
        command = line.strip()
        if command == "PING":
            sys.stdout.write("PONG\n")
        elif command in ("get", "getnext"):
            oid = sys.stdin.readline().strip()
            known = values(read_state(path))
            if command == "get":
                if oid in known:
                    answer(oid, known[oid])
                else:
                    sys.stdout.write("NONE\n")
            else:
                after = sorted((o for o in known if key(o) > key(oid)
                                and key(o)[:len(subtree)] == subtree), key=key)
                if after:
                    answer(after[0], known[after[0]])
                else:
                    sys.stdout.write("NONE\n")
        elif command == "set":
            sys.stdin.readline()
            sys.stdin.readline()
            sys.stdout.write("not-writable\n")
        elif command == "":
            continue
        else:
            sys.stdout.write("NONE\n")
        sys.stdout.flush()


if __name__ == "__main__":
    main()
