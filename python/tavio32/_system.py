"""What the package asks the system: who holds the library's one-process
lock, where a port name leads, and who has a device open."""
import errno
import os
import socket

LOCK_NAME = "tavio32.one-process-lock"


def _process_name(pid):
    try:
        with open("/proc/%d/comm" % pid) as f:
            return f.read().strip()
    except OSError:
        return ""


def _pids_with(target):
    """Processes (pid, name) with a descriptor whose link reads `target`."""
    found = []
    try:
        pids = [int(p) for p in os.listdir("/proc") if p.isdigit()]
    except OSError:
        return found
    for pid in pids:
        try:
            fds = os.listdir("/proc/%d/fd" % pid)
        except OSError:
            continue
        for fd in fds:
            try:
                if os.readlink("/proc/%d/fd/%s" % (pid, fd)) == target:
                    found.append((pid, _process_name(pid)))
                    break
            except OSError:
                continue
    return found


def lock_holder():
    """None when the library's lock is free; otherwise (pid, name) of the
    process holding it, pid None when the system does not tell."""
    s = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    try:
        s.bind("\0" + LOCK_NAME)
    except OSError as e:
        if e.errno != errno.EADDRINUSE:
            return None
        inode = None
        try:
            with open("/proc/net/unix") as f:
                for line in f:
                    fields = line.split()
                    if len(fields) >= 8 and fields[7] == "@" + LOCK_NAME:
                        inode = fields[6]
        except OSError:
            pass
        if inode is not None:
            holders = _pids_with("socket:[%s]" % inode)
            if holders:
                return holders[0]
        return (None, "")
    finally:
        s.close()
    return None


def port_path(number):
    """The device path COM<number> maps to, "" when it has none."""
    value = os.environ.get("TAVIO32_COM%d" % number)
    if value is not None:
        return value
    return "/dev/ttyS%d" % (number - 1) if 1 <= number <= 9 else ""


def device_holders(path):
    """Processes holding `path`: whole-file locks first, then open descriptors."""
    try:
        st = os.stat(path)
        real = os.path.realpath(path)
    except OSError:
        return []
    found = []
    try:
        with open("/proc/locks") as f:
            for line in f:
                fields = line.split()
                if len(fields) < 6:
                    continue
                try:
                    major, minor, inode = fields[5].split(":")
                    if (int(inode) == st.st_ino and int(major, 16) == os.major(st.st_dev)
                            and int(minor, 16) == os.minor(st.st_dev)):
                        pid = int(fields[4])
                        if pid != os.getpid():
                            found.append((pid, _process_name(pid)))
                except ValueError:
                    continue
    except OSError:
        pass
    if found:
        return found
    return [h for h in _pids_with(real) if h[0] != os.getpid()]


def open_problem(name, path):
    """Why the device `path` behind port `name` cannot be opened, as advice;
    "" when nothing obvious is wrong."""
    var = "TAVIO32_" + name.upper()
    if not path:
        return "%s has no device: set %s=/dev/ttyUSB0 or the device your interface hangs on" % (name, var)
    if path.startswith("rfc2217://"):
        return ""
    if not os.path.exists(path):
        return ("%s maps to %s, which does not exist: plug the adapter in or set %s=PATH "
                "(`tavio32 ports` lists the serial devices)" % (name, path, var))
    if not os.access(path, os.R_OK | os.W_OK):
        return ("no permission to open %s (%s): add yourself to its group "
                "(usually dialout) and log in again" % (path, name))
    holders = device_holders(path)
    if holders:
        who = ", ".join("process %d (%s)" % h for h in holders)
        return "%s (%s) is in use by %s: end that program and try again" % (path, name, who)
    return ""
