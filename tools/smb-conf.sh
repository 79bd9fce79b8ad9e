# smb-conf.sh -- sourced: the settings of the private Samba server that the
# benchmarks and the virtual receiver serve as a NAS, on 127.0.0.1:445 only,
# guests allowed and writing as root, every state folder below DIR.
#
#   smb_conf DIR "EXTRA [global] LINES" NAME=PATH ...   writes DIR/smb.conf
smb_conf() {
  local d=$1 extra=$2 share
  shift 2
  mkdir -p "$d/private" "$d/lock" "$d/state" "$d/cache" "$d/pid"
  {
    printf '[global]\n'
    printf '  %s\n' "interfaces = 127.0.0.1" "bind interfaces only = yes" "smb ports = 445" \
      "disable netbios = yes" "server role = standalone server" "map to guest = Bad User" \
      "guest account = root" "load printers = no" "printcap name = /dev/null" "disable spoolss = yes" \
      "private dir = $d/private" "lock directory = $d/lock" "state directory = $d/state" \
      "cache directory = $d/cache" "pid directory = $d/pid" "log file = $d/smbd.log"
    [ -n "$extra" ] && printf '%s\n' "$extra"
    for share in "$@"; do
      printf '[%s]\n' "${share%%=*}"
      printf '  %s\n' "path = ${share#*=}" "guest ok = yes" "guest only = yes" "read only = no" "force user = root"
    done
  } > "$d/smb.conf"
}
