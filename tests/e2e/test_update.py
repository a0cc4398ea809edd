"""The whole update path: releases made with the tree's own tools on the https test server, installed by the
real pipeline over a copy of the built app, and the relaunch into the new version."""
import hashlib
import json
import os
import re
import shutil
import signal
import struct
import subprocess
import time
from pathlib import Path

import pytest

from conftest import APP, run, wait_for

BUILD = Path(APP).resolve().parents[3]
CODESIGN = str(BUILD / "Corvidale.app/Contents/Helpers/corvidale-codesign")
REFUSED = "UPDATE SELFTEST: failed — The downloaded app isn't signed and notarized by Corvidale ({}), so it was not installed."


def bundle(folder, version, build, team=None, **info):
    """A copy of the built app as `version` (`build`) that takes updates signed by `team`."""
    app = folder / "Corvidale.app"
    shutil.copytree(BUILD / "Corvidale.app", app, symlinks=True)
    info.update(CFBundleShortVersionString=version, CFBundleVersion=build)
    info.setdefault("CorvidaleTeamIdentifier", team)
    assert run(str(BUILD / "tools/corvidale-release"), "set-info", app, *[f"{k}={v}" for k, v in info.items()]).returncode == 0
    return app


def version(app):
    return run(str(app / "Contents/MacOS/corvidale"), "--version").stdout.strip()


@pytest.fixture(scope="module")
def releases(tmp_path_factory):
    """Key a's id, and 2.0 (7) as (feed, image): published with key a, with key b, changed after signing, tampered;
    with key a under a feed that names another version; and 0.9 (5) with key a, as published and under a feed
    that claims build 7. "delta": 2.0 published after 0.9 and 1.0 (1), with deltas from both ("deltas": their
    bytes by build; "1.0": the image a client of build 1 installed)."""
    root = tmp_path_factory.mktemp("releases")
    keys = [run(CODESIGN, "keygen", str(root / f"{k}.pem")).stdout.strip() for k in "ab"]
    for name in ("new", "0.9", "1.0"):
        (root / name).mkdir()
    new = bundle(root / "new", "2.0", "7", keys[0], CorvidaleBuild="relaunched-2.0")
    old, one = bundle(root / "0.9", "0.9", "5", keys[0]), bundle(root / "1.0", "1.0", "1", keys[0])
    (old / "Contents/only-in-0.9").write_text("a delta from 0.9 removes it\n")
    published = {}
    for name, folder, app, key in [("a", "a", new, "a"), ("b", "b", new, "b"), ("old", "old", old, "a"),
                                   ("0.9", "delta", old, "a"), ("1.0", "delta", one, "a"), ("delta", "delta", new, "a")]:
        assert run("bash", str(Path(__file__).parents[2] / "scripts/publish.sh"), *["--new-key"] * (key == "b"), app,
                   root / f"{key}.pem", root / folder, env={**os.environ, "CORVIDALE_BUILD_DIR": str(BUILD)}).returncode == 0
        feed = json.loads((root / folder / "linux.json").read_text())
        published[name] = feed, (root / folder / feed["file"]).read_bytes()
    assert [d["from"] for d in published["delta"][0]["deltas"]] == [5, 1]  # the builds below 7, highest first
    published["deltas"] = {d["from"]: (root / "delta" / d["file"]).read_bytes() for d in published["delta"][0]["deltas"]}
    published["claims 7.7"] = dict(published["a"][0], version="7.7"), published["a"][1]
    old_feed, old_image = published["old"]
    published["rollback"] = dict(old_feed, build=7), old_image
    assert run(CODESIGN, "sign", "--key", root / "a.pem", new).returncode == 0
    with open(new / "Contents/MacOS/corvidale", "ab") as executable:
        executable.write(b"\0")
    assert run("mksquashfs", root / "new", root / "changed.sqfs", "-all-root", "-noappend", "-quiet").returncode == 0
    image = (root / "changed.sqfs").read_bytes()
    published["changed"] = dict(published["a"][0], sha256=hashlib.sha256(image).hexdigest()), image
    published["tampered"] = published["a"][0], published["a"][1][:-1] + b"?"
    published["key files"] = {k: root / f"{k}.pem" for k in "ab"}
    published["signed a"] = tuple((root / "a" / name).read_text() for name in ("linux.json", "linux.json.sig"))
    return keys[0], published


def serve(origin, feed, image, folder="/releases/", signature=None, files=()):
    """The feed (its exact text when given as text), its image, `files` (name: bytes) and, when given, its signature
    beside it."""
    text = feed if isinstance(feed, str) else json.dumps(feed)
    origin.routes[folder + "linux.json"] = (text, "application/json")
    origin.routes[folder + "linux.json.sig"] = (signature, "text/plain") if signature else None  # None: 404
    for name, data in [(json.loads(text)["file"], image), *dict(files).items()]:
        origin.routes[folder + name] = (data, "application/octet-stream")
    return ["-updateFeed", origin.url(folder + "linux.json")]


def test_the_self_test_installs_only_what_verifies(launch, origin, tmp_path, releases):
    team, published = releases
    installed = bundle(tmp_path, "1.0", "1", team)
    exe = str(installed / "Contents/MacOS/corvidale")
    for case, line in [("tampered", "UPDATE SELFTEST: failed — The download didn't match the published checksum, so "
                                    "it was not installed."),
                       ("b", REFUSED.format("another team")), ("changed", REFUSED.format("the signature does not verify")),
                       ("rollback", "UPDATE SELFTEST: failed — Couldn't replace the app: the disk image holds build 5, "
                                    "not the published build 7"),
                       ("claims 7.7", f"UPDATE SELFTEST: installed 2.0 (7) at {os.path.realpath(installed)}")]:
        app = launch(exe=exe, args=["-updateSelfTest", "YES", *serve(origin, *published[case])])
        done = case == "claims 7.7"
        assert (app.wait_exit(), app.out()) == (0 if done else 1, [line]), app.err()
        assert version(installed) == ("Corvidale 2.0 (7)" if done else "Corvidale 1.0 (1)")
        assert not [p for p in tmp_path.iterdir() if p.name.startswith(".Corvidale.app")]  # no staging copy left
    started = time.monotonic()  # the new app itself: the same feed is nothing newer, 5 s after launch
    app = launch(exe=exe, args=["-updateSelfTest", "YES", *serve(origin, *published["a"])])
    assert (app.wait_exit(), app.out()) == (1, ["UPDATE SELFTEST: nothing newer than 7"]), app.err()
    assert 5 <= time.monotonic() - started < 30


def test_update_now_then_relaunch_starts_the_new_version(launch, origin, tmp_path, releases):
    team, published = releases
    installed = bundle(tmp_path, "1.0", "1", team)
    app = launch(exe=str(installed / "Contents/MacOS/corvidale"), args=["-showUpdates", "YES", *serve(origin, *published["a"])])
    try:
        app.key("Return", window=app.window("^Corvidale 2.0 is available$"))  # "Update Now"
        app.key("Return", window=app.window("^Corvidale 2.0 is installed$"))  # "Relaunch Now"
        assert app.wait_exit() == 0, app.err()
        wait_for(lambda: any((r["agent"] or "").endswith(" CorvidaleShell/linux-relaunched-2.0") for r in origin.requests),
                 "a request from the relaunched 2.0")
        assert version(installed) == "Corvidale 2.0 (7)"
    finally:  # the relaunched app has a session of its own
        for pid in run("pgrep", "-f", f"^{installed}/Contents/MacOS/corvidale$").stdout.split():
            os.killpg(int(pid), signal.SIGKILL)


def test_posted_and_delayed_jobs_run_while_an_application_modal_alert_is_up(launch, origin, tmp_path, releases):
    """The manual check's alert stays up; meanwhile the automatic check 5 s after launch (a delayed job) hands
    its answer back (a posted job), installs, and the outcome (posted again) opens its alert over the first."""
    team, published = releases
    installed = bundle(tmp_path, "1.0", "1", team)
    args = ["-showUpdates", "YES", "-autoUpdate", "YES", *serve(origin, *published["a"])]
    app = launch(exe=str(installed / "Contents/MacOS/corvidale"), args=args)
    first = app.window("^Corvidale 2.0 is available$")
    assert not origin.to("/releases/" + published["a"][0]["file"]), "the automatic check ran before the alert was up"
    app.window("^Corvidale was updated to 2.0$")
    assert first in app.windows("^Corvidale 2.0 is available$")
    assert version(installed) == "Corvidale 2.0 (7)"


def test_an_older_copy_still_running_never_installs_over_what_a_newer_one_installed(launch, origin, tmp_path, releases):
    """Copy A of 1.0 (1) offers 0.9 (5); meanwhile copy B installs 2.0 (7). A's "Update Now" must not put 5 back."""
    team, published = releases
    installed = bundle(tmp_path, "1.0", "1", team)
    exe = str(installed / "Contents/MacOS/corvidale")
    older = launch(exe=exe, args=["-showUpdates", "YES", *serve(origin, *published["old"])])
    offer = older.window("^Corvidale 0.9 is available$")
    newer = launch(exe=exe, args=["-updateSelfTest", "YES", *serve(origin, *published["a"], "/newer/")])
    assert (newer.wait_exit(), newer.out()) == (0, [f"UPDATE SELFTEST: installed 2.0 (7) at {os.path.realpath(installed)}"])
    older.key("Return", window=offer)  # "Update Now"
    older.window("^The update wasn't installed$")
    assert version(installed) == "Corvidale 2.0 (7)"


def sealed(folder, keys, **info):
    """2.0 (7) signed by `keys` as (feed, image), made by hand past publish.sh's own refusals."""
    app = bundle(folder / "image", "2.0", "7", **info)
    assert run(CODESIGN, "sign", *[a for key in keys for a in ("--key", key)], app).returncode == 0
    assert run("mksquashfs", folder / "image", folder / "C.sqfs", "-all-root", "-noappend", "-quiet").returncode == 0
    image = (folder / "C.sqfs").read_bytes()
    return {"version": "2.0", "build": 7, "file": "C.sqfs", "sha256": hashlib.sha256(image).hexdigest()}, image


def test_the_signing_key_rotates_as_documented_and_a_threshold_counts_pinned_signers(launch, origin, tmp_path):
    """docs/releasing.md's walk-through, run as written: 1.0 pins the old key; 2.0, signed by it, pins both;
    3.0 is signed by the new key alone. Then a threshold of 2, and new apps whose pins are unusable."""
    work, root = tmp_path / "rotation", Path(__file__).parents[2]
    work.mkdir()
    for name, target in [("build", BUILD), ("scripts", root / "scripts")]:
        (work / name).symlink_to(target)
    old = run(CODESIGN, "keygen", str(work / "old-key.pem")).stdout.strip()
    block = (root / "docs/releasing.md").read_text().split("## Rotating the signing key")[1].split("```sh\n")[1]
    assert run("bash", "-euo", "pipefail", "-c", block.split("```")[0], cwd=work).returncode == 0
    new = run(CODESIGN, "keyid", str(work / "new-key.pem")).stdout.strip()
    published = {v: (f := json.loads((work / f"out/{v}/linux.json").read_text()), (work / f"out/{v}" / f["file"]).read_bytes())
                 for v in ("2.0", "3.0")}
    keys = [str(work / "old-key.pem"), str(work / "new-key.pem")]
    published["both"] = sealed(tmp_path / "both", keys, CorvidaleTeamIdentifier=f"{old},{new}")
    published["no keys"] = sealed(tmp_path / "none", keys[:1], CorvidaleTeamIdentifier="")
    published["2 of 1"] = sealed(tmp_path / "over", keys[:1], CorvidaleTeamIdentifier=old, CorvidaleSigningThreshold="2")
    one, two = bundle(tmp_path / "one", "1.0", "1", old), bundle(tmp_path / "two", "1.0", "1", f"{old},{new}",
                                                                  CorvidaleSigningThreshold="2")
    pinless = "UPDATE SELFTEST: failed — Couldn't replace the app: the app in the disk image pins no signing keys it " \
              "could take an update from"
    for installed, case, line in [(one, "3.0", REFUSED.format("another team")), (one, "no keys", pinless),
                                  (one, "2 of 1", pinless), (one, "2.0", "installed 2.0 (7)"),
                                  (one, "3.0", "installed 3.0 (9)"), (two, "2.0", REFUSED.format("another team")),
                                  (two, "both", "installed 2.0 (7)")]:
        app = launch(exe=str(installed / "Contents/MacOS/corvidale"), args=["-updateSelfTest", "YES",
                                                                            *serve(origin, *published[case])])
        done = line.startswith("installed")
        expected = f"UPDATE SELFTEST: {line} at {os.path.realpath(installed)}" if done else line
        assert (app.wait_exit(), app.out()) == (0 if done else 1, [expected]), (case, app.err())


def feed_signature(text, key, folder):
    """The line publish.sh writes: the raw public key and the signature of the exact bytes, in hex."""
    (folder / "signed").write_text(text)
    der = subprocess.run(["openssl", "pkey", "-in", key, "-pubout", "-outform", "DER"], capture_output=True).stdout
    made = subprocess.run(["openssl", "pkeyutl", "-sign", "-rawin", "-inkey", key, "-in", folder / "signed"],
                          capture_output=True).stdout
    assert len(der) == 44 and len(made) == 64
    return der[-32:].hex() + " " + made.hex() + "\n"


def test_a_bundle_that_requires_a_signed_feed_reads_only_a_fresh_one_by_its_pinned_keys(launch, origin, tmp_path, releases):
    """Expired, without "expires", changed after signing, signed by a key it does not pin, or with no signature:
    unreadable (so nothing newer) for a bundle built to require a signed feed, installed as before by one that is not."""
    team, published = releases
    feed, image = published["a"]
    texts = {"expired": json.dumps(dict(feed, expires="2020-01-01T00:00:00Z")), "unpinned key": json.dumps(feed),
             "no expires": json.dumps({k: v for k, v in feed.items() if k != "expires"})}
    signed = {case: (text, feed_signature(text, published["key files"]["b" if case == "unpinned key" else "a"], tmp_path))
              for case, text in texts.items()}
    signed["fresh"] = published["signed a"]  # as publish.sh signed it, 30 days ahead
    signed["changed after signing"] = signed["fresh"][0] + " ", signed["fresh"][1]
    signed["no signature"] = signed["fresh"][0], None
    for required, case in [(True, "fresh")] + [(r, c) for c in [*texts, "changed after signing", "no signature"]
                                                for r in (True, False)]:
        installed = bundle(tmp_path / f"{case}-{required}", "1.0", "1", team,
                           CorvidaleRequireSignedFeed="YES" if required else "NO")
        app = launch(exe=str(installed / "Contents/MacOS/corvidale"),
                     args=["-updateSelfTest", "YES", *serve(origin, signed[case][0], image, signature=signed[case][1])])
        took = case == "fresh" or not required
        line = f"installed 2.0 (7) at {os.path.realpath(installed)}" if took else "nothing newer than 1"
        assert (app.wait_exit(), app.out()) == (0 if took else 1, [f"UPDATE SELFTEST: {line}"]), (case, required, app.err())


def file_record(path, declared, raw=b"", zeros=0):
    """A delta's record of a whole file of `declared` bytes, its zstd frame made by hand: `raw`, then `zeros` zero
    bytes in blocks of 128 KiB of 4 bytes each (no size given, a window of 128 KiB)."""
    blocks = [(0, len(raw), raw)] + [(1, 1 << 17, b"\0")] * (zeros >> 17)  # raw, then run-length blocks
    frame = struct.pack("<IBB", 0xFD2FB528, 0, 7 << 3) + b"".join(
        ((size << 3) | (kind << 1) | (n == len(blocks) - 1)).to_bytes(3, "little") + data
        for n, (kind, size, data) in enumerate(blocks))
    return b"f" + struct.pack("<H", len(path)) + path + struct.pack("<IQQ", 0o644, declared, len(frame)) + frame


def test_a_delta_from_the_installed_build_installs_and_any_fault_of_it_falls_back_to_the_full_image(
        launch, origin, tmp_path, releases):
    """Each row starts from 1.0 as its image installed it; every one ends with a sealed 2.0, the delta from build 1
    fetched once and the full image only after the one line that says why the delta was not used."""
    team, published = releases
    feed, image = published["delta"]
    good, start, end, exe = published["deltas"][1], b"CORVIDALE DELTA 1\n", b"e\0\0", "Contents/MacOS/corvidale"
    (tmp_path / "1.0.sqfs").write_bytes(published["1.0"][1])
    rows = [("as published", None, None, None),  # (case, delta served as from 1, change to 1.0, why not used)
            ("corrupted", b"?" + good[1:], None, "checksum"),
            ("from build 5", published["deltas"][5], None, "the delta removes Contents/only-in-0.9"),
            ("a result off its seal", good[:-3] + file_record(b"Contents/late", 1, b"x") + end, None, "signature"),
            ("1.0 with an edited file", good, lambda app: open(app / exe, "ab").write(b"\0"), "signature"),
            ("1.0 with an added file", good, lambda app: (app / "Contents/added").write_text("x"), "signature"),
            ("a bomb", start + file_record(b"Contents/bomb", 4096, zeros=1 << 30) + end, None, "larger than the delta"),
            ("over the cap", start + file_record(b"Contents/bomb", 17 << 30, b"x") + end, None, "more than an app may")]
    for n, (case, delta, change, why) in enumerate(rows):
        folder, temporary = tmp_path / case, tmp_path / f"{case} tmp"
        assert run("unsquashfs", "-q", "-no-xattrs", "-d", folder, tmp_path / "1.0.sqfs").returncode == 0
        temporary.mkdir()
        if change:
            change(folder / "Corvidale.app")
        listed = feed if delta is None else dict(feed, deltas=[{"from": 1, "file": "1.delta", "sha256": hashlib.sha256(
            good if case == "corrupted" else delta).hexdigest()}])
        files = {d["file"]: published["deltas"][d["from"]] for d in feed["deltas"]} if delta is None else {"1.delta": delta}
        app = launch(exe=str(folder / "Corvidale.app" / exe), extra_env={"TMPDIR": str(temporary)},
                     args=["-updateSelfTest", "YES", *serve(origin, listed, image, f"/{n}/", files=files)])
        assert (app.wait_exit(), app.out()) == (0, [f"UPDATE SELFTEST: installed 2.0 (7) at "
                                                    f"{os.path.realpath(folder / 'Corvidale.app')}"]), (case, app.err())
        said = [re.fullmatch(r"\[update\] the delta from build 1 was not used \((.*)\); installing the full image", line)
                for line in app.err() if line.startswith("[update]")]
        assert [bool(m) and why in m[1] for m in said] == [True] * (why is not None), (case, app.err())
        assert [len(origin.to(f"/{n}/{name}")) for name in (listed["deltas"][-1]["file"], feed["file"])] == [1, int(bool(why))]
        assert run(CODESIGN, "--verify", "--deep", "--strict", folder / "Corvidale.app").returncode == 0, case
        assert [p.name for p in folder.iterdir()] == ["Corvidale.app"] and not list(temporary.iterdir()), case
