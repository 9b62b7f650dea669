# Shared by the benchmark scripts (sourced, not run).

# Checks out a revision into a worktree folder outside the repository: worktree REV FOLDER
worktree() {
  if [ -e "$2/.git" ]; then
    git -C "$2" checkout -q --detach "$1"
  else
    git worktree add -q --detach "$2" "$1"
  fi
}

# Writes a catalogue of the 2 x 2 mosaic tiles in DATA: mosaic_knf FILE DATA EXTENSION
mosaic_knf() {
  local knf=$1 data=$2 ext=$3 i=0 x y
  {
    printf 'VERSION   1.2b\r\n 5.0\r\n 50.0\r\n2.0\r\n3\r\n'
    printf '0\t0\t0\t0\t0\t0\t0\t0\t0\t0\t0\t\r\n0\t0\t0\t0\t0\t0\t0\t0\t0\t0\t0\t\r\n[DATEIEN]\r\n'
    for t in "0 0" "1 0" "0 1" "1 1"; do
      set -- $t
      i=$((i + 1))
      x=$((3566000 + 1000 * $1))
      y=$((5936000 + 1000 * $2))
      printf '#DATEI %d\r\n%s\r\n%d.00\r\n%d.00\r\n%d.00\r\n%d.00\r\n' "$i" "$data/tile_$1_$2$ext" \
        "$x" $((x + 1000)) "$y" $((y + 1000))
    done
  } >"$knf"
}
