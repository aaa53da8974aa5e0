"""measure() as the command line takes a record: the block style with Trig'd or Auto, the
channels that were recorded only, and a wait that Ctrl-C stops without spinning."""

import os
import signal
import threading
import time

import numpy as np
import pytest

import vm316
from vm316 import Instrument, MeasureMode, Slope, TriggerSource, TriggerState


def test_a_channel_that_was_not_recorded_is_none(sim):
    sim(ch1="sine:freq=1000,amp=0.5", ch2="dc:offset=1")
    with Instrument() as scope:
        scope.ch2.range = 2
        first = scope.measure()
        assert first.ch2 is not None and first.ch2.mean() == pytest.approx(1, abs=0.05)
        for mode, recorded in ((MeasureMode.CH1, (True, False)),
                               (MeasureMode.CH2, (False, True))):
            scope.measure_mode = mode
            record = scope.measure()
            assert (record.ch1 is not None, record.ch2 is not None) == recorded, mode


def test_a_record_says_how_it_was_triggered_and_what_clipped(sim):
    sim(ch1="generator", ch2="dc:offset=-9")
    with Instrument() as scope:
        scope.generator = "1k"
        scope.ch1.range = scope.ch2.range = "8V"
        scope.sample_rate = "100k"
        scope.trigger_timeout = "50ms"
        scope.ch1.trigger_level = 2.5
        record = scope.measure()
        assert record.trigger_state is TriggerState.TRIGGERED and record.triggered
        assert record.trigger_state.mark == "Trig'd" and record.rearm is None
        assert record.over_range == (False, True)  # -9 V on the 8 V range
        assert record.sample_rate == 100e3 and record.timestamp.tzinfo is not None
        # Near the square's bottom the default hysteresis asks for -0.5 V to re-arm.
        scope.ch1.trigger_level = 0.1
        forced = scope.measure()
        assert forced.trigger_state is TriggerState.FORCED and forced.trigger_state.mark == "Auto"
        assert "re-arms only below" in forced.rearm and "(trigger_hysteresis)" in forced.rearm
        scope.ch1.trigger_hysteresis = "50mV"
        assert scope.measure().triggered
        scope.trigger_source = "none"
        assert scope.measure().trigger_state is TriggerState.FREE_RUNNING


def test_ctrl_c_stops_a_wait_for_ever_without_spinning_and_the_instrument_goes_on(sim):
    sim(ch1="ground")
    with Instrument() as scope:
        scope.trigger_timeout = None
        scope.ch1.range = 8
        scope.trigger_source = TriggerSource.CH1
        scope.ch1.trigger_level = 1.0  # a grounded input never gets there
        timer = threading.Timer(0.5, os.kill, (os.getpid(), signal.SIGINT))
        started, cpu = time.monotonic(), time.process_time()
        timer.start()
        with pytest.raises(KeyboardInterrupt):
            scope.measure()
        waited = time.monotonic() - started
        assert 0.5 <= waited < 0.5 + 0.25
        assert (time.process_time() - cpu) / waited < 0.5, "the wait spins"
        scope.trigger_source = TriggerSource.NONE
        record = scope.measure()
        assert record.ch1 is not None and abs(record.ch1.mean()) < 0.1
