#!/usr/bin/env python3
"""Renders a set of random two-talker scenes and scores a network over it.

usage: tools/scene-set.py render DIR [--scenes N] [--seed N] [--snr DB]
                                     [--rt60 S [--distance M] [--rooms L,W,H/...]]
                                     [--sofa FILE | --hrirs FILE] [--voices FILE...]
                                     [--min-separation DEG] [--second-within S]
                                     [--longest S]
       tools/scene-set.py score DIR NETWORK [--tracks NAME.csv]
                                     [--separated A.wav,B.wav] [--set N.P=V]...
                                     [--runs DIR] [-j N] [--json FILE] [--quiet]

render: DIR/00, DIR/01, ... each a scene of kolv-render-scene (scene.wav, the
images, truth.json): two talkers at random azimuths from -80 to +80 degrees,
at least --min-separation apart, the first from 1 s (after noise alone), the
second up to --second-within seconds after the first; two different
recordings of --voices, each brought to the same speech level. With --rt60
the scenes are in shoebox rooms (--rooms, taken in turn), the talkers
--distance from the head. The same --seed gives the same set.

score: runs NETWORK over every scene of DIR (`kolv run NETWORK --set
source.FILE=...`, each into RUNS/NN), scores what it wrote with
kolv-evaluate and sums the set up:
  --tracks NAME.csv      tracked directions: by the second, the share of the
                         talkers' active seconds tracked within 10 degrees,
                         the mean error, the share of false and of ghost track
                         seconds, the lasting id changes, and how long after
                         each talker's first word a track reaches them;
  --separated A,B        separated outputs: SIR and SDR improvement over the
                         whole file at the left ear, and the scenes whose
                         talkers each kept one output.

The programs are $KOLV and $KOLV_RENDER if set, else those of the build
folder beside this script, else those on the PATH. See docs/scenes.md.
"""

import argparse
import concurrent.futures
import csv
import json
import math
import os
import random
import shutil
import subprocess
import sys
import wave

import numpy as np

HERE = os.path.dirname(os.path.abspath(__file__))
READ_SPEECH = "/usr/share/pocketsphinx/test/data/librivox/sense_and_sensibility_01_austen_64kb-0{}.wav"
DEFAULT_VOICES = [READ_SPEECH.format(n) for n in (870, 880, 890, 920, 930)]
DEFAULT_ROOMS = ["6,5,3", "7,5.5,3", "5,4,2.8", "8,6,3.2", "6.5,4.5,2.9"]
LEAD_IN = 1.0           # s of noise alone before the first talker
TAIL = 0.5              # s after the last word
LOWEST_AZIMUTH = -80.0  # degrees: within the localizers' -90..90 with a margin
HIGHEST_AZIMUTH = 80.0
SPEECH_LEVEL = -26.0    # dB full scale: each recording's speech is brought to this
LEVEL_FRAME = 0.02      # s: frames whose power the speech level is the mean of,
SPEECH_FLOOR = -30.0    # dB below the loudest frame: quieter frames are pauses
TRACK_REACH = 10.0      # degrees: a track this near a talker follows them
LATE_START = 0.3        # s: a track should reach a talker at most this late
LATENCY_LIMIT = 3.0     # s: looked for this long after a talker's first word


class Refused(Exception):
    """A request that cannot be carried out; the message says why."""


def program(variable, name):
    if os.environ.get(variable):
        return os.environ[variable]
    built = os.path.join(HERE, "..", "build", name)
    if os.access(built, os.X_OK):
        return os.path.realpath(built)
    found = shutil.which(name)
    if not found:
        raise Refused(f"cannot find {name}: build it (make build) or set {variable}")
    return found


def read_mono16(path):
    try:
        with wave.open(path) as w:
            if w.getnchannels() != 1 or w.getsampwidth() != 2:
                raise Refused(f"voice {path} is not mono 16-bit PCM")
            rate = w.getframerate()
            samples = np.frombuffer(w.readframes(w.getnframes()), "<i2").astype(float) / 32768.0
    except (OSError, wave.Error, EOFError) as e:
        raise Refused(f"cannot read voice {path}: {e}") from None
    return samples, rate


def speech_level(samples, rate):
    """dB full scale: the mean power of the frames within SPEECH_FLOOR of the loudest."""
    n = int(LEVEL_FRAME * rate)
    frames = samples[: len(samples) // n * n].reshape(-1, n)
    power = (frames ** 2).mean(axis=1)
    if len(power) == 0 or power.max() == 0.0:
        raise Refused("a voice holds no sound")
    speech = power[power >= power.max() * 10 ** (SPEECH_FLOOR / 10)]
    return 10 * math.log10(speech.mean())


def layouts(args, voices):
    """One (azimuths, voices, starts) per scene, drawn from the seed."""
    rng = random.Random(args.seed)
    for _ in range(args.scenes):
        while True:
            azimuths = [rng.uniform(LOWEST_AZIMUTH, HIGHEST_AZIMUTH) for _ in range(2)]
            if abs(azimuths[0] - azimuths[1]) >= args.min_separation:
                break
        pair = rng.sample(sorted(voices), 2)
        starts = [LEAD_IN, LEAD_IN + rng.uniform(0.0, args.second_within)]
        yield azimuths, pair, starts


def render(args):
    if args.sofa and args.hrirs:
        raise Refused("give the head once, with --sofa or --hrirs")
    if args.scenes < 1:
        raise Refused("--scenes must be at least 1")
    if not 0.0 <= args.min_separation <= HIGHEST_AZIMUTH - LOWEST_AZIMUTH:
        raise Refused(f"--min-separation must lie between 0 and {HIGHEST_AZIMUTH - LOWEST_AZIMUTH:g} degrees")
    if args.second_within < 0.0:
        raise Refused("--second-within must be at least 0 seconds")
    if len(set(args.voices)) < 2:
        raise Refused("--voices needs at least two recordings")
    renderer = program("KOLV_RENDER", "kolv-render-scene")
    voices = {}
    for path in args.voices:
        samples, rate = read_mono16(path)
        voices[path] = (speech_level(samples, rate), len(samples) / rate)
    os.makedirs(args.dir, exist_ok=True)
    for index, (azimuths, pair, starts) in enumerate(layouts(args, voices)):
        end = max(start + voices[v][1] for v, start in zip(pair, starts)) + TAIL
        command = [renderer, "--out", os.path.join(args.dir, f"{index:02d}"), "--snr", f"{args.snr:g}",
                   "--seed", str(args.seed * 1000 + index), "--duration", f"{min(end, args.longest):.2f}"]
        if args.sofa:
            command += ["--sofa", args.sofa]
        if args.hrirs:
            command += ["--hrirs", args.hrirs]
        if args.rt60:
            command += ["--room", args.rooms[index % len(args.rooms)], "--rt60", f"{args.rt60:g}"]
        for azimuth, voice, start in zip(azimuths, pair, starts):
            command += ["--source", voice, "--azimuth", f"{azimuth:.1f}", "--start", f"{start:.2f}",
                        "--gain", f"{SPEECH_LEVEL - voices[voice][0]:.2f}"]
            if args.rt60:
                command += ["--distance", f"{args.distance:g}"]
        done = subprocess.run(command, capture_output=True, text=True)
        if done.returncode != 0:
            raise Refused(f"scene {index:02d}: {done.stderr.strip()}")
        if not args.quiet:
            print(f"{index:02d}: talkers at {azimuths[0]:+.1f} and {azimuths[1]:+.1f} degrees, "
                  f"the second {starts[1] - starts[0]:.2f} s after the first", flush=True)
    return 0


def scenes_of(folder):
    found = sorted(name for name in os.listdir(folder)
                   if os.path.isfile(os.path.join(folder, name, "truth.json")))
    if not found:
        raise Refused(f"{folder} holds no scene (no NAME/truth.json)")
    return found


def start_latencies(truth, tracks_csv, advance_s):
    """Per talker: s from their first word until a track lies within reach of them."""
    near = {}
    with open(tracks_csv, newline="") as f:
        for row in csv.DictReader(f):
            near.setdefault(int(row["frame"]), []).append(float(row["azimuth"]))
    latencies = []
    for source in truth["sources"]:
        if not source.get("active") or "azimuth" not in source:
            continue
        first = int(round(source["active"][0][0] / advance_s))
        frame = first
        while frame - first < LATENCY_LIMIT / advance_s and not any(
                abs(a - source["azimuth"]) <= TRACK_REACH for a in near.get(frame, [])):
            frame += 1
        latencies.append((frame - first) * advance_s)
    return latencies


def score_scene(args, kolv, evaluator, name):
    scene = os.path.join(args.dir, name)
    out = os.path.join(args.runs, name)
    os.makedirs(out, exist_ok=True)
    command = [kolv, "run", args.network, "--set", "source.FILE=" + os.path.join(scene, "scene.wav"),
               "--out", out, "--quiet"]
    for setting in args.set:
        command += ["--set", setting]
    done = subprocess.run(command, capture_output=True, text=True)
    if done.returncode != 0:
        raise Refused(f"kolv on scene {name}: {done.stderr.strip()}")
    truth_path = os.path.join(scene, "truth.json")
    result = {"scene": name}

    def evaluate(*options):
        done = subprocess.run([evaluator, "--truth", truth_path, *options, "--json"], capture_output=True, text=True)
        if done.returncode != 0:
            raise Refused(f"kolv-evaluate on scene {name}: {done.stderr.strip()}")
        return json.loads(done.stdout)

    if args.tracks:
        tracks = os.path.join(out, args.tracks)
        if not os.path.isfile(tracks):
            raise Refused(f"the network wrote no {args.tracks} for scene {name}")
        figures = evaluate("--sources", tracks, "--advance", str(args.advance))
        with open(truth_path) as f:
            truth = json.load(f)
        result["tracking"] = {"by_second": figures["coverage_by_second"],
                              "lasting_id_changes": sum(t["lasting_id_changes"]
                                                        for t in figures["coverage"]["talkers"]),
                              "start_latencies": start_latencies(truth, tracks, args.advance / truth["sampling_rate"])}
    if args.separated:
        files = [os.path.join(out, f) for f in args.separated.split(",")]
        delay = [] if args.delay == "estimate" else ["--delay", args.delay]
        separation = evaluate("--separated", ",".join(files), *delay)["separation"]
        result["separation"] = {"left_ear": separation.get("whole_file_left_ear"),
                                "talkers_kept": separation["talkers_kept"]}
    return result


def tracking_summary(results):
    active = covered = track_seconds = false = ghosts = lasting = 0
    error_sum = 0.0
    latencies = []
    for r in results:
        s = r["tracking"]["by_second"]
        talker_active = sum(t["active_seconds"] for t in s["talkers"])
        talker_covered = sum(round(t["recall"] * t["active_seconds"]) for t in s["talkers"])
        active += talker_active
        covered += talker_covered
        error_sum += s["mean_error"] * talker_covered
        track_seconds += s["track_seconds"]
        false += round(s["false_share"] * s["track_seconds"])
        ghosts += round(s["ghost_share"] * s["track_seconds"])
        lasting += r["tracking"]["lasting_id_changes"]
        latencies += r["tracking"]["start_latencies"]
    return {"recall": covered / active if active else None,
            "mean_error": error_sum / covered if covered else None,
            "false_share": false / track_seconds if track_seconds else None,
            "ghost_share": ghosts / track_seconds if track_seconds else None,
            "active_seconds": active, "track_seconds": track_seconds, "lasting_id_changes": lasting,
            "mean_start_latency": sum(latencies) / len(latencies) if latencies else None,
            "latest_start": max(latencies) if latencies else None,
            "late_starts": sum(1 for x in latencies if x > LATE_START), "talkers": len(latencies)}


def separation_summary(results):
    scored = [r["separation"] for r in results if r["separation"]["left_ear"]]
    mean = (lambda key: sum(s["left_ear"][key] for s in scored) / len(scored)) if scored else (lambda key: None)
    return {"sir_improvement_db": mean("improvement_db"), "sdr_improvement_db": mean("sdr_improvement_db"),
            "scenes_kept": sum(1 for r in results if r["separation"]["talkers_kept"]), "scenes": len(results)}


def percent(share):
    return "-" if share is None else f"{100 * share:.1f} %"


def number(value, form):
    return "-" if value is None else format(value, form)


def score(args):
    if not args.tracks and not args.separated:
        raise Refused("say what to score: --tracks NAME.csv, --separated A.wav,B.wav or both")
    if not os.path.isfile(args.network):
        raise Refused(f"no network file {args.network}")
    if args.jobs < 1:
        raise Refused("-j must be at least 1")
    if args.delay != "estimate" and not (args.delay.isascii() and args.delay.isdigit()):
        raise Refused(f"--delay must be a whole number of samples (0 or more) or 'estimate', not {args.delay}")
    names = scenes_of(args.dir)
    args.runs = args.runs or os.path.join(args.dir, "runs")
    kolv = program("KOLV", "kolv")
    evaluator = program("KOLV_EVALUATE", "kolv-evaluate")
    with concurrent.futures.ThreadPoolExecutor(max_workers=args.jobs) as pool:
        results = list(pool.map(lambda name: score_scene(args, kolv, evaluator, name), names))
    summary = {"scenes": len(results), "per_scene": results}
    if args.tracks:
        summary["tracking"] = tracking_summary(results)
    if args.separated:
        summary["separation"] = separation_summary(results)
    if not args.quiet:
        for r in results:
            line = r["scene"] + ":"
            if "tracking" in r:
                s = r["tracking"]["by_second"]
                line += (f" tracked {percent(s['recall'])} of the talkers' seconds, {s['mean_error']:.2f} deg, "
                         f"{percent(s['false_share'])} false; starts "
                         + ", ".join(f"{x:.2f}" for x in r["tracking"]["start_latencies"]) + " s")
            if "separation" in r:
                e = r["separation"]["left_ear"]
                line += (f" SIR {e['improvement_db']:+.1f} dB, SDR {e['sdr_improvement_db']:+.1f} dB" if e
                         else " no stretch with both talkers")
                line += "" if r["separation"]["talkers_kept"] else ", a talker changed outputs"
            print(line)
        if args.tracks:
            t = summary["tracking"]
            print(f"tracks ({args.tracks}), by the second: {percent(t['recall'])} of {t['active_seconds']} talker "
                  f"seconds, mean error {number(t['mean_error'], '.2f')} deg, {percent(t['false_share'])} of "
                  f"{t['track_seconds']} track seconds false ({percent(t['ghost_share'])} near no talker), "
                  f"{t['lasting_id_changes']} lasting id change(s); a track reaches a talker "
                  f"{number(t['mean_start_latency'], '.2f')} s after their first word on average, at most "
                  f"{number(t['latest_start'], '.2f')} s, later than {LATE_START} s for {t['late_starts']} of "
                  f"{t['talkers']}")
        if args.separated:
            s = summary["separation"]
            print(f"separation ({args.separated}), whole files at the left ear: SIR "
                  f"{number(s['sir_improvement_db'], '+.1f')} dB, SDR {number(s['sdr_improvement_db'], '+.1f')} dB "
                  f"on average; each talker kept one output in {s['scenes_kept']} of {s['scenes']} scenes")
    if args.json:
        with open(args.json, "w") as f:
            json.dump(summary, f, indent=1)
    return 0


def parse(argv):
    parser = argparse.ArgumentParser(prog="scene-set.py", description=__doc__.split("\n\n")[0])
    commands = parser.add_subparsers(dest="command", required=True)
    r = commands.add_parser("render", help="render a set of random two-talker scenes")
    r.add_argument("dir")
    r.add_argument("--scenes", type=int, default=10)
    r.add_argument("--seed", type=int, default=1)
    r.add_argument("--snr", type=float, default=20.0, help="dB of speech over the diffuse noise (20)")
    r.add_argument("--rt60", type=float, default=0.0, help="s; 0 (default): anechoic")
    r.add_argument("--distance", type=float, default=1.5, help="m from the head, in a room (1.5)")
    r.add_argument("--rooms", default="/".join(DEFAULT_ROOMS), help="room sizes L,W,H separated by '/'")
    r.add_argument("--sofa", help="the head's responses (kolv-render-scene's default: KEMAR)")
    r.add_argument("--hrirs", help="another head, a horizontal-plane WAV set")
    r.add_argument("--voices", nargs="+", default=DEFAULT_VOICES, help="mono 16-bit recordings of speech")
    r.add_argument("--min-separation", type=float, default=25.0, help="degrees between the talkers (25)")
    r.add_argument("--second-within", type=float, default=1.5,
                   help="s: the second talker starts up to this long after the first (1.5)")
    r.add_argument("--longest", type=float, default=9.0, help="s: the longest scene (9)")
    r.add_argument("--quiet", action="store_true")
    s = commands.add_parser("score", help="run a network over a set and score it")
    s.add_argument("dir")
    s.add_argument("network")
    s.add_argument("--tracks", help="the tracked directions the network writes (e.g. robust-tracked.csv)")
    s.add_argument("--separated", help="the separated outputs, comma-separated (e.g. online-1.wav,online-2.wav)")
    s.add_argument("--set", action="append", default=[], help="NODE.PARAM=VALUE, as kolv run --set")
    s.add_argument("--advance", type=int, default=160, help="samples per frame of the track table (160)")
    s.add_argument("--delay", default="0",
                   help="samples by which the separated outputs trail the scene (0: kolv's resynthesis adds none); "
                        "'estimate': kolv-evaluate estimates it by cross-correlation")
    s.add_argument("--runs", help="where the runs go (DIR/runs)")
    s.add_argument("-j", "--jobs", type=int, default=os.cpu_count() or 1)
    s.add_argument("--json", help="also write the figures to this file")
    s.add_argument("--quiet", action="store_true")
    args = parser.parse_args(argv)
    if args.command == "render":
        args.rooms = args.rooms.split("/")
    return args


def main(argv):
    args = parse(argv)
    try:
        return render(args) if args.command == "render" else score(args)
    except Refused as e:
        print(f"scene-set: {e}", file=sys.stderr)
        return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
