# Sourced by tools/run-tests and tools/demo: the Debian packages a fresh
# Debian 12 machine needs, installed only when missing.

BASE_PACKAGES=(cmake ninja-build g++ gcc libgtest-dev libgmock-dev util-linux)

install_packages() {
    local missing=() p
    local -A named=()
    for p in "$@"; do
        [ -z "${named[$p]:-}" ] || continue  # several stages name the same package
        named[$p]=1
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "installing: ${missing[*]}"
    if [ "$(id -u)" != 0 ]; then
        echo "run as root to install the packages above" >&2
        return 1
    fi
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${missing[@]}"
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
    awk '/^\[ RUN +\]/ { name = $NF } /: Skipped$/ { getline reason; print "skipped " name ": " reason }' \
        "$1/Testing/Temporary/LastTest.log"
}
