"""Status codes of the library, and the exceptions a failed call raises."""

import enum


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
    def c_name(self):
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
    """A call the library answered with a status other than StatusOk."""

    def __init__(self, function, status):
        try:
            status = Status(status)
            text = f"{function}: {status.c_name} ({int(status)}): {_MEANINGS[status]}"
        except ValueError:
            text = f"{function}: unknown status {status}"
        super().__init__(text)
        self.function = function
        self.status = status


class NoHardwareError(Vm316Error):
    pass


class NotInitializedError(Vm316Error):
    pass


class NotSupportedError(Vm316Error):
    pass


class NoGeneratorError(Vm316Error):
    pass


class InvalidChannelError(Vm316Error):
    pass


class InvalidValueError(Vm316Error):
    pass


_ERRORS = {
    Status.NO_HARDWARE: NoHardwareError,
    Status.NOT_INITIALIZED: NotInitializedError,
    Status.NOT_SUPPORTED: NotSupportedError,
    Status.NO_GENERATOR: NoGeneratorError,
    Status.INVALID_CHANNEL: InvalidChannelError,
    Status.INVALID_VALUE: InvalidValueError,
}


def check(function, status):
    """Raises the exception for a failed call's status; returns nothing on StatusOk."""
    if status != Status.OK:
        raise _ERRORS.get(status, Vm316Error)(function, status)
