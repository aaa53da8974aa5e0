"""The rules the vm316 hosts share (the command line, the panel), from libvm316_host_c: how a
setting's text or number is read and checked against the board's limits, whether a record
went over its range, why a forced record was forced, and a record's measurements and
spectrum."""

import ctypes
import math
import os
from pathlib import Path
from typing import List, NamedTuple, Optional, Sequence, Tuple, Union

import numpy as np

from ._library import library
from ._status import InvalidValueError, Status

_FILE_NAME = "libvm316_host_c.so"
_OK, _MALFORMED, _OUTSIDE = 0, 1, 2
_AUTO, _NONE = 1, 2
_TEXT_SIZE = 512


class Setting(NamedTuple):
    """A setting's value as the rules read it."""

    number: float  # Hz, samples, per cent, volts, ms
    automatic: bool  # "auto"
    none: bool  # the time-out "none"
    word: str  # the word of a choice, lower case ("ac", "rising")


def find_rules_library() -> str:
    """libvm316_host_c: VM316_HOST_C_LIBRARY, else the one beside the libvm316 in use, else
    the system loader's."""
    explicit = os.environ.get("VM316_HOST_C_LIBRARY")
    if explicit:
        return explicit
    beside = Path(library().path).resolve().parent / _FILE_NAME
    if beside.is_file():
        return str(beside)
    # A library found by the system's loader: this one is found the same way.
    return _FILE_NAME


_loaded = None


def _rules() -> ctypes.CDLL:
    global _loaded
    if _loaded is None:
        library()  # the rules call into the library: it is loaded first, and the one they use
        rules = ctypes.CDLL(find_rules_library())
        rules.vm316_read_setting.restype = ctypes.c_int
        rules.vm316_read_setting.argtypes = (
            ctypes.c_char_p, ctypes.c_char_p, ctypes.POINTER(ctypes.c_double),
            ctypes.POINTER(ctypes.c_int), ctypes.c_char_p, ctypes.c_size_t, ctypes.c_char_p,
            ctypes.c_size_t)
        rules.vm316_over_range.restype = ctypes.c_int
        rules.vm316_over_range.argtypes = (ctypes.POINTER(ctypes.c_uint16), ctypes.c_size_t)
        rules.vm316_describe_rearm.restype = ctypes.c_int
        rules.vm316_describe_rearm.argtypes = (
            ctypes.c_int, ctypes.c_int, ctypes.c_double, ctypes.c_double,
            ctypes.POINTER(ctypes.c_double), ctypes.c_size_t, ctypes.c_char_p, ctypes.c_char_p,
            ctypes.c_size_t)
        double_p = ctypes.POINTER(ctypes.c_double)
        rules.vm316_trace_statistics.restype = ctypes.c_int
        rules.vm316_trace_statistics.argtypes = (
            double_p, ctypes.POINTER(ctypes.c_uint16), ctypes.c_size_t, ctypes.c_double,
            ctypes.c_double, double_p, ctypes.c_size_t)
        rules.vm316_spectrum_bins.restype = ctypes.c_size_t
        rules.vm316_spectrum_bins.argtypes = (ctypes.c_size_t,)
        rules.vm316_spectrum.restype = ctypes.c_int
        rules.vm316_spectrum.argtypes = (
            ctypes.c_int, double_p, ctypes.c_size_t, ctypes.c_double, ctypes.c_char_p, double_p,
            ctypes.c_size_t, double_p, double_p, ctypes.c_size_t, ctypes.c_char_p,
            ctypes.c_size_t)
        _loaded = rules
    return _loaded


def read_setting(key: str, value: Union[str, float, int], what: str) -> Setting:
    """Reads `value` (a number in the setting's unit, or text like "2.5M", "500mV", "AC") by
    the rules of the command line; raises InvalidValueError naming `what` otherwise."""
    if isinstance(value, bool) or not isinstance(value, (str, int, float)):
        raise InvalidValueError(what, Status.INVALID_VALUE,
                                f"cannot set {what} to {value!r}: a number or a text is needed")
    text = value if isinstance(value, str) else repr(float(value))
    number = ctypes.c_double()
    flags = ctypes.c_int()
    word = ctypes.create_string_buffer(_TEXT_SIZE)
    why = ctypes.create_string_buffer(_TEXT_SIZE)
    answer = _rules().vm316_read_setting(key.encode(), text.encode(), ctypes.byref(number),
                                         ctypes.byref(flags), word, _TEXT_SIZE, why, _TEXT_SIZE)
    if answer != _OK:
        reason = why.value.decode()
        if answer == _OUTSIDE:
            reason = f"the board does not accept this value ({reason})"
        raise InvalidValueError(what, Status.INVALID_VALUE,
                                f"cannot set {what} to {value!r}: {reason}")
    return Setting(number.value, bool(flags.value & _AUTO), bool(flags.value & _NONE),
                   word.value.decode())


def over_range(raw: np.ndarray) -> bool:
    """Whether a sample of the raw record touched the converter's limits (the record shows the
    range's edge there, not the signal)."""
    samples = np.ascontiguousarray(raw, dtype=np.uint16)
    return bool(_rules().vm316_over_range(
        samples.ctypes.data_as(ctypes.POINTER(ctypes.c_uint16)), samples.size))


def describe_rearm(channel: int, falling: bool, level: float, hysteresis: float,
                   volts: Sequence[float], setting: str) -> Optional[str]:
    """Why a forced record's trigger never re-armed, naming the hysteresis as `setting`; None
    when the signal did go past the re-arm level."""
    samples = np.ascontiguousarray(volts, dtype=np.float64)
    text = ctypes.create_string_buffer(_TEXT_SIZE)
    found = _rules().vm316_describe_rearm(
        channel, int(falling), level, hysteresis,
        samples.ctypes.data_as(ctypes.POINTER(ctypes.c_double)), samples.size,
        setting.encode(), text, _TEXT_SIZE)
    return text.value.decode() if found else None


# The measurements in the order the library writes them (VM316_STATISTICS_*).
STATISTICS_FIELDS = ("min", "max", "peak_to_peak", "mean", "rms", "frequency", "period",
                     "rise_time", "fall_time", "positive_width", "negative_width", "duty_cycle",
                     "overshoot")
HARMONIC_COUNT = 6  # the peak's 2nd to 7th


def trace_statistics(volts: np.ndarray, raw: np.ndarray, sample_rate: float,
                     full_scale: float) -> Tuple[Optional[float], ...]:
    """The measurements of one channel as the command line shows them; None for "--"."""
    samples = np.ascontiguousarray(volts, dtype=np.float64)
    codes = np.ascontiguousarray(raw, dtype=np.uint16)
    if codes.size != samples.size:
        raise ValueError("the raw record and the volts differ in length")
    values = (ctypes.c_double * len(STATISTICS_FIELDS))()
    if _rules().vm316_trace_statistics(
            samples.ctypes.data_as(ctypes.POINTER(ctypes.c_double)),
            codes.ctypes.data_as(ctypes.POINTER(ctypes.c_uint16)), samples.size, sample_rate,
            full_scale, values, len(values)) != 0:
        raise ValueError("measurements need a positive sample rate and range")
    return tuple(None if math.isnan(value) else value for value in values)


def spectrum(channel: int, volts: np.ndarray, sample_rate: float,
             window: str) -> Tuple[float, np.ndarray, List[Optional[Tuple[float, float]]], str]:
    """The bin width, dBV per bin, the peak and harmonics as (Hz, dBV) or None, and the
    command line's line; raises ValueError with the library's reason."""
    samples = np.ascontiguousarray(volts, dtype=np.float64)
    rules = _rules()
    dbv = np.zeros(max(1, rules.vm316_spectrum_bins(samples.size)))
    bin_hz = ctypes.c_double()
    lines = (ctypes.c_double * (2 * (1 + HARMONIC_COUNT)))()
    text = ctypes.create_string_buffer(_TEXT_SIZE)
    double_p = ctypes.POINTER(ctypes.c_double)
    bins = rules.vm316_spectrum(channel, samples.ctypes.data_as(double_p), samples.size,
                                sample_rate, str(window).encode(), dbv.ctypes.data_as(double_p),
                                dbv.size, ctypes.byref(bin_hz), lines, len(lines), text,
                                _TEXT_SIZE)
    if bins < 0:
        raise ValueError(text.value.decode())
    pairs = [None if math.isnan(lines[2 * i]) else (lines[2 * i], lines[2 * i + 1])
             for i in range(1 + HARMONIC_COUNT)]
    return bin_hz.value, dbv[:bins], pairs, text.value.decode()
