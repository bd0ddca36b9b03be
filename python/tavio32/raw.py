"""The library's 83 functions as they stand, typed for ctypes, and the
Linux extras' hooks (set_message_handler; READOUT_PROGRESS for
lib.tavio32_set_readout_progress).

Importing this module loads the library. Only one process at a time may
have it loaded; when another one holds it, the import raises
LibraryBusyError (naming that process where the system tells) instead of
letting the library end the interpreter.

Texts are bytes; buffers that the library fills are ctypes character arrays
(ctypes.create_string_buffer)."""
import ctypes
import glob
import os

from . import _system
from .errors import LibraryBusyError, LibraryNotFoundError

_here = os.path.dirname(os.path.abspath(__file__))


def _candidates():
    env = os.environ.get("TAVIO32_LIBRARY")
    if env:
        yield env
        return
    names = ("libtavio32.so", "libtavio32.so.1")
    # Next to the package, in the library directory of an installed prefix
    # (PREFIX/lib/python3/dist-packages/tavio32 -> PREFIX/lib), and in the
    # build tree of a source checkout (python/tavio32 -> build).
    prefix_lib = os.path.normpath(os.path.join(_here, "..", "..", ".."))
    directories = [_here, prefix_lib] + sorted(glob.glob(os.path.join(prefix_lib, "*-linux-*")))
    directories.append(os.path.normpath(os.path.join(_here, "..", "..", "build")))
    for directory in directories:
        for name in names:
            path = os.path.join(directory, name)
            if os.path.exists(path):
                yield path
    yield "libtavio32.so.1"  # the system's own search path


def _load():
    holder = _system.lock_holder()
    if holder is not None and holder[0] != os.getpid():
        raise LibraryBusyError(*holder)
    tried = []
    for path in _candidates():
        try:
            return ctypes.CDLL(path), path
        except OSError as e:
            tried.append("%s (%s)" % (path, e))
    raise LibraryNotFoundError(
        "the tavio32 library was not found; tried: %s. Build it (cmake --build build), "
        "install it, or set TAVIO32_LIBRARY=/path/to/libtavio32.so" % "; ".join(tried))


lib, path = _load()

_i = ctypes.c_int32
_u = ctypes.c_uint32
_t = ctypes.c_char_p           # a text the library reads
_b = ctypes.POINTER(ctypes.c_char)  # a buffer the library may write

# name: (result, [arguments]); None is void.
SIGNATURES = {
    # primary port
    "OPENCOM": (_i, [_t]), "CLOSECOM": (None, []), "SENDBYTE": (_i, [_i]),
    "READBYTE": (_i, []), "TIMEOUT": (_i, [_i]), "TIMEOUTOLD": (_i, [_i]),
    "GETCOM": (_i, []), "FLUSHIN": (_i, []), "FLUSHOUT": (_i, []),
    "SENDSTRING": (_i, [_t]), "READSTRING": (_i, [_b]), "CTS": (_i, []),
    "DCD": (_i, []), "DSR": (_i, []), "RI": (_i, []), "TXD": (_i, [_i]),
    "RTS": (_i, [_i]), "DTR": (_i, [_i]), "STRLENGTH": (_i, [_i]),
    "STRREAD": (None, [_b]),
    # port table
    "IX_OPENCOM": (_i, [_i, _t]), "IX_CLOSECOM": (_i, [_i]),
    "IX_STRLENGTH": (_i, [_i, _i]), "IX_STRREAD": (None, [_i, _b]),
    "IX_TIMEOUT": (_i, [_i, _i]), "IX_TIMEOUTOLD": (_i, [_i, _i]),
    "IX_SENDBYTE": (_i, [_i, _i]), "IX_READBYTE": (_i, [_i]),
    "IX_SENDSTRING": (_i, [_i, _t]), "IX_READSTRING": (_i, [_i, _b]),
    "IX_RTS": (_i, [_i, _i]), "IX_DTR": (_i, [_i, _i]), "IX_TXD": (_i, [_i, _i]),
    "IX_CTS": (_i, [_i]), "IX_DCD": (_i, [_i]), "IX_DSR": (_i, [_i]), "IX_RI": (_i, [_i]),
    # interfaces
    "SETHARD": (_i, [_i]), "GETHARD": (_i, []), "INIT": (_i, [_i]),
    "INITSIOS": (_i, [_i]), "INITCOMPULAB": (_i, [_i]), "INITZELLE": (_i, [_i]),
    "INITCCONTROL": (_i, [_i]), "INITCAMFACE": (_i, [_i]), "FINDHARD": (_i, [_i]),
    "DOUT": (_i, [_i]), "DIN": (_i, []), "AIN": (_i, [_i]), "AOUT": (_i, [_i, _i]),
    "UBAT": (_i, []), "TASTER": (_i, []), "STAUS": (_i, [_i]), "STEIN": (_i, []),
    "SYSTEMRESET": (_i, []), "REGAUS": (_i, [_i, _i]), "REGEIN": (_i, [_i]),
    "RAMAUS": (_i, [_i, _i]), "RAMEIN": (_i, [_i]),
    # block mode
    "BLOCKDEF": (_i, [_i, _i, _i]), "BLOCKSTART": (_i, []), "BLOCKTRIGGER": (None, [_i, _i]),
    "MESSUNGEN": (_i, [_b]), "KANALZAHL": (_i, [_b]), "ZEITINTERVALL": (_i, [_b]),
    "BLOCKINFO": (_i, [_b, _i]), "BLOCKZAHL": (_i, [_b]), "DATENMENGE": (_i, [_b]),
    "BLOCKEIN": (_i, [_b, _i]), "PROLADEN": (_i, [_t]), "PROSTART": (_i, []),
    "DATENSPEICHERN": (_i, [_t, _b]), "DATENLADEN": (_i, [_t, _b]),
    "TABELLESPEICHERN": (_i, [_t, _b]),
    # timing, keyboard, version
    "DELAY": (_u, [_u]), "TIMEREAD": (_u, []), "TIMEINIT": (_u, []),
    "TIME": (ctypes.c_double, []), "VERSION": (_i, [_i]), "RC": (_i, []),
    "KBRESET": (_i, []), "KBHIT": (_i, []), "TASTE": (_i, []),
}
assert len(SIGNATURES) == 83

for _name, (_res, _args) in SIGNATURES.items():
    _f = getattr(lib, _name)
    _f.restype = _res
    _f.argtypes = _args
    globals()[_name] = _f

READOUT_PROGRESS = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_int32, ctypes.c_int32, ctypes.c_void_p)
lib.tavio32_set_readout_progress.restype = None
lib.tavio32_set_readout_progress.argtypes = [READOUT_PROGRESS, ctypes.c_void_p]

MESSAGE_HANDLER = ctypes.CFUNCTYPE(None, ctypes.c_char_p, ctypes.c_char_p)
lib.tavio32_set_message_handler.restype = None
lib.tavio32_set_message_handler.argtypes = [MESSAGE_HANDLER]
_handler_ref = None


def set_message_handler(fn):
    """fn(caption: str, text: str) receives the library's messages; None
    restores the default (standard error, waiting for Enter on a terminal)."""
    global _handler_ref
    if fn is None:
        _handler_ref = None
        lib.tavio32_set_message_handler(MESSAGE_HANDLER())
        return
    _handler_ref = MESSAGE_HANDLER(
        lambda c, t: fn(c.decode("latin-1"), t.decode("latin-1")))
    lib.tavio32_set_message_handler(_handler_ref)


__all__ = list(SIGNATURES) + ["lib", "path", "set_message_handler", "SIGNATURES", "READOUT_PROGRESS"]
