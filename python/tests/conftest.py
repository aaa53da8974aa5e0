import os
from pathlib import Path

import pytest

import vm316

SOURCE_DIR = Path(os.environ.get("VM316_SOURCE_DIR", Path(__file__).resolve().parents[2]))


@pytest.fixture
def sim(monkeypatch, tmp_path):
    """The simulated board on the virtual clock, quiet, with its calibration files in a
    directory of the test's own, made there with the inputs grounded as on the board (a
    calibration with a signal on an input fails and leaves the front end uncorrected); gives a
    function that wires the inputs."""
    monkeypatch.chdir(tmp_path)
    for name, value in (("VM316_PORT", "sim"), ("VM316_CLOCK", "virtual"),
                        ("VM316_MESSAGES", "quiet")):
        monkeypatch.setenv(name, value)
    for name in ("VM316_SIM_CH1", "VM316_SIM_CH2", "VM316_SIM_EXT", "VM316_SIM_FAULT",
                 "VM316_SIM_BASE"):
        monkeypatch.delenv(name, raising=False)

    for name in ("VM316_SIM_CH1", "VM316_SIM_CH2", "VM316_SIM_EXT"):
        monkeypatch.setenv(name, "ground")
    with vm316.Instrument():
        pass

    def wire(**inputs):
        for name, spec in inputs.items():
            monkeypatch.setenv(f"VM316_SIM_{name.upper()}", spec)

    return wire
