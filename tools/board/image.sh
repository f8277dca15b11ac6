# Sourced by tools/board/run: the emulated board's machine and how its device
# tree and initramfs are made.

# The board: qemu's generic ARM machine, a Cortex-A15, 256 MiB, no network.
# The device tree must be dumped from exactly this machine.
MACHINE=(-M virt -cpu cortex-a15 -m 256 -nographic -nic none)
# Without a modern virtio-mmio transport the GPU driver never attaches.
DISPLAY_ARGS=(-device virtio-gpu-device,xres=800,yres=480 -global virtio-mmio.force-legacy=false)
# Loaded at start-up, with what modules.dep says they need.
MODULES=(leds-gpio ledtrig-timer virtio_mmio virtio-gpu)
CROSS_LIB=/usr/arm-linux-gnueabihf/lib

# make_dtb OUT.dtb: qemu's own tree plus the device's three LEDs on the
# PL061 GPIO pins 0-2 (pin 3 is qemu's power button).
make_dtb() {
    local out=$1 dts=${1%.dtb}.dts gpio
    local said
    said=$(qemu-system-arm "${MACHINE[@]}" "${DISPLAY_ARGS[@]}" -machine dumpdtb="${out%.dtb}-qemu.dtb" 2>&1) ||
        { echo "$said" >&2; return 1; }
    dtc -q -I dtb -O dts "${out%.dtb}-qemu.dtb" > "$dts"
    gpio=$(sed -n 's/^\t\(pl061@[0-9a-f]*\) {$/\1/p' "$dts")
    [ -n "$gpio" ] || { echo "board: qemu's device tree has no PL061 GPIO" >&2; return 1; }
    cat >> "$dts" <<EOF

/ {
	leds {
		compatible = "gpio-leds";
		backlight { label = "backlight"; gpios = <&{/$gpio} 0 0>; };
		beeper { label = "beeper"; gpios = <&{/$gpio} 1 0>; };
		lightpipe { label = "lightpipe"; gpios = <&{/$gpio} 2 0>; };
	};
};
EOF
    dtc -q -I dts -O dtb -o "$out" "$dts"
}

# module_closure MODULES_DIR NAME...: the modules' paths in load order, each
# after what it needs (NAME.ko, or compressed: NAME.ko.xz in Debian 13). A
# module the kernel has built in needs no loading.
module_closure() {
    local dir=$1; shift
    awk -v wanted="$*" '
        BEGIN { n = split(wanted, w, " ") }
        FILENAME ~ /modules\.builtin$/ { path = $1; sub(".*/", "", path); sub("\\.ko$", "", path)
                                          gsub("_", "-", path); builtin[path] = 1; next }
        { sub(":", "", $1); deps[$1] = $0; path = $1; sub(".*/", "", path); sub("\\.ko(\\.[a-z]+)?$", "", path)
          gsub("_", "-", path); by_name[path] = $1 }
        function load(p,   f, i, k) {
            if (p in done) return
            k = split(deps[p], f, " ")
            for (i = k; i >= 2; i--) load(f[i])
            done[p] = 1; print p
        }
        END { for (i = 1; i <= n; i++) { name = w[i]; gsub("_", "-", name)
                  if (name in builtin) continue
                  if (!(name in by_name)) { print "board: missing module " w[i] " in " FILENAME > "/dev/stderr"; exit 1 }
                  load(by_name[name]) } }' "$dir/modules.builtin" "$dir/modules.dep"
}

# make_initramfs CACHE KERNEL_DIR APP OUT.cpio: busybox as init, shell and
# the system's tools, app installed set-user-ID root, the C library, the
# kernel's modules, and the stand-ins from tools/board/guest.
make_initramfs() {
    local cache=$1 kernel=$2 app=$3 out=$4 scratch root version modules module
    # The tree holds a set-user-ID app: where binfmt_misc runs ARM programs
    # with their owner's rights, any user reaching it could run it as root.
    scratch=$(mktemp -d)
    root=$scratch/root
    mkdir -m 0755 "$root"
    mkdir -p "$root"/{bin,sbin,lib,proc,sys,dev,tmp,data,root,usr/bin,usr/sbin,app/bin}
    cp -R "$(dirname "${BASH_SOURCE[0]}")/guest/." "$root/"
    cp -L "$cache/busybox/bin/busybox" "$root/bin/busybox"
    ln -s busybox "$root/bin/sh"
    ln -s bin/busybox "$root/init"
    for tool in reboot poweroff hwclock; do ln -s /bin/busybox "$root/usr/sbin/$tool"; done
    cp -L "$CROSS_LIB/ld-linux-armhf.so.3" "$CROSS_LIB/libc.so.6" "$root/lib/"

    version=$(ls "$kernel/lib/modules")
    modules=$(module_closure "$kernel/lib/modules/$version" "${MODULES[@]}")
    # Unpacked here, so that the board's insmod need not read compressed modules.
    for module in $modules; do
        mkdir -p "$root/lib/modules/$version/$(dirname "$module")"
        case $module in
            *.ko) cp "$kernel/lib/modules/$version/$module" "$root/lib/modules/$version/$module" ;;
            *.ko.xz) xz -dc "$kernel/lib/modules/$version/$module" > "$root/lib/modules/$version/${module%.xz}" ;;
            *) echo "board: $module: a compression this board cannot unpack" >&2; return 1 ;;
        esac
    done
    sed 's/\.ko\..*$/.ko/' <<< "$modules" > "$root/etc/modules.load"

    # Whatever the umask: every user may read and run what is here.
    chmod -R u=rwX,go=rX "$root"
    chmod 1777 "$root/tmp"
    install -m 4755 "$app" "$root/app/bin/app"
    # Callers run it as "app"; started as /app/bin/app it is the supervisor.
    ln -s /app/bin/app "$root/usr/bin/app"

    (cd "$root" && find . | cpio -o -H newc -R 0:0 --quiet) > "$out"
    rm -rf "$scratch"
}
