# Runs a command as a named step and says how long it took:
#   timed "what it does" command [argument]...
timed() {
  local label="$1" start=$SECONDS
  shift
  echo "== $label"
  "$@"
  echo "== $label took $((SECONDS - start)) s"
}
