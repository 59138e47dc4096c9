# Sourced by the end-to-end scripts.
# Waits up to ten seconds for a command to succeed.
await() {
    tries=0
    until "$@" >/dev/null 2>&1; do
        tries=$((tries + 1))
        [ "$tries" -le 100 ] || return 1
        sleep 0.1
    done
}
