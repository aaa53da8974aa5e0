"""The instrument in Python terms: settings as properties in volts, hertz and seconds, and
records as NumPy arrays."""

import ctypes
import enum
from typing import NamedTuple

import numpy as np

from ._library import library
from ._status import check

DEFAULT_ADDRESS = 0x378
_WAIT_FOREVER_MS = 0xFFFFFFFF


class TriggerSource(enum.IntEnum):
    """TTrigSource. This board accepts CH1, CH2, EXTERNAL, AND, OR and NONE."""

    CH1 = 0
    CH2 = 1
    CH3 = 2
    CH4 = 3
    EXTERNAL = 4
    ANALOG_EXTERNAL = 5
    AND = 6
    OR = 7
    XOR = 8
    NONE = 9  # tsNoTrig: records at once
    NEVER = 10
    PXI_EXTERNAL = 11
    GENERATOR_START = 12
    GENERATOR_STOP = 13
    GENERATOR_NEW = 14
    UNKNOWN = 15


class MeasureMode(enum.IntEnum):
    """TMeasureMode, the channels to record. This board accepts NONE, CH1, CH2, CH12, XY."""

    NONE = 0
    CH1 = 1
    CH2 = 2
    CH12 = 3
    XY = 16


class Slope(enum.IntEnum):
    RISING = 0
    FALLING = 1


class Coupling(enum.IntEnum):
    DC = 0
    AC = 1


class Measurement(NamedTuple):
    """One record: the time of each sample in seconds from the trigger instant (negative
    before it) and both channels in volts."""

    time: np.ndarray
    ch1: np.ndarray
    ch2: np.ndarray


def _call(name, *args):
    check(name, getattr(library(), name)(*args))


def _get(name, ctype, *args):
    value = ctype()
    _call(name, *args, ctypes.byref(value))
    return value.value


class Channel:
    """One input: range, coupling, DC level and its trigger level."""

    def __init__(self, number):
        self.number = number

    def __repr__(self):
        return f"<vm316 channel {self.number}>"

    @property
    def range(self):
        """Full scale in volts; setting it picks the nearest range the board has."""
        return _get("GetSensitivity", ctypes.c_double, self.number)

    @range.setter
    def range(self, volts):
        _call("SetSensitivity", self.number, ctypes.byref(ctypes.c_double(volts)))

    @property
    def auto_range(self):
        return bool(_get("GetAutoRanging", ctypes.c_uint8, self.number))

    @auto_range.setter
    def auto_range(self, on):
        _call("SetAutoRanging", self.number, 1 if on else 0)

    @property
    def coupling(self):
        return Coupling(_get("GetCoupling", ctypes.c_uint8, self.number))

    @coupling.setter
    def coupling(self, coupling):
        _call("SetCoupling", self.number, int(coupling))

    @property
    def dc_level(self):
        """Volts subtracted from the input before the converter: the range's window is centred
        on it."""
        return _get("GetDcLevel", ctypes.c_double, self.number)

    @dc_level.setter
    def dc_level(self, volts):
        _call("SetDcLevel", self.number, volts)

    @property
    def trigger_level(self):
        """Volts, relative to the DC level, within the range."""
        return _get("GetTriggerLevel", ctypes.c_double, self.number)

    @trigger_level.setter
    def trigger_level(self, volts):
        _call("SetTriggerLevel", self.number, volts)

    @property
    def trigger_hysteresis(self):
        return _get("GetTriggerHys", ctypes.c_double, self.number)

    @trigger_hysteresis.setter
    def trigger_hysteresis(self, volts):
        _call("SetTriggerHys", self.number, volts)

    @property
    def trigger_slope(self):
        return Slope(_get("GetTriggerModeCh", ctypes.c_uint8, self.number))

    @trigger_slope.setter
    def trigger_slope(self, slope):
        _call("SetTriggerModeCh", self.number, int(slope))


class Instrument:
    """The board at a port base address (the simulated one with VM316_PORT=sim). The library
    holds one instrument per process; opening brings the board up and calibrates it (or reloads
    today's calibration files from the current directory), closing releases it.

        with Instrument() as scope:
            scope.sample_rate = 1e6
            time, ch1, ch2 = scope.measure()
    """

    def __init__(self, address=DEFAULT_ADDRESS):
        self.address = address
        self.ch1 = Channel(1)
        self.ch2 = Channel(2)
        self.channels = (self.ch1, self.ch2)

    def open(self):
        _call("InitInstrument", self.address)
        return self

    def close(self):
        library().ExitInstrument()

    def __enter__(self):
        return self.open()

    def __exit__(self, *exception):
        self.close()

    @property
    def sample_rate(self):
        """Hz; setting it picks the nearest rate the clock divider gives."""
        return library().GetSampleFrequencyF()

    @sample_rate.setter
    def sample_rate(self, hertz):
        _call("SetSampleFrequencyF", ctypes.byref(ctypes.c_double(hertz)))

    @property
    def max_sample_rate(self):
        return library().GetMaxSampleFrequencyF()

    @property
    def record_length(self):
        """Samples per channel."""
        return library().GetRecordLength()

    @record_length.setter
    def record_length(self, samples):
        _call("SetRecordLength", samples)

    @property
    def max_record_length(self):
        return library().GetMaxRecordLength()

    @property
    def post_samples(self):
        """Samples after the trigger; the rest of the record comes before it."""
        return library().GetPostSamples()

    @post_samples.setter
    def post_samples(self, samples):
        _call("SetPostSamples", samples)

    @property
    def record_duration(self):
        """Seconds one record spans."""
        return self.record_length / self.sample_rate

    @property
    def measure_mode(self):
        return MeasureMode(_get("GetMeasureMode", ctypes.c_uint8))

    @measure_mode.setter
    def measure_mode(self, mode):
        _call("SetMeasureMode", int(mode))

    @property
    def trigger_source(self):
        return TriggerSource(_get("GetTriggerSource", ctypes.c_uint8))

    @trigger_source.setter
    def trigger_source(self, source):
        _call("SetTriggerSource", int(source))

    @property
    def trigger_slope(self):
        """The slope of the trigger source; setting it sets every input's."""
        return Slope(_get("GetTriggerMode", ctypes.c_uint8))

    @trigger_slope.setter
    def trigger_slope(self, slope):
        _call("SetTriggerMode", int(slope))

    @property
    def trigger_timeout(self):
        """Seconds after which the trigger is forced; None waits for ever."""
        milliseconds = library().GetTriggerTimeOut()
        return None if milliseconds < 0 else milliseconds / 1000

    @trigger_timeout.setter
    def trigger_timeout(self, seconds):
        if seconds is None:
            milliseconds = _WAIT_FOREVER_MS
        elif not 0 <= seconds * 1000 < _WAIT_FOREVER_MS:
            raise ValueError(f"trigger time-out {seconds} s: 0 s up to 49 days, or None")
        else:
            milliseconds = round(seconds * 1000)
        _call("SetTriggerTimeOut", milliseconds)

    @property
    def ranges(self):
        """The full scales in volts the board offers, largest first."""
        values = (ctypes.c_double * 20)()
        _call("GetAvailableSensitivities", values)
        return [value for value in values if value > 0]

    def measure(self):
        """Takes one record (blocking) and returns it as a Measurement in volts and seconds."""
        _call("StartMeasurement")
        length = max(0, self.record_length)
        ch1 = np.zeros(length)
        ch2 = np.zeros(length)
        pointer = ctypes.POINTER(ctypes.c_double)
        _call("GetMeasurement", ch1.ctypes.data_as(pointer), ch2.ctypes.data_as(pointer))
        pre = min(max(0, length - self.post_samples), length)
        time = (np.arange(length) - pre) / self.sample_rate
        return Measurement(time, ch1, ch2)
