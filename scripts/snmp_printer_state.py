#!/usr/bin/env python3
"""A printer's state for the test SNMP agent (its pass_persist handler).

Answers the three host resources objects of device 1 from a state file that
the tests rewrite at any time; the file is read again for every request.
The file holds words separated by commas, blanks or new lines:
  idle, printing, warmup, other, unknown   hrPrinterStatus (default idle)
  down                                     hrDeviceStatus down (else running)
  lowPaper, noPaper, ... overduePreventMaint
                                           bits of hrPrinterDetectedErrorState
  absent                                   the agent has none of the objects
Usage: snmp_printer_state.py STATE_FILE
"""
import sys

DEVICE_STATUS = ".1.3.6.1.2.1.25.3.2.1.5.1"
PRINTER_STATUS = ".1.3.6.1.2.1.25.3.5.1.1.1"
ERROR_STATE = ".1.3.6.1.2.1.25.3.5.1.2.1"
ORDER = [DEVICE_STATUS, PRINTER_STATUS, ERROR_STATE]

PRINTER_STATES = {"other": 1, "unknown": 2, "idle": 3, "printing": 4, "warmup": 5}
ERROR_BITS = ["lowPaper", "noPaper", "lowToner", "noToner", "doorOpen", "jammed",
              "offline", "serviceRequested", "inputTrayMissing", "outputTrayMissing",
              "markerSupplyMissing", "outputNearFull", "outputFull", "inputTrayEmpty",
              "overduePreventMaint"]


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
    return {
        DEVICE_STATUS: ("integer", str(5 if "down" in words else 2)),
        PRINTER_STATUS: ("integer", str(printer)),
        ERROR_STATE: ("octet", " ".join("%02x" % b for b in bits)),
    }


def answer(oid, value):
    sys.stdout.write("%s\n%s\n%s\n" % (oid, value[0], value[1]))


def main():
    path = sys.argv[1]
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
                after = [o for o in ORDER if o in known and
                         [int(x) for x in o.strip(".").split(".")] >
                         [int(x) for x in oid.strip(".").split(".") if x]]
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
