#!/usr/bin/env bash
# The release tools against tampered bundles and hostile disk images, and one
# publication taken through attach, verify and detach.
# usage: release_tools_test.sh <corvidale-codesign> <corvidale-image> <build dir>
set -uo pipefail
codesign="$(realpath "$1")" image="$(realpath "$2")" build="$(realpath "$3")"
scripts="$(cd "$(dirname "$0")/../../scripts" && pwd)"
work="$(mktemp -d)"
trap 'chmod -R u+rwx "$work" 2>/dev/null; rm -rf -- "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
pass() { echo "ok: $*"; }

"$codesign" keygen "$work/a.pem" >"$work/a.id" && "$codesign" keygen "$work/b.pem" >"$work/b.id" || exit 1
id_a="$(cat "$work/a.id")" id_b="$(cat "$work/b.id")"
[ "$(stat -c %a "$work/a.pem")" = 600 ] || fail "keygen: private key is not 0600"
"$codesign" keygen "$work/a.pem" >/dev/null 2>&1 && fail "keygen overwrote a key"
[ "$id_a" = "$(openssl pkey -in "$work/a.pem" -pubout -outform DER | sha256sum | cut -c1-64)" ] &&
  [ "$("$codesign" keyid "$work/a.pem")" = "$id_a" ] || fail "key id is not the SHA-256 of the DER public key"

# A bundle with a symbolic link and names that need encoding.
base="$work/base.app"
mkdir -p "$base/Contents/MacOS" "$base/Contents/Resources"
printf '#!/bin/sh\necho "Corvidale 2.0 (7)"\n' >"$base/Contents/MacOS/corvidale"
chmod 755 "$base/Contents/MacOS/corvidale"
printf '<plist version="1.0"><dict><key>CFBundleIdentifier</key><string>com.corvidale.desktop</string><key>CFBundleShortVersionString</key><string>2.0</string><key>CFBundleVersion</key><string>7</string><key>CorvidaleTeamIdentifier</key><string>%s</string></dict></plist>\n' "$id_a" >"$base/Contents/Info.plist"
ln -s ../Info.plist "$base/Contents/Resources/link"
printf a >"$base/Contents/Resources/$(printf 'new\nline')"
printf b >"$base/Contents/Resources/$(printf 'bad\377byte')"
"$codesign" sign --key "$work/a.pem" "$base" >/dev/null || fail "sign"

# name | verify fails (1) or passes (0) | tampering, run inside a fresh signed copy
signing_cases=(
  "untouched|0|true"
  "changed byte|1|printf X | dd of=Contents/MacOS/corvidale bs=1 seek=3 conv=notrunc status=none"
  "added file|1|touch Contents/extra"
  "removed file|1|rm Contents/Info.plist"
  "changed mode|1|chmod 700 Contents/MacOS/corvidale"
  "swapped symlink|1|ln -sfn ../MacOS/corvidale Contents/Resources/link"
  "symlink for file|1|rm Contents/Resources/link && cp Contents/Info.plist Contents/Resources/link"
  "encoded-looking name|1|mv Contents/Resources/new?line Contents/Resources/new%0Aline"
  "fifo added|1|mkfifo Contents/pipe"
  "extra file in signature folder|1|touch Contents/_CodeSignature/extra"
  "missing signature|1|rm Contents/_CodeSignature/signature"
  "two signers|0|$codesign sign --key $work/a.pem --key $work/b.pem . >/dev/null"
  "two signers, one signature bad|1|$codesign sign --key $work/a.pem --key $work/b.pem . >/dev/null && cp Contents/_CodeSignature/signature Contents/_CodeSignature/signature-2"
  "a signer past a gap|1|cd Contents/_CodeSignature && cp -p signature signature-3 && cp -p public-key.pem public-key-3.pem"
  "a key without its signature|1|cp -p Contents/_CodeSignature/public-key.pem Contents/_CodeSignature/public-key-2.pem"
  "different key recorded|1|$codesign sign --key $work/b.pem . >/dev/null && cp $work/a.sig/public-key.pem Contents/_CodeSignature/"
  "set-user-ID bit|1|chmod u+s Contents/MacOS/corvidale"
  "set-group-ID bit|1|chmod g+s Contents/MacOS/corvidale"
  "sticky bit|1|chmod +t Contents/Resources"
  "hidden file|1|touch Contents/Resources/.hidden"
  "hidden folder|1|mkdir .hidden"
  "signature folder writable|1|chmod 777 Contents/_CodeSignature"
  "seal files writable|1|chmod 666 Contents/_CodeSignature/*"
  "writable, sealed so|1|chmod 777 . Contents/MacOS/corvidale && sed -i -e 's|^dir 0755 \\. |dir 0777 . |' -e 's|^file 0755 Contents/MacOS/corvidale |file 0777 Contents/MacOS/corvidale |' Contents/_CodeSignature/manifest && openssl pkeyutl -sign -rawin -inkey $work/a.pem -in Contents/_CodeSignature/manifest -out Contents/_CodeSignature/signature && chmod 644 Contents/_CodeSignature/signature"
)
cp -a "$base/Contents/_CodeSignature" "$work/a.sig"
for row in "${signing_cases[@]}"; do
  IFS='|' read -r name expected tamper <<<"$row"
  copy="$work/case.app"
  rm -rf "$copy" && cp -a "$base" "$copy"
  (cd "$copy" && eval "$tamper") || { fail "$name: tampering failed"; continue; }
  "$codesign" --verify --deep --strict "$copy" >"$work/out" 2>&1
  status=$?
  [ "$((status != 0))" = "$expected" ] && pass "verify, $name ($status)" ||
    { fail "verify, $name: status $status"; cat "$work/out"; }
done
"$codesign" --verify --deep --strict "$base/" >/dev/null 2>&1 || fail "verify with a trailing slash"
cp -a "$base" "$work/diff.app" && (cd "$work/diff.app/Contents" && echo y >MacOS/corvidale && touch x && rm Info.plist)
[ "$("$codesign" --verify --deep --strict "$work/diff.app" 2>&1 | grep -cxE 'corvidale-codesign: (changed: Contents/MacOS/corvidale|added: Contents/x|removed: Contents/Info.plist)')" = 3 ] ||
  fail "verify does not name what was changed, added and removed"
cp -a "$base" "$work/writable.app" && chmod g+w "$work/writable.app/Contents/MacOS" &&
  "$codesign" sign --key "$work/a.pem" "$work/writable.app" >/dev/null 2>&1 && fail "sign sealed a folder others may write"
ln -s "$base" "$work/link.app"
"$codesign" --verify --deep --strict "$work/link.app" >/dev/null 2>&1 && fail "verify followed a symlinked bundle"

# Details: the signer's key id, and no way for the bundle to print it itself.
injected="$work/TeamIdentifier=$id_a.app"
cp -a "$base" "$injected" && "$codesign" sign --key "$work/b.pem" "$injected" >/dev/null
cp -a "$base" "$work/two.app" && "$codesign" sign --key "$work/b.pem" --key "$work/a.pem" "$work/two.app" >/dev/null
"$codesign" sign --key "$work/a.pem" --key "$work/a.pem" "$work/two.app" >/dev/null 2>&1 && fail "signed twice with one key"
for row in "$base|$id_a|-dv" "$injected|$id_b|--display" "$work/two.app|$id_b,$id_a|-dv"; do
  IFS='|' read -r bundle expected flag <<<"$row"
  details="$("$codesign" "$flag" --verbose=2 "$bundle" 2>&1)"
  # The updater searches the whole output for its pinned line.
  [ "$(grep -o 'TeamIdentifier=[^/ ]*' <<<"$details")" = "TeamIdentifier=$expected" ] && pass "details of ${bundle##*/}" ||
    fail "details of ${bundle##*/}: $details"
done
cp -a "$base" "$work/unsigned.app" && chmod -R u+w "$work/unsigned.app" && rm -r "$work/unsigned.app/Contents/_CodeSignature"
! "$codesign" -dv "$work/unsigned.app" >"$work/out" 2>"$work/err" && [ "$(cat "$work/out")" = "TeamIdentifier=not set" ] &&
  grep -q 'not signed' "$work/err" || fail "details of an unsigned bundle: $(cat "$work/out" "$work/err")"

# Runs `corvidale-image attach <image> <folder>` and prints its status and the names it created in the folder.
attach_watched() {
  /usr/bin/python3 - "$image" attach "$@" <<'EOF'
import ctypes, os, struct, subprocess, sys
libc = ctypes.CDLL(None, use_errno=True)
watch = libc.inotify_init1(os.O_NONBLOCK)
assert libc.inotify_add_watch(watch, sys.argv[-1].encode(), 0x100) >= 0  # IN_CREATE
status, names, events = subprocess.call(sys.argv[1:], stderr=subprocess.DEVNULL), [], b""
try:
    events = os.read(watch, 1 << 16)
except BlockingIOError:
    pass
while events:
    length = struct.unpack_from("iIII", events)[3]
    names.append(events[16:16 + length].rstrip(b"\0").decode())
    events = events[16 + length:]
print(status, *names)
EOF
}

# The release tool's `info` reads Info.plist as a small regular file, nested shallowly, or not at all:
# name | status | what Contents/Info.plist becomes.
release="$build/tools/corvidale-release"
nested_plist() {  # CFBundleVersion 7, beside $1 arrays nested in each other
  printf '<plist version="1.0"><dict><key>CFBundleVersion</key><string>7</string><key>a</key>'
  printf '<array>%.0s' $(seq "$1") && printf '</array>%.0s' $(seq "$1") && printf '</dict></plist>\n'
}
plist_cases=(
  "8 arrays deep|0|nested_plist 8 >Contents/Info.plist"
  "600 arrays deep, within 1 MiB|1|nested_plist 600 >Contents/Info.plist"
  "a FIFO|1|rm Contents/Info.plist && mkfifo Contents/Info.plist"
)
for row in "${plist_cases[@]}"; do
  IFS='|' read -r name expected make <<<"$row"
  rm -rf "$work/case.app" && cp -a "$base" "$work/case.app"
  (cd "$work/case.app" && eval "$make") || { fail "info, $name: cannot make it"; continue; }
  printed="$(timeout 10 "$release" info "$work/case.app" CFBundleVersion 2>/dev/null)"
  status=$?
  [ "$status" = "$expected" ] && [ "$printed" = "$([ "$expected" = 0 ] && echo 7)" ] && pass "info, $name ($status)" ||
    fail "info, $name: status $status, printed $printed"
done

# Hostile images: name | refused from the listing, before anything is extracted (1) | tree to build | name to
# patch | its replacement | pseudo file definition, or "tar" for an image made from a sparse tar stream.
# '@' never occurs in mktemp's names, so the patched bytes are unique in the image.
outside="$work/outside"
mkdir "$outside"
image_cases=(
  "dot-dot directory|0|mkdir @@ && echo x >@@/ESCAPED|@@|..|"
  "name with a slash|0|echo x >@@@ESCAPED|@@@ESCAPED|../ESCAPED|"
  "absolute name|0|echo x >${outside//\//@}@ESCAPED|${outside//\//@}@ESCAPED|$outside/ESCAPED|"
  "symlink, then directory|0|ln -s $outside L@ && mkdir L# && echo x >L#/ESCAPED|L#|L@|"
  "symlink, then file|0|ln -s $outside/ESCAPED L@ && echo x >L#|L#|L@|"
  "set-user-ID file|1|echo x >f|||f m 4755 0 0"
  "device|1|echo x >f|||dev c 666 0 0 1 3"
  "fifo|1|echo x >f && mkfifo p|||"
  "17 GiB once extracted|1|truncate -s 17G big|||tar"
)
for row in "${image_cases[@]}"; do
  IFS='|' read -r name early tree old new extra <<<"$row"
  src="$work/src" mount="$work/mount" img="$work/hostile.sqfs"
  rm -rf "$src" "$mount" "$img" && mkdir -p "$src" "$mount"
  (cd "$src" && eval "$tree") || { fail "$name: cannot build the tree"; continue; }
  pseudo=() && [ -z "$extra" ] || pseudo=(-p "$extra")
  if [ "$extra" = tar ]; then  # holes cost nothing here; mksquashfs would read them all
    tar --sparse -C "$src" -cf - . | sqfstar -quiet -no-progress "$img" >/dev/null 2>&1
  else
    mksquashfs "$src" "$img" -noappend -quiet -no-progress -noI -noD -noF -noX -no-fragments "${pseudo[@]}" >/dev/null 2>&1
  fi || { fail "$name: cannot make the image"; continue; }
  [ -z "$old" ] || /usr/bin/python3 -c '
import sys
path, old, new = sys.argv[1], sys.argv[2].encode(), sys.argv[3].encode()
data = open(path, "rb").read()
assert len(old) == len(new) and data.count(old) == 1, "patch"
open(path, "wb").write(data.replace(old, new))' "$img" "$old" "$new" || { fail "$name: patch"; continue; }
  made="$(attach_watched "$img" "$mount")"
  status="${made%% *}"
  [ "$status" != 0 ] && [ -z "$(find "$outside" "$mount" -mindepth 1)" ] &&
    { [ "$early" = 0 ] || [ "$made" = "$status .corvidale-mount" ]; } && pass "attach refused: $name" ||
    fail "attach, $name: status and created: $made, left: $(find "$outside" "$mount" -mindepth 1)"
done

# Entries of another user, extracted as root, are the runner's.
rm -rf "$src" "$mount" && mkdir -p "$src/A.app/Contents" "$mount" && echo x >"$src/A.app/Contents/f"
mksquashfs "$src" "$img" -noappend -quiet -no-progress -force-uid 4321 -force-gid 4321 >/dev/null 2>&1
unsquashfs -lln "$img" | grep -q ' 4321/4321 ' && "$image" attach "$img" "$mount" &&
  [ "$(find "$mount" -mindepth 1 -user "$(id -u)" -group "$(id -g)" | wc -l)" = 4 ] &&
  [ -z "$(find "$mount" -mindepth 1 \( ! -user "$(id -u)" -o ! -group "$(id -g)" \))" ] &&
  pass "attach gives the runner every entry" ||
  fail "attach kept another user's entries: $(find "$mount" -mindepth 1 -printf '%u:%g %p\n')"
"$image" detach "$mount" || fail "detach after attach"
# No other command, no folder as the image, no mount folder of another user's.
mkdir "$mount" && ! "$image" detach "$img" "$mount" 2>/dev/null && [ -z "$(ls -A "$mount")" ] &&
  [[ "$("$image" attach "$work" "$mount" 2>&1)" == *"not an image file"* ]] && chown 4321 "$mount" &&
  [[ "$("$image" attach "$img" "$mount" 2>&1)" == *"belongs to another user"* ]] || fail "attach took a folder, another user's or another command"
rm -rf "$mount"

# One publication, into a folder whose name reads like an option: the image holds just the signed bundle, the
# feed describes it, and attach (keeping modes, a read-only folder's too), verify and detach go through.
chmod 555 "$base/Contents/Resources"
mount="$work/mount" site="$work/-out"
rm -rf "$mount" && mkdir "$mount"
(cd "$work" && CORVIDALE_BUILD_DIR="$build" "$scripts/publish.sh" "$base" a.pem -out >/dev/null) || fail "publish.sh"
feed_file="$(/usr/bin/python3 -c '
import hashlib, json, os, sys
feed = json.load(open(sys.argv[1]))
image = os.path.join(os.path.dirname(sys.argv[1]), feed["file"])
assert (feed["version"], feed["build"], feed["bundleId"]) == ("2.0", 7, "com.corvidale.desktop"), feed
assert feed["sha256"] == hashlib.sha256(open(image, "rb").read()).hexdigest(), "sha256"
print(image)' "$site/linux.json")" || fail "feed: $(cat "$site/linux.json")"
"$image" attach "$feed_file" "$mount" && [ "$(ls "$mount")" = Corvidale.app ] &&
  "$codesign" --verify --deep --strict "$mount/Corvidale.app" >/dev/null &&
  [ "$(stat -c %a "$mount/Corvidale.app/Contents/Resources")" = 555 ] &&
  "$image" detach "$mount" && [ ! -e "$mount" ] && pass "publish, attach, verify, detach" ||
  fail "publish, attach, verify, detach"
"$image" detach "$work" 2>/dev/null && fail "detach removed a folder that attach did not make"

# Publishing again into the live folder: name | refused with (=: nothing new published) | options | key |
# change to the bundle. At every read the feed names an image whose digest it gives; a live image never
# changes; what is refused leaves the folder as it was.
printf 'Faster.\n\0' >"$work/notes.txt" && printf '\377' >"$work/bad-notes.txt"
publish_cases=(
  "the same bundle again|=||a|true"
  "the same build, other bytes|already published with other bytes||a|chmod u+w Contents && echo x >Contents/x"
  "the same build, other bytes, --republish||--republish|a|chmod u+w Contents && echo x >Contents/x"
  "signed with a key it does not pin|but pins key $id_a||b|true"
  "signed with the key the clients pin, pinning a new one||--new-key --republish|b|true"
  "a rollout of 48 hours, with notes||--republish --rollout-hours 48 --rollout-start 2027-01-15T08:00:00Z --notes $work/notes.txt|a|chmod u+w Contents && echo y >Contents/y"
  "notes not UTF-8|are not UTF-8|--notes $work/bad-notes.txt|a|true"
  "a rollout of 721 hours|from 1 to 720|--rollout-hours 721|a|true"
  "a feed that expires at once|takes 1 to 3650|--expires-days 0|a|true"
  "a rollout from an unreadable time|UTC time such as|--rollout-hours 5 --rollout-start 2027-02-30T08:00:00Z|a|true"
  "pinning no key|pins no signing key||a|sed -i 's|$id_a||' Contents/Info.plist"
  "a version of two lines|must not hold control characters||a|sed -i 's|>2.0<|>2.0\\nUPDATE SELFTEST: x<|' Contents/Info.plist"
  "a live feed it cannot read|File too large||a|cp $site/linux.json $work/live.json && head -c 2M /dev/zero >>$site/linux.json"
)
watch_feed() {
  while [ ! -e "$work/published" ]; do
    feed="$(cat "$site/linux.json")"
    file="$(sed -n 's/.*"file": "\(.*\)".*/\1/p' <<<"$feed")" sum="$(sed -n 's/.*"sha256": "\(.*\)".*/\1/p' <<<"$feed")"
    [ "$(sha256sum <"$site/$file" 2>/dev/null | cut -c1-64)" = "$sum" ] || echo "$file"
  done
}
for row in "${publish_cases[@]}"; do
  IFS='|' read -r name refusal options key change <<<"$row"
  chmod -R u+w "$work/pub.app" 2>/dev/null; rm -rf "$work/pub.app" && cp -a "$base" "$work/pub.app"
  (cd "$work/pub.app" && eval "$change") || { fail "publish, $name: cannot change the bundle"; continue; }
  before="$(cd "$site" && sha256sum -- * | sort)"
  watch_feed >"$work/mismatches" & watcher=$!
  said="$(cd "$work" && CORVIDALE_BUILD_DIR="$build" "$scripts/publish.sh" $options pub.app "$key.pem" -out 2>&1 >/dev/null)"
  status=$?
  touch "$work/published" && wait "$watcher" && rm "$work/published"
  after="$(cd "$site" && sha256sum -- * | sort)"
  kept="$(comm -23 <(grep sqfs <<<"$before") <(echo "$after"))"
  if [ -s "$work/mismatches" ] || [ -n "$kept" ]; then
    fail "publish, $name: the feed and its image disagreed at $(wc -l <"$work/mismatches") reads; changed: $kept"
  elif [ "$refusal" = = ] || [ -n "$refusal" ]; then
    # The same bundle again makes no new image; only the feed's time limit is renewed.
    [ "$refusal" != = ] || { before="$(grep sqfs <<<"$before")" && after="$(grep sqfs <<<"$after")"; }
    [ "$before" = "$after" ] && [[ $status = 0 && $refusal = = || $status = 1 && $said == *"$refusal"* ]] &&
      pass "publish, $name" || fail "publish, $name: status $status, said: $said"
  else
    [ "$status" = 0 ] && [ "$(comm -13 <(echo "$before") <(echo "$after") | wc -l)" = 3 ] &&
      pass "publish, $name" || fail "publish, $name: status $status, said: $said"
  fi
done
mv "$work/live.json" "$site/linux.json"
grep -qz '"rollout": {[[:space:]]*"start": "2027-01-15T08:00:00Z",[[:space:]]*"hours": 48' "$site/linux.json" &&
  grep -q '"notes": "Faster.\\n\\u0000"' "$site/linux.json" || fail "no rollout or notes in the feed: $(cat "$site/linux.json")"
# The client's rules; a feed that cannot be written (a version not UTF-8) leaves the published one as it was.
for value in CFBundleShortVersionString=$'2.0\e[2J' CFBundleShortVersionString=$'2.0\xc2\x9f' CFBundleVersion=7.0; do
  "$build/tools/corvidale-release" set-info "$work/pub.app" "$value" 2>/dev/null && fail "set-info took $value"
done
[[ "$("$build/tools/corvidale-release" feed --republsh a b c 2>&1)" == *"unknown option --republsh"* ]] ||
  fail "feed took a misspelt option"
[[ "$("$codesign" --verify --verbos "$base" 2>&1)" == *"unknown option --verbos"* ]] || fail "codesign took a misspelt option"
cp "$site/linux.json" "$work/feed.before" && cp -a "$base" "$work/bad.app" && chmod -R u+w "$work/bad.app" &&
  "$build/tools/corvidale-release" set-info "$work/bad.app" CFBundleShortVersionString=$'2.0\xff' || fail "bad version"
"$build/tools/corvidale-release" feed "$work/bad.app" "$feed_file" "$site/linux.json" 2>/dev/null &&
  fail "feed written with a version that is not UTF-8"
cmp -s "$work/feed.before" "$site/linux.json" && [ ! -e "$site/linux.json.new" ] ||
  fail "a failed feed changed the published one"

# Deltas: from the last N builds below the published one, never from a newer build or a file that holds no
# bundle, each named after its digest; a refused publication (key b: not the one the bundle pins) leaves none.
site="$work/deltas" && mkdir "$site" && echo junk >"$site/junk.sqfs"
for b in 3 5 9; do
  rm -rf "$work/d.app" && cp -a "$base" "$work/d.app" && "$release" set-info "$work/d.app" CFBundleVersion=$b &&
    CORVIDALE_BUILD_DIR="$build" "$scripts/publish.sh" "$work/d.app" "$work/a.pem" "$site" >/dev/null 2>&1 || fail "build $b"
done
for row in "b|1|$(ls "$site" | tr "\n" " ")" "a|1|5" "a||5 3" "a|0|"; do
  IFS='|' read -r key n expected <<<"$row"
  said="$(CORVIDALE_BUILD_DIR="$build" "$scripts/publish.sh" ${n:+--deltas $n} "$base" "$work/$key.pem" "$site" 2>&1)"
  got="$(sed -n 's/.*"file": "\(Corvidale-2.0-7-from-\([0-9]*\)-\(.\{16\}\).delta\)".*/\2 \3 \1/p' "$site/linux.json" |
    while read -r from digest file; do [ "$(sha256sum <"$site/$file" | cut -c1-16)" = "$digest" ] && echo "$from"; done)"
  [ "$key" = b ] && got="$(ls "$site")"
  [ "$(echo $got)" = "$(echo $expected)" ] && [[ $n = 0 || $said == *"no delta from $site/junk.sqfs"* ]] &&
    pass "deltas: $key, ${n:-3}" || fail "deltas: $key, ${n:-3}: $got; said $said"
done
img="$(ls "$site"/*-7-*.sqfs)"
for row in "--from $img --to $img" "--from $img --to $img -o $work/d --to" "--form $img --to $img -o $work/d"; do
  "$release" delta $row >/dev/null 2>&1
  [ "$?" = 2 ] && [ ! -e "$work/d" ] || fail "delta $row: not a usage error"
done

# A user who is not root rebuilds an app with read-only folders: a file changed, one removed, a read-only folder
# added with a file in it; the result is the new app, modes and all.
ro="$work/ro" && mkdir -p "$ro"/{1,2}/A.app/R "$ro/2/A.app/N" "$ro/m" && chmod 711 "$work" && chmod 755 "$ro"
echo 1 >"$ro/1/A.app/R/f" && echo 2 >"$ro/2/A.app/R/f" && echo x >"$ro/1/A.app/R/gone" && echo n >"$ro/2/A.app/N/n"
chmod 555 "$ro"/{1,2}/A.app/R "$ro/2/A.app/N" && cp -a "$ro/1/A.app" "$ro/app.app" && chown -R 65534 "$ro/app.app" "$ro/m"
for v in 1 2; do mksquashfs "$ro/$v" "$ro/$v.sqfs" -all-root -noappend -quiet -no-progress >/dev/null; done
listing() { (cd "$1" && find . -printf '%m %p\n' | sort && cat R/f N/n); }
"$release" delta --from "$ro/1.sqfs" --to "$ro/2.sqfs" -o "$ro/d" >/dev/null &&
  setpriv --reuid=65534 --regid=65534 --clear-groups "$image" rebuild "$ro/d" "$ro/app.app" "$ro/m" &&
  [ "$(listing "$ro/m/app.app")" = "$(listing "$ro/2/A.app")" ] && pass "rebuild into read-only folders" ||
  fail "rebuild into read-only folders: $(listing "$ro/m/app.app")"

echo "$failures failure(s)"
[ "$failures" = 0 ]
