"""What the page asks of the shell: navigations, new windows, downloads, dialogs, files and the camera."""
import time

from conftest import APP_HOST, FOREIGN_HOST, SIGNIN_HOST, SUB_HOST, page, steps_page, wait_for

MEDIA = """navigator.mediaDevices.getUserMedia({video: true, audio: true}).then(function (s) {
  report('media ' + location.hostname + ' granted ' + s.getTracks().length);
}, function (e) { report('media ' + location.hostname + ' denied ' + e.name); })"""


def test_links_new_windows_and_the_camera(launch, origin, profile):
    foreign, sub = origin.url("/landing?from=link", FOREIGN_HOST), origin.url("/landing", SUB_HOST)
    blank, opened = origin.url("/landing?blank"), origin.url("/landing?open")
    origin.routes["/steps"] = (steps_page([
        {"href": foreign}, {"href": sub}, {"href": blank, "target": "_blank"}, {"open": opened},
        {"href": "file:///etc/hosts"}, {"href": "smb://server.test/share/x.docx"}, {"href": "corvidale-test://run"},
        {"href": "smb://server.test/blank", "target": "_blank"}, {"open": "corvidale-test://window"},
        {"href": origin.url("/after", FOREIGN_HOST)},  # handed out like any foreign link: all before it has been decided
        {"href": origin.url("/other-port", port=origin.other_port)}], onload=MEDIA),)
    origin.routes["/other-port"] = (steps_page([{"href": origin.url("/signin?continue=app", SIGNIN_HOST)}]),)
    origin.routes["/signin"] = (page(f"<script>{MEDIA}</script>"),)
    app = launch("/steps", args=["-WebKitMockCaptureDevices", "YES"])
    assert origin.wait_report(f"media {APP_HOST} ") == f"media {APP_HOST} granted 2"
    expected = [foreign, sub, blank, opened]
    for step in range(4):
        app.step(step)
        wait_for(lambda: profile.opened() == expected[:step + 1], f"step {step} in the browser: {profile.opened()}")
    assert "clicked 3 /steps null" in origin.reports()
    for step in range(4, 10):
        app.step(step)
    wait_for(lambda: len(profile.opened()) == 5, "the last foreign link")
    assert profile.opened()[4] == origin.url("/after", FOREIGN_HOST) and not origin.to("/landing") + origin.to("/after")
    assert not [r for r in origin.reports() if r.startswith("pagehide")] and app.windows() == [app.window()]
    # The origin's host on another port, then a sign-in host: both stay in the window.
    app.step(10)
    wait_for(lambda: origin.to("/other-port"), "the other port")
    assert origin.to("/other-port")[0]["host"] == f"{APP_HOST}:{origin.other_port}"
    app.step(0, "/other-port")
    assert origin.wait_report(f"media {SIGNIN_HOST} ") == f"media {SIGNIN_HOST} denied NotAllowedError"
    assert origin.to("/signin")[0]["target"] == "/signin?continue=app" and len(profile.opened()) == 5
    app.close()


CSV, OPAQUE, UPPER = "quarter,revenue\nQ1,100\n", b"\x01\x02\x03 binary \xff\xfe", "attachment in capitals\n"


def attachment(name, content, content_type="text/csv"):
    return (content, content_type, {"Content-Disposition": f'attachment; filename="{name}"'})


def test_downloads_keep_exact_bytes_under_unique_names_and_a_failure_leaves_nothing(launch, origin, profile):
    broken = [True]

    def ledger(handler):  # promises 64 KiB, hangs up after 1 KiB once the shell has claimed the name
        if not broken[0]:
            return handler.reply(*attachment("ledger.csv", CSV))
        handler.send_response(200)
        for name, value in attachment("ledger.csv", "", "text/csv")[2].items() | {("Content-Length", "65536")}:
            handler.send_header(name, value)
        handler.end_headers()
        handler.wfile.write(b"x" * 1024)
        handler.wfile.flush()
        end = time.monotonic() + 20
        while not (profile.downloads / "ledger.csv").exists() and time.monotonic() < end:
            time.sleep(0.05)
        handler.close_connection = True

    origin.routes.update({"/export": attachment("quarterly report.csv", CSV), "/blob.bin": (OPAQUE, "application/x-opaque"),
                          "/notes": (UPPER, "text/plain", {"Content-Disposition": "ATTACHMENT; filename=upper.txt"}),
                          "/hostile": attachment("../../escape.txt", CSV), "/ledger": ledger})
    origin.routes["/steps"] = (steps_page([{"href": "/export"}, {"href": "/blob.bin"}, {"href": "/notes"},
                                           {"href": "/export"}, {"blob": "made by the page", "download": "page.txt"},
                                           {"href": "/hostile"}, {"href": "/ledger"}, {"href": "/ledger"}]),)
    app = launch("/steps")
    saved = {"quarterly report.csv": CSV, "blob.bin": OPAQUE, "upper.txt": UPPER, "quarterly report 2.csv": CSV,
             "page.txt": "made by the page", "escape.txt": CSV}
    for step, name in enumerate(saved):
        app.step(step)
        path = profile.downloads / name
        wait_for(lambda: path.exists() and path.read_bytes() == (lambda c: c if isinstance(c, bytes) else c.encode())(
            saved[name]), f"{name} in Downloads: {profile.files()}")
    assert not list(profile.root.rglob("escape.txt"))[1:], "a hostile name left the Downloads folder"
    wait_for(lambda: any(str(profile.downloads) in u for u in profile.opened()), f"the reveal: {profile.opened()}")
    # A transfer broken off: one alert, no file left, and the page carries on.
    app.step(6)
    alert = app.window("^The download didn't finish$")
    assert "ledger.csv" not in profile.files()
    app.key("Return", window=alert)
    wait_for(lambda: not app.windows("^The download didn't finish$"), "the alert to go")
    broken[0] = False
    app.step(7)
    wait_for(lambda: (profile.downloads / "ledger.csv").exists() and (profile.downloads / "ledger.csv").read_text() == CSV,
             f"the whole ledger: {profile.files()}")
    assert profile.files() == sorted([*saved, "ledger.csv"])
    assert not [r for r in origin.reports() if r.startswith("pagehide")]
    app.close()


def test_download_self_test_passes_fails_and_exits(launch, origin, profile):
    origin.routes["/plain"] = (page("<p>self-test host</p>"),)
    origin.routes["/drawing.svg"] = ('<svg xmlns="http://www.w3.org/2000/svg" width="9" height="9"/>', "image/svg+xml")
    line = 'DOWNLOAD SELFTEST: saved {} — "saved by the Mac shell"'
    app = launch("/plain", args=["-downloadSelfTest", "YES"])
    assert (app.wait_exit(), app.out()) == (0, [line.format(profile.downloads / "corvidale-download-selftest.txt")]), app.err()
    assert profile.files() == [] and profile.opened() == []
    (profile.downloads / "corvidale-download-selftest.txt").write_text("left over")
    app = launch("/plain", args=["-downloadSelfTest", "YES"])
    assert (app.wait_exit(), app.out()) == (0, [line.format(profile.downloads / "corvidale-download-selftest 2.txt")]), app.err()
    assert profile.files() == ["corvidale-download-selftest.txt"]
    # A document without a body makes the script fail: one line with the engine's reason, status 1.
    app = launch("/drawing.svg", args=["-downloadSelfTest", "YES"])
    assert app.wait_exit() == 1, (app.out(), app.err())
    assert len(app.out()) == 1 and app.out()[0].startswith("DOWNLOAD SELFTEST: failed — ") and len(app.out()[0]) > 40


DIALOGS = page("""<script>addEventListener('load', function () { setTimeout(function () {
  alert('e2e-alert'); report('alert returned');
  report('confirm-ok ' + JSON.stringify(confirm('e2e-confirm-ok')));
  report('confirm-escape ' + JSON.stringify(confirm('e2e-confirm-escape')));
  report('prompt-default ' + JSON.stringify(prompt('e2e-prompt-default', 'preset value')));
  report('prompt-typed ' + JSON.stringify(prompt('e2e-prompt-typed', 'old text')));
  report('prompt-escape ' + JSON.stringify(prompt('e2e-prompt-escape', 'unused')));
  report('prompt-empty ' + JSON.stringify(prompt('e2e-prompt-empty')));
}, 0); });</script>""")


def test_alert_confirm_and_prompt_get_what_the_keys_answered(launch, origin):
    origin.routes["/"] = (DIALOGS,)
    app = launch()
    for message, keys, answer in [("alert", ["Return"], "alert returned"), ("confirm-ok", ["Return"], "confirm-ok true"),
                                  ("confirm-escape", ["Escape"], "confirm-escape false"),
                                  ("prompt-default", ["Return"], 'prompt-default "preset value"'),
                                  ("prompt-typed", ["ctrl+a", "typed words", "Return"], 'prompt-typed "typed words"'),
                                  ("prompt-escape", ["Escape"], "prompt-escape null"),
                                  ("prompt-empty", ["Return"], 'prompt-empty ""')]:
        # Titled by who asks, never by what the page wrote.
        dialog = app.window(f"^{APP_HOST}:{origin.port} says$")
        for key in keys:
            app.type(key, dialog) if " " in key else app.key(key, window=dialog)
        assert origin.wait_report(answer.split(" ")[0] + " ") == answer
        wait_for(lambda: dialog not in app.windows(" says$"), f"the {message} dialog to go")
    app.close()


FILES = page("""<label id="m" for="many">several</label><label id="o" for="one">one</label>
<input type="file" id="many" multiple><input type="file" id="one"><script>
['many', 'one'].forEach(function (id) {
  var input = document.getElementById(id);
  function say(what) { report(id + ' ' + what + ' ' + Array.prototype.map.call(input.files, function (f) {
    return f.name + ':' + f.size; }).join(',')); }
  input.addEventListener('change', function () { say('changed'); });
  input.addEventListener('cancel', function () { say('cancelled'); });
}); addEventListener('load', function () { report('loaded'); });</script>""", head="""<style>label{position:fixed;left:0;width:100%;height:50%;background:#2a6f4e}#m{top:0}#o{top:50%}
input{position:absolute;opacity:0}</style>""")


def test_the_file_chooser_answers_file_inputs(launch, origin, profile):
    folder = profile.root / "two"
    folder.mkdir()
    (folder / "alpha.txt").write_text("alpha\n")
    (folder / "beta.csv").write_text("b,e,t,a\n")
    (profile.root / "single.txt").write_text("only one\n")
    # Without recent files the chooser opens in the working directory, the folder with the two files.
    (profile.home / ".config/gtk-4.0").mkdir()
    (profile.home / ".config/gtk-4.0/settings.ini").write_text("[Settings]\ngtk-recent-files-enabled=false\n")
    origin.routes["/"] = (FILES,)
    app = launch(cwd=folder)
    origin.wait_report("loaded")

    def chooser(top):
        app.click(550, 200 if top else 600)
        window = app.window("^Open$")
        geometry = app.x("xdotool", "getwindowgeometry", window).stdout.split("Geometry: ")[1].split()[0].split("x")
        app.click(int(geometry[0]) * 6 // 10, int(geometry[1]) * 6 // 10, window=window)  # the list takes the keys
        return window

    def press_until_selected(window, keys, pixels):
        """Keys that select rows do nothing before the folder is listed: press them until
        enough of the chooser carries the selection's blue."""
        def blue():
            ppm = app.capture(window)
            return sum(1 for i in range(0, len(ppm) - 2, 12) if ppm[i + 2] > ppm[i] + 60 and ppm[i + 2] > ppm[i + 1] + 30)
        wait_for(lambda: app.key(keys, window=window) or blue() * 4 >= pixels, f"{keys} to select rows", 30)

    def gone():
        wait_for(lambda: not app.windows("^Open$"), "the chooser to go")

    app.key("Escape", window=chooser(True))
    gone()
    assert origin.wait_report("many cancelled") == "many cancelled "
    window = chooser(True)
    press_until_selected(window, "ctrl+a", 20000)
    app.key("alt+o", window=window)
    gone()
    assert origin.wait_report("many changed") == "many changed alpha.txt:6,beta.csv:8"
    window = chooser(False)
    press_until_selected(window, "Home", 8000)
    app.key("ctrl+l", window=window)
    app.type(str(profile.root / "single.txt"), window)
    app.key("Return", window=window)
    gone()
    assert origin.wait_report("one changed") == "one changed single.txt:9"
    app.key("Escape", window=chooser(False))
    gone()
    assert origin.wait_report("one cancelled") == "one cancelled single.txt:9"
    app.close()


def test_what_a_hostile_page_or_server_tries_stays_harmless(launch, origin, profile):
    """Links the shell's parser can't read, mail links, schemes the engine can't show,
    the engine's temporary download file, long names, cut-off transfers, scripted windows."""
    def cut(handler):  # declares 400 000 bytes, sends half and hangs up
        handler.send_response(200)
        for name, value in [*attachment("cut.bin", "")[2].items(), ("Content-Length", "400000")]:
            handler.send_header(name, value)
        handler.end_headers()
        handler.wfile.write(b"x" * 200000)
        handler.close_connection = True

    long_name = "L" * 241 + ".txt"
    origin.routes.update({"/wk": attachment("wk.txt", CSV), "/long": attachment(long_name, CSV), "/cut": cut})
    scripted = origin.url("/checkout", FOREIGN_HOST)
    origin.routes["/steps"] = (steps_page([
        {"href": origin.url("/landing", FOREIGN_HOST) + "#" + "A" * (9 << 20)}, {"href": "mailto:someone@example.com"},
        {"href": f"x-foo://{APP_HOST}/"}, {"href": "/wk"}, {"href": "/long"}, {"href": "/cut"}],
        onload=f"fetch('/report', {{method: 'POST', body: 'awaited'}}).then(function () {{"
               f"report('scripted ' + (window.open('{scripted}') ? 'window' : 'null')); }})"),)
    outside = profile.root / "outside.txt"
    outside.write_text("not the download's")
    (profile.downloads / "wk.txt.wkdownload").symlink_to(outside)
    app = launch("/steps")
    # A window opened by script without a click still only reaches the browser.
    wait_for(lambda: profile.opened() == [scripted], f"the scripted window in the browser: {profile.opened()}")
    for step in range(3):
        app.step(step)
    wait_for(lambda: profile.opened() == [scripted, "mailto:someone@example.com"], f"the mail link: {profile.opened()}")
    app.step(3)
    wait_for(lambda: (profile.downloads / "wk 2.txt").exists(), f"wk 2.txt: {profile.files()}")
    app.step(4)
    wait_for(lambda: any(n.startswith("L" * 240) and n.endswith(".txt") for n in profile.files()), "the long name, cut")
    app.step(5)
    app.key("Return", window=app.window("^The download didn't finish$"))
    assert outside.read_text() == "not the download's" and not origin.to("/landing")
    # Two downloads close together show the folder once.
    assert "cut.bin" not in profile.files() and profile.opened()[2:] == [str(profile.downloads)]
    assert not [r for r in origin.reports() if r.startswith("pagehide")], "the application was unloaded"
    app.close()


KEYS = page("""<input id="f" value="page text"><script>
document.addEventListener('keydown', function (e) {
  if (!e.ctrlKey || e.key == 'Control') return;
  report('keydown ctrl+' + e.key); if ('fzr'.indexOf(e.key) >= 0) e.preventDefault();
});
var f = document.getElementById('f');
f.addEventListener('input', function (e) { report('input ' + e.inputType); });
f.addEventListener('focus', function () { report('focused'); });
addEventListener('load', function () { report('loaded'); });</script>""",
            head="<style>#f{position:fixed;left:0;top:100px;width:40%;height:80px}</style>")


def test_the_page_gets_keys_first_and_a_page_dialog_never_locks_the_user_in(launch, origin):
    origin.routes["/keys"] = (KEYS,)
    app = launch("/keys")
    origin.wait_report("loaded")
    app.click(200, 140)
    origin.wait_report("focused")
    app.key("End", "x", "ctrl+z", "ctrl+f", "ctrl+r", "ctrl+y")
    origin.wait_report("keydown ctrl+y")
    assert [r for r in origin.reports() if r.startswith(("keydown", "input"))] == [
        "input insertText", "keydown ctrl+z", "keydown ctrl+f", "keydown ctrl+r", "keydown ctrl+y"]
    assert len(origin.to("/keys")) == 1 and app.windows() == [app.window()]  # no reload, no undo
    app.close()
    # An endless run of alerts, then a prompt far too long to show.
    origin.routes["/loop"] = (page("<script>setTimeout(function () { for (;;) alert('again'); }, 300);</script>"),)
    app = launch("/loop")
    app.key("ctrl+q", window=app.window(" says$"))
    assert app.wait_exit() == 0
    origin.routes["/huge"] = (page("<script>setTimeout(function () { var a = prompt('a'.repeat(5 << 20), 'd'.repeat(5 << 20));"
                                   " report('answer ' + a.length + ' ' + a.slice(-3)); }, 300);</script>"),)
    app = launch("/huge")
    app.key("Return", window=app.window(" says$"))
    assert origin.wait_report("answer ") == "answer 10001 dd…"
    app.close()


def test_pages_and_frames_of_other_sites_reach_the_desktop_only_through_the_user(launch, origin, profile):
    """Floods of windows, prints and downloads, from the page and from a frame of another site."""
    other = lambda path: origin.url(path, FOREIGN_HOST)  # noqa: E731
    origin.routes["/att"] = lambda handler: handler.reply(*attachment(handler.path.split("=")[1] + ".csv", CSV))
    # Another site's frame asks for windows, a print and downloads, all without a click.
    origin.routes["/ad"] = (page(f"""<script>for (var i = 0; i < 5; i++) window.open('{other("/ad-window")}');
      for (var j = 0; j < 10; j++) {{ var f = document.createElement('iframe'); f.src = '/att?n=ad' + j;
      document.body.appendChild(f); }} window.print();</script>"""),)
    frames = "".join(f'<iframe src="/att?n=own{i}"></iframe>' for i in range(12)) + f'<iframe src="{other("/ad")}"></iframe>'
    origin.routes["/flood"] = (steps_page([{"href": "#"}, {"href": "#"}], onload=f"""
      for (var i = 0; i < 20; i++) window.open('{other("/script-window")}?' + i); window.print(); var clicks = 0;
      go.addEventListener('click', function () {{
        if (clicks++ == 0) for (var i = 0; i < 5; i++) window.open('{other("/click-window")}?' + i);
        window.print(); }});""") + frames,)
    app = launch("/flood")
    own = sorted(f"own{i}.csv" for i in range(12))
    wait_for(lambda: profile.files() == own, f"the page's own downloads: {profile.files()}")
    wait_for(lambda: len(origin.to("/ad")) and origin.to("/att")[21:], f"the frame's requests: {len(origin.to('/att'))}")
    time.sleep(2)  # what the frame asked for has had time to arrive
    assert profile.files() == own, "a frame of another site downloaded"
    assert sorted(profile.opened()) == sorted([other(f"/script-window?{i}") for i in range(3)] + [str(profile.downloads)])
    assert not app.windows("^Print$"), "printed without a click"
    # A click opens one window, and is spent: the print needs a click of its own.
    app.step(0, "/flood")
    wait_for(lambda: len(profile.opened()) == 5, f"the click's window: {profile.opened()}")
    assert profile.opened()[-1] == other("/click-window?0")
    origin.wait_report("armed 1 /flood")
    assert not app.windows("^Print$"), "one click printed and opened a window"
    app.step(1, "/flood")
    app.key("ctrl+q", window=app.window("^Print$"))  # Quit works from the print dialog
    assert app.wait_exit() == 0
    assert len(profile.opened()) == 5 and profile.files() == own


# save(): a download the page starts by itself. seq(): steps 400 ms apart, since a frame's next navigation
# would cancel the one before it.
SAVE = """function save(name, href) { var a = document.createElement('a'); a.download = name;
  a.href = href || URL.createObjectURL(new Blob([name])); a.click(); }
  function seq() { for (var i = 0; i < arguments.length; i++) setTimeout(arguments[i], 400 * i); }"""


def test_frames_of_other_sites_save_open_and_ask_nothing_without_a_click_in_them(launch, origin, profile):
    """A hidden frame of another site, its nested and sandboxed frames, a history traversal, the same host on
    another port, and a visible frame that tries for as long as the user clicks in the application."""
    other, port = (lambda path: origin.url(path, FOREIGN_HOST)), origin.url("/port", port=origin.other_port)
    origin.routes["/att"] = lambda handler: handler.reply(*attachment(handler.path.split("=")[1] + ".txt", CSV))
    origin.routes["/hidden"] = (page(f"""<script>{SAVE} seq(function () {{ save('hidden-blob.txt'); }},
      function () {{ save('hidden-data.txt', 'data:text/plain,x'); }}, function () {{
      report('prompt ' + prompt('Your Corvidale session expired. Enter your password', ''));
      report('confirm ' + confirm('Leave?')); alert('hello'); report('alert returned');
      dispatchEvent(new PointerEvent('pointerdown')); dispatchEvent(new KeyboardEvent('keydown', {{key: 'a'}})); print();
      }}, function () {{
      var a = document.createElement('a'); a.href = 'mailto:evil@foreign.test'; a.click(); }});
      </script><iframe src="/nested"></iframe><iframe sandbox="allow-scripts allow-downloads"
      srcdoc="<script>{SAVE.replace('"', '&quot;')} save('sandboxed.txt')</script>"></iframe>"""),)
    origin.routes["/nested"] = (page(f"<script>{SAVE} save('nested.txt'); report('nested done');</script>"),)
    origin.routes["/port"] = (page(f"<script>{SAVE} save('port.txt'); report('port done');</script>"),)
    served = []

    def traverse(handler):  # a page first; when history brings the frame back, an attachment
        served.append(1)
        if len(served) == 1:
            return handler.reply(page("<script>setTimeout(function () { location.href = '/away'; }, 200);</script>"))
        handler.reply(*attachment("replayed.txt", CSV))
    origin.routes["/traverse"] = traverse
    origin.routes["/away"] = (page("""<script>var k = 0; (function back() {  // again, if a busy engine dropped it
      if (k++ < 4) { history.back(); setTimeout(back, 800); } })();</script>"""),)
    origin.routes["/clicker"] = (page(f"""<button id="b">in the frame</button><script>{SAVE} var n = 0, t;
      setTimeout(function () {{ t = setInterval(function () {{
        if (n % 2) save('timer' + n + '.txt'); else document.body.appendChild(document.createElement('iframe')).src =
          '/att?n=timer' + n; report('tried ' + n++); if (n == 8) clearInterval(t); }}, 600); }}, 1500);
      document.getElementById('b').addEventListener('click', function () {{ clearInterval(t);
        save('clicked.txt'); save('clicked-again.txt'); report('frame clicked'); }});
      addEventListener('message', function () {{ save('forwarded.txt'); report('forwarded'); }});</script>""",
                                       head="<style>#b{position:fixed;inset:0}</style>"),)
    origin.routes["/frames"] = (page(f"""<input id="field"><iframe id="clicker" src="{other('/clicker')}"></iframe>
      <iframe class="hidden" src="{other('/hidden')}"></iframe><iframe class="hidden" src="{other('/traverse')}"></iframe>
      <iframe class="hidden" src="{port}"></iframe><script>{SAVE}
      console.warn = function (line) {{ report('console ' + line); }};
      document.getElementById('field').addEventListener('click', function () {{ report('field clicked');
        document.getElementById('clicker').contentWindow.postMessage('go', '*'); }});
      addEventListener('load', function () {{ seq(function () {{ save('own.txt'); }}, function () {{
        var a = document.createElement('a'); a.href = 'mailto:own@corvidale.test'; a.click(); }}); }});</script>""",
                                      head="""<style>#field{position:fixed;left:0;top:0;width:400px;height:80px}
      #clicker{position:fixed;left:0;top:200px;width:500px;height:300px;border:0}.hidden{width:1px;height:1px;border:0}</style>"""),)
    app = launch("/frames")
    for report in ("prompt null", "confirm false", "alert returned", "nested done", "port done", "tried 2"):
        origin.wait_report(report)
    app.click(200, 40)  # in the application's own field, which tells the frame: nothing of the frame's
    origin.wait_report("forwarded")
    origin.wait_report("tried 7")
    wait_for(lambda: len(served) >= 2, "the traversal back to the attachment")
    app.click(250, 350)  # in the frame: one file for one click, whichever of its two starts first
    origin.wait_report("frame clicked")
    wait_for(lambda: len(profile.files()) == 2, f"the frame's click to save: {profile.files()}")
    time.sleep(2)  # what else was asked for has had time to arrive
    assert profile.files() in (["clicked.txt", "own.txt"], ["clicked-again.txt", "own.txt"]), profile.files()
    assert sorted(profile.opened()) == sorted(["mailto:own@corvidale.test", str(profile.downloads)]), "one reveal, no foreign mail"
    assert not app.windows(" says$") and not app.windows("^Print$"), "a dialog of another site's frame"
    console = [r[len("console "):] for r in origin.reports() if r.startswith("console ")]
    for line in ["Corvidale did not download blob:" + port.removesuffix("/port") + "/",
                 "Corvidale did not download data:text/plain,x: a frame of another site asked for it without a click",
            f"Corvidale did not show the prompt {other('/')[:-1]} asked for: only the top page and the application's own frames",
            "Corvidale did not download blob:null/", f"Corvidale did not download {other('/traverse')}: it could not tell",
            "Corvidale did not open mailto:evil@foreign.test: a frame of another site"]:
        assert any(c.startswith(line) for c in console), f"{line!r} not in the console: {console}"
    app.close()
