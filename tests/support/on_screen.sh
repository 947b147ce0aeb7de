#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Finding the program's windows on an X display and typing into them with xdotool, as a person
# would: shared by the tests under Xvfb, the tests under Wine and the GUI bench. Sourced.

# Waits for a visible window whose title is exactly $1 and which is not one of the ids in $2,
# trying $3 times (default 300) five times a second; prints its id.
wait_window() {
  local title=$1 not=${2:-} id pattern
  # xdotool takes a regular expression: escape what the titles hold.
  pattern=$(printf '%s' "$title" | sed 's/[][().*+?^$|\\]/\\&/g')
  for _ in $(seq 1 "${3:-300}"); do
    for id in $(xdotool search --onlyvisible --name "^${pattern}\$" 2>/dev/null); do
      case " $not " in *" $id "*) ;; *) echo "$id"; return 0 ;; esac
    done
    sleep 0.2
  done
  return 1
}

# Focuses window $1, lets it settle, then runs the rest as a command (xdotool key ..., type ...).
type_into() {
  local id=$1
  shift
  xdotool windowfocus --sync "$id"
  sleep 0.3
  "$@"
}
