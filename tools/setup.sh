# Sourced by tools/run-tests, tools/demo, the test stages and
# tests/harness/fetch-rsyslog: the Debian packages a fresh
# Debian 12 or 13 machine needs, installed only when missing.

BASE_PACKAGES=(cmake ninja-build g++ gcc libgtest-dev libgmock-dev util-linux)
# Who speaks in set-up messages.
WHO=${0##*/}
# What apt and dpkg say while installing: hundreds of lines nobody reads
# unless something went wrong.
PACKAGES_LOG=build/packages.log

release_name() {
    local PRETTY_NAME=
    . /etc/os-release 2>/dev/null || true
    echo "${PRETTY_NAME:-a system without /etc/os-release}"
}

# missing_packages NAME...: prints those not installed, each once.
missing_packages() {
    local p
    local -A named=()
    for p in "$@"; do
        [ -z "${named[$p]:-}" ] || continue  # several stages name the same package
        named[$p]=1
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || echo "$p"
    done
}

# apt_update [OPTION...]: apt-get OPTION... update, tried again after a pause
# while a mirror is between two states of the archive ("Mirror sync in
# progress", "File has unexpected size"), which mostly passes within minutes.
# When it does not, apt keeps the lists it had for those files: the install
# goes on with them and fails only if they cannot serve it. Any other failure
# fails at once. (The README states both numbers; the docs stage compares.)
APT_UPDATE_RETRIES=3
APT_UPDATE_PAUSE_SECONDS=15
apt_update() {
    local try said
    for ((try = 0; ; try++)); do
        said=$(apt-get "$@" update -qq 2>&1) && { [ -z "$said" ] || echo "$said" >&2; return 0; }
        echo "$said" >&2
        grep -qE 'Mirror sync in progress|File has unexpected size|Hash Sum mismatch' <<< "$said" || return 1
        if [ "$try" = "$APT_UPDATE_RETRIES" ]; then
            echo "$WHO: a mirror is still being updated: going on with the package lists apt has" >&2
            return 0
        fi
        echo "$WHO: a mirror is being updated (above): apt-get update again in $APT_UPDATE_PAUSE_SECONDS s," \
             "retry $((try + 1)) of $APT_UPDATE_RETRIES" >&2
        sleep "$APT_UPDATE_PAUSE_SECONDS"
    done
}

# refresh_package_lists NAME...: reads the archive's lists, to install NAME...
refresh_package_lists() {
    if [ "$(id -u)" != 0 ]; then
        echo "$WHO: run as root to install the packages it needs:" "$@" >&2
        return 1
    fi
    export DEBIAN_FRONTEND=noninteractive
    apt_update ||
        { echo "$WHO: apt-get update failed (above), so no package can be installed" >&2; return 1; }
}

# unavailable_packages NAME...: prints those the archive offers no version of.
unavailable_packages() {
    apt-cache policy "$@" 2>/dev/null | awk -v names="$*" '
        BEGIN { n = split(names, wanted, " ") }
        /^[^ ]/ { name = $0; sub(":$", "", name) }
        /^  Candidate:/ && $2 != "(none)" { offered[name] = 1 }
        END { for (i = 1; i <= n; i++) if (!(wanted[i] in offered)) print wanted[i] }'
}

# install_available NAME...: installs them and what they need, saying how
# much that is; apt's and dpkg's messages go to PACKAGES_LOG.
install_available() {
    [ $# -gt 0 ] || return 0
    local plan names sizes count
    plan=$(LC_ALL=C apt-get install -s --no-install-recommends "$@" 2>&1) ||
        { echo "$plan" >&2; echo "$WHO: apt cannot install" "$@" "(above)" >&2; return 1; }
    names=$(sed -n 's/^Inst \([^ ]*\) .*/\1/p' <<< "$plan")
    # Size: bytes to download; Installed-Size: KiB on disk.
    # shellcheck disable=SC2086
    sizes=$(apt-cache show --no-all-versions $names 2>/dev/null | awk '
        /^Size:/ { download += $2 } /^Installed-Size:/ { disk += $2 * 1024 }
        END { printf "%d MB to download, %d MB on disk", download / 1e6 + 0.5, disk / 1e6 + 0.5 }')
    mkdir -p "$(dirname "$PACKAGES_LOG")"
    count=$(wc -w <<< "$names")
    echo "$WHO: installing $count package$([ "$count" = 1 ] || echo s) ($sizes) for:" "$@"
    echo "$WHO: apt's and dpkg's messages go to $PACKAGES_LOG"
    if ! apt-get install -y -q --no-install-recommends "$@" >> "$PACKAGES_LOG" 2>&1; then
        tail -n 20 "$PACKAGES_LOG" >&2
        echo "$WHO: installing the packages failed (the end of $PACKAGES_LOG above)" >&2
        return 1
    fi
}

# install_packages NAME...: all of them, or says which the release lacks.
install_packages() {
    local missing unavailable
    missing=$(missing_packages "$@")
    [ -n "$missing" ] || return 0
    # shellcheck disable=SC2086
    refresh_package_lists $missing || return 1
    # shellcheck disable=SC2086
    unavailable=$(unavailable_packages $missing)
    if [ -n "$unavailable" ]; then
        echo "$WHO: $(release_name) offers no package" $unavailable >&2
        return 1
    fi
    # shellcheck disable=SC2086
    install_available $missing
}

# Debian's rsyslog for the black-box rows that need a logger reading each
# sender's credentials: unpacked into build/rsyslog, never installed.
fetch_rsyslog() {
    if [ "$(id -u)" != 0 ]; then
        echo "$WHO: not root, so no rsyslog fetched (the black-box suite skips without root anyway)"
        return 0
    fi
    tests/harness/fetch-rsyslog build/rsyslog
}

build_native() {
    cmake --preset native >/dev/null
    cmake --build --preset native
}

# The device build, and how the black-box suite runs it on this machine.
ARMHF_EMULATOR="qemu-arm -L /usr/arm-linux-gnueabihf"

build_armhf() {
    cmake --preset armhf >/dev/null
    cmake --build --preset armhf
}

# Says why each case that the last ctest run in BUILD-DIR skipped could not hold.
print_skips() {  # BUILD-DIR
    local log=$1/Testing/Temporary/LastTest.log
    [ -f "$log" ] || return 0
    awk '/^\[ RUN +\]/ { name = $NF } /: Skipped$/ { getline reason; print "skipped " name ": " reason }' "$log"
}

# ctest with ARGUMENTS, then why each case skipped, whether it passed or not.
ctest_saying_skips() {  # BUILD-DIR ARGUMENTS...
    local dir=$1 status=0
    shift
    ctest "$@" || status=$?
    print_skips "$dir"
    return $status
}
