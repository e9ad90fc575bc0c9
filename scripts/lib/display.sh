# ensure_display: use $DISPLAY when it answers, else start (or reuse) a virtual one.
# A virtual display started here leaves its process id in ORV_XVFB_PID.
ensure_display() {
    if [ -n "${DISPLAY:-}" ] && xdpyinfo -display "$DISPLAY" >/dev/null 2>&1; then
        return 0
    fi
    local num=${ORV_XVFB_DISPLAY:-97}
    export DISPLAY=":$num"
    if xdpyinfo -display "$DISPLAY" >/dev/null 2>&1; then
        return 0
    fi
    Xvfb "$DISPLAY" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
    ORV_XVFB_PID=$!
    local i
    for i in $(seq 1 100); do
        xdpyinfo -display "$DISPLAY" >/dev/null 2>&1 && return 0
        sleep 0.1
    done
    echo "virtual display $DISPLAY did not start" >&2
    return 1
}
