#!/bin/sh
# The sample product's setup: shows what the launcher handed it, then ends with the status
# given after --exit (0 without one).
status=0
prev=
echo
echo "== Sample setup started =="
echo "Working folder: $(pwd)"
echo "Arguments ($#):"
for arg in "$@"; do
  printf '  [%s]\n' "$arg"
  case "$prev" in
    --exit) status=$arg ;;
    -m) values=$arg ;;
  esac
  prev=$arg
done
if [ -n "$values" ]; then
  echo "SetupValues.dat ($values):"
  if [ -f "$values" ]; then
    tr -d '\r' < "$values" | sed 's/^/  /'
  else
    echo "  (not written)"
  fi
fi
echo "Files beside me:"
ls -A | sed 's/^/  /'
echo "== Sample setup ends with status $status =="
exit "$status"
