#!/bin/sh
# Runs one GoogleTest program and fails it when it ended before its tests finished. The code
# under test ends the process itself (exit code 0, from any thread); a test that reaches such
# an end by mistake must not pass for it. GoogleTest removes TEST_PREMATURE_EXIT_FILE when it
# finishes normally.
marker=$(mktemp)
TEST_PREMATURE_EXIT_FILE=$marker
export TEST_PREMATURE_EXIT_FILE
"$@"
rc=$?
if [ -e "$marker" ]; then
  rm -f "$marker"
  if [ "$rc" -eq 0 ]; then
    echo "The test program ended before its tests finished (exit code 0)."
    exit 1
  fi
fi
exit "$rc"
