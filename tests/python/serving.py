"""`tavio32 serve` as a child process for the tests: its two addresses, HTTP
requests with urllib, and Server-Sent Events read on a thread."""
import ctypes
import http.client
import json
import os
import queue
import signal
import socket
import subprocess
import threading
import time
import urllib.error
import urllib.parse
import urllib.request

from emulators import CLI


class Answer:
    def __init__(self, status, headers, body):
        self.status, self.headers, self.body = status, headers, body

    def json(self):
        return json.loads(self.body)


class Events:
    """The event stream of one client: .events is a queue of (id, name, data)."""

    def __init__(self, url, token, rcvbuf=None, source=None):
        u = urllib.parse.urlsplit(url)
        self.sock = socket.socket()
        if rcvbuf:
            self.sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, rcvbuf)
        if source:
            self.sock.bind((source, 0))
        self.sock.settimeout(10)
        self.sock.connect((u.hostname, u.port))
        self.sock.sendall(("GET /api/stream HTTP/1.1\r\nHost: %s\r\nAuthorization: Bearer %s\r\n\r\n"
                           % (u.netloc, token)).encode())
        self.events = queue.Queue()
        self.closed = threading.Event()
        self.arrivals = []  # monotonic time of each sample's arrival
        self.status = None
        self.body = ""  # of a refusal
        self.began = threading.Event()

    def start(self):
        threading.Thread(target=self._read, daemon=True).start()
        return self

    def _read(self):
        resp = http.client.HTTPResponse(self.sock)
        try:
            resp.begin()
            self.status = resp.status
            if resp.status != 200:
                self.body = resp.read().decode(errors="replace")
            self.began.set()
            ident, name, data = None, None, None
            while True:
                line = resp.readline()
                if not line:
                    break
                line = line.decode().rstrip("\n")
                if line == "":
                    if name:
                        if name == "sample":
                            self.arrivals.append(time.monotonic())
                        self.events.put((int(ident) if ident else None, name, json.loads(data)))
                    ident, name, data = None, None, None
                elif line.startswith("id: "):
                    ident = line[4:]
                elif line.startswith("event: "):
                    name = line[7:]
                elif line.startswith("data: "):
                    data = line[6:]
        except (OSError, http.client.HTTPException, ValueError):
            pass
        finally:
            self.began.set()
            self.closed.set()

    def next(self, name, timeout=5, where=None):
        """The next event called `name` (for which where(data) holds)."""
        end = time.monotonic() + timeout
        while True:
            left = end - time.monotonic()
            if left <= 0:
                raise AssertionError("no %s event in %.1f s" % (name, timeout))
            try:
                ident, n, data = self.events.get(timeout=left)
            except queue.Empty:
                continue
            if n == name and (where is None or where(data)):
                return ident, data

    def samples(self, seconds):
        """The samples that arrive within `seconds`: [(id, data)]."""
        out, end = [], time.monotonic() + seconds
        while time.monotonic() < end:
            try:
                ident, n, data = self.events.get(timeout=max(0.01, end - time.monotonic()))
            except queue.Empty:
                continue
            if n == "sample":
                out.append((ident, data))
        return out

    def close(self):
        try:
            self.sock.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass
        self.sock.close()


def connect_from(source, port, timeout=10):
    """A socket to 127.0.0.1:port from `source`, any address of 127.0.0.0/8."""
    s = socket.socket()
    s.settimeout(timeout)
    s.bind((source, 0))
    s.connect(("127.0.0.1", port))
    return s


def rss_mb(pid):
    with open("/proc/%d/status" % pid) as f:
        return int(next(line for line in f if line.startswith("VmRSS:")).split()[1]) / 1024


def peak_mb(pid):
    with open("/proc/%d/status" % pid) as f:
        return int(next(line for line in f if line.startswith("VmHWM:")).split()[1]) / 1024


def cpu_s(pid):
    """The processor time a process has used, user and system, in s."""
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def die_with_parent():
    """In the child: the server ends with the test that started it, however
    the test ends (a time-out's kill included), and never holds the library
    for the next one."""
    ctypes.CDLL(None).prctl(1, signal.SIGKILL)  # PR_SET_PDEATHSIG


class Server:
    """tavio32 serve with `args` (through the command `wrap`), listening on a free loopback port."""

    def __init__(self, args, env, listen="127.0.0.1:0", wrap=()):
        self.proc = subprocess.Popen(list(wrap) + [CLI, "serve", "--listen", listen] + list(args), env=env,
                                     stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                                     preexec_fn=die_with_parent)
        control = self.proc.stdout.readline().split()
        self.watch_urls = []
        line = self.proc.stdout.readline().split()
        while line and line[0] == "watch:":
            self.watch_urls.append((line[1], line[2].strip("()") if len(line) > 2 else None))
            line = self.proc.stdout.readline().split()
        token = line
        if len(control) != 2 or control[0] != "control:" or not self.watch_urls:
            self.proc.kill()
            raise RuntimeError("tavio32 serve did not start: %r %s" % (control, self.proc.stderr.read()))
        self.control_url, self.watch_url = control[1], self.watch_urls[0][0]
        u = urllib.parse.urlsplit(self.control_url)
        self.base = "%s://%s" % (u.scheme, u.netloc)
        self.port = u.port
        # (Older servers put the token itself in the control address.)
        self.token = token[1] if token[:1] == ["token:"] else urllib.parse.parse_qs(u.query)["token"][0]
        self.watch = urllib.parse.parse_qs(urllib.parse.urlsplit(self.watch_url).query)["watch"][0]

    def request(self, path, body=None, token="control", headers=None, method=None, raw=None):
        h = dict(headers or {})
        tok = {"control": self.token, "watch": self.watch}.get(token, token)
        if tok:
            h.setdefault("Authorization", "Bearer " + tok)
        data = raw if raw is not None else (json.dumps(body).encode() if body is not None else None)
        if data is not None:
            h.setdefault("Content-Type", "application/json")
        req = urllib.request.Request(self.base + path, data=data, headers=h, method=method)
        try:
            with urllib.request.urlopen(req, timeout=30) as r:
                return Answer(r.status, r.headers, r.read())
        except urllib.error.HTTPError as e:
            return Answer(e.code, e.headers, e.read())

    def status(self):
        a = self.request("/api/status")
        assert a.status == 200, a.body
        return a.json()

    def wait_state(self, state, timeout=5):
        end = time.monotonic() + timeout
        while time.monotonic() < end:
            s = self.status()
            if s["state"] == state:
                return s
            time.sleep(0.05)
        raise AssertionError("state %s not reached: %r" % (state, s))

    def events(self, rcvbuf=None, token=None, source=None):
        return Events(self.base, token or self.token, rcvbuf, source).start()

    def end(self, sig=signal.SIGTERM, timeout=5):
        """Sends `sig`; returns the exit status and the seconds it took."""
        t0 = time.monotonic()
        self.proc.send_signal(sig)
        rc = self.proc.wait(timeout)
        took = time.monotonic() - t0
        self.proc.stdout.close()
        self.proc.stderr.close()
        return rc, took

    def kill(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()
        for f in (self.proc.stdout, self.proc.stderr):
            if not f.closed:
                f.close()
