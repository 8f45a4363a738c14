"""The Python module against the zoc command and its own promises."""

import os
import pickle
import struct
import subprocess
import threading
import time

import numpy as np
import pytest

import zoc
from parallel_timing import one_and_two_threads

RATE = 48000
ZOC = os.environ.get("ZOC_BIN", "zoc")


def noise(channels, frames, seed=1):
    rng = np.random.default_rng(seed)
    return (0.3 * rng.standard_normal((channels, frames))).astype(np.float32)


def read_wav(path, channels):
    """The samples of a 32-bit float WAV, parsed here rather than by zoc."""
    raw = path.read_bytes()
    position = 12
    while position < len(raw):
        tag, size = raw[position:position + 4], struct.unpack("<I", raw[position + 4:position + 8])[0]
        if tag == b"data":
            samples = np.frombuffer(raw[position + 8:position + 8 + size], dtype="<f4")
            return samples.reshape(-1, channels).T
        position += 8 + size + (size & 1)
    raise AssertionError("no data chunk in " + str(path))


def apply_with_zoc(tmp_path, name, audio, *options):
    zoc.write(tmp_path / "in.wav", audio, RATE, bits=32)
    subprocess.run([ZOC, "apply", name, str(tmp_path / "in.wav"), str(tmp_path / "out.wav"), "--bits", "32f",
                    "--quiet", *options], check=True, capture_output=True)
    return read_wav(tmp_path / "out.wav", audio.shape[0])


def processors():
    names = []
    for name in zoc.components():
        try:
            zoc.Effect(name)(np.zeros((2, 16), np.float32), RATE)
        except ValueError:
            continue  # generators, and components that take no stereo
        names.append(name)
    return names


@pytest.mark.parametrize("name", processors())
def test_same_samples_as_zoc_apply(name, tmp_path):
    audio = noise(2, 6000)
    expected = apply_with_zoc(tmp_path, name, audio)
    got = zoc.Effect(name)(audio, RATE)
    assert got.dtype == np.float32
    np.testing.assert_array_equal(got, expected)


@pytest.mark.parametrize("name", ["Echo", "Chorus", "Dynamics", "ParametricEQ", "Reverb"])
def test_chunked_stream_equals_one_call(name):
    audio = noise(2, 9000, seed=2)
    whole = zoc.Effect(name).process(audio, RATE, reset=False)
    effect = zoc.Effect(name)
    bounds = [0, 1, 512, 3001, 7000, 9000]
    pieces = [effect.process(audio[:, a:b], RATE, reset=False) for a, b in zip(bounds, bounds[1:])]
    np.testing.assert_array_equal(np.concatenate(pieces, axis=1), whole)


def test_shapes_dtypes_and_tail():
    effect = zoc.Effect("Echo")
    mono = noise(1, 4000)[0]
    out = effect(mono.astype(np.float64), RATE)
    assert out.shape == mono.shape and out.dtype == np.float64
    # float64 is processed in float32: the same samples either way.
    np.testing.assert_array_equal(out.astype(np.float32), effect(mono, RATE))
    assert effect(mono, RATE, tail=0.5).shape == (4000 + RATE // 2,)
    # A strided view is read as it is, not as its memory lies.
    stereo = noise(2, 4000)
    np.testing.assert_array_equal(effect(stereo[:, ::2], RATE), effect(np.ascontiguousarray(stereo[:, ::2]), RATE))


def test_latency_is_compensated():
    # PitchShift works in overlapping frames and reports their delay.
    effect = zoc.Effect("PitchShift")
    effect(np.zeros(16, np.float32), RATE)
    assert effect.latency > 0
    impulse = np.zeros(RATE // 2, np.float32)
    impulse[1000] = 1.0
    streamed = zoc.Effect("PitchShift").process(impulse, RATE, reset=False)
    aligned = effect(impulse, RATE)
    assert abs(int(np.argmax(np.abs(streamed))) - int(np.argmax(np.abs(aligned))) - effect.latency) <= 1


@pytest.mark.parametrize("call,error", [
    (lambda p: zoc.Effect("NoSuchEffect"), KeyError),
    (lambda p: zoc.Effect("Echo", no_such_parameter=1), KeyError),
    (lambda p: zoc.Effect("Echo", preset="No Such Preset"), KeyError),
    (lambda p: zoc.Effect("Amplify", left=float("nan")), ValueError),
    (lambda p: zoc.Effect("Amplify", left=1e9), ValueError),
    (lambda p: zoc.Effect("Amplify")(np.zeros((2, 10), np.int16), RATE), ValueError),
    (lambda p: zoc.Effect("Amplify")(np.zeros((2, 2, 10), np.float32), RATE), ValueError),
    (lambda p: zoc.Effect("Amplify")(np.zeros((1000, 2), np.float32), RATE), ValueError),
    (lambda p: zoc.Effect("Amplify")(np.zeros((2, 10), np.float32), -1), ValueError),
    (lambda p: zoc.Effect("Amplify")(np.zeros((2, 10), np.float32), 1e9), ValueError),
    (lambda p: zoc.Effect("Amplify")(np.zeros((2, 10), np.float32), RATE, tail=-1), ValueError),
    (lambda p: zoc.Effect("Tones")(np.zeros((2, 10), np.float32), RATE), ValueError),
    (lambda p: zoc.Effect("Amplify").automate("left", [(-1.0, 0.0)]), ValueError),
    (lambda p: zoc.Effect("Amplify").automate("left", [(0.0, float("nan"))]), ValueError),
    (lambda p: zoc.Effect("Amplify").automate("left", [(0.0, 1e6)]), ValueError),
    (lambda p: zoc.Effect("Amplify").automate("no_such_key", [(0.0, 1.0)]), KeyError),
    (lambda p: zoc.generate("Echo"), ValueError),
    (lambda p: zoc.generate("Tones", seconds=-1), ValueError),
    (lambda p: zoc.Echo().curve(), ValueError),
    (lambda p: zoc.load(str(p / "missing.json")), OSError),
    (lambda p: (p / "bad.json").write_text("{not json") and zoc.load(str(p / "bad.json")), ValueError),
    (lambda p: zoc.read(p / "missing.wav"), OSError),
    (lambda p: zoc.open(p), OSError),
    (lambda p: zoc.write(p / "no" / "dir.wav", np.zeros(8, np.float32), RATE), OSError),
    (lambda p: zoc.write(p / "x.unknown", np.zeros(8, np.float32), RATE), ValueError),
    (lambda p: zoc.write(p / "x.wav", np.zeros(8, np.float32), RATE, bits=12), ValueError),
    (lambda p: zoc.write(p / "x.flac", np.zeros(8, np.float32), RATE, bits=32), ValueError),
    (lambda p: zoc.write(p / "x.wav", np.zeros(8, np.float32), 44100.5), ValueError),
])
def test_bad_input_raises(call, error, tmp_path):
    with pytest.raises(error):
        call(tmp_path)


def test_presets_settings_pickling_and_files(tmp_path):
    effect = zoc.Echo(preset="Spooky")
    assert "Spooky" in effect.presets
    settings = effect.settings
    assert settings != zoc.Effect("Echo").settings
    effect.set(feedback_left_channel=10)
    copy = pickle.loads(pickle.dumps(effect))
    assert type(copy) is zoc.Echo and copy.settings == effect.settings
    audio = noise(2, 5000)
    np.testing.assert_array_equal(copy(audio, RATE), effect(audio, RATE))
    # Settings survive a change of rate and a round trip through mono.
    effect(audio, 44100)
    assert effect.settings == copy.settings
    effect(audio[0], 44100)
    effect(audio, RATE)
    assert effect.settings == copy.settings
    effect.save(str(tmp_path / "echo.json"))
    loaded = zoc.load(str(tmp_path / "echo.json"))
    assert loaded.name == "Echo" and loaded.settings == effect.settings


def test_processing_lets_other_threads_run():
    # While one thread processes, another keeps running Python: the longest
    # pause it sees is far shorter than the processing.
    audio = noise(2, RATE * 15)
    effect = zoc.Effect("PitchShift")
    effect(audio[:, :4800], RATE)
    worker = threading.Thread(target=effect, args=(audio, RATE))
    start = last = time.perf_counter()
    longest = 0.0
    worker.start()
    while worker.is_alive():
        now = time.perf_counter()
        longest = max(longest, now - last)
        last = now
    busy = time.perf_counter() - start
    assert longest < 0.5 * busy, (longest, busy)


@pytest.mark.skipif(os.getloadavg()[0] > os.cpu_count() - 1, reason="the machine is busy; parallel timing needs a free core")
def test_two_threads_finish_sooner_than_one():
    one, two = one_and_two_threads([zoc.Effect("Echo"), zoc.Effect("Echo")], noise(2, RATE * 8), RATE, repeats=5)
    assert two < 0.9 * one, (two, one)


@pytest.mark.parametrize("name,key,points", [
    ("Amplify", "left", [(0.0, -6.0), (0.05, 3.0)]),
    ("Echo", "feedback_left_channel", [(0.02, 90.0), (0.1, 10.0)]),
])
def test_automation_lands_where_zoc_apply_puts_it(name, key, points, tmp_path):
    audio = noise(2, 7200, seed=3)
    options = [f"--at={seconds}:{key}={value}" for seconds, value in points]
    expected = apply_with_zoc(tmp_path, name, audio, *options)
    effect = zoc.Effect(name)
    before = effect.settings
    effect.automate(key, points)
    np.testing.assert_array_equal(effect(audio, RATE), expected)
    assert effect.settings == before
    # Twice in a row: each whole-clip call starts from the effect's own values.
    np.testing.assert_array_equal(effect(audio, RATE), expected)
    effect.automate(key, [])
    np.testing.assert_array_equal(effect(audio, RATE), zoc.Effect(name)(audio, RATE))


def test_chain_feeds_each_effect_the_last_output_and_pickles():
    audio = noise(2, 6000, seed=4)
    echo, amplify = zoc.Effect("Echo"), zoc.Effect("Amplify", left=-6, right=-6)
    chain = zoc.Chain([echo, amplify])
    tail = 0.1
    padded = np.concatenate([audio, np.zeros((2, int(tail * RATE)), np.float32)], axis=1)
    np.testing.assert_array_equal(chain(audio, RATE, tail=tail), amplify(echo(padded, RATE), RATE))
    copy = pickle.loads(pickle.dumps(chain))
    np.testing.assert_array_equal(copy(audio, RATE), chain(audio, RATE))
    pieces = [chain.process(audio[:, a:b], RATE, reset=False) for a, b in ((0, 1000), (1000, 6000))]
    np.testing.assert_array_equal(np.concatenate(pieces, axis=1), copy.process(audio, RATE, reset=False))


def test_generate():
    tones = zoc.generate("Tones", seconds=0.25, sample_rate=44100)
    assert tones.shape == (11025,) and tones.dtype == np.float32 and 0 < np.abs(tones).max() <= 1
    np.testing.assert_array_equal(tones, zoc.generate("Tones", seconds=0.25, sample_rate=44100))
    assert zoc.generate("Noise", seconds=0.1, channels=2).shape == (2, 4800)


def test_one_effect_shared_by_threads_serializes():
    audio = noise(2, 24000, seed=5)
    effect = zoc.Effect("Chorus")
    expected = effect(audio, RATE)
    results = []

    def run(rate):
        for _ in range(5):
            results.append((rate, effect(audio, rate)))
            _ = effect.settings

    threads = [threading.Thread(target=run, args=(RATE,)) for _ in range(3)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert len(results) == 15
    for _, got in results:
        np.testing.assert_array_equal(got, expected)


def test_component_classes_are_effects_with_documented_keys():
    echo = zoc.Echo(preset="Spooky", delay_time=300)
    assert isinstance(echo, zoc.Effect) and echo.name == "Echo"
    assert echo.settings["delay_time_right_channel"] == 300 and echo.settings["echo_bounce"] == 1
    assert zoc.ParametricEqualizer is zoc.ParametricEQ
    for name in zoc.components():
        cls = getattr(zoc, name)
        effect = cls()
        assert effect.name == name and name in cls.__doc__
        for parameter in effect.parameters:
            assert parameter["key"] in cls.__doc__
        for preset in effect.presets:
            assert preset in cls.__doc__


@pytest.mark.parametrize("name,preset", [("ParametricEQ", "1"), ("Dynamics", "2"), ("GraphicEQ30Bands", "3")])
def test_curve_is_the_one_zoc_draws(name, preset):
    import json
    shown = subprocess.run([ZOC, "curve", name, "--preset", preset, "--points", "40", "--json"],
                           check=True, capture_output=True, text=True).stdout
    expected = json.loads(shown)
    x, values = zoc.Effect(name, preset=int(preset)).curve(points=40)
    np.testing.assert_array_equal(values, np.array(expected["values"], np.float32))
    np.testing.assert_allclose(x, expected["x"], rtol=1e-12)


def test_files_round_trip_and_stream_in_blocks(tmp_path):
    audio = noise(2, 10000, seed=5)
    zoc.write(tmp_path / "float.wav", audio, 44100, bits=32)
    back, rate = zoc.read(tmp_path / "float.wav")
    assert rate == 44100 and back.dtype == np.float32
    np.testing.assert_array_equal(back, audio)
    # The same file zoc itself reads: the module's reader is zoc's.
    np.testing.assert_array_equal(read_wav(tmp_path / "float.wav", 2), audio)
    zoc.write(tmp_path / "mono.flac", audio[0] / 4, 8000, bits=16)
    mono, _ = zoc.read(tmp_path / "mono.flac")
    assert mono.shape == (1, 10000) and np.max(np.abs(mono[0] - audio[0] / 4)) <= 1 / 32768
    with zoc.open(tmp_path / "float.wav") as f:
        assert (f.channels, f.sample_rate, f.frames) == (2, 44100, 10000)
        blocks = list(f.blocks(4096))
    assert [b.shape[1] for b in blocks] == [4096, 4096, 1808]
    np.testing.assert_array_equal(np.concatenate(blocks, axis=1), audio)
    with pytest.raises(ValueError):
        f.read(10)  # closed


@pytest.mark.filterwarnings("ignore::DeprecationWarning")
def test_dask_workers_apply_a_pickled_chain_like_one_process(tmp_path, monkeypatch):
    distributed = pytest.importorskip("distributed")
    examples = os.path.join(os.path.dirname(__file__), "..", "..", "examples", "python")
    monkeypatch.syspath_prepend(examples)
    # Worker processes import the example's module too.
    monkeypatch.setenv("PYTHONPATH", os.pathsep.join([os.path.abspath(examples), os.environ.get("PYTHONPATH", "")]))
    import dask_batch

    sources = []
    for index in range(20):
        sources.append(tmp_path / f"clip{index:02}.wav")
        zoc.write(sources[-1], noise(2, 4800, seed=index), RATE, bits=32)
    chain = dask_batch.mastering_chain()
    pickled = pickle.dumps(chain)
    (tmp_path / "serial").mkdir()
    for source in sources:
        dask_batch.apply_chain(pickled, source, tmp_path / "serial" / source.name)
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True, dashboard_address=None) as cluster, \
            distributed.Client(cluster) as client:
        written = dask_batch.run(client, chain, sources, tmp_path / "parallel")
    assert len(written) == 20
    for source in sources:
        np.testing.assert_array_equal(zoc.read(tmp_path / "parallel" / source.name)[0],
                                      zoc.read(tmp_path / "serial" / source.name)[0])
