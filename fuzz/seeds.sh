#!/bin/sh
# Seeds a fuzz target's corpus with real files of this machine (read only) and
# the bundled traces.
target=$1
corpus=$2
traces=$3
n=0
seed() { n=$((n + 1)); cat "$@" >"$corpus/seed$n" 2>/dev/null; }
case $target in
  stat_fields_fuzz) for f in /proc/self/stat /proc/1/stat /proc/2/stat; do seed "$f"; done ;;
  process_texts_fuzz) for f in /proc/self/comm /proc/self/cmdline /proc/self/status /proc/1/status /proc/1/cmdline; do seed "$f"; done ;;
  numbers_fuzz) for t in "010" "0x10" " -5" "4294967297" "abc"; do n=$((n + 1)); printf '%s\377-5\3771\37750' "$t" >"$corpus/seed$n"; done ;;
  kernel_text_fuzz) for f in /proc/stat /proc/loadavg /proc/sys/vm/extfrag_threshold; do seed "$f"; done ;;
  foreground_fuzz)
    # The first byte picks the form: even the window listing, odd the displays.
    printf '0  Window #1 Window{5d2507e u0 com.example.app/.Main}:\n    mDisplayId=0\n  mCurrentFocus=Window{4c1e2f0 u0 com.example.app/.Main}\n' >"$corpus/seed1"
    printf '0  mCurrentFocus=Window{2b7c1e0 u0 StatusBar}\n' >"$corpus/seed2"
    printf '1  Display: mDisplayId=0 rootTasks=7\n    init=1080x2340\n  mCurrentFocus=null\n  Display: mDisplayId=1\n  mCurrentFocus=Window{5d2507e u0 org.codeaurora.snapcam/com.android.camera.CameraLauncher}\n' >"$corpus/seed3" ;;
  calm_log_fuzz)
    printf '12,401,90100000,-;[calm]: a\\x5cx0ab (4242): 62%% [-1 jiff], => 3>6 (0>0)\n[  95.1] [calm]: x (7): => 1>0 (0>0)\n' >"$corpus/seed1"
    printf '[calm]: s (5): parent (p (4)) throttled: 0 => 3.\n[calm]: ___Active,_ctxt:0,nr:6___\n' >"$corpus/seed2" ;;
  trace_reader_fuzz)
    # The first rows of each bundled trace, and the header alone.
    for f in "$traces"/*.txt; do n=$((n + 1)); head -n 60 "$f" >"$corpus/seed$n"; done
    n=$((n + 1)); head -n 1 "$traces/generated.txt" >"$corpus/seed$n" ;;
esac
