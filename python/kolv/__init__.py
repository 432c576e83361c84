"""kolv in Python: run binaural audition networks on numpy arrays.

A network (a YAML/JSON file, or a dict of the same structure) runs in memory:
the arrays you give feed its ``WaveSource`` nodes in place of their files,
and what its sinks would write comes back as arrays and tables instead of
files. The results are those of ``kolv run`` on the same recording, to the
bit.

Audio scale: float arrays are on the -1 to 1 scale (as soundfile and librosa
give them), int16 arrays on the 16-bit scale; kolv's frames are on the 16-bit
scale (x 32768 for floats). Audio results are float32 on the -1 to 1 scale:
the 16-bit samples the command line writes into its WAV files, / 32768.

    >>> import kolv, soundfile
    >>> audio, rate = soundfile.read("scene.wav", dtype="float32")
    >>> out = kolv.run("networks/localize.yaml", audio, rate)
    >>> out["directions-table"]["azimuth"]
"""

import io
import json
import os

import numpy as np

from . import _kolv
from ._kolv import KolvError, KolvWarning, NetworkError, RunError

__all__ = ["run", "nodes", "describe", "KolvError", "NetworkError", "RunError", "KolvWarning"]

# The columns of the CSV sinks' tables; others are read as floats.
_COLUMN_TYPES = {
    "frame": np.int64,
    "time": np.float64,
    "id": np.int64,
    "azimuth": np.float64,
    "power": np.float64,
    "speech": np.int8,
}
_TABLE_SINKS = ("SourceTable", "SpeechTable")
# Python's spellings of the floats that YAML writes otherwise.
_YAML_FLOATS = {"inf": ".inf", "-inf": "-.inf", "nan": ".nan"}

_kolv.load_toolboxes()


class Results(dict):
    """The results of a run by sink node name; an unknown name is a KeyError
    that lists the sinks there are."""

    def __missing__(self, name):
        raise KeyError(f"no sink named {name!r} in the results; the network's sinks: "
                       f"{', '.join(sorted(self)) or 'none'}")


def _table(text):
    """The CSV text of a table sink as a numpy structured array."""
    header, _, rows = text.partition("\n")
    names = header.split(",")
    dtype = np.dtype([(name, _COLUMN_TYPES.get(name, np.float64)) for name in names])
    if not rows:
        return np.empty(0, dtype=dtype)
    return np.loadtxt(io.StringIO(rows), delimiter=",", dtype=dtype, ndmin=1)


def _assignment(name, value):
    """One NODE.PARAM=VALUE from a dict entry, typed by its Python type."""
    if isinstance(value, bool) or not isinstance(value, (int, float, str)):
        raise TypeError(f"set: {name} = {value!r}: give an int, a float or a string")
    if isinstance(value, str):
        quote = '"' if "'" in value else "'"
        return f"{name}={quote}{value}{quote}"
    if isinstance(value, float):
        text = repr(value)
        return f"{name}={_YAML_FLOATS.get(text, text)}"
    return f"{name}={value}"


def _assignments(settings):
    if settings is None:
        return []
    if isinstance(settings, dict):
        return [_assignment(name, value) for name, value in settings.items()]
    if isinstance(settings, str):
        return [settings]
    return list(settings)


def run(network, audio, rate, set=None, quiet=False):
    """Run a network on audio held in numpy arrays; return what its sinks make.

    network: the path of a network file (YAML or JSON), or a dict of the same
        structure ({"nodes": {NAME: {"type": ..., "params": ..., "inputs": ...}}}).
    audio: a numpy array, samples x channels (one dimension for one channel):
        int16 on the 16-bit scale, or float32/float64 on the -1 to 1 scale.
        For a network with several WaveSource nodes, a dict of arrays by node
        name. The arrays replace the nodes' FILE parameters.
    rate: the arrays' sampling rate in Hz. A WaveSource resamples it to its
        SAMPLING_RATE (libsoxr, as the command line does for files).
    set: parameters to set or add, as ``kolv run --set`` does: a list of
        "NODE.PARAM=VALUE" strings (VALUE typed as in a network file), or a
        dict {"NODE.PARAM": value} typed by the Python type (1 an int, 1.0 a
        float, "1" a string).
    quiet: silence kolv's own messages (as ``--quiet``); warnings and what
        nodes print are still shown.

    Returns a dict (Results) by sink node name: WaveSink -> float32 array (samples x
    channels, -1 to 1, the 16-bit samples of the file the command line would
    write, / 32768); SourceTable and SpeechTable -> numpy structured array with
    the CSV's columns (frame, time, id, azimuth, power / frame, time, speech);
    ObjectWriter -> the objects' text. Nothing is read from or written to the
    sinks' files.

    Raises NetworkError for a network that cannot be built (with the command
    line's message), RunError for a node that fails while frames run,
    ValueError/TypeError/KeyError for audio that does not fit the network, and
    KeyboardInterrupt when Ctrl-C stops the run. Warnings about the network
    come as KolvWarning through the warnings module.
    """
    path, text = None, ""
    if isinstance(network, dict):
        text = json.dumps(network)
    elif isinstance(network, (str, os.PathLike)):
        path = os.fspath(network)
        if not os.path.exists(path):
            raise NetworkError(f"{path}: no such network file")
    else:
        raise TypeError(f"network: give a file path or a dict, not {type(network).__name__}")
    if not isinstance(audio, dict):
        audio = np.asarray(audio)
    raw = _kolv.run(path, text, _assignments(set), audio, int(rate), quiet)
    results = Results()
    for name, (sink, value, _) in raw.items():
        results[name] = _table(value) if sink in _TABLE_SINKS else value
    return results


def nodes():
    """Every node type kolv knows: a dict {type: one-line summary}."""
    return dict(_kolv.node_types())


def describe(type):
    """A node type's ports and parameter table, as ``kolv nodes TYPE`` shows it.

    Returns {"type", "summary", "inputs", "outputs", "parameters"}: ports as
    dicts (name, type, meaning); parameters as dicts (name, type, unit,
    default (None when required or taken from the stream), required,
    accepted, stream (the stream property it is bound to, or None), meaning).
    Raises KeyError for an unknown type.
    """
    return _kolv.describe(type)
