"""A record's measurements and spectrum, computed by the same code as the command line's
tables and ``measure --spectrum`` (libvm316_host_c), so that Python reads what ``vm316``
shows."""

from dataclasses import dataclass
from typing import List, Optional

import numpy as np

from . import _rules

WINDOWS = ("hann", "flattop", "rect")


@dataclass(frozen=True)
class Statistics:
    """The measurements of one channel: volts, hertz and seconds; the duty cycle and the
    overshoot as fractions. None where the record cannot give one (``--`` on the command line):
    a frequency needs a whole period; the pulse measurements need one whole period (three
    edges), no edge cut off by the record's ends, and a record within its range."""

    min: float
    max: float
    peak_to_peak: float
    mean: float
    rms: float  # of the whole signal, DC included
    frequency: Optional[float]
    period: Optional[float]
    rise_time: Optional[float]  # 10 % to 90 % of the amplitude
    fall_time: Optional[float]  # 90 % to 10 %
    positive_width: Optional[float]
    negative_width: Optional[float]
    duty_cycle: Optional[float]
    overshoot: Optional[float]


@dataclass(frozen=True)
class SpectralLine:
    frequency: float  # Hz
    dbv: float  # the RMS of the line's sine, 0 dBV = 1 V rms


@dataclass(frozen=True)
class Spectrum:
    """The amplitude spectrum of one channel in dBV from 0 Hz to half the sample rate."""

    frequency: np.ndarray  # Hz, one per bin
    dbv: np.ndarray
    bin_hz: float
    window: str
    peak: Optional[SpectralLine]  # the highest line above 0 Hz, its level from a sine fit
    harmonics: List[SpectralLine]  # at 2, 3, ... 7 times the peak, below half the sample rate
    text: str  # measure --spectrum's line


def statistics(volts: np.ndarray, raw: np.ndarray, sample_rate: float,
               full_scale: float) -> Statistics:
    return Statistics(*_rules.trace_statistics(volts, raw, sample_rate, full_scale))


def spectrum(channel: int, volts: np.ndarray, sample_rate: float, window: str) -> Spectrum:
    if window not in WINDOWS:
        raise ValueError(f"the window is one of {', '.join(WINDOWS)}, not {window!r}")
    bin_hz, dbv, lines, text = _rules.spectrum(channel, volts, sample_rate, window)
    found = [SpectralLine(*line) if line else None for line in lines]
    return Spectrum(frequency=np.arange(dbv.size) * bin_hz, dbv=dbv, bin_hz=bin_hz,
                    window=window, peak=found[0],
                    harmonics=[line for line in found[1:] if line is not None], text=text)
