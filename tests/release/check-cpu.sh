#!/bin/bash
# check-cpu.sh OBJDUMP READELF FILE... -- what the plug-in files ask of the
# receiver's CPU and C library:
#   - no floating-point instruction: a CPU without an FPU traps on each one
#     and the kernel emulates it, hundreds of cycles apiece;
#   - no instruction of MIPS32 release 2 or later (the files are built for
#     release 1, the oldest 32-bit MIPS);
#   - no C library function whose result is a floating-point value (it
#     comes back in a floating-point register, garbage to a caller built
#     for the other float ABI), and no libm;
#   - a stack that is not executable.
# Prints one line for each finding and exits 1 if there is one.
#
#   check-cpu.sh --expect-findings OBJDUMP READELF FILE  (the check's control:
#   exits 0 only if the file shows every kind of finding)
set -uo pipefail
expect=""
if [ "${1:-}" = "--expect-findings" ]; then expect=1; shift; fi
objdump=$1 readelf=$2
shift 2

# operands on the FPU's registers, its branches and its moves
fp_pattern='\$f[0-9]+|[[:space:]](bc1[ft]|bc1[ft]l|[cm][ft]c1|[cm][ft]hc1)[[:space:]]'
# release 2 additions (and later ones the disassembler knows by name)
r2_pattern='^ +[0-9a-f]+:[[:space:]]+[0-9a-f]+[[:space:]]+(ext|ins|seb|seh|wsbh|rotr|rotrv|di|ei|rdhwr|rdpgpr|wrpgpr|synci|ehb|jalr\.hb|jr\.hb|pause|mfhc1|mthc1|madd\.[sd]|msub\.[sd]|lwxc1|swxc1|ldxc1|sdxc1)[[:space:]]'
# C library and libm functions that return float, double or long double
fp_returns='strtod|strtof|strtold|atof|difftime|drand48|erand48|ldexp|frexp|modf|fmod|floor|ceil|fabs|sqrt|pow|exp|log|log10|sin|cos|tan|atan|atan2|round|lround|trunc|rint'

found=0
finding() { echo "$1"; found=$((found + 1)); kinds="$kinds $2"; }
kinds=""
for file in "$@"; do
  name=$(basename "$file")
  # the whole file disassembled as release 2, so that its instructions show by name
  text=$("$objdump" -d -m mips:isa32r2 "$file" 2>/dev/null)
  n=$(grep -cE "$fp_pattern" <<<"$text")
  [ "$n" -gt 0 ] && finding "$name: $n floating-point instruction(s), first: $(grep -m1 -E "$fp_pattern" <<<"$text" | tr -s '\t ' ' ')" fp
  n=$(grep -cE "$r2_pattern" <<<"$text")
  [ "$n" -gt 0 ] && finding "$name: $n instruction(s) of MIPS32 release 2, first: $(grep -m1 -E "$r2_pattern" <<<"$text" | tr -s '\t ' ' ')" r2
  wants=$("$objdump" -T "$file" | awk '$0 ~ /\*UND\*/ { print $NF }' | grep -x -E "$fp_returns" | tr '\n' ' ')
  [ -n "$wants" ] && finding "$name: asks the C library for floating-point results: $wants" import
  "$readelf" -d "$file" | grep -q 'Shared library: \[libm\.' && finding "$name: needs libm" import
  # type, offset, addresses, sizes, then the flags and the alignment
  stack=$("$readelf" -lW "$file" | awk '$1 == "GNU_STACK" { print $(NF - 1) }')
  case "$stack" in
    "") finding "$name: no GNU_STACK header: the loader makes the stack executable" stack ;;
    *E*) finding "$name: asks for an executable stack ($stack)" stack ;;
  esac
done

if [ -n "$expect" ]; then
  for kind in fp r2 import stack; do
    case " $kinds " in *" $kind "*) ;; *) echo "check-cpu: the control shows no finding of kind $kind"; exit 1 ;; esac
  done
  echo "check-cpu: the control shows every kind of finding"
  exit 0
fi
[ $found -eq 0 ] && echo "check-cpu: $# file(s): no floating point, nothing beyond MIPS32 release 1, no executable stack"
[ $found -eq 0 ]
