#!/usr/bin/env python3
"""Pictures of a whole recording from what the default network wrote.

usage: tools/plot-results.py OUT_DIR [--recording FILE] [--pictures DIR] [--dpi N]

Reads, from OUT_DIR (or OUT_DIR/kolv-out, where `kolv run --out OUT_DIR`
puts the default network's results):

  speech.csv      the speech decision of each frame (SpeechTable)
  directions.csv  the per-frame direction estimates (SourceTable)
  tracked.csv     the tracked directions with their ids (SourceTable)
  enhanced.wav    the recording with its stationary noise removed (WaveSink)

and the recording itself (--recording; default: the embedded demo recording,
which `kolv run` uses without a network). Writes into DIR (default
OUT_DIR/pictures):

  waveform.png     both channels of the recording, speech frames shaded
  directions.png   per-frame estimates as dots, tracks as lines with their ids
  spectrograms.png the left channel before and after enhancement
"""

import argparse
import io
import os
import subprocess
import sys
import wave

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402
import numpy as np  # noqa: E402

HERE = os.path.dirname(os.path.abspath(__file__))
DEMO_RECORDING = os.path.join(HERE, "..", "data", "demo", "scene.wav")
RESULT_FILES = ("speech.csv", "directions.csv", "tracked.csv", "enhanced.wav")
FULL_SCALE = 32768.0
# Spectrograms: 32 ms frames shifted by 10 ms at 16 kHz, as the network's STFT.
SPECTRUM_SECONDS = 0.032
SHIFT_SECONDS = 0.010
DYNAMIC_RANGE_DB = 80.0
# A recording and results more than this apart in length do not belong together.
LENGTH_TOLERANCE_SECONDS = 1.0
# A track is drawn broken where it is not seen for this many frames, or
# where it jumps by more than this many degrees from one frame to the next.
TRACK_GAP_FRAMES = 2
TRACK_JUMP_DEGREES = 15.0
# A track's id is written at the start of each stretch at least this long.
LABELLED_STRETCH_SECONDS = 0.5
FIGURE_WIDTH = 10.0
DEFAULT_DPI = 110


class Unusable(Exception):
    """Input that cannot be drawn, in the user's words."""


def results_folder(out_dir):
    for folder in (out_dir, os.path.join(out_dir, "kolv-out")):
        if all(os.path.exists(os.path.join(folder, name)) for name in RESULT_FILES):
            return folder
    raise Unusable(f"{out_dir} (or its kolv-out/) does not hold all of {', '.join(RESULT_FILES)}: "
                   "give the folder the default network wrote into")


def read_audio(path):
    """Samples (samples x channels, -1 to 1) and rate of a WAV file, or of any
    file sox reads."""
    try:
        with wave.open(path) as w:
            if w.getsampwidth() == 2:
                samples = np.frombuffer(w.readframes(w.getnframes()), dtype="<i2")
                return samples.reshape(-1, w.getnchannels()) / FULL_SCALE, w.getframerate()
    except (wave.Error, EOFError):
        pass
    except OSError as e:
        raise Unusable(f"cannot read {path}: {e.strerror}")
    try:
        converted = subprocess.run(["sox", path, "-t", "wav", "-e", "signed", "-b", "16", "-"],
                                   capture_output=True, check=True).stdout
    except (OSError, subprocess.CalledProcessError):
        raise Unusable(f"cannot read {path} (16-bit WAV, or any format with sox installed)")
    return read_audio_bytes(io.BytesIO(converted))


def read_audio_bytes(stream):
    with wave.open(stream) as w:
        samples = np.frombuffer(w.readframes(w.getnframes()), dtype="<i2")
        return samples.reshape(-1, w.getnchannels()) / FULL_SCALE, w.getframerate()


def read_table(path):
    return np.genfromtxt(path, delimiter=",", names=True, ndmin=1)


def frame_seconds(speech):
    """The frame shift in seconds, from the time column."""
    if len(speech) < 2:
        raise Unusable("speech.csv has fewer than two frames")
    return float(speech["time"][1] - speech["time"][0])


def speech_stretches(speech, shift):
    """(start, end) in seconds of each run of speech frames."""
    flags = np.concatenate(([0], speech["speech"].astype(int), [0]))
    edges = np.flatnonzero(np.diff(flags))
    times = speech["time"]
    return [(times[a], times[b - 1] + shift) for a, b in zip(edges[::2], edges[1::2])]


def shade_speech(axis, stretches, label=True):
    for i, (start, end) in enumerate(stretches):
        axis.axvspan(start, end, color="tab:green", alpha=0.18, lw=0,
                     label="speech detected" if label and i == 0 else None)


def plot_waveform(recording, rate, stretches, duration, path):
    channels = recording.shape[1]
    fig, axes = plt.subplots(channels, 1, figsize=(FIGURE_WIDTH, 1.6 + 1.3 * channels), sharex=True,
                             squeeze=False)
    times = np.arange(len(recording)) / rate
    names = ["left", "right"] if channels == 2 else [f"channel {c}" for c in range(channels)]
    for c, axis in enumerate(axes[:, 0]):
        shade_speech(axis, stretches, label=c == 0)
        axis.plot(times, recording[:, c], lw=0.4, color="tab:blue")
        axis.set_ylabel(names[c])
        axis.set_ylim(-1.05 * max(np.abs(recording).max(), 1e-6), 1.05 * max(np.abs(recording).max(), 1e-6))
    axes[0, 0].legend(loc="upper right", fontsize="small")
    axes[0, 0].set_title("Recording, with the frames where speech was detected")
    axes[-1, 0].set_xlabel("time (s)")
    axes[-1, 0].set_xlim(0, duration)
    save(fig, path)


def track_stretches(tracked, shift):
    """Per track id: its stretches, each (times, azimuths), split where the
    track is not seen or jumps."""
    tracks = {}
    for track in np.unique(tracked["id"]).astype(int):
        rows = tracked[tracked["id"] == track]
        breaks = (np.diff(rows["time"]) > TRACK_GAP_FRAMES * shift) | \
                 (np.abs(np.diff(rows["azimuth"])) > TRACK_JUMP_DEGREES)
        cuts = np.flatnonzero(breaks) + 1
        tracks[track] = [(t, a) for t, a in zip(np.split(rows["time"], cuts), np.split(rows["azimuth"], cuts))]
    return tracks


def plot_directions(directions, tracked, stretches, shift, duration, path):
    fig, axis = plt.subplots(figsize=(FIGURE_WIDTH, 4.6))
    shade_speech(axis, stretches)
    axis.scatter(directions["time"], directions["azimuth"], s=3, color="0.45", lw=0,
                 label="per-frame estimates")
    colours = plt.get_cmap("tab10")
    for k, (track, pieces) in enumerate(track_stretches(tracked, shift).items()):
        colour = colours(k % 10)
        for i, (times, azimuths) in enumerate(pieces):
            axis.plot(times, azimuths, lw=2.2, color=colour, solid_capstyle="butt", marker=".", ms=3,
                      label=f"track {track}" if i == 0 else None)
            if times[-1] - times[0] >= LABELLED_STRETCH_SECONDS:
                axis.annotate(str(track), (times[0], azimuths[0]), xytext=(0, 5),
                              textcoords="offset points", color=colour, fontsize=9, weight="bold")
    axis.set_xlim(0, duration)
    axis.set_ylim(-95, 95)
    axis.set_yticks(range(-90, 91, 30))
    axis.set_xlabel("time (s)")
    axis.set_ylabel("azimuth (deg, + to the left)")
    axis.set_title("Directions: per-frame estimates and tracks")
    axis.grid(alpha=0.3)
    axis.legend(loc="upper center", bbox_to_anchor=(0.5, -0.14), fontsize="small", ncol=6,
                markerscale=3, frameon=False)
    save(fig, path)


def spectrogram_db(signal, rate):
    length = int(round(SPECTRUM_SECONDS * rate))
    shift = int(round(SHIFT_SECONDS * rate))
    window = np.hanning(length)
    frames = 1 + max(0, len(signal) - length) // shift
    starts = np.arange(frames) * shift
    blocks = np.stack([signal[s:s + length] for s in starts]) * window
    power = np.abs(np.fft.rfft(blocks, axis=1)) ** 2
    return 10 * np.log10(power.T + 1e-12)


def plot_spectrograms(recording, rate, enhanced, enhanced_rate, duration, path):
    before = spectrogram_db(recording[:, 0], rate)
    after = spectrogram_db(enhanced[:, 0], enhanced_rate)
    top = max(before.max(), after.max())
    fig, axes = plt.subplots(2, 1, figsize=(FIGURE_WIDTH, 5.6), sharex=True, layout="constrained")
    for axis, image, r, title in [(axes[0], before, rate, "Recording (left channel)"),
                                  (axes[1], after, enhanced_rate, "Enhanced (left channel)")]:
        shown = axis.imshow(image, origin="lower", aspect="auto", cmap="magma",
                            extent=(0, image.shape[1] * SHIFT_SECONDS, 0, r / 2000),
                            vmin=top - DYNAMIC_RANGE_DB, vmax=top)
        axis.set_ylabel("frequency (kHz)")
        axis.set_title(title)
    axes[1].set_xlabel("time (s)")
    axes[1].set_xlim(0, duration)
    fig.colorbar(shown, ax=axes, label="power (dB)", pad=0.01, aspect=30)
    save(fig, path, tight=False)


def save(fig, path, tight=True):
    if tight:
        fig.tight_layout()
    fig.savefig(path, dpi=plt.rcParams["savefig.dpi"])
    plt.close(fig)


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("out_dir", help="the folder the default network wrote into")
    parser.add_argument("--recording", default=DEMO_RECORDING,
                        help="the recording the network ran on (default: the demo recording)")
    parser.add_argument("--pictures", help="where the PNG files go (default: OUT_DIR/pictures)")
    parser.add_argument("--dpi", type=int, default=DEFAULT_DPI,
                        help=f"pixels per inch (default {DEFAULT_DPI}: 1100 pixels wide)")
    args = parser.parse_args(argv)
    plt.rcParams["savefig.dpi"] = args.dpi
    try:
        folder = results_folder(args.out_dir)
        speech = read_table(os.path.join(folder, "speech.csv"))
        directions = read_table(os.path.join(folder, "directions.csv"))
        tracked = read_table(os.path.join(folder, "tracked.csv"))
        enhanced, enhanced_rate = read_audio(os.path.join(folder, "enhanced.wav"))
        recording, rate = read_audio(args.recording)
        shift = frame_seconds(speech)
        duration = len(recording) / rate
        covered = speech["time"][-1] + shift
        if abs(covered - duration) > LENGTH_TOLERANCE_SECONDS:
            raise Unusable(f"{args.recording} lasts {duration:.1f} s but the results cover "
                           f"{covered:.1f} s: give the recording they came from with --recording")
    except Unusable as e:
        print(f"plot-results: {e}", file=sys.stderr)
        return 2
    pictures = args.pictures or os.path.join(args.out_dir, "pictures")
    os.makedirs(pictures, exist_ok=True)
    stretches = speech_stretches(speech, shift)
    written = [os.path.join(pictures, name) for name in ("waveform.png", "directions.png", "spectrograms.png")]
    plot_waveform(recording, rate, stretches, duration, written[0])
    plot_directions(directions, tracked, stretches, shift, duration, written[1])
    plot_spectrograms(recording, rate, enhanced, enhanced_rate, duration, written[2])
    for path in written:
        print(f"plot-results: wrote {path}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
