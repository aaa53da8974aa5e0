"""The package keeps the command line's rules: the same units, the same refusals (as exceptions
that are also the Python ones that fit), volts at the input, and a well-kept surface."""

import inspect
import pydoc
import shutil
import subprocess
import sys
from pathlib import Path

import pytest

import vm316
from vm316 import Channel, Instrument, TriggerSource

from conftest import SOURCE_DIR


def test_values_outside_the_board_are_refused_in_the_command_lines_words(sim):
    with Instrument() as scope:
        scope.sample_rate, scope.record_length, scope.ch1.range = "1M", "10k", "800mV"
        assert (scope.sample_rate, scope.record_length, scope.ch1.range) == (1e6, 10_000, 0.8)
        generator = scope.generator
        refusals = (
            (lambda: setattr(scope.ch1, "range", -5), "0.02 V to 80 V full scale"),
            (lambda: setattr(scope, "sample_rate", 30e6), "the board samples at 0.61 Hz to 20 MHz"),
            (lambda: setattr(scope, "generator", "250k"), "100 Hz to 100 kHz, or off"),
            (lambda: setattr(scope.ch1, "trigger_hysteresis", -1), "at least 0 V"),
            (lambda: setattr(scope, "sample_rate", "fast"), "a sample rate is a number of Hz"),
        )
        for refuse, says in refusals:
            with pytest.raises(vm316.InvalidValueError, match=says) as failure:
                refuse()
            assert isinstance(failure.value, ValueError)
        assert (scope.sample_rate, scope.ch1.range, scope.generator) == (1e6, 0.8, generator)
        scope.generator = "3k"
        assert scope.generator == 3001  # 4 MHz / 1333
        scope.generator = None
        assert scope.generator == 0


def test_the_trigger_level_is_in_volts_at_the_input(sim):
    with Instrument() as scope:
        scope.ch1.range = 0.8
        scope.ch1.dc_level = 1.0
        scope.ch1.trigger_level = 1.2
        assert scope.ch1.trigger_level == pytest.approx(1.2, abs=0.8 / 128)
        scope.ch1.dc_level = 0.5  # the level stays where it is at the input
        assert scope.ch1.trigger_level == pytest.approx(1.2, abs=0.8 / 128)
        with pytest.raises(ValueError):
            scope.ch1.trigger_level = 2.0  # beyond the window 0.5 V +- 0.8 V


def test_the_instrument_is_used_only_while_it_is_open_and_once(sim):
    scope = Instrument()
    for use in (lambda: scope.sample_rate, lambda: setattr(scope.ch1, "range", 2),
                lambda: scope.measure()):
        with pytest.raises(vm316.NotInitializedError):
            use()
    with scope:
        with pytest.raises(vm316.AlreadyOpenError):
            scope.open()
        with pytest.raises(RuntimeError):
            Instrument().open()
        assert scope.is_open and scope.sample_rate > 0
    assert not scope.is_open


def test_only_the_trigger_sources_the_board_takes_are_offered(sim):
    assert {source.name for source in TriggerSource} == {"CH1", "CH2", "EXTERNAL", "AND", "OR",
                                                         "NONE"}
    with Instrument() as scope:
        for source in TriggerSource:
            scope.trigger_source = source
            assert scope.trigger_source is source


def test_the_surface_is_documented_and_typed():
    assert "address: int = 0x378" in pydoc.render_doc(Instrument)
    for cls in (Instrument, Channel):
        for name, member in vars(cls).items():
            if name.startswith("_"):
                continue
            assert inspect.getdoc(member), f"{cls.__name__}.{name} has no docstring"
            function = member.fget if isinstance(member, property) else member
            if callable(function):
                assert "return" in function.__annotations__, f"{cls.__name__}.{name}"
    assert (Path(vm316.__file__).parent / "py.typed").is_file()


def test_pip_install_writes_nothing_into_the_source_tree(tmp_path):
    pytest.importorskip("pip")
    source = tmp_path / "source"
    shutil.copytree(SOURCE_DIR / "python", source,
                    ignore=shutil.ignore_patterns("__pycache__", "tests"))
    before = sorted(path.relative_to(source) for path in source.rglob("*"))
    subprocess.run([sys.executable, "-m", "pip", "install", "--quiet", "--no-build-isolation",
                    "--no-index", "--no-deps", "--target", str(tmp_path / "target"), str(source)],
                   check=True, capture_output=True)
    assert sorted(path.relative_to(source) for path in source.rglob("*")) == before
    assert (tmp_path / "target" / "vm316" / "py.typed").is_file()
