# Copies the program (the executable, its core library and the window module)
# from the build folder of EXE into FOLDER, as an installation beside the
# executable has them.
copy_program() {
  local exe=$1 folder=$2 from
  from=$(dirname "$exe")
  mkdir -p "$folder" &&
    cp "$exe" "$folder/Somorabox" &&
    cp "$from/libsomorabox_core.so" "$from/libsomorabox_window.so" "$folder/"
}

# On standard error, what a failed test of the program in WORK/app left:
# its record/ folder, its standard output (WORK/out.log) and the end of its
# standard error (WORK/err.log).
show_recorder_logs() {
  local work=$1
  echo "--- record/:" >&2
  ls -l "$work/app/record" >&2 2>/dev/null
  echo "--- standard output:" >&2
  cat "$work/out.log" >&2 2>/dev/null
  echo "--- standard error:" >&2
  tail -n 30 "$work/err.log" >&2 2>/dev/null
}
