#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Writes demo.qm, the example byte stream that `quillmote-cli trace` shows a newcomer.
# Each line below is one part of the stream; README.md in this folder explains them
# byte by byte. \033 is ESC (27), \000 a zero byte, \n a line feed (10).
set -euo pipefail
cd "$(dirname "$0")"
{
  printf 'Hello, world!\n'                  # typed text and a line feed
  printf '\033enter.'                       # a named key: Return
  printf '\033,hold,shift.a'                # hold shift for the next key: A
  printf '\033,lock,control.c\033,rel.'     # lock control, type c, release all
  printf '\033,combine,control,option,del.' # control+option+forward delete together
  printf '\000'                             # a zero byte: answered 0x11 on the line
  printf '\033,move,10,-5.'                 # pointer 10 right, 5 up
  printf '\033,click,right.'                # click the right button
} > demo.qm
