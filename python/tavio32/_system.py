"""What the package asks the system: who holds the library's one-process
lock, where a port name leads, and who has a device open."""
import errno
import fcntl
import os
import socket
import termios
import time

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


def _attribute(path):
    try:
        with open(path) as f:
            return f.readline().strip()
    except (OSError, UnicodeDecodeError):
        return ""


def _word(text):
    return "".join("_" if c <= " " or c == "#" or ord(c) >= 0x7f else c for c in text)


def usb_key(tty):
    """The identity under which the library numbers the USB serial line
    `tty` ("ttyUSB0"), as the numbers file names it; None for other lines."""
    link = "/sys/class/tty/%s/device" % tty
    d = os.path.realpath(link)
    if not os.path.exists(link):
        return None
    while len(d) > 5 and not os.path.exists(d + "/bInterfaceNumber"):
        d = os.path.dirname(d)
    if len(d) <= 5:
        return None
    usb = os.path.dirname(d)
    vendor, product = _attribute(usb + "/idVendor"), _attribute(usb + "/idProduct")
    if not vendor or not product:
        return None
    serial = _attribute(usb + "/serial")
    key = "%s:%s %s if=%s" % (_word(vendor), _word(product),
                              "serial=" + _word(serial) if serial else "at=" + _word(os.path.basename(usb)),
                              _word(_attribute(d + "/bInterfaceNumber")))
    port = _attribute(link + "/port_number")
    if port and port != "0":
        key += "." + _word(port)
    return key


def numbered_adapter(number):
    """(device or "", about) of the USB adapter numbered COM<number>, None
    when no adapter has that number."""
    path = os.environ.get("TAVIO32_COM_NUMBERS") or "/var/lib/tavio32/com-ports"
    try:
        with open(path) as f:
            lines = f.read().splitlines()
    except (OSError, UnicodeDecodeError):
        return None
    for line in lines:
        text, _, about = line.partition("#")
        fields = text.split(None, 1)
        if len(fields) == 2 and fields[0].upper() == "COM%d" % number:
            key = fields[1].strip()
            try:
                ttys = os.listdir("/sys/class/tty")
            except OSError:
                ttys = []
            for tty in ttys:
                if not tty.startswith(("ttyS", "pty", "console", "ptmx")) and usb_key(tty) == key:
                    return "/dev/" + tty, about.strip()
            return "", about.strip() or key
    return None


def port_path(number):
    """The device path COM<number> maps to, "" when it has none: the
    variable, the USB adapter numbered so, the motherboard's port."""
    value = os.environ.get("TAVIO32_COM%d" % number)
    if value is not None:
        return value
    if not 1 <= number <= 9:
        return ""
    adapter = numbered_adapter(number)
    if adapter is not None:
        return adapter[0]
    return "/dev/ttyS%d" % (number - 1)


def _removed_now(number, handle):
    """(text, usb): the removal, "" when the device is there; whether the
    port is a USB adapter's."""
    gone = line = ""
    if handle > 0:
        try:
            target = line = os.readlink("/proc/self/fd/%d" % handle)
            if target.endswith(" (deleted)"):
                gone = target[:-len(" (deleted)")]
            else:
                try:  # a line whose device went is hung up: EIO
                    fcntl.ioctl(handle, termios.TIOCMGET, b"\0\0\0\0")
                except OSError as e:
                    if e.errno == errno.EIO:
                        gone = target
        except OSError:
            pass
    adapter = None if os.environ.get("TAVIO32_COM%d" % number) is not None else numbered_adapter(number)
    path = port_path(number)
    if not gone and adapter is not None and not adapter[0]:
        gone = "?"
    if not gone and path and not path.startswith("rfc2217://") and not os.path.exists(path):
        gone = path
    usb = adapter is not None or any(p.startswith(("/dev/ttyUSB", "/dev/ttyACM", "/dev/serial/"))
                                     for p in (gone, path, line))
    if not gone or not usb:  # an emulator's pseudo-terminal, say: "does not answer" says enough
        return "", usb
    what = ", ".join(w for w in ((adapter or ("", ""))[1], "" if gone == "?" else gone) if w)
    return "the USB adapter of COM%d was removed%s: plug it in again" % (number, " (%s)" % what if what else ""), usb


def removed_problem(number, handle):
    """ "the USB adapter of COM3 was removed ..." when the device behind
    COM<number> (open as `handle`, or 0) went away; "" when it is there.
    The system learns of a pulled adapter a moment after its line fell
    silent: a USB line that seems to be there is asked again for a second
    (times TAVIO32_TIME_SLACK, 1 to 20, on a machine that runs slowly)."""
    try:
        slack = min(max(float(os.environ.get("TAVIO32_TIME_SLACK", "1")), 1.0), 20.0)
    except ValueError:
        slack = 1.0
    until = time.monotonic() + slack
    removed, usb = _removed_now(number, handle)
    while not removed and usb and time.monotonic() < until:
        time.sleep(0.05)
        removed, usb = _removed_now(number, handle)
    return removed


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
    if not path and name.upper().startswith("COM") and name[3:].isdigit() \
            and os.environ.get("TAVIO32_" + name.upper()) is None:
        adapter = numbered_adapter(int(name[3:]))
        if adapter is not None:
            return ("the USB adapter of %s (%s) is not plugged in: plug it in, or give %s to another one "
                    "(tavio32 ports --assign %s=DEVICE)" % (name, adapter[1], name, name))
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
