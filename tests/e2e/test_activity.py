"""Long work the user can watch: the strip under the page, its Cancel, and the launcher's progress,
read as a screen reader and a dock read them. With CORVIDALE_SCREENSHOTS set to a folder, the strip's
pictures for the documentation are taken there."""
import json
import os
import time
from pathlib import Path

import pytest

from conftest import APP, run, steps_page, wait_for
from test_update import BUILD, CODESIGN, bundle, version

BIG = 300 * 1000 * 1000
# Under the sanitizers the shell answers each accessibility call so slowly that walking its tree while it
# transfers outlasts the waits; the strip's and the board's code runs sanitized in the unit tests.
pytestmark = pytest.mark.skipif("libasan" in run("ldd", APP).stdout,
                                reason="accessibility reads of a sanitized shell are too slow to follow a transfer")


def test_a_long_page_download_moves_in_the_strip_and_its_cancel_leaves_nothing(launch, origin, profile, desktop):
    sent = [0]

    def big(handler):  # about 5 MB a second, until the shell hangs up: slower than a loaded machine reads the bar
        handler.send_response(200)
        for name, value in (("Content-Type", "application/octet-stream"), ("Content-Length", str(BIG)),
                            ("Content-Disposition", "attachment; filename=big.bin")):
            handler.send_header(name, value)
        handler.end_headers()
        try:
            while sent[0] < BIG:
                handler.wfile.write(b"\0" * 1000000)
                sent[0] += 1000000
                time.sleep(0.2)
        except OSError:
            pass
        handler.close_connection = True

    origin.routes.update({"/big.bin": big, "/steps": (steps_page([{"href": "/big.bin"}]),)})
    app = launch("/steps", extra_env=desktop.env)
    app.step(0)
    bar = lambda: desktop.find("progress bar", "big.bin \u2014 ")
    first = wait_for(lambda: (b := bar()) and b[2] and b, lambda: f"the download's bar: {desktop.tree()}")
    assert first[1].endswith(" of 300 MB"), first
    second = wait_for(lambda: (b := bar()) and b[2] > first[2] and b, "the bar to move")
    assert second[1] != first[1], "the bytes so far move with the bar"
    if os.environ.get("CORVIDALE_SCREENSHOTS"):
        app.x("import", "-window", app.window(), os.path.join(os.environ["CORVIDALE_SCREENSHOTS"], "download-strip.png"))
    moved = desktop.launcher()
    assert len(moved) >= 2 and moved == sorted(moved) and 0 < moved[-1] < 1, moved

    # The keyboard gets there from the page (F6, as the page keeps Tab), and Escape there stops nothing.
    cancel = lambda: desktop.find("push button", "Cancel the download of big.bin")
    assert cancel()[3] == "focusable"
    app.key("F6")
    wait_for(lambda: cancel()[3] == "focused", f"the Cancel to have the keyboard: {desktop.tree()}")
    app.key("Escape")
    time.sleep(1)
    assert bar() and not app.windows("^The download didn't finish$")
    app.key("space")
    wait_for(lambda: not bar(), "the row to go")
    wait_for(lambda: profile.files() == [], f"nothing in Downloads: {profile.files()}")
    wait_for(lambda: desktop.launcher()[-1:] == [None], f"the launcher's progress to go: {desktop.launcher()}")
    assert sent[0] < BIG and not app.windows("^The download didn't finish$")
    app.close()


@pytest.fixture(scope="module")
def big_release(tmp_path_factory):
    """Key a's id, and 2.0 (7) with 200 MB that do not compress, published with key a: (feed, image)."""
    root = tmp_path_factory.mktemp("big")
    team = run(CODESIGN, "keygen", str(root / "a.pem")).stdout.strip()
    (root / "new").mkdir()
    app = bundle(root / "new", "2.0", "7", team)
    (app / "Contents/Resources").mkdir(exist_ok=True)
    (app / "Contents/Resources/padding.bin").write_bytes(os.urandom(BIG // 3 * 2))
    assert run("bash", str(Path(__file__).parents[2] / "scripts/publish.sh"), app, root / "a.pem", root / "out",
               env={**os.environ, "CORVIDALE_BUILD_DIR": str(BUILD)}).returncode == 0
    feed = json.loads((root / "out/linux.json").read_text())
    return team, feed, (root / "out" / feed["file"]).read_bytes()


def tree(folder):
    return {str(p.relative_to(folder)): p.read_bytes() if p.is_file() else p.is_symlink()
            for p in sorted(Path(folder).rglob("*"))}


def test_an_update_moves_in_the_strip_its_cancel_changes_nothing_and_the_next_installs(launch, origin, tmp_path,
                                                                                   desktop, big_release):
    team, feed, image = big_release
    installed = bundle(tmp_path, "1.0", "1", team)
    before, temporary = tree(installed), tmp_path / "tmp"
    temporary.mkdir()
    # Notes a careless publisher might send: markup, a NUL, a direction override, a megabyte.
    feed = dict(feed, notes="<b>New</b>\u0000 \u202eevil\u202c\n" + "x" * 1000000)
    served = []

    pictures = os.environ.get("CORVIDALE_SCREENSHOTS")

    def slowly_once(handler):  # 4 MB a second the first time (2 for pictures)
        served.append(0)
        handler.send_response(200)
        handler.send_header("Content-Length", str(len(image)))
        handler.end_headers()
        try:
            for at in range(0, len(image), 1000000):
                handler.wfile.write(image[at:at + 1000000])
                time.sleep((0.5 if pictures else 0.25) if len(served) == 1 else 0)
        except OSError:
            pass

    origin.routes.update({"/r/linux.json": (json.dumps(feed), "application/json"), "/r/" + feed["file"]: slowly_once})
    args = ["-showUpdates", "YES", "-updateFeed", origin.url("/r/linux.json")]
    environment = {**desktop.env, "TMPDIR": str(temporary)}  # its run folder goes there
    app = launch(exe=str(installed / "Contents/MacOS/corvidale"), args=args, extra_env=environment)
    offer = app.window("^Corvidale 2.0 is available$")
    notes = wait_for(lambda: desktop.find("text", "What's new"), lambda: f"the notes: {desktop.tree()}")[4]
    assert notes.startswith("<b>New</b> evil\nxxx") and notes.endswith("x\u2026") and len(notes.encode()) <= 16384
    app.key("Return", window=offer)  # "Update Now"

    bar = lambda: desktop.find("progress bar", "Downloading Corvidale 2.0 \u2014 ")
    first = wait_for(lambda: (b := bar()) and b[2] and b, lambda: f"the update's bar: {desktop.tree()}")
    wait_for(lambda: (b := bar()) and b[2] > first[2], lambda: f"the bar to move from {first}: {desktop.tree()}")
    assert first[1].endswith(" of %d MB" % (len(image) // 1000000)) and list(temporary.glob("corvidale-update-*")), first
    if pictures:  # slowly enough for a picture taken mid-download
        app.x("import", "-window", app.window("^Corvidale — updating"), os.path.join(pictures, "update-strip.png"))
    moved = desktop.launcher()
    assert len(moved) >= 2 and moved == sorted(moved) and 0 < moved[-1] < 1, moved

    desktop.press("Cancel the update")
    wait_for(lambda: not bar() and app.windows("^Corvidale$"), "the strip to go and the title to come back")
    wait_for(lambda: desktop.launcher()[-1:] == [None], f"the launcher's progress to go: {desktop.launcher()}")
    time.sleep(1)
    assert not app.windows("^The update wasn't installed$"), "the user's own cancel is no failure"
    assert tree(installed) == before and not list(temporary.iterdir())
    helpers = [Path(f"/proc/{c}/cmdline").read_text() for c in run("pgrep", "-P", str(app.proc.pid)).stdout.split()]
    assert not [c for c in helpers if "corvidale" in c], helpers
    app.close()

    app = launch(exe=str(installed / "Contents/MacOS/corvidale"), args=args, extra_env=environment)
    app.key("Return", window=app.window("^Corvidale 2.0 is available$"))
    app.window("^Corvidale 2.0 is installed$")
    assert version(installed) == "Corvidale 2.0 (7)"
