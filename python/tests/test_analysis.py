"""A record's measurements, spectrum and XY figure read in Python what the command line reads:
known inputs through the simulated board, and "--" (None) where a record cannot give a value."""

import numpy as np
import pytest

from vm316 import Instrument, MeasureMode


def _record(sim, rate="100k", length=1000, mode=MeasureMode.CH12, **inputs):
    sim(**inputs)
    with Instrument() as scope:
        scope.ch1.range = scope.ch2.range = 8
        scope.sample_rate, scope.record_length = rate, length
        scope.measure_mode = mode
        return scope.measure()


def test_the_square_waves_pulse_measurements_and_none_where_a_record_cannot_give_them(sim):
    record = _record(sim, ch1="square:freq=1000,amp=2,duty=0.25", ch2="dc:offset=1")
    square = record.statistics(1)
    assert square.frequency == pytest.approx(1000, rel=0.005)
    assert square.period == pytest.approx(1e-3, rel=0.005)
    assert square.duty_cycle == pytest.approx(0.25, abs=0.02)
    assert square.positive_width == pytest.approx(250e-6, rel=0.05)
    assert square.peak_to_peak == pytest.approx(4, rel=0.05)
    assert square.rise_time is not None and square.rise_time < 2 / 100e3  # a sample or two
    flat = record.statistics(2)
    assert flat.mean == pytest.approx(1, abs=0.1)
    assert (flat.frequency, flat.period, flat.rise_time, flat.duty_cycle) == (None,) * 4
    clipped = _record(sim, ch1="square:freq=1000,amp=9", ch2="ground").statistics(1)
    assert clipped.frequency is not None and clipped.period is None  # over the 8 V range
    with pytest.raises(ValueError, match="channel 2 was not recorded"):
        _record(sim, mode=MeasureMode.CH1, ch1="ground").statistics(2)


def test_the_spectrum_reads_a_sines_level_and_a_squares_odd_harmonics(sim):
    sine = _record(sim, rate="1M", length=10_000, ch1="sine:freq=1000,amp=0.5", ch2="ground")
    line = sine.spectrum(1, "flattop")
    assert line.peak.frequency == pytest.approx(1000)
    assert line.peak.dbv == pytest.approx(-9.03, abs=0.3)
    assert line.frequency.size == line.dbv.size == 5001 and line.bin_hz == pytest.approx(100)
    assert line.text.startswith("ch1 spectrum (flattop, 100.0 Hz a bin): peak 1.000 kHz")
    square = _record(sim, rate="1M", length=10_000, ch1="square:freq=1000,amp=1",
                     ch2="ground").spectrum(1, "flattop")
    fundamental = 10 ** (square.peak.dbv / 20)
    odd = {round(h.frequency): 10 ** (h.dbv / 20) / fundamental for h in square.harmonics}
    for harmonic in (3, 5, 7):
        assert odd[harmonic * 1000] == pytest.approx(1 / harmonic, rel=0.06), harmonic
    with pytest.raises(ValueError, match="hann, flattop, rect"):
        sine.spectrum(1, "blackman")


def test_xy_of_two_sines_90_degrees_apart_is_a_circle_and_in_phase_a_line(sim):
    def figure(phase):
        record = _record(sim, mode=MeasureMode.XY, ch1="sine:freq=1000,amp=2",
                         ch2=f"sine:freq=1000,amp=2,phase={phase}")
        return record.ch1 - record.ch1.mean(), record.ch2 - record.ch2.mean()

    x, y = figure(90)
    radius = np.hypot(x, y)
    assert radius.std() / radius.mean() < 0.03 and radius.mean() == pytest.approx(2, rel=0.05)
    turn = np.unwrap(np.arctan2(y, x))
    assert abs(turn[-1] - turn[0]) > 2 * np.pi * 9  # ten periods go round ten times
    x, y = figure(0)
    assert np.abs(y - x).max() < 0.2  # the diagonal
