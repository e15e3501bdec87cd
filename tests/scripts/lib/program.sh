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
