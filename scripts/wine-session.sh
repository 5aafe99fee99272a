# Sourced by scripts/e2e-group and bench/wine-session: starts a Wine session
# of its own for the build BUILD in the prefix BUILD/wineprefix_NAME, with
# its persistent wineserver and services, an X display (DISPLAY) and Wine's
# desktop, and ends all of it when the sourcing script exits.
# Usage: start_wine_session ROOT BUILD NAME

start_wine_session() {
  local root=$1 build=$2 name=$3
  export WINEPREFIX="$build/wineprefix_$name"
  export WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree,mshtml=,winemenubuilder.exe=d"
  export WINELOADER=/usr/lib/wine/wine64
  # A session cut short (killed, timed out) may have left its persistent
  # wineserver and programs behind; they would still hold the named
  # objects of folders this session uses again.
  /usr/bin/wineserver -k 2>/dev/null || true
  /usr/bin/wineserver -w 2>/dev/null || true
  "$root/scripts/wine-prefix" "$build" "$WINEPREFIX"
  wine_session_started=()
  trap end_wine_session EXIT
  local display xvfb
  read -r display xvfb < <("$root/scripts/xvfb")
  wine_session_started+=("$xvfb")
  export DISPLAY=$display
  /usr/bin/wineserver -f -p >/dev/null 2>&1 &
  wine_session_started+=($!)
  # The prefix's services, detached, as scripts/test starts them.
  (
    . "$root/scripts/wine-quick-exit.sh"
    use_wine_quick_exit "$build"
    setarch -R "$WINELOADER" cmd /c exit 0 >/dev/null 2>&1 </dev/null
  )
  "$root/scripts/wine-desktop" "$build"
}

end_wine_session() {
  /usr/bin/wineserver -k 2>/dev/null || true
  local pid
  for pid in "${wine_session_started[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
}
