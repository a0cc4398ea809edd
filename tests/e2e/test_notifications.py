"""The page's notifications on a private session bus that starts no services,
where python3-dbusmock's notification server records every Notify."""
import os
import subprocess
import time

import pytest

from conftest import FOREIGN_HOST, dies_with_us, page, wait_for

TOP = page("""<button id="ask">ask</button><iframe src="@FRAME@"></iframe><iframe src="/frame"></iframe><script>
var shown = 0;
report('on load ' + location.port + ' ' + Notification.permission);
document.addEventListener('keydown', function (e) { if (e.key == 'm') location.href = '@MAIN@'; });
document.getElementById('ask').onclick = function () {
  if (shown) { for (var i = 0; i < 15; i++) new Notification('burst ' + i); return report('burst'); }
  Notification.requestPermission().then(function (answer) {
    report('top ' + answer);
    var n = new Notification('Build ' + 'x'.repeat(20000), {body: 'All <b>12</b> checks & <a href="x">passed</a>', tag: 'build'});
    n.onclick = function () { report('clicked'); };
    shown = 1;
  });
};</script>""", head="<style>body{margin:0}#ask,iframe{display:block;width:100%;height:32vh;border:0}</style>")
FRAME = page("""<button style="width:100%;height:100vh"
  onclick="Notification.requestPermission().then(function (a) { report('frame ' + a); })">frame</button>""")


@pytest.fixture
def notification_bus(tmp_path, session_bus):
    env = {**os.environ, "DBUS_SESSION_BUS_ADDRESS": session_bus}
    log = tmp_path / "notify.log"
    server = subprocess.Popen(["/usr/bin/python3", "-m", "dbusmock", "-t", "notification_daemon", "-l", str(log)],
                              env=env, stdout=subprocess.DEVNULL, preexec_fn=dies_with_us)
    wait_for(log.exists, "the notification server")
    yield env, log
    server.kill()


def test_the_own_page_notifies_the_desktop_and_a_click_brings_it_back(launch, origin, notification_bus):
    env, log = notification_bus
    notified = lambda: [line for line in log.read_text().splitlines() if " Notify " in line]
    origin.routes["/notify"] = (TOP.replace("@FRAME@", origin.url("/frame", host=FOREIGN_HOST))
                                .replace("@MAIN@", origin.url("/notify")),)
    origin.routes["/frame"] = (FRAME,)
    other = origin.url("/notify", port=origin.other_port)
    origin.routes["/hop"] = lambda handler: handler.reply("", headers={"Location": other}, status=302)
    # The origin sends the window to its host's other port: a page there is no page of the application's.
    app = launch("/hop", extra_env={"DBUS_SESSION_BUS_ADDRESS": env["DBUS_SESSION_BUS_ADDRESS"]})
    origin.wait_report(f"on load {origin.other_port} default")
    app.window()
    time.sleep(1)
    app.click(550, 120)
    origin.wait_report("top denied")
    app.key("m")
    origin.wait_report(f"on load {origin.port} default")
    wait_for(lambda: len(origin.to("/frame")) == 4, "the frames")
    time.sleep(1)

    # Frames that ask first, with the user's click in them, get nothing: the
    # engine refuses another site's itself, the shell the application's own.
    for y in (350, 600):
        app.click(550, y)
        wait_for(lambda: origin.reports().count("frame denied") == (y > 350) + 1, f"a frame at {y} refused")
    app.click(550, 120)
    origin.wait_report("top granted")
    shown = wait_for(notified, "a Notify")
    # The body as plain text: the server would read markup.
    assert '"All &lt;b&gt;12&lt;/b&gt; checks &amp; &lt;a href=\"x\"&gt;passed&lt;/a&gt;"' in shown[0], shown
    assert '"desktop-entry": "com.corvidale.desktop"' in shown[0], shown
    assert ' "Build ' + "x" * 9994 + '…" ' in shown[0], "the title is cut like dialog text"

    # Another window over the shell; the click on the notification brings it forward.
    cover = subprocess.Popen(["xmessage", "-geometry", "1280x1024+0+0", "cover"],
                             env={**os.environ, "DISPLAY": app.world.display}, preexec_fn=dies_with_us)
    topmost = lambda: next(line.split()[0] for line in app.x("xwininfo", "-root", "-children").stdout.splitlines()
                           if '"xmessage"' in line or '"Corvidale"' in line)
    # On screen, not just created: a cover mapped late would go over the shell again.
    shown_cover = lambda: app.x("xdotool", "search", "--onlyvisible", "--classname", "^xmessage$").stdout.split()
    wait_for(lambda: shown_cover() and topmost() != hex(int(app.window())), "the cover")
    subprocess.run(["gdbus", "call", "--session", "--dest", "org.freedesktop.Notifications", "--object-path",
                    "/org/freedesktop/Notifications", "--method", "org.freedesktop.DBus.Mock.EmitSignal",
                    "org.freedesktop.Notifications", "ActionInvoked", "us", "[<uint32 1>, <'default'>]"],
                   env=env, check=True, capture_output=True)
    origin.wait_report("clicked")
    wait_for(lambda: topmost() == hex(int(app.window())), "the shell's window in front")
    cover.kill()

    app.click(550, 120)
    origin.wait_report("burst")
    time.sleep(3)
    assert len(notified()) == 10, "the first and nine of the burst, in the minute"
    app.stop()
    launch("/notify", extra_env={"DBUS_SESSION_BUS_ADDRESS": env["DBUS_SESSION_BUS_ADDRESS"]})
    origin.wait_report(f"on load {origin.port} granted")  # remembered
