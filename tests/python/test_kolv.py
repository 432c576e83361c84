"""kolv.run against kolv run: same recording, same results to the bit; errors
as exceptions carrying the command line's messages."""

import json
import os
import signal
import subprocess
import threading
import wave

import numpy as np
import pytest

import kolv

SOURCE = os.environ.get("KOLV_SOURCE_DIR", os.path.join(os.path.dirname(__file__), "..", ".."))
BUILD = os.environ.get("KOLV_BUILD_DIR", os.path.join(SOURCE, "build"))
KOLV = os.path.join(BUILD, "kolv")
DEMO = os.path.join(SOURCE, "data", "demo", "scene.wav")
ALL_SINKS = os.path.join(os.path.dirname(__file__), "all-sinks.yaml")
FULL_SCALE = 32768.0

ROUNDTRIP = {
    "nodes": {
        "source": {"type": "WaveSource", "params": {"SAMPLING_RATE": 16000, "LENGTH": 512, "ADVANCE": 160}},
        "spectrum": {"type": "STFT", "params": {"WINDOW": "HANN"}, "inputs": {"AUDIO": "source.AUDIO"}},
        "resynthesis": {"type": "ISTFT", "params": {"WINDOW": "HANN"}, "inputs": {"SPECTRUM": "spectrum.SPECTRUM"}},
        "sink": {"type": "WaveSink", "params": {"FILE": "roundtrip.wav"}, "inputs": {"AUDIO": "resynthesis.AUDIO"}},
    }
}


def read_wav(path):
    with wave.open(path) as w:
        samples = np.frombuffer(w.readframes(w.getnframes()), dtype="<i2")
        return samples.reshape(-1, w.getnchannels()), w.getframerate()


def write_wav(path, samples, rate):
    with wave.open(str(path), "wb") as w:
        w.setnchannels(samples.shape[1])
        w.setsampwidth(2)
        w.setframerate(rate)
        w.writeframes(samples.astype("<i2").tobytes())


def kolv_cli(*args, cwd=None):
    return subprocess.run([KOLV, *args], capture_output=True, text=True, cwd=cwd)


def read_table(path):
    with open(path) as f:
        return kolv._table(f.read())


def cli_results(network, recording, out, *settings):
    """What kolv run writes, read back the way kolv.run returns it."""
    sets = [a for s in settings for a in ("--set", s)]
    done = kolv_cli("run", network, "--set", f"source.FILE={recording}", *sets, "--out", str(out), "--quiet")
    assert done.returncode == 0, done.stderr
    return out


@pytest.fixture(scope="module")
def demo():
    return read_wav(DEMO)


@pytest.mark.parametrize("rate", [16000, 22050])
def test_same_results_as_the_command_line(tmp_path, demo, rate):
    # At another rate both resample the same samples with libsoxr.
    samples, _ = demo
    recording = tmp_path / "in.wav"
    write_wav(recording, samples, rate)
    out = cli_results(ALL_SINKS, recording, tmp_path / "out")
    results = kolv.run(ALL_SINKS, samples, rate, quiet=True)

    files = out / "kolv-out"
    for sink, name in [("first-source-file", "separated-1.wav"), ("second-source-file", "separated-2.wav"),
                       ("enhanced-file", "enhanced.wav")]:
        expected, _ = read_wav(str(files / name))
        assert results[sink].dtype == np.float32
        np.testing.assert_array_equal(results[sink] * FULL_SCALE, expected, err_msg=sink)
    for sink, name in [("directions-table", "directions.csv"), ("tracked-table", "tracked.csv"),
                       ("speech-table", "speech.csv")]:
        expected = read_table(files / name)
        assert len(expected) > 0
        np.testing.assert_array_equal(results[sink], expected, err_msg=sink)
    assert results["decisions"] == (files / "decisions.txt").read_text()


def test_sample_types_give_the_same_results(demo):
    samples, rate = demo
    kinds = {
        "int16": samples,
        "float32": samples.astype(np.float32) / np.float32(FULL_SCALE),
        "float64": samples / FULL_SCALE,
        "float32, Fortran order": np.asfortranarray(samples.astype(np.float32) / np.float32(FULL_SCALE)),
    }
    results = {kind: kolv.run(ROUNDTRIP, audio, rate)["sink"] for kind, audio in kinds.items()}
    for kind, audio in results.items():
        np.testing.assert_array_equal(audio, results["int16"], err_msg=kind)
    # The round trip gives back the recording (but for its faded-in start,
    # about 0.3 of a frame).
    np.testing.assert_allclose(results["int16"][160 : len(samples)] * FULL_SCALE, samples[160:], atol=1)


def test_one_channel_and_a_dict_of_audio(demo):
    samples, rate = demo
    left = samples[:, 0]
    by_array = kolv.run(ROUNDTRIP, left, rate)["sink"]
    by_dict = kolv.run(ROUNDTRIP, {"source": left.reshape(-1, 1)}, rate)["sink"]
    assert by_array.shape[1] == 1
    np.testing.assert_array_equal(by_array, by_dict)


def test_several_wave_sources_take_a_dict_of_arrays(demo):
    samples, rate = demo
    network = {"nodes": {}}
    for side in ("left", "right"):
        network["nodes"][side] = {"type": "WaveSource"}
        network["nodes"][f"{side}-file"] = {"type": "WaveSink", "params": {"FILE": f"{side}.wav"},
                                            "inputs": {"AUDIO": f"{side}.AUDIO"}}
    with pytest.raises(ValueError, match=r"2 WaveSource nodes \('left', 'right'\): give the audio as a dict"):
        kolv.run(network, samples, rate)
    results = kolv.run(network, {"left": samples[:, :1], "right": samples[:, 1:]}, rate)
    # WaveSource frames overlap (LENGTH 512, ADVANCE 160): each file holds every frame whole.
    for side, channel in (("left", 0), ("right", 1)):
        np.testing.assert_array_equal(results[f"{side}-file"][:512, 0] * FULL_SCALE, samples[:512, channel])


def test_a_dict_network_is_the_file_network(tmp_path, demo):
    samples, rate = demo
    from_file = kolv.run(os.path.join(SOURCE, "networks", "roundtrip.yaml"), samples, rate)["sink"]
    np.testing.assert_array_equal(kolv.run(ROUNDTRIP, samples, rate)["sink"], from_file)
    assert not (tmp_path / "roundtrip.wav").exists() and not os.path.exists("roundtrip.wav")


def test_settings_as_the_command_line_takes_them(demo):
    samples, rate = demo
    as_list = kolv.run(ROUNDTRIP, samples, rate, set=["spectrum.WINDOW=RECTANGLE", "resynthesis.WINDOW=RECTANGLE"])
    as_dict = kolv.run(ROUNDTRIP, samples, rate, set={"spectrum.WINDOW": "RECTANGLE", "resynthesis.WINDOW": "RECTANGLE"})
    np.testing.assert_array_equal(as_list["sink"], as_dict["sink"])
    # Every sample comes back with RECTANGLE, the first one too (a tapering
    # window fades the first ones in).
    assert abs(as_list["sink"][0, 0] * FULL_SCALE - samples[0, 0]) <= 1


def broken(**changes):
    network = {"nodes": {name: dict(node) for name, node in ROUNDTRIP["nodes"].items()}}
    for name, node in changes.items():
        network["nodes"][name] = node
    return network


NETWORK_ERRORS = {
    "unknown type": (broken(spectrum={"type": "SFTF", "inputs": {"AUDIO": "source.AUDIO"}}), []),
    "unknown port": (broken(spectrum={"type": "STFT", "inputs": {"AUDIOO": "source.AUDIO"}}), []),
    "value out of range": (ROUNDTRIP, ["resynthesis.ADVANCE=0"]),
    "set on no node": (ROUNDTRIP, ["nobody.FILE=x"]),
}


@pytest.mark.parametrize("case", NETWORK_ERRORS)
def test_a_network_that_cannot_be_built_says_what_the_command_line_says(tmp_path, demo, capfd, case):
    network, settings = NETWORK_ERRORS[case]
    samples, rate = demo
    with pytest.raises(kolv.NetworkError) as raised:
        kolv.run(network, samples[:16000], rate, set=settings)
    assert capfd.readouterr() == ("", "")
    # The same network from a file, through the command line.
    path = tmp_path / "network.json"
    path.write_text(json.dumps(network))
    done = kolv_cli("run", str(path), *[a for s in settings for a in ("--set", s)], "--quiet")
    assert done.returncode == 2
    assert done.stderr == "kolv: " + str(raised.value).replace("network:", f"{path}:", 1) + "\n"


def test_a_node_failing_mid_run_is_a_run_error(tmp_path, demo):
    objects = tmp_path / "objects.txt"
    objects.write_text("<Vector<float> bogus>\n")
    network = {
        "nodes": {
            "source": {"type": "WaveSource"},
            "reader": {"type": "ObjectReader", "params": {"FILE": str(objects)}},
            "writer": {"type": "ObjectWriter", "params": {"FILE": "copy.txt"}, "inputs": {"INPUT": "reader.OUTPUT"}},
            "sink": {"type": "WaveSink", "params": {"FILE": "out.wav"}, "inputs": {"AUDIO": "source.AUDIO"}},
        }
    }
    samples, rate = demo
    with pytest.raises(kolv.RunError, match=r"node 'reader' \(ObjectReader\) failed at frame 0") as raised:
        kolv.run(network, samples, rate)
    path = tmp_path / "network.json"
    path.write_text(json.dumps(network))
    done = kolv_cli("run", str(path), "--set", f"source.FILE={DEMO}", "--quiet", cwd=tmp_path)
    assert done.returncode == 1
    assert done.stderr == "kolv: " + str(raised.value).replace("network:", f"{path}:", 1) + "\n"


@pytest.mark.parametrize(
    "audio, error, words",
    [
        (np.zeros((100, 2, 2), np.float32), ValueError, "3 dimensions"),
        (np.zeros((2, 16000), np.float32), ValueError, "2 x 16000"),
        (np.zeros((16000, 2), np.int32), TypeError, "int32"),
        (np.zeros((16000, 2), np.complex64), TypeError, "complex64"),
        ({"sauce": np.zeros((16000, 2), np.int16)}, KeyError, "'sauce', which is no WaveSource node"),
        ({}, KeyError, "no audio for the WaveSource node 'source'"),
    ],
)
def test_audio_that_does_not_fit_is_refused(capfd, audio, error, words):
    with pytest.raises(error, match=words):
        kolv.run(ROUNDTRIP, audio, 16000)
    assert capfd.readouterr() == ("", "")


def test_an_unknown_sink_name_lists_the_sinks(demo):
    samples, rate = demo
    results = kolv.run(ROUNDTRIP, samples[:16000], rate)
    with pytest.raises(KeyError, match="no sink named 'snik'.*sinks: sink"):
        results["snik"]


def test_a_network_without_a_wave_source_is_refused(tmp_path, capfd):
    network = {"nodes": {"reader": {"type": "ObjectReader", "params": {"FILE": "x.txt"}},
                         "writer": {"type": "ObjectWriter", "params": {"FILE": "y.txt"}, "inputs": {"INPUT": "reader.OUTPUT"}}}}
    with pytest.raises(ValueError, match="no WaveSource"):
        kolv.run(network, np.zeros((100, 2), np.int16), 16000)
    with pytest.raises(kolv.NetworkError, match="no such network file"):
        kolv.run(str(tmp_path / "missing.yaml"), np.zeros((100, 2), np.int16), 16000)
    assert capfd.readouterr() == ("", "")


def test_network_warnings_are_python_warnings(tmp_path, demo):
    samples, rate = demo
    short = samples[: rate // 2]
    with pytest.warns(kolv.KolvWarning) as caught:
        kolv.run(ALL_SINKS, short, rate, quiet=True)
    recording = tmp_path / "short.wav"
    write_wav(recording, short, rate)
    done = kolv_cli("run", ALL_SINKS, "--set", f"source.FILE={recording}", "--out", str(tmp_path), "--quiet")
    printed = [line for line in done.stderr.splitlines() if line.startswith("kolv: warning: ")]
    in_memory = [str(w.message).replace("the recording given in memory", f"'{recording}'") for w in caught]
    assert printed == ["kolv: warning: " + text for text in in_memory]


def test_ctrl_c_stops_a_run_and_the_next_run_works(demo):
    samples, rate = demo
    long = np.tile(samples, (60, 1))  # ten minutes
    timer = threading.Timer(0.3, os.kill, (os.getpid(), signal.SIGINT))
    timer.start()
    with pytest.raises(KeyboardInterrupt):
        kolv.run(ALL_SINKS, long, rate, quiet=True)
    timer.join()
    assert kolv.run(ROUNDTRIP, samples, rate)["sink"].shape == samples.shape


def test_node_types_and_their_parameter_tables():
    types = kolv.nodes()
    assert {"WaveSource", "STFT", "BinauralMultisourceLocalization", "SpeechEnhancement"} <= set(types)
    stft = kolv.describe("STFT")
    assert [p["name"] for p in stft["parameters"]] == ["LENGTH", "WINDOW"]
    length = stft["parameters"][0]
    assert (length["type"], length["unit"], length["stream"], length["required"]) == ("int", "samples", "frame length", False)
    assert [port["name"] for port in stft["inputs"]] == ["AUDIO"]
    source = {p["name"]: p for p in kolv.describe("WaveSource")["parameters"]}
    assert source["SAMPLING_RATE"]["default"] == 16000
    with pytest.raises(KeyError, match="no node type named SFTF"):
        kolv.describe("SFTF")
