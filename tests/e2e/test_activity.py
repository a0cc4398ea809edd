"""Long work the user can watch: the strip under the page, its Cancel, and the launcher's progress,
read as a screen reader and a dock read them. With CORVIDALE_SCREENSHOTS set to a folder, the strip's
pictures for the documentation are taken there."""
import os
import time

from conftest import steps_page, wait_for

BIG = 300 * 1000 * 1000


def test_a_long_page_download_moves_in_the_strip_and_its_cancel_leaves_nothing(launch, origin, profile, desktop):
    sent = [0]

    def big(handler):  # about 20 MB a second, until the shell hangs up
        handler.send_response(200)
        for name, value in (("Content-Type", "application/octet-stream"), ("Content-Length", str(BIG)),
                            ("Content-Disposition", "attachment; filename=big.bin")):
            handler.send_header(name, value)
        handler.end_headers()
        try:
            while sent[0] < BIG:
                handler.wfile.write(b"\0" * 1000000)
                sent[0] += 1000000
                time.sleep(0.05)
        except OSError:
            pass
        handler.close_connection = True

    origin.routes.update({"/big.bin": big, "/steps": (steps_page([{"href": "/big.bin"}]),)})
    app = launch("/steps", extra_env=desktop.env)
    app.step(0)
    bar = lambda: desktop.find("progress bar", "big.bin \u2014 ")
    first = wait_for(lambda: (b := bar()) and b[2] and b, f"the download's bar: {desktop.tree()}")
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
