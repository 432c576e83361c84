"""tools/plot-results.py on the results of a real kolv run."""

import os
import subprocess
import sys

import matplotlib.image
import pytest

SOURCE = os.environ.get("KOLV_SOURCE_DIR", os.path.join(os.path.dirname(__file__), "..", ".."))
BUILD = os.environ.get("KOLV_BUILD_DIR", os.path.join(SOURCE, "build"))
DEMO = os.path.join(SOURCE, "data", "demo", "scene.wav")
PLOT = os.path.join(SOURCE, "tools", "plot-results.py")
ALL_SINKS = os.path.join(os.path.dirname(__file__), "all-sinks.yaml")
PICTURES = ("waveform.png", "directions.png", "spectrograms.png")


@pytest.fixture(scope="module")
def results(tmp_path_factory):
    out = tmp_path_factory.mktemp("run")
    subprocess.run([os.path.join(BUILD, "kolv"), "run", ALL_SINKS, "--set", f"source.FILE={DEMO}",
                    "--out", str(out), "--quiet"], check=True, stdout=subprocess.DEVNULL)
    return out


def plot(*args):
    return subprocess.run([sys.executable, PLOT, *map(str, args)], capture_output=True, text=True)


def test_pictures_of_the_whole_recording(results):
    done = plot(results, "--recording", DEMO)
    assert done.returncode == 0, done.stderr
    for name in PICTURES:
        path = results / "pictures" / name
        assert path.stat().st_size > 20_000, name
        height, width, _ = matplotlib.image.imread(path).shape
        assert width >= 1000 and height >= 300, (name, width, height)


def test_results_of_another_recording_are_refused(results, tmp_path):
    short = tmp_path / "short.wav"
    subprocess.run(["sox", DEMO, str(short), "trim", "0", "3"], check=True)
    done = plot(results, "--recording", short, "--pictures", tmp_path / "pictures")
    assert done.returncode == 2
    assert "lasts 3.0 s but the results cover 10.0 s" in done.stderr
    assert not (tmp_path / "pictures").exists()


def test_a_folder_without_results_is_refused(tmp_path):
    done = plot(tmp_path)
    assert done.returncode == 2
    assert "does not hold all of speech.csv" in done.stderr
