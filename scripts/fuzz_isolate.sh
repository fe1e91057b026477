# Sourced by scripts/fuzz.sh and bench/fuzz.sh with $top set: fills the array
# `isolate`, the command prefix that gives a fuzz target a private /run, /tmp,
# /var/log, library log and System V IPC (run as root where unshare works; a
# tree under /tmp is bound back into the private /tmp). Elsewhere it stays
# empty and the targets that need the product's fixed paths do nothing.
isolate=()
if [ "$(id -u)" = 0 ] && unshare --mount --ipc true 2>/dev/null; then
  [ -e /usr/lib/libzvsdm.log ] || : > /usr/lib/libzvsdm.log
  isolate=(unshare --mount --ipc --propagation private sh -c '
    mount -t tmpfs -o mode=0755 zvfuzzrun /run || exit 125
    keep=""
    case "$ZV_FUZZ_TOP" in /tmp/*) keep="$ZV_FUZZ_TOP" ;; esac
    if [ -n "$keep" ]; then mkdir -p /run/zv-fuzz-tmp && mount --bind /tmp /run/zv-fuzz-tmp || exit 125; fi
    mount -t tmpfs -o mode=1777 zvfuzztmp /tmp &&
    mount -t tmpfs -o mode=0755 zvfuzzlog /var/log &&
    : > /tmp/.libzvsdm.log && mount --bind /tmp/.libzvsdm.log /usr/lib/libzvsdm.log || exit 125
    if [ -n "$keep" ]; then mkdir -p "$keep" && mount --bind "/run/zv-fuzz-tmp${keep#/tmp}" "$keep" || exit 125; fi
    export ZV_FUZZ_ISOLATED=1
    exec "$@"' sh)
else
  echo "no private namespaces here: the targets that use the product's fixed paths do nothing"
fi
export ZV_FUZZ_TOP="$top"
