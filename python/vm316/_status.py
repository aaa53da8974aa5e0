"""Status codes of the library, and the exceptions a failed call or a refused value raises.

Each exception derives from the Python exception that fits it as well, so that a caller may
catch ``ValueError`` for a value out of limits without knowing this package."""

import enum
from typing import Optional, Union


class Status(enum.IntEnum):
    """The 16-bit status code of an export: single values, never combined."""

    OK = 0
    NO_HARDWARE = 1
    NOT_INITIALIZED = 2
    NOT_SUPPORTED = 4
    NO_GENERATOR = 8
    INVALID_CHANNEL = 16
    INVALID_VALUE = 32

    @property
    def c_name(self) -> str:
        """The name vm316.h gives the code, e.g. StatusInvalidValue."""
        return "Status" + "".join(word.capitalize() for word in self.name.split("_"))


_MEANINGS = {
    Status.NO_HARDWARE: "no instrument, or it did not answer",
    Status.NOT_INITIALIZED: "no successful InitInstrument yet",
    Status.NOT_SUPPORTED: "this instrument does not offer the function",
    Status.NO_GENERATOR: "this instrument has no such generator",
    Status.INVALID_CHANNEL: "no such channel",
    Status.INVALID_VALUE: "an argument outside the allowed set or range",
}


class Vm316Error(Exception):
    """A call the library answered with a status other than StatusOk, or a value refused
    before it reached the library (then ``text`` says why, in the command line's words)."""

    def __init__(self, function: str, status: Union[Status, int, None],
                 text: Optional[str] = None) -> None:
        if text is None:
            try:
                status = Status(status)
                text = f"{function}: {status.c_name} ({int(status)}): {_MEANINGS[status]}"
            except (ValueError, KeyError):
                text = f"{function}: unknown status {status}"
        super().__init__(text)
        self.function = function
        self.status = status


class NoHardwareError(Vm316Error, ConnectionError):
    """No board answers at the address, or it stopped answering."""


class NotInitializedError(Vm316Error, RuntimeError):
    """The instrument is not open: ``open()`` it (or use a ``with`` block) first."""


class AlreadyOpenError(Vm316Error, RuntimeError):
    """The library holds one instrument per process, and it is open already."""


class NotSupportedError(Vm316Error, ValueError):
    """The board does not offer the function or the choice (a trigger source it lacks)."""


class NoGeneratorError(Vm316Error, NotImplementedError):
    """The board has no such generator (it has the square-wave output only)."""


class InvalidChannelError(Vm316Error, ValueError):
    """No such channel: the board has channels 1 and 2."""


class InvalidValueError(Vm316Error, ValueError):
    """A value outside what the board does, or one that is malformed."""


_ERRORS = {
    Status.NO_HARDWARE: NoHardwareError,
    Status.NOT_INITIALIZED: NotInitializedError,
    Status.NOT_SUPPORTED: NotSupportedError,
    Status.NO_GENERATOR: NoGeneratorError,
    Status.INVALID_CHANNEL: InvalidChannelError,
    Status.INVALID_VALUE: InvalidValueError,
}


def check(function: str, status: int) -> None:
    """Raises the exception for a failed call's status; returns nothing on StatusOk."""
    if status != Status.OK:
        raise _ERRORS.get(status, Vm316Error)(function, status)
