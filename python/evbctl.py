"""Evaluation boards from Python, through `evbctl session --json`.

    from evbctl import Session, EvbError

    with Session(port="/dev/ttyUSB0") as s:
        print(s.read(0x1A))                     # the --port board
        b2 = s.board("b2", "rfc2217://station:4001")
        b2.send("preset.txt")
        print(b2.diff("golden.txt"))            # [] when every register matches

Every call waits for its answer and may be made from several threads at once: calls to
different boards run at the same time, calls to one board in order. A failure raises EvbError
with evbctl's exit status and message. Standard library only.
"""

import itertools
import json
import os
import shutil
import subprocess
import threading

__all__ = ["Session", "Board", "EvbError", "find_evbctl"]


class EvbError(Exception):
    """A command that failed: exit is evbctl's exit status, answer the whole JSON answer."""

    def __init__(self, exit, message, answer=None):
        super().__init__(f"{message} (exit {exit})")
        self.exit = exit
        self.message = message
        self.answer = answer or {}


def find_evbctl():
    """$EVBCTL, the evbctl beside this module (a build tree or an installation), or the one on PATH."""
    if os.environ.get("EVBCTL"):
        return os.environ["EVBCTL"]
    here = os.path.dirname(os.path.abspath(__file__))
    for relative in ("../bin/evbctl", "../../../bin/evbctl"):
        candidate = os.path.normpath(os.path.join(here, relative))
        if os.access(candidate, os.X_OK):
            return candidate
    found = shutil.which("evbctl")
    if not found:
        raise FileNotFoundError("evbctl was not found: set EVBCTL or put it on PATH")
    return found


class Board:
    """One board of a session; made by Session.board (or the session's own --port board)."""

    def __init__(self, session, name):
        self.session = session
        self.name = name

    def request(self, cmd, **fields):
        """Any command, its arguments by name; returns the answer (a dict)."""
        return self.session.request(cmd, board=self.name, **fields)

    def read(self, reg):
        """The value of a register (a number or, with a map, a name)."""
        return self.request("read", reg=reg)["value"]

    def write(self, reg, value):
        """Writes a register, or NAME.FIELD with a map; returns the register's new value."""
        return self.request("write", reg=reg, value=value)["value"]

    def fields(self, reg):
        """The register read and decoded: {"reg", "name", "value", "fields": [...], "reserved"}."""
        return self.request("fields", reg=reg)

    def send(self, file):
        """Sends a configuration file; returns {"lines", "frames"}."""
        return self.request("send", file=str(file))

    def save(self, file, count=None):
        """Saves count registers (all 256 by default) as a configuration file."""
        return self.request("save", file=str(file), **_count(count))

    def diff(self, file, count=None):
        """The registers that differ from the file: [{"reg", "name", "board", "file"}], [] if none."""
        try:
            return self.request("diff", file=str(file), **_count(count))["differences"]
        except EvbError as e:
            if e.exit == 5:
                return e.answer["differences"]
            raise

    def restore(self, file, count=None):
        """Writes what differs from the file; raises EvbError (exit 5) if some still differ."""
        return self.request("restore", file=str(file), **_count(count))

    def close(self):
        self.session.request("close", board=self.name)


def _count(count):
    return {} if count is None else {"count": count}


class Session:
    """A running `evbctl session --json`. port: the board its plain calls go to (optional);
    options: more evbctl options for every command, such as ["--chip", "KV2440"]."""

    def __init__(self, port=None, *, timeout=None, options=(), evbctl=None):
        args = [evbctl or find_evbctl()]
        if port:
            args += ["--port", str(port)]
        if timeout is not None:
            args += ["--timeout", str(timeout)]
        args += list(options) + ["session", "--json"]
        self._process = subprocess.Popen(args, stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True,
                                         bufsize=1)
        self._ids = itertools.count(1)
        self._lock = threading.Lock()  # the waiting table (the reader thread takes it too)
        self._write_lock = threading.Lock()  # one request line at a time
        self._waiting = {}  # id -> [event, answer]
        self._waiting[0] = [threading.Event(), None]  # the --port board's opening
        self._reader = threading.Thread(target=self._read_answers, daemon=True)
        self._reader.start()
        self.default = Board(self, None)
        if port:
            self._await(0)

    def _read_answers(self):
        for line in self._process.stdout:
            answer = json.loads(line)
            with self._lock:
                slot = self._waiting.get(answer.get("id"))
            if slot:
                slot[1] = answer
                slot[0].set()
        with self._lock:  # evbctl has ended: nobody waits any longer
            for slot in self._waiting.values():
                slot[0].set()

    def _await(self, id):
        slot = self._waiting[id]
        slot[0].wait()
        with self._lock:
            del self._waiting[id]
        answer = slot[1]
        if answer is None:
            raise EvbError(2, "evbctl session ended")
        if not answer["ok"]:
            raise EvbError(answer["exit"], answer["error"], answer)
        return answer

    def request(self, cmd, board=None, **fields):
        """Sends one request and waits for its answer; raises EvbError when it failed."""
        request = {"id": next(self._ids), "cmd": cmd}
        if board is not None:
            request["board"] = board
        request.update(fields)
        with self._lock:
            self._waiting[request["id"]] = [threading.Event(), None]
        with self._write_lock:
            self._process.stdin.write(json.dumps(request) + "\n")
            self._process.stdin.flush()
        return self._await(request["id"])

    def board(self, name, port):
        """Opens a board's port and holds it under name."""
        self.request("open", name=name, port=str(port))
        return Board(self, name)

    def wait(self):
        """Returns once every command given so far has been answered."""
        self.request("wait")

    def read(self, reg):
        return self.default.read(reg)

    def write(self, reg, value):
        return self.default.write(reg, value)

    def fields(self, reg):
        return self.default.fields(reg)

    def send(self, file):
        return self.default.send(file)

    def save(self, file, count=None):
        return self.default.save(file, count)

    def diff(self, file, count=None):
        return self.default.diff(file, count)

    def restore(self, file, count=None):
        return self.default.restore(file, count)

    def close(self):
        """Ends the session (every board closed); returns evbctl's exit status."""
        if self._process.stdin and not self._process.stdin.closed:
            self._process.stdin.close()
        code = self._process.wait()
        self._reader.join()
        self._process.stdout.close()
        return code

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()
