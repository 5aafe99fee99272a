"""Shared fixtures of the end-to-end tests: the build folder and a runner
that starts the built Windows programs under Wine in the build's prefix."""

import os
import subprocess
from pathlib import Path

import pytest


def pytest_addoption(parser):
    parser.addoption("--build-dir", action="store", default=os.environ.get("TARVO_BUILD_DIR", "out"),
                     help="CMake build folder that holds the programs and wine-run")


@pytest.fixture(scope="session")
def build_dir(request):
    path = Path(request.config.getoption("--build-dir")).resolve()
    if not (path / "wine-run").exists():
        pytest.fail(f"{path} is not a configured build folder")
    return path


@pytest.fixture(scope="session")
def run_exe(build_dir):
    """run_exe(relative_exe, *args, input=None, timeout=600) -> CompletedProcess

    The timeout only guards against a hang: a busy machine must never fail
    a test by being slow."""

    def run(exe, *args, input=None, timeout=600, check=False):
        command = [str(build_dir / "wine-run"), str(build_dir / exe), *map(str, args)]
        return subprocess.run(command, input=input, capture_output=True, timeout=timeout,
                              check=check)

    return run


def windows_path(path):
    """The path of a Linux file as a Windows program under Wine sees it."""
    return "Z:" + str(Path(path).resolve()).replace("/", "\\")
