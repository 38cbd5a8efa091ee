# Sourced by the scripts that drive the real window under a virtual X server.
# begin_session PREFIX: a scratch folder in WORK, removed at exit together with
#   the program (APP_PID) and the X server (XVFB_PID) when they still run.
# start_xvfb FIRST LAST [Xvfb options...]: starts Xvfb on the first free display
#   numbered FIRST..LAST and exports DISPLAY; fails when none starts.

begin_session() {
    WORK=$(mktemp -d "/tmp/$1-XXXXXX")
    XVFB_PID=""
    APP_PID=""
    trap end_session EXIT
}

# (Each step may fail without stopping the others: under set -e a killed
# program's exit status from wait would otherwise end the handler early and
# leave the X server running.)
end_session() {
    if [ -n "$APP_PID" ]; then
        kill "$APP_PID" 2>/dev/null || true
        wait "$APP_PID" 2>/dev/null || true
    fi
    if [ -n "$XVFB_PID" ]; then
        kill "$XVFB_PID" 2>/dev/null || true
        wait "$XVFB_PID" 2>/dev/null || true
    fi
    rm -rf "$WORK"
}

start_xvfb() {
    local first=$1 last=$2 n
    shift 2
    for n in $(seq "$first" "$last"); do
        [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] && continue
        Xvfb ":$n" -screen 0 1280x1024x24 "$@" -nolisten tcp >/dev/null 2>&1 &
        XVFB_PID=$!
        for _ in $(seq 50); do
            [ -e "/tmp/.X11-unix/X$n" ] && break
            kill -0 "$XVFB_PID" 2>/dev/null || break
            sleep 0.1
        done
        if [ -e "/tmp/.X11-unix/X$n" ] && kill -0 "$XVFB_PID" 2>/dev/null; then
            export DISPLAY=":$n"
            return 0
        fi
        XVFB_PID=""
    done
    return 1
}
