#!/bin/sh
# check-receiver-libc.sh OBJDUMP TAP... -- the plug-in files for the receiver
# may only ask for C library symbol versions that the receiver's generation of
# the C library provides (GLIBC_2.0 to GLIBC_2.2); anything newer would make
# the firmware refuse to load them.
objdump="$1"; shift
status=0
for tap in "$@"; do
  newer=$("$objdump" -T "$tap" | grep -o 'GLIBC_[0-9.]*' | sort -u | grep -v -x -E 'GLIBC_2\.[0-2](\.[0-9]+)?')
  if [ -n "$newer" ]; then
    echo "$tap needs $(echo $newer)"
    status=1
  fi
done
[ $status -eq 0 ] && echo "receiver plug-in files need nothing newer than GLIBC_2.2"
exit $status
