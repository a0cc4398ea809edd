"""Links of the application's own scheme: they start the shell at their page, or reach the running one."""
from pathlib import Path

from conftest import APP, page, wait_for

AT = page("""<script>
addEventListener('load', function () { report('at ' + location.pathname + location.search); });
addEventListener('pagehide', function () { navigator.sendBeacon('/report', 'left ' + location.search); });
</script>""")
HOSTILE = ["corvidale://evil.test/settings", "corvidale://open//evil.test/x", "corvidale://open/%2F%2Fevil.test",
           "javascript:alert(document.domain)"]


def open_over_bus(address, links):
    """What a launch forwards to the running shell, sent as any program on the bus could."""
    from gi.repository import Gio, GLib
    connection = Gio.DBusConnection.new_for_address_sync(
        address, Gio.DBusConnectionFlags.AUTHENTICATION_CLIENT | Gio.DBusConnectionFlags.MESSAGE_BUS_CONNECTION)
    connection.call_sync("com.corvidale.desktop", "/com/corvidale/desktop", "org.gtk.Application", "Open",
                         GLib.Variant("(assa{sv})", (links, "", {})), None, Gio.DBusCallFlags.NONE, 30000)
    connection.close_sync()


def test_a_link_starts_the_shell_at_its_page_reaches_the_running_one_and_hostile_links_change_nothing(
        launch, origin, session_bus):
    origin.routes["/"] = origin.routes["/settings"] = (AT,)
    bus = f"DBUS_SESSION_BUS_ADDRESS={session_bus}"  # single-instance on it, as on a desktop with no services
    shell = lambda link: launch(exe="/usr/bin/env", args=(bus, Path(APP).resolve(), link))
    first = shell("corvidale://open/settings?tab=2")
    assert origin.wait_report("at ") == "at /settings?tab=2"
    assert not origin.to("/"), "the start page was loaded too"
    second = shell("corvidale://open/settings?tab=3")
    assert second.wait_exit() == 0, second.err()
    assert origin.wait_report("at /settings?tab=3")

    requests = len(origin.requests)
    for link in HOSTILE:
        assert shell(link).wait_exit() == 0
    # Longer than any command line can carry: straight to the running shell, as a program on the bus may.
    open_over_bus(session_bus, ["corvidale://open/" + "a" * (1 << 20)])
    refusals = lambda: [line for line in first.said() if line.startswith("[link] refused")]
    refused = wait_for(lambda: len(refusals()) == 5 and refusals(), "five refusals")
    assert [line.split("): ", 1)[1] for line in refused[:4]] == HOSTILE
    assert refused[4].endswith(" (1048593 bytes)") and "(longer than 8192 bytes)" in refused[4]
    assert len(origin.requests) == requests and not any(r.startswith("left ?tab=3") for r in origin.reports())
    assert first.proc.poll() is None and len(first.windows()) == 1
