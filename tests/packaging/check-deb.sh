#!/usr/bin/env bash
# The Debian package on a clean Debian 12: builds the .deb, makes a minimal
# bookworm root with debootstrap, installs the package there with apt-get (so
# its dependencies resolve from the mirror, recommended packages left out),
# checks that the launcher, desktop entry (with the link scheme), icons and
# metainfo are in place and valid, and starts the launcher in that root under Xvfb against the demo
# origin: the page must load and the window's class must be the desktop
# entry's StartupWMClass.
#
#   tests/packaging/check-deb.sh     (root, network; about 2 minutes after a build)
#
# Exits 77 (skipped) when not root or when no Debian mirror answers.
# CORVIDALE_DEBIAN_MIRROR picks the mirror (default: this machine's, from its
# apt sources). CORVIDALE_BUILD_DIR the build folder (default: build/).
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
skip() { echo "check-deb: SKIPPED: $*"; exit 77; }

[[ $(id -u) -eq 0 ]] || skip "needs root (debootstrap, chroot, mounts)"
MIRROR=${CORVIDALE_DEBIAN_MIRROR:-$(grep -rhE '^(deb|URIs:) ' /etc/apt/sources.list /etc/apt/sources.list.d 2>/dev/null |
  grep -oE 'https?://[^ ]+/debian/?( |$)' | head -n 1 | tr -d ' ')}
MIRROR=${MIRROR:-http://deb.debian.org/debian}
curl -fsS -o /dev/null --max-time 30 "${MIRROR%/}/dists/bookworm/Release" ||
  skip "no Debian mirror answers at $MIRROR (set CORVIDALE_DEBIAN_MIRROR)"
for tool in debootstrap desktop-file-validate appstreamcli dpkg-shlibdeps Xvfb xdotool xprop; do
  command -v "$tool" >/dev/null || fail "$tool is missing (scripts/deps.sh installs it)"
done

say "building the package in $BUILD"
{ cmake -S "$ROOT" -B "$BUILD" -G Ninja && cmake --build "$BUILD" --target package; } >"$WORK/package.log" 2>&1 ||
  { tail -n 30 "$WORK/package.log"; fail "the package did not build"; }
deb=$(ls -t "$BUILD"/corvidale_*.deb | head -n 1)
say "$(basename "$deb"): $(stat -c %s "$deb") bytes; $(dpkg-deb -f "$deb" Depends)"

say "a clean bookworm root from $MIRROR"
R=$WORK/root
debootstrap --variant=minbase bookworm "$R" "$MIRROR" >"$WORK/debootstrap.log" 2>&1 ||
  { tail -n 20 "$WORK/debootstrap.log"; fail "debootstrap failed"; }
cp /etc/resolv.conf "$R/etc/resolv.conf"
cp "$deb" "$R/tmp/"
# Runs a command in the root, in a mount namespace of its own with the root a
# mount point (the engine's sandbox needs that), /proc, /sys, /dev, the X
# sockets and, once there is one, the CA bundle with the demo CA added.
enter='r=$1 ca=$2; shift 2
  mount --bind "$r" "$r" && mount -t proc proc "$r/proc" && mount --rbind /sys "$r/sys" &&
  mount --rbind /dev "$r/dev" && mkdir -p "$r/tmp/.X11-unix" && mount --bind /tmp/.X11-unix "$r/tmp/.X11-unix" &&
  { [ ! -f "$ca" ] || mount --bind "$ca" "$r/etc/ssl/certs/ca-certificates.crt"; } && exec chroot "$r" "$@"'
in_root() { unshare -m -- sh -c "$enter" sh "$R" "$WORK/ca-bundle.crt" "$@"; }

say "apt-get install ./$(basename "$deb")"
in_root env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "/tmp/$(basename "$deb")" \
  >"$WORK/apt.log" 2>&1 || { tail -n 30 "$WORK/apt.log"; fail "the package did not install"; }
grep -E '^[0-9]+ upgraded' "$WORK/apt.log"

id=com.corvidale.desktop
entry=$R/usr/share/applications/$id.desktop
[[ $(readlink "$R/usr/bin/corvidale") == /opt/corvidale/Corvidale.app/Contents/MacOS/corvidale ]] ||
  fail "the launcher is not a link to the bundle's executable"
for file in "$entry" "$R/usr/share/metainfo/$id.metainfo.xml" "$R/opt/corvidale/Corvidale.app/Contents/Info.plist" \
  "$R/usr/share/icons/hicolor/scalable/apps/$id.svg" "$R"/usr/share/icons/hicolor/{16x16,48x48,512x512}/apps/$id.png; do
  [[ -s $file ]] || fail "missing: ${file#"$R"}"
done
desktop-file-validate "$entry" || fail "desktop-file-validate"
appstreamcli validate --no-net "$R/usr/share/metainfo/$id.metainfo.xml" || fail "appstreamcli validate"
[[ $(sed -n 's/^Exec=//p' "$entry") == "/usr/bin/corvidale %u" && $(sed -n 's/^Icon=//p' "$entry") == "$id" ]] ||
  fail "the desktop entry does not start the launcher with the link or name the icon"
grep -qx 'MimeType=x-scheme-handler/corvidale;' "$entry" || fail "the desktop entry claims no corvidale: links"
wm_class=$(sed -n 's/^StartupWMClass=//p' "$entry")

say "the launcher, in the root"
start_xvfb
start_demo_server "$BUILD/demo/corvidale-demo-server"
version=$(in_root /usr/bin/corvidale --version) || fail "corvidale --version"
[[ $version == "Corvidale "* && $version != *unknown* ]] || fail "the launcher did not find its bundle: $version"
mkdir -p "$R/tmp/home/runtime" && chmod 700 "$R/tmp/home/runtime"
setsid unshare -m -- sh -c "$enter" sh "$R" "$WORK/ca-bundle.crt" env -i PATH=/usr/bin:/bin HOME=/tmp/home \
  XDG_RUNTIME_DIR=/tmp/home/runtime DISPLAY="$DISPLAY" CORVIDALE_ORIGIN="$URL" corvidale >"$WORK/app.log" 2>&1 &
STARTED+=($!)
wait_for 90 grep -q 'page loaded' "$WORK/server.log" || { cat "$WORK/app.log"; fail "the page did not load"; }
window=$(windows_of_class "$wm_class")
[[ $(wc -w <<<"$window") -eq 1 ]] || fail "no single window of class $wm_class: $(xwininfo -root -children)"
xprop -id "$window" WM_CLASS | grep -qx "WM_CLASS(STRING) = \"$wm_class\", \"$wm_class\"" || fail "WM_CLASS"
echo "check-deb: passed ($version; installed on bookworm from $MIRROR; $((SECONDS)) s)"
