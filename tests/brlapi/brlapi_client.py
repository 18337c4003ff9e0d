#!/usr/bin/python3
"""A screen reader's side of the braille server for the end-to-end tests: the
real client library (Debian's Python binding) driven line by line.

Each input line is a command; each answer is one line starting with the verb:
  open | size | driver | tty | leave | close | write CURSOR TEXT | dots HEX..
  key MS | prio N | param N | ignoreall | accept CODE | louis TABLE TEXT | quit
Failures answer "<verb> error <message>".
"""
import sys

import brlapi
import louis

conn = None


def answer(*words):
    print(" ".join(str(w) for w in words), flush=True)


def run(verb, rest):
    global conn
    if verb == "open":
        conn = brlapi.Connection()
        return ["ok"]
    if verb == "size":
        x, y = conn.displaySize
        return [x, y]
    if verb == "driver":
        name = conn.driverName
        return [name.decode() if isinstance(name, bytes) else name]
    if verb == "tty":
        return [conn.enterTtyModeWithPath([])]
    if verb == "leave":
        conn.leaveTtyMode()
        return ["ok"]
    if verb == "close":
        conn.closeConnection()
        conn = None
        return ["ok"]
    if verb == "write":
        cursor, _, text = rest.partition(" ")
        conn.writeText(text, int(cursor))
        return ["ok"]
    if verb == "dots":
        conn.writeDots(bytes(int(h, 16) for h in rest.split()))
        return ["ok"]
    if verb == "key":
        code = conn.readKeyWithTimeout(int(rest))
        return ["none" if code is None else hex(code)]
    if verb == "prio":
        conn.setParameter(brlapi.PARAM_CLIENT_PRIORITY, 0, False, int(rest))
        return ["ok"]
    if verb == "param":
        return [repr(conn.getParameter(int(rest)))]
    if verb == "ignoreall":
        conn.ignoreKeys(brlapi.rangeType_all, [0])
        return ["ok"]
    if verb == "accept":
        conn.acceptKeys(brlapi.rangeType_command, [int(rest, 0)])
        return ["ok"]
    if verb == "sync":
        conn.sync()
        return ["ok"]
    if verb == "louis":
        table, _, text = rest.partition(" ")
        cells = louis.translateString([table], text, mode=louis.dotsIO)
        return ["".join("%02x" % (ord(c) & 0xFF) for c in cells)]
    raise ValueError("unknown command " + verb)


for line in sys.stdin:
    line = line.rstrip("\n")
    verb, _, rest = line.partition(" ")
    if verb == "quit":
        break
    try:
        answer(verb, *run(verb, rest))
    except Exception as e:  # the test reads the failure as an answer
        answer(verb, "error", str(e).replace("\n", " "))
