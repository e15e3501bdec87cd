# SPDX-License-Identifier: GPL-3.0-or-later
# Makes the manual the window's help command opens: README.md as one HTML
# page (GitHub's Markdown with tables, by cmark-gfm).
#   cmake -DCMARK=... -DINPUT=README.md -DOUTPUT=manual.html -P cmake/Manual.cmake
execute_process(COMMAND ${CMARK} --extension table --extension autolink ${INPUT}
                OUTPUT_VARIABLE body RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "cmark-gfm could not convert ${INPUT}")
endif()
file(WRITE ${OUTPUT}.new "<!DOCTYPE html>
<html lang=\"en\"><head><meta charset=\"utf-8\">
<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">
<title>Somorabox manual</title>
<style>body{max-width:52em;margin:1em auto;padding:0 1em;font-family:sans-serif;line-height:1.4}
table{border-collapse:collapse}td,th{border:1px solid #bbb;padding:.2em .4em;vertical-align:top}
pre{background:#f4f4f4;padding:.5em;overflow-x:auto}</style>
</head><body>
${body}</body></html>
")
file(RENAME ${OUTPUT}.new ${OUTPUT})
