"""The Pythonic layer on the simulated board: units, records as arrays, failures as
exceptions."""

import ctypes
import os
import re
import subprocess
import sys

import numpy as np
import pytest

import vm316
from vm316 import Coupling, Instrument, Slope, Status, TriggerSource

from conftest import SOURCE_DIR


def test_a_measurement_gives_volts_and_the_time_from_the_trigger(sim):
    sim(ch1="sine:freq=1000,amp=0.5", ch2="dc:offset=-1.25")
    with Instrument() as scope:
        scope.sample_rate = 1e6
        scope.record_length = 5000
        scope.post_samples = 4000
        scope.ch1.range = scope.ch2.range = 2
        scope.ch1.trigger_level = 0.0
        time, ch1, ch2 = scope.measure()
    assert len(time) == len(ch1) == len(ch2) == 5000
    assert time[1000] == 0.0 and time[0] == pytest.approx(-1e-3)
    assert np.diff(time) == pytest.approx(np.full(4999, 1e-6))
    assert (ch1.max() - ch1.min()) / 2 == pytest.approx(0.5, abs=0.05)
    assert ch2.mean() == pytest.approx(-1.25, abs=0.05)


def test_settings_read_back_in_volts_hertz_and_seconds(sim):
    with Instrument() as scope:
        scope.sample_rate = 333_333  # the clock divider gives the nearest rate it can
        assert scope.sample_rate == pytest.approx(333_333, rel=0.01)
        assert scope.max_sample_rate == 20e6
        scope.ch2.range = 0.3  # the nearest range
        assert scope.ch2.range in scope.ranges and scope.ranges[0] == 80
        scope.ch2.coupling = Coupling.AC
        scope.ch2.dc_level = 0.1
        scope.ch2.auto_range = True
        assert (scope.ch2.coupling, scope.ch2.dc_level, scope.ch2.auto_range) == \
            (Coupling.AC, pytest.approx(0.1), True)
        scope.trigger_source = TriggerSource.CH2
        scope.trigger_slope = Slope.FALLING
        assert (scope.trigger_source, scope.trigger_slope) == (TriggerSource.CH2, Slope.FALLING)
        scope.trigger_timeout = 0.25
        assert scope.trigger_timeout == 0.25
        scope.trigger_timeout = None
        assert scope.trigger_timeout is None


def test_a_refused_value_raises_naming_the_status_and_changes_nothing(sim):
    with Instrument() as scope:
        scope.record_length = 1000
        with pytest.raises(vm316.InvalidValueError, match="SetRecordLength: StatusInvalidValue"):
            scope.record_length = scope.max_record_length + 1
        assert scope.record_length == 1000
        with pytest.raises(vm316.InvalidChannelError) as failure:
            vm316.Channel(3, scope).range = 2
        assert failure.value.status == Status.INVALID_CHANNEL
        with pytest.raises(vm316.NotSupportedError):
            scope.trigger_source = 2  # tsCh3: the board has two channels
        with pytest.raises(ValueError):
            scope.trigger_timeout = -1


def test_no_board_raises_no_hardware(sim, monkeypatch):
    monkeypatch.setenv("VM316_SIM_BASE", "0x300")
    with pytest.raises(vm316.NoHardwareError, match="InitInstrument: StatusNoHardware"):
        Instrument(0x378).open()


def test_the_raw_layer_answers_status_codes_and_fills_buffers(sim):
    library = vm316.library()
    assert library.GetRecordLength() == 0  # no instrument: a plain-value query answers 0
    assert library.InitInstrument(0x378) == Status.OK
    try:
        channels = ctypes.c_uint16()
        assert library.GetNrChannels(ctypes.byref(channels)) == Status.OK and channels.value == 2
        assert library.SetRecordLength(100) == Status.OK
        assert library.StartMeasurement() == Status.OK
        raw = (ctypes.c_uint16 * 100)()
        assert library.ADC_GetDataCh(1, raw) == Status.OK
        assert all(abs(sample - 32768) < 2048 for sample in raw)  # a grounded input
        assert library.GetFunctionGenStatus() == Status.NO_GENERATOR
    finally:
        library.ExitInstrument()


def test_the_example_of_the_documentation_measures(sim, tmp_path):
    example = re.search(r"```python\n(.*?)```", (SOURCE_DIR / "docs" / "python.md").read_text(),
                        re.S).group(1)
    script = tmp_path / "measure.py"
    script.write_text(example)
    environment = dict(os.environ, VM316_SIM_CH1="sine:freq=1000,amp=0.5")
    environment["PYTHONPATH"] = os.pathsep.join(sys.path)
    result = subprocess.run([sys.executable, str(script)], env=environment, cwd=tmp_path,
                            capture_output=True, text=True, check=True)
    assert re.fullmatch(r"channel 1: 0\.[45]\d\d V amplitude over 0\.0100 s\n", result.stdout)
