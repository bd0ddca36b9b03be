"""Exceptions of the tavio32 package."""
import errno
import os


class Tavio32Error(Exception):
    """A failure the library reported."""


class LibraryNotFoundError(Tavio32Error):
    """The shared library could not be loaded."""


class LibraryBusyError(Tavio32Error):
    """Another process has the library loaded; only one at a time can."""

    def __init__(self, pid=None, name=""):
        self.pid = pid
        self.name = name
        who = "process %d (%s)" % (pid, name) if pid else "another process"
        super().__init__("%s is using the tavio32 library, and only one process at a time "
                         "can: end it and try again" % who)


class WriteProtectedError(Tavio32Error, PermissionError):
    """A file that this user may not write (write-protected; on Windows
    read-only, hidden or a system file) was left as it is; .filename names it."""

    def __init__(self, path, why):
        PermissionError.__init__(self, errno.EACCES, "cannot write %s: %s, and it was left as it is"
                                 % (os.fspath(path), why), os.fspath(path))

    def __str__(self):
        return self.strerror


class PortError(Tavio32Error):
    """A port could not be opened or used."""


class NotAnsweringError(Tavio32Error):
    """The interface did not answer."""


class RecordingInterrupted(Tavio32Error, KeyboardInterrupt):
    """Ctrl-C during a readout: .recording holds what was read."""

    def __init__(self, recording, done, expected):
        self.recording = recording
        super().__init__("readout interrupted after %d of %d bytes; what was read is in .recording"
                         % (done, expected))


class AdapterRemovedError(NotAnsweringError, PortError):
    """The USB adapter of the port was pulled out: the interface cannot
    answer until it is plugged in again and opened anew."""
