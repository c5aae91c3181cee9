#!/usr/bin/env bash
# Installs the built package into a clean, minimal Debian 12 root and uses it
# there as its users would, so that a dependency the package fails to declare
# shows up (the build machine's own packages would hide it):
#   - zelmod-cli from PATH converts a file exactly;
#   - the desktop entry's command starts the window under Xvfb, and a whole
#     job runs through it with xdotool, writing nothing into the program folder;
#   - the Open dialog speaks Japanese: its Cancel button is not "Cancel";
#   - two users run a job at the same moment, and both succeed;
#   - apt-get purge removes every file of the package and no file of the users.
#
#   packaging/installed-test.sh [BUILD_DIR]     (default: build; needs root)
#
# The bootstrapped base and the downloaded packages are kept in
# BUILD_DIR/installed-test between runs; the root itself is made anew.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$here/build}" && pwd)
deb=$(ls "$build"/package/zelmod_*.deb | tail -n 1)
keep=$build/installed-test
root=$keep/root
mirror=$(awk '$1 == "URIs:" { print $2; exit }' /etc/apt/sources.list.d/debian.sources)

fail() {
    echo "installed-test: $*" >&2
    exit 1
}

# ---- the root: a kept minimal base, unpacked anew, with proc and a few devices
make_base() {
    [ -f "$keep/base.tar" ] && return 0
    rm -rf "$keep/base"
    mkdir -p "$keep/debs"
    debootstrap --variant=minbase --cache-dir="$keep/debs" bookworm "$keep/base" "$mirror" \
        >"$keep/debootstrap.log" || fail "debootstrap failed, see $keep/debootstrap.log"
    tar -C "$keep/base" -cf "$keep/base.tar.part" . && mv "$keep/base.tar.part" "$keep/base.tar"
    rm -rf "$keep/base"
}

# Ends what this run started inside the root: the processes whose root it is.
stop_root_processes() {
    local proc
    for proc in /proc/[0-9]*; do
        [ "$(readlink "$proc/root" 2>/dev/null)" = "$root" ] && kill -9 "${proc#/proc/}" 2>/dev/null
    done
    return 0
}

unmount_root() {
    stop_root_processes
    for m in "$root/proc" "$root/dev/pts" "$root/dev"; do
        if mountpoint -q "$m"; then umount "$m" || umount -l "$m"; fi
    done
}

remove_root() {
    unmount_root
    if [ -d "$root/var/cache/apt/archives" ]; then
        mkdir -p "$keep/archives"
        cp -u "$root"/var/cache/apt/archives/*.deb "$keep/archives/" 2>/dev/null || true
    fi
    # Nothing may still be mounted inside when the tree goes.
    if findmnt -rn -o TARGET | grep -q "^$root/"; then fail "$root still has mounts"; fi
    rm -rf "$root"
}

make_root() {
    remove_root
    mkdir -p "$root"
    tar -C "$root" -xf "$keep/base.tar"
    mount -t proc proc "$root/proc"
    # Devices of its own, not the machine's /dev, so that removing the root
    # can never reach the machine's.
    mount -t tmpfs -o mode=755 dev "$root/dev"
    mknod -m 666 "$root/dev/null" c 1 3
    mknod -m 666 "$root/dev/zero" c 1 5
    mknod -m 666 "$root/dev/random" c 1 8
    mknod -m 666 "$root/dev/urandom" c 1 9
    mkdir -m 1777 "$root/dev/shm" "$root/tmp/.X11-unix"
    mkdir "$root/dev/pts"
    mount -t devpts -o newinstance,ptmxmode=0666 devpts "$root/dev/pts"
    ln -s pts/ptmx "$root/dev/ptmx"
    # Packages start no services here.
    printf '#!/bin/sh\nexit 101\n' >"$root/usr/sbin/policy-rc.d"
    chmod 755 "$root/usr/sbin/policy-rc.d"
    cp /etc/resolv.conf "$root/etc/resolv.conf"
    rm -f "$root/etc/apt/sources.list"
    cp /etc/apt/sources.list.d/debian.sources "$root/etc/apt/sources.list.d/"
    cp -r "$keep/archives" "$root/var/cache/apt/" 2>/dev/null || true
    printf 'APT::Install-Recommends "false";\nAcquire::Check-Valid-Until "false";\n' \
        >"$root/etc/apt/apt.conf.d/90installed-test"
}

in_root() {
    chroot "$root" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8 \
        DEBIAN_FRONTEND=noninteractive "$@"
}

# As an unprivileged user, in a login-like environment of that user's.
as_user() {
    local user=$1
    shift
    chroot --userspec="$user:$user" "$root" env -i HOME="/home/$user" USER="$user" \
        PATH=/usr/local/bin:/usr/bin:/bin LANG=C.UTF-8 XDG_RUNTIME_DIR="/tmp/run-$user" \
        DISPLAY="${DISPLAY_NUMBER:-}" DBUS_SESSION_BUS_ADDRESS="unix:path=/tmp/run-$user/bus" \
        QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 sh -c "cd || exit; $1"
}

# ---- a MIDI file with a note on channel 1 and one on channel 10
# (percussion), which no job changes
midi() {
    local n=$1
    printf 'MThd\0\0\0\006\0\0\0\001\001\340MTrk\0\0\0\021'
    printf "\\0\\220\\$n\\100\\0\\231\\044\\100\\203\\140\\200\\$n\\0\\0\\377\\057\\0"
}

check_cli() {
    midi 074 >"$root/home/alice/in.mid" # note 60
    midi 077 >"$root/home/alice/expected.mid" # transposed by 3: note 63
    midi 105 >"$root/home/alice/mirrored.mid" # the window's first job, pitch mirror: note 69
    in_root chown alice:alice /home/alice/in.mid /home/alice/expected.mid /home/alice/mirrored.mid
    as_user alice "zelmod-cli --job transpose --amount 3 -o cli.mid in.mid >/dev/null" ||
        fail "zelmod-cli from PATH failed"
    cmp "$root/home/alice/cli.mid" "$root/home/alice/expected.mid" ||
        fail "zelmod-cli wrote a different file"
}

check_two_users() {
    cp "$root/home/alice/in.mid" "$root/home/bob/in.mid"
    in_root chown bob:bob /home/bob/in.mid
    local job="zelmod-cli --batch-files --job transpose --amount 3 -o both.mid in.mid >/dev/null"
    as_user alice "$job" &
    local first=$!
    as_user bob "$job" || fail "bob's job beside alice's failed"
    wait "$first" || fail "alice's job beside bob's failed"
    for user in alice bob; do
        cmp "$root/home/$user/both.mid" "$root/home/alice/expected.mid" ||
            fail "$user's job beside the other's wrote a different file"
        [ "$(stat -c %a "$root/home/$user/.local/share/Zelmod")" = 700 ] ||
            fail "$user's working folder is open to others"
    done
}

# Waits for a window of the title and gives it the keyboard; there is no
# window manager to do it.
focus_window() {
    as_user alice "xdotool search --sync --onlyvisible --name '^$1\$' windowfocus --sync" ||
        fail "no window \"$1\""
}

check_window() {
    local before after exec_line
    before=$(find "$root/usr/lib/zelmod" -printf '%p %s %T@\n' | sort)
    exec_line=$(sed -n 's/^Exec=//p' "$root/usr/share/applications/org.zelmod.Zelmod.desktop")
    DISPLAY_NUMBER=:5
    as_user alice "Xvfb :5 -screen 0 1024x768x24 -nolisten tcp >xvfb.log 2>&1 & echo \$! >xvfb.pid"
    as_user alice "for i in \$(seq 100); do xdotool getmouselocation >/dev/null 2>&1 && exit 0; sleep 0.1; done; exit 1" ||
        fail "Xvfb did not start"
    as_user alice "mkdir -p -m 700 \$XDG_RUNTIME_DIR &&
        dbus-daemon --session --address=\$DBUS_SESSION_BUS_ADDRESS --fork --print-pid >dbus.pid &&
        { $exec_line >window.log 2>&1 & echo \$! >window.pid; }"
    focus_window Zelmod
    as_user alice "xdotool key space"
    focus_window '変換対象のファイルを開きます'
    check_cancel_text
    as_user alice "xdotool type --delay 20 /home/alice/in.mid && xdotool key Return"
    focus_window '変換ファイルの保存先を指定してください'
    as_user alice "xdotool type --delay 20 /home/alice/window.mid && xdotool key Return"
    focus_window '\(\?\)<変換完了！'
    as_user alice "xdotool key Return"
    for _ in $(seq 100); do [ -f "$root/home/alice/window.mid" ] && break; sleep 0.1; done
    cmp "$root/home/alice/window.mid" "$root/home/alice/mirrored.mid" ||
        fail "the window's job wrote a different file ($(cat "$root/home/alice/window.log"))"
    after=$(find "$root/usr/lib/zelmod" -printf '%p %s %T@\n' | sort)
    [ "$before" = "$after" ] || fail "the window wrote into its program folder"
    kill $(cat "$root"/home/alice/*.pid)
    rm "$root"/home/alice/*.pid "$root"/home/alice/*.log
}

# The Open dialog's buttons as the accessibility bus names them: the one
# that cancels must be Qt's Japanese "キャンセル", not "Cancel".
check_cancel_text() {
    cat >"$root/home/alice/buttons.py" <<'PYTHON'
import pyatspi

def nodes(node):
    yield node
    for i in range(node.childCount):
        child = node.getChildAtIndex(i)
        if child is not None:
            yield from nodes(child)

for app in pyatspi.Registry.getDesktop(0):
    if app is not None and app.name == "Zelmod":
        for node in nodes(app):
            if node.getRoleName() == "push button":
                print(node.name)
PYTHON
    local buttons=
    for _ in $(seq 50); do
        buttons=$(as_user alice "python3 buttons.py" 2>/dev/null) || true
        grep -qxE 'キャンセル|Cancel' <<<"$buttons" && break
        sleep 0.2
    done
    grep -qx 'キャンセル' <<<"$buttons" && ! grep -qx 'Cancel' <<<"$buttons" ||
        fail "the Open dialog's buttons are not Japanese: $(tr '\n' ' ' <<<"$buttons")"
    rm "$root/home/alice/buttons.py"
}

users_files() {
    (cd "$root/home" && find . -type f -exec md5sum {} + | sort)
}

check_purge() {
    local files users_before file
    files=$(in_root dpkg-query -L zelmod)
    users_before=$(users_files)
    in_root apt-get purge -y -qq zelmod >/dev/null
    for file in $files; do
        # Folders that other packages share stay; Zelmod's own must go.
        if [ -d "$root$file" ] && [[ $file != *zelmod* ]]; then continue; fi
        if [ -e "$root$file" ] || [ -L "$root$file" ]; then fail "purge left $file"; fi
    done
    [ "$(users_files)" = "$users_before" ] || fail "purge changed the users' files"
}

trap remove_root EXIT
start=$SECONDS
mkdir -p "$keep"
make_base
make_root
cp "$deb" "$root/tmp/"
in_root apt-get update -qq
in_root apt-get install -y -qq "/tmp/$(basename "$deb")" >/dev/null
in_root useradd -m alice
in_root useradd -m bob
check_cli
check_two_users
# What drives and reads the window comes after the package, so it hides no
# dependency of it.
in_root apt-get install -y -qq xvfb xauth xdotool dbus-daemon at-spi2-core python3-pyatspi \
    >/dev/null
check_window
check_purge
echo "installed-test: all checks passed in $((SECONDS - start)) s"
