"""The instrument in Python terms: settings as properties in volts, hertz and seconds, read by
the command line's rules (numbers, or text with units: ``"2.5M"``, ``"500mV"``), and records
as NumPy arrays with how they were triggered."""

import ctypes
import datetime
import enum
import os
import time as _time
from dataclasses import dataclass, field
from typing import Iterator, Optional, Tuple, Union

import numpy as np

from . import analysis
from ._library import library
from ._rules import describe_rearm, over_range, read_setting
from ._status import (AlreadyOpenError, NoHardwareError, NotInitializedError, Status, check)

_WAIT_FOREVER_MS = 0xFFFFFFFF
_MIN_POLL_S = 0.001
_MAX_POLL_S = 0.05  # Ctrl-C is seen within this
_POLLS_PER_RECORD = 50
_VIRTUAL_PAUSE_S = 0.001  # on the virtual clock a short real pause keeps the CPU free


class _Address(int):
    """A port address that shows itself as the hexadecimal number it is written as."""

    def __repr__(self) -> str:
        return hex(self)


DEFAULT_ADDRESS = _Address(0x378)

Number = Union[float, int, str]


class TriggerSource(enum.IntEnum):
    """The trigger sources this board takes (TTrigSource values)."""

    CH1 = 0
    CH2 = 1
    EXTERNAL = 4  # the external input, a fixed logic threshold
    AND = 6  # channel 1 and channel 2, each at its own level
    OR = 7
    NONE = 9  # tsNoTrig: records at once


class MeasureMode(enum.IntEnum):
    """TMeasureMode, the channels to record. This board accepts NONE, CH1, CH2, CH12, XY."""

    NONE = 0
    CH1 = 1
    CH2 = 2
    CH12 = 3
    XY = 16


class Slope(enum.IntEnum):
    """The trigger's slope."""

    RISING = 0
    FALLING = 1


class Coupling(enum.IntEnum):
    """An input's coupling."""

    DC = 0
    AC = 1


class TriggerState(str, enum.Enum):
    """How a record's trigger instant came about, with the words of the CSV files."""

    TRIGGERED = "triggered"  # the trigger came before the time-out ran out
    FORCED = "forced"  # the time-out ran out and the host forced the trigger
    FREE_RUNNING = "free_running"  # no trigger source: the record was taken at once

    @property
    def mark(self) -> str:
        """The scope's word: "Trig'd", "Auto" or "free running"."""
        return {"triggered": "Trig'd", "forced": "Auto"}.get(self.value, "free running")


@dataclass(frozen=True)
class Measurement:
    """One record. It unpacks as ``time, ch1, ch2``.

    ``time``: seconds from the trigger instant (negative before it); ``ch1``, ``ch2``: volts at
    the input (the DC level added back), or None for a channel that was not recorded.
    """

    time: np.ndarray
    ch1: Optional[np.ndarray]
    ch2: Optional[np.ndarray]
    trigger_state: TriggerState
    over_range: Tuple[bool, bool]  # per channel: a sample touched the converter's limits
    sample_rate: float  # Hz, as the board made it
    timestamp: datetime.datetime  # local time of the capture
    rearm: Optional[str] = None  # why a forced record's trigger never re-armed
    ranges: Tuple[Optional[float], Optional[float]] = (None, None)  # full scale, volts
    # The converter's codes per channel (offset binary, 32768 = 0 V, the byte times 256).
    raw: Tuple[Optional[np.ndarray], Optional[np.ndarray]] = field(default=(None, None),
                                                                   repr=False)

    def __iter__(self) -> Iterator[Optional[np.ndarray]]:
        return iter((self.time, self.ch1, self.ch2))

    def _channel(self, channel: int) -> Tuple[np.ndarray, np.ndarray, float]:
        if channel not in (1, 2):
            raise ValueError(f"the channel is 1 or 2, not {channel!r}")
        volts = (self.ch1, self.ch2)[channel - 1]
        raw = self.raw[channel - 1]
        full_scale = self.ranges[channel - 1]
        if volts is None or raw is None or full_scale is None:
            raise ValueError(f"channel {channel} was not recorded")
        return volts, raw, full_scale

    def statistics(self, channel: int = 1) -> analysis.Statistics:
        """The channel's measurements as ``vm316 measure`` shows them under the plot: levels,
        frequency, period, rise and fall time, pulse widths, duty cycle, overshoot."""
        volts, raw, full_scale = self._channel(channel)
        return analysis.statistics(volts, raw, self.sample_rate, full_scale)

    def spectrum(self, channel: int = 1, window: str = "hann") -> analysis.Spectrum:
        """The channel's amplitude spectrum in dBV through the window "hann", "flattop" (a
        line's level within 0.01 dB) or "rect", with its peak and harmonics, as
        ``vm316 measure --spectrum`` computes it."""
        volts, _, _ = self._channel(channel)
        return analysis.spectrum(channel, volts, self.sample_rate, window)

    @property
    def triggered(self) -> bool:
        """True when the trigger came (Trig'd), False when forced (Auto) or free running."""
        return self.trigger_state is TriggerState.TRIGGERED


def _call(name: str, *args: object) -> None:
    check(name, getattr(library(), name)(*args))


def _get(name: str, ctype: type, *args: object) -> object:
    value = ctype()
    _call(name, *args, ctypes.byref(value))
    return value.value


_open_instrument: Optional["Instrument"] = None


def _require_open() -> None:
    if _open_instrument is None:
        raise NotInitializedError("vm316", Status.NOT_INITIALIZED,
                                  "the instrument is not open: call open() first, or use "
                                  "`with Instrument() as scope:`")


class Channel:
    """One input: range, coupling, DC level and its trigger settings."""

    def __init__(self, number: int, instrument: Optional["Instrument"] = None) -> None:
        self.number = number
        self._instrument = instrument
        self._level: Optional[float] = None  # the trigger level asked for, volts at the input

    def __repr__(self) -> str:
        return f"<vm316 channel {self.number}>"

    def _check(self) -> None:
        if self._instrument is not None:
            _require_open()

    def _name(self) -> str:
        return f"ch{self.number}"

    def _key(self, what: str) -> str:
        # Every channel reads its values by the same rules; the library refuses a channel the
        # board does not have.
        return f"ch{self.number if self.number in (1, 2) else 1}.{what}"

    @property
    def range(self) -> float:
        """Full scale in volts (0.02 .. 80 V). Setting it takes the nearest range the board has;
        a value beyond the table is refused; ``"auto"`` switches automatic ranging on."""
        self._check()
        return float(_get("GetSensitivity", ctypes.c_double, self.number))

    @range.setter
    def range(self, volts: Number) -> None:
        self._check()
        value = read_setting(self._key("range"), volts, f"the range of {self._name()}")
        if value.automatic:
            _call("SetAutoRanging", self.number, 1)
        else:
            _call("SetAutoRanging", self.number, 0)
            _call("SetSensitivity", self.number, ctypes.byref(ctypes.c_double(value.number)))
        self._follow_level()

    @property
    def auto_range(self) -> bool:
        """Automatic ranging: the board moves one range per record (up when a record clips,
        down when it stays within a third of full scale)."""
        self._check()
        return bool(_get("GetAutoRanging", ctypes.c_uint8, self.number))

    @auto_range.setter
    def auto_range(self, on: bool) -> None:
        self._check()
        _call("SetAutoRanging", self.number, 1 if on else 0)

    @property
    def coupling(self) -> Coupling:
        """``Coupling.DC`` or ``Coupling.AC`` (also ``"ac"``, ``"DC"``). Switched to AC the
        input's capacitor starts empty: its DC part drains with the board's 53 ms time
        constant."""
        self._check()
        return Coupling(_get("GetCoupling", ctypes.c_uint8, self.number))

    @coupling.setter
    def coupling(self, coupling: Union[Coupling, str]) -> None:
        self._check()
        if isinstance(coupling, Coupling):
            code = int(coupling)
        else:
            word = read_setting(self._key("coupling"), coupling,
                                f"the coupling of {self._name()}").word
            code = int(Coupling.AC if word == "ac" else Coupling.DC)
        _call("SetCoupling", self.number, code)

    @property
    def dc_level(self) -> float:
        """Volts subtracted from the input before the converter and the trigger comparator:
        the range's window is centred on it (within twice the range)."""
        self._check()
        return float(_get("GetDcLevel", ctypes.c_double, self.number))

    @dc_level.setter
    def dc_level(self, volts: Number) -> None:
        self._check()
        value = read_setting(self._key("dc"), volts, f"the DC level of {self._name()}")
        _call("SetDcLevel", self.number, value.number)
        self._follow_level()

    @property
    def trigger_level(self) -> float:
        """Volts at the input, as the command line and the panel give it (the DC level
        included), within the range's window."""
        self._check()
        return float(_get("GetTriggerLevel", ctypes.c_double, self.number)) + self.dc_level

    @trigger_level.setter
    def trigger_level(self, volts: Number) -> None:
        self._check()
        value = read_setting("trigger.level", volts, f"the trigger level of {self._name()}")
        if value.automatic:
            raise ValueError("the trigger level is a voltage here; `auto` is the command "
                             "line's and the panel's")
        _call("SetTriggerLevel", self.number, value.number - self.dc_level)
        self._level = value.number

    def _follow_level(self) -> None:
        # The board keeps the level as a code of the range less the DC level: set again, in
        # volts at the input, when either moves (held at the edge of a range that is smaller).
        if self._level is None:
            return
        full_scale = self.range
        library().SetTriggerLevel(self.number,
                                  min(max(self._level - self.dc_level, -full_scale), full_scale))

    @property
    def trigger_hysteresis(self) -> float:
        """Volts the input must go back past the level before the comparator re-arms (below it
        on a rising slope); the board's default is 10/128 of the range."""
        self._check()
        return float(_get("GetTriggerHys", ctypes.c_double, self.number))

    @trigger_hysteresis.setter
    def trigger_hysteresis(self, volts: Number) -> None:
        self._check()
        value = read_setting("trigger.hysteresis", volts,
                             f"the trigger hysteresis of {self._name()}")
        _call("SetTriggerHys", self.number, value.number)

    @property
    def trigger_slope(self) -> Slope:
        """This input's trigger slope."""
        self._check()
        return Slope(_get("GetTriggerModeCh", ctypes.c_uint8, self.number))

    @trigger_slope.setter
    def trigger_slope(self, slope: Slope) -> None:
        self._check()
        _call("SetTriggerModeCh", self.number, int(slope))


class Instrument:
    """The board at a port base address (the simulated one with VM316_PORT=sim).

    The library holds one instrument per process: a second ``open()`` while one is open is
    refused (``AlreadyOpenError``). Opening brings the board up and calibrates it (or reloads
    today's calibration files from the current directory); closing releases it. Every property
    raises ``NotInitializedError`` before ``open()``.

        with Instrument() as scope:
            scope.sample_rate = "1M"
            time, ch1, ch2 = scope.measure()
    """

    def __init__(self, address: int = DEFAULT_ADDRESS) -> None:
        self.address = address
        self.ch1 = Channel(1, self)
        self.ch2 = Channel(2, self)
        self.channels = (self.ch1, self.ch2)

    def __repr__(self) -> str:
        return f"<vm316 instrument at {hex(self.address)}{'' if self.is_open else ', closed'}>"

    @property
    def is_open(self) -> bool:
        """True between a successful ``open()`` and ``close()``."""
        return _open_instrument is self

    def open(self) -> "Instrument":
        """Brings the board up (``InitInstrument``) and returns the instrument. Raises
        ``NoHardwareError`` when no board answers, ``AlreadyOpenError`` when an instrument of
        this process is open already."""
        global _open_instrument
        if _open_instrument is not None:
            raise AlreadyOpenError("InitInstrument", None,
                                   "InitInstrument: an instrument is open already (at "
                                   f"{hex(_open_instrument.address)}); close() it first")
        status = library().InitInstrument(self.address)
        if status != Status.OK:
            library().ExitInstrument()  # nothing is left half open
            check("InitInstrument", status)
        _open_instrument = self
        return self

    def close(self) -> None:
        """Releases the board (``ExitInstrument``); nothing when it is not open."""
        global _open_instrument
        if _open_instrument is self:
            library().ExitInstrument()
            _open_instrument = None

    def __enter__(self) -> "Instrument":
        return self.open()

    def __exit__(self, *exception: object) -> None:
        self.close()

    @property
    def sample_rate(self) -> float:
        """Hz, 0.61 Hz .. 20 MHz (``2.5e6``, ``"2.5M"``); setting it takes the nearest rate the
        clock dividers give, a rate beyond the board's is refused."""
        _require_open()
        return float(library().GetSampleFrequencyF())

    @sample_rate.setter
    def sample_rate(self, hertz: Number) -> None:
        _require_open()
        value = read_setting("rate", hertz, "the sample rate")
        _call("SetSampleFrequencyF", ctypes.byref(ctypes.c_double(value.number)))

    @property
    def max_sample_rate(self) -> float:
        """The fastest rate, Hz."""
        _require_open()
        return float(library().GetMaxSampleFrequencyF())

    @property
    def record_length(self) -> int:
        """Samples per channel, 2 .. 32760 (``"10k"``)."""
        _require_open()
        return int(library().GetRecordLength())

    @record_length.setter
    def record_length(self, samples: Number) -> None:
        _require_open()
        value = read_setting("length", samples, "the record length")
        _call("SetRecordLength", int(value.number))

    @property
    def max_record_length(self) -> int:
        """The longest record, samples."""
        _require_open()
        return int(library().GetMaxRecordLength())

    @property
    def post_samples(self) -> int:
        """Samples after the trigger; the rest of the record comes before it."""
        _require_open()
        return int(library().GetPostSamples())

    @post_samples.setter
    def post_samples(self, samples: int) -> None:
        _require_open()
        _call("SetPostSamples", samples)

    @property
    def record_duration(self) -> float:
        """Seconds one record spans."""
        return self.record_length / self.sample_rate

    @property
    def measure_mode(self) -> MeasureMode:
        """The channels recorded (``MeasureMode.CH1``, ``CH2``, ``CH12``); a channel left out
        comes back as None from ``measure()``."""
        _require_open()
        return MeasureMode(_get("GetMeasureMode", ctypes.c_uint8))

    @measure_mode.setter
    def measure_mode(self, mode: MeasureMode) -> None:
        _require_open()
        # The board keeps recording channel 1 after bring-up until the mode changes; passing
        # through NONE makes the mode asked for take effect whatever it did before.
        _call("SetMeasureMode", int(MeasureMode.NONE))
        _call("SetMeasureMode", int(mode))

    @property
    def trigger_source(self) -> TriggerSource:
        """The trigger source (``TriggerSource`` or ``"ch1"``, ``"ext"``, ``"none"``, ...);
        a source the board lacks is refused (``NotSupportedError``)."""
        _require_open()
        return TriggerSource(_get("GetTriggerSource", ctypes.c_uint8))

    @trigger_source.setter
    def trigger_source(self, source: Union[TriggerSource, int, str]) -> None:
        _require_open()
        if isinstance(source, str):
            word = read_setting("trigger.source", source, "the trigger source").word
            source = {"ch1": TriggerSource.CH1, "ch2": TriggerSource.CH2,
                      "ext": TriggerSource.EXTERNAL, "and": TriggerSource.AND,
                      "or": TriggerSource.OR}.get(word, TriggerSource.NONE)
        _call("SetTriggerSource", int(source))

    @property
    def trigger_slope(self) -> Slope:
        """The slope of the trigger source; setting it sets every input's."""
        _require_open()
        return Slope(_get("GetTriggerMode", ctypes.c_uint8))

    @trigger_slope.setter
    def trigger_slope(self, slope: Slope) -> None:
        _require_open()
        _call("SetTriggerMode", int(slope))

    @property
    def trigger_timeout(self) -> Optional[float]:
        """Seconds after which ``measure()`` forces the trigger (``0.5``, ``"500ms"``); None
        waits for ever (Ctrl-C still stops the wait)."""
        _require_open()
        milliseconds = library().GetTriggerTimeOut()
        return None if milliseconds < 0 else milliseconds / 1000

    @trigger_timeout.setter
    def trigger_timeout(self, seconds: Optional[Number]) -> None:
        _require_open()
        if seconds is None:
            milliseconds = _WAIT_FOREVER_MS
        else:
            text = seconds if isinstance(seconds, str) else f"{float(seconds)!r}s"
            value = read_setting("trigger.timeout", text, "the trigger time-out")
            milliseconds = _WAIT_FOREVER_MS if value.none else int(value.number)
        _call("SetTriggerTimeOut", milliseconds)

    @property
    def generator(self) -> float:
        """The square-wave output (0 V / 5 V) in Hz, 0 when off; set 100 Hz .. 100 kHz
        (``"3k"``), or 0, None or ``"off"``. The board makes 4 MHz / N: the nearest it gives."""
        _require_open()
        return float(library().GetSquareWaveGenFrequency())

    @generator.setter
    def generator(self, hertz: Optional[Number]) -> None:
        _require_open()
        value = read_setting("generator", 0 if hertz is None else hertz, "the square-wave output")
        _call("SetSquareWaveGenFrequency", ctypes.byref(ctypes.c_uint32(round(value.number))))

    @property
    def ranges(self) -> list:
        """The full scales in volts the board offers, largest first."""
        _require_open()
        values = (ctypes.c_double * 20)()
        _call("GetAvailableSensitivities", values)
        return [value for value in values if value > 0]

    def _recorded(self) -> Tuple[bool, bool]:
        mode = self.measure_mode
        return (mode in (MeasureMode.CH1, MeasureMode.CH12, MeasureMode.XY),
                mode in (MeasureMode.CH2, MeasureMode.CH12, MeasureMode.XY))

    def measure(self) -> Measurement:
        """Takes one record in the block style (``ADC_Start``, polling ``ADC_Triggered`` and
        ``ADC_Ready``, ``ADC_GetDataVolt``) and returns it as a ``Measurement``.

        When no trigger comes within ``trigger_timeout`` after the samples before the trigger
        have been recorded, the trigger is forced (``ADC_ForceTrig``) and the record says
        ``TriggerState.FORCED``; ``rearm`` then says when the hysteresis kept the trigger from
        re-arming. The wait sleeps between polls; Ctrl-C raises ``KeyboardInterrupt`` within
        a poll interval (at most 50 ms) and leaves the instrument usable."""
        _require_open()
        lib = library()
        rate = self.sample_rate
        length = max(0, self.record_length)
        post = self.post_samples
        pre = max(0, length - post)
        source = self.trigger_source
        free_running = source is TriggerSource.NONE
        timeout = self.trigger_timeout
        force_after = None if timeout is None or free_running else pre / rate + timeout
        poll = min(max(length / rate / _POLLS_PER_RECORD, _MIN_POLL_S), _MAX_POLL_S)
        completion = lib.vm316_record_bound_ms(rate, pre, post, -1.0) / 1000
        virtual = os.environ.get("VM316_CLOCK") == "virtual"

        _call("ADC_Start")
        started = _time.monotonic()
        waited = 0.0
        triggered_at: Optional[float] = 0.0 if free_running else None
        forced = False
        while not lib.ADC_Ready():
            now = waited if virtual else _time.monotonic() - started
            if triggered_at is None and lib.ADC_Triggered():
                triggered_at = now
            if triggered_at is None and force_after is not None and now >= force_after:
                _call("ADC_ForceTrig")
                forced = True
                triggered_at = now
            if triggered_at is not None and now > triggered_at + completion:
                raise NoHardwareError("ADC_Ready", Status.NO_HARDWARE,
                                      f"ADC_Ready: the board stopped answering: no complete "
                                      f"record {now:.3g} s after arming")
            milliseconds = max(1, round(poll * 1000))
            if virtual:
                lib.vm316_pump_messages(milliseconds)
                waited += milliseconds / 1000
                _time.sleep(_VIRTUAL_PAUSE_S)
            else:
                lib.vm316_pump_messages(0)
                _time.sleep(poll)
        return self._fetch(length, pre, rate, source, forced, free_running)

    def _fetch(self, length: int, pre: int, rate: float, source: TriggerSource, forced: bool,
               free_running: bool) -> Measurement:
        volts = [np.zeros(length), np.zeros(length)]
        raw = [np.zeros(length, dtype=np.uint16), np.zeros(length, dtype=np.uint16)]
        double_p = ctypes.POINTER(ctypes.c_double)
        sample_p = ctypes.POINTER(ctypes.c_uint16)
        # The first fetch reads the board, with the volt factors of the range it used.
        _call("ADC_GetDataVolt", volts[0].ctypes.data_as(double_p),
              volts[1].ctypes.data_as(double_p))
        _call("ADC_GetData", raw[0].ctypes.data_as(sample_p), raw[1].ctypes.data_as(sample_p))
        recorded = self._recorded()
        channels: list = []
        for index, channel in enumerate(self.channels):
            # The board reads the input less the DC level; the host shows the input.
            channels.append(volts[index] + channel.dc_level if recorded[index] else None)
        state = (TriggerState.FREE_RUNNING if free_running else
                 TriggerState.FORCED if forced else TriggerState.TRIGGERED)
        rearm = None
        trigger_channel = {TriggerSource.CH1: 1, TriggerSource.CH2: 2, TriggerSource.AND: 1,
                           TriggerSource.OR: 1}.get(source)
        if forced and trigger_channel and channels[trigger_channel - 1] is not None:
            channel = self.channels[trigger_channel - 1]
            rearm = describe_rearm(trigger_channel, self.trigger_slope is Slope.FALLING,
                                   channel.trigger_level, channel.trigger_hysteresis,
                                   channels[trigger_channel - 1], "trigger_hysteresis")
        return Measurement(
            time=(np.arange(length) - pre) / rate, ch1=channels[0], ch2=channels[1],
            trigger_state=state,
            over_range=(recorded[0] and over_range(raw[0]), recorded[1] and over_range(raw[1])),
            sample_rate=rate, timestamp=datetime.datetime.now().astimezone(), rearm=rearm,
            ranges=tuple(channel.range if recorded[index] else None  # type: ignore[arg-type]
                         for index, channel in enumerate(self.channels)),
            raw=(raw[0] if recorded[0] else None, raw[1] if recorded[1] else None))
