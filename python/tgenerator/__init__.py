"""Formatted keys drawn from shared sequences, never handed out twice.

    import tgenerator

    with tgenerator.Sequence(mask="INV-####", alias="Shop") as invoices:
        key = invoices.next()          # 'INV-0000'
        keys = invoices.next_batch(3)  # ['INV-0001', 'INV-0002', 'INV-0003']
        invoices.undo()                # hands INV-0003 back, returns 'INV-0002'

Keyword arguments are the options of the C interface (tgen.h), with '_' for '-': mask
(required), alias (an alias, or a store's URI or connection string), table, type, start, end,
lock ('transaction', the default, or 'fields'), cache, max_wait, proc, check, period,
fiscal_start, date (a datetime.date or 'YYYY-MM-DD'), on_overflow ('stop' or 'restart') and
create (True makes the table when it does not exist).

Tables hold Windows-1251 bytes: keys come back as str decoded from them, and text given is
encoded the same way; a character Windows-1251 has no byte for is refused.

A Sequence may be shared by threads (its calls take turns); distinct sequences draw at once.
"""

import ctypes
import datetime
import os
import threading

__all__ = [
    "Sequence",
    "Error",
    "BadInput",
    "Busy",
    "Unavailable",
    "OutcomeUnknown",
    "UndoRefused",
]

ENCODING = "cp1251"


class Error(Exception):
    """Something went wrong; `code` is the C interface's code, str(error) says what."""

    code = 1

    def __init__(self, message, code=None):
        super().__init__(message)
        if code is not None:
            self.code = code


class BadInput(Error):
    """Options, mask or values refused."""

    code = 2


class Busy(Error):
    """The sequence's row stayed busy for max_wait seconds."""

    code = 3


class Unavailable(Error):
    """The store cannot be reached, or the table is missing."""

    code = 4


class OutcomeUnknown(Error):
    """A commit that may or may not have been stored: no key was handed out."""

    code = 5


class UndoRefused(Error):
    """Another client drew since, or there is nothing to hand back."""

    code = 6


_ERRORS = {cls.code: cls for cls in (BadInput, Busy, Unavailable, OutcomeUnknown, UndoRefused)}
_OK = 0


def _library_path():
    explicit = os.environ.get("TGEN_LIBRARY")
    if explicit:
        return explicit
    try:
        from tgenerator._library import LIBRARY  # written by the build or the package
    except ImportError:
        LIBRARY = "libtgen_core.so.0"
    return LIBRARY


def _load():
    lib = ctypes.CDLL(_library_path())
    handle = ctypes.c_void_p
    lib.tgen_open.argtypes = [ctypes.c_char_p, ctypes.POINTER(handle)]
    lib.tgen_next.argtypes = [handle, ctypes.c_char_p, ctypes.c_size_t]
    lib.tgen_next_batch.argtypes = [handle, ctypes.c_int, ctypes.c_char_p, ctypes.c_size_t]
    lib.tgen_undo.argtypes = [handle, ctypes.c_char_p, ctypes.c_size_t]
    lib.tgen_key_length.argtypes = [handle]
    lib.tgen_key_length.restype = ctypes.c_size_t
    lib.tgen_errmsg.argtypes = [handle]
    lib.tgen_errmsg.restype = ctypes.c_char_p
    lib.tgen_close.argtypes = [handle]
    lib.tgen_close.restype = None
    return lib


_lib = _load()


def _encode(name, text):
    try:
        return text.encode(ENCODING, errors="surrogateescape")
    except UnicodeEncodeError as e:
        raise BadInput(
            f"{name}: the character {text[e.start]!r} at position {e.start + 1} "
            "has no Windows-1251 byte"
        ) from None


def _decode(data):
    # Bytes Windows-1251 leaves unassigned come back as they were given.
    return data.decode(ENCODING, errors="surrogateescape")


def _option_text(name, value):
    if isinstance(value, bool):
        return "yes" if value else "no"
    if isinstance(value, datetime.date):
        return value.isoformat()
    if isinstance(value, int):
        return str(value)
    if isinstance(value, str):
        return value
    raise BadInput(f"{name}: {type(value).__name__} is not an option's value")


def _options(mask, options):
    pairs = [("mask", mask)] + list(options.items())
    parts = []
    for key, value in pairs:
        if value is None:
            continue
        name = key.replace("_", "-")
        text = _option_text(name, value)
        quoted = text.replace("\\", "\\\\").replace("'", "\\'")
        parts.append(f"{name}='{quoted}'")
    return _encode("options", " ".join(parts))


class Sequence:
    """One sequence of keys: a mask, its table and how it is drawn from."""

    def __init__(self, mask, **options):
        self._lock = threading.Lock()
        self._handle = ctypes.c_void_p()
        text = _options(mask, options)
        code = _lib.tgen_open(text, ctypes.byref(self._handle))
        if code != _OK:
            error = self._error(code)
            self.close()
            raise error
        self._length = _lib.tgen_key_length(self._handle)

    @property
    def key_length(self):
        """How many characters every key of the sequence has."""
        return self._length

    def next(self):
        """The next key."""
        buffer = ctypes.create_string_buffer(self._length + 1)
        with self._lock:
            self._check(_lib.tgen_next(self._live(), buffer, len(buffer)))
        return _decode(buffer.value)

    def next_batch(self, count):
        """`count` consecutive keys, drawn in one go."""
        if not isinstance(count, int) or isinstance(count, bool) or count < 1:
            raise BadInput(f"a batch holds at least one key, not {count!r}")
        size = self._length + 1
        buffer = ctypes.create_string_buffer(count * size)
        with self._lock:
            self._check(_lib.tgen_next_batch(self._live(), count, buffer, len(buffer)))
        raw = buffer.raw
        return [_decode(raw[i * size : i * size + self._length]) for i in range(count)]

    def undo(self):
        """Hands the last key back; returns the key before it."""
        buffer = ctypes.create_string_buffer(self._length + 1)
        with self._lock:
            self._check(_lib.tgen_undo(self._live(), buffer, len(buffer)))
        return _decode(buffer.value)

    def close(self):
        """Gives a cache's keys back and lets the table go. Closing twice does nothing."""
        with self._lock:
            handle, self._handle = self._handle, None
            if handle:
                _lib.tgen_close(handle)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()
        return False

    def __del__(self):
        if getattr(self, "_handle", None):
            self.close()

    def _live(self):
        if not self._handle:
            raise Error("the sequence is closed")
        return self._handle

    def _error(self, code):
        message = _lib.tgen_errmsg(self._handle) or b""
        return _ERRORS.get(code, Error)(_decode(message), code)

    def _check(self, code):
        if code != _OK:
            raise self._error(code)
