# Sourced by the scripts that start Wine programs themselves (wine-run does
# the same): preloads the build's wine_quick_exit.so into them, so that a
# program that ended is never reported killed by wineserver's SIGKILL
# (cmake/wine_quick_exit.c). Nothing before the build has made it.
# Usage: use_wine_quick_exit BUILD
use_wine_quick_exit() {
  local library="$1/wine_quick_exit.so"
  [ -f "$library" ] || return 0
  case ":${LD_PRELOAD:-}:" in
    *":$library:"*) ;;
    *) export LD_PRELOAD="$library${LD_PRELOAD:+:$LD_PRELOAD}" ;;
  esac
}
