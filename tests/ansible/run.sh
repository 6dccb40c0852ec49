#!/usr/bin/env bash
# The tests of the Ansible collection zubra32.textfile (ansible/) against a built program:
#
#   bash tests/ansible/run.sh --program build/zubra32 [--deb FILE] [--keep]
#
# First what ansible-test sanity checks, run directly: ansible-doc, validate-modules,
# ansible-test's yamllint and pycodestyle. Then the collection is built with
# ansible/build.sh and installed from its tarball, and the playbooks beside this script
# run on four hosts of this machine, each in mount, PID and UTS namespaces of its own
# that show it its own /srv and /tmp and private copies of /usr, /var and /etc: local-1
# and local-2 over the local connection, ssh-1 and ssh-2 over SSH through an sshd each on
# 127.0.0.1, with host and client keys made for the run. The role installs a .deb of the program there (made
# here from --program unless --deb names one). Every report the module returned is then
# checked against doc/report.schema.json.
#
# Needs root (exits 77, skipped, without it) and the tools that tools/dev.sh setup
# installs. Ends with "N passed, N failed", non-zero when a test failed; ends every
# process it started and removes its scratch directory (kept with --keep).
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/../.." && pwd)
collection=$root/ansible/ansible_collections/zubra32/textfile
hosts_local=(local-1 local-2)
hosts_ssh=(ssh-1 ssh-2)

usage() {
  echo "usage: bash tests/ansible/run.sh --program PATH [--deb FILE] [--keep]" >&2
  exit 2
}
program='' deb='' keep=0
while [ $# -gt 0 ]; do
  case "$1" in
    --program) [ $# -ge 2 ] || usage; program=$(realpath "$2"); shift 2 ;;
    --deb) [ $# -ge 2 ] || usage; deb=$(realpath "$2"); shift 2 ;;
    --keep) keep=1; shift ;;
    *) usage ;;
  esac
done
[ -x "$program" ] || usage

if [ "$(id -u)" -ne 0 ]; then
  echo "run.sh: skipped: the test hosts need root (mount namespaces, sshd)"
  exit 77
fi
missing=()
for tool in ansible-playbook:ansible-core /usr/sbin/sshd:openssh-server yamllint:yamllint pycodestyle:pycodestyle \
    python3-jsonschema python3-voluptuous; do
  if [[ $tool == *:* ]]; then
    command -v "${tool%%:*}" >/dev/null 2>&1 || missing+=("${tool#*:}")
  else
    dpkg -s "$tool" >/dev/null 2>&1 || missing+=("$tool")
  fi
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "run.sh: missing ${missing[*]}: bash tools/dev.sh setup installs them" >&2
  exit 1
fi

run=$(mktemp -d /tmp/zubra32-ansible.XXXXXX)
mkdir -p "$run"/{bin,keys,logs,pids,ports,reports,hosts,async,cp,remote-tmp,local-tmp,home,collections,deb}

# Ends what this script started: the SSH connections Ansible keeps open, the plays
# (their timeouts pass the signal on to their process groups), and each host by
# killing PID 1 of its PID namespace, which ends everything that ran there.
made_sshd_dir=0
cleanup() {
  local host pid tries
  trap - EXIT INT TERM
  for host in "${hosts_ssh[@]}"; do
    [ -s "$run/ports/$host" ] && ssh -F /dev/null -o ControlPath="$run/cp/%C" -p "$(cat "$run/ports/$host")" \
      -O exit root@127.0.0.1 >/dev/null 2>&1 || true
  done
  [ -f "$run/playbook.pids" ] && while read -r pid; do kill "$pid" 2>/dev/null || true; done <"$run/playbook.pids"
  for host in "${hosts_local[@]}" "${hosts_ssh[@]}"; do
    [ -s "$run/pids/$host" ] && kill -KILL "$(cat "$run/pids/$host")" 2>/dev/null || true
  done
  [ -f "$run/host.pids" ] && while read -r pid; do
    for tries in $(seq 50); do kill -0 "$pid" 2>/dev/null && sleep 0.1; done
  done <"$run/host.pids"
  [ "$made_sshd_dir" -eq 0 ] || rmdir /run/sshd 2>/dev/null || true
  if [ "$keep" -eq 1 ]; then echo "run.sh: kept $run"; else rm -rf "$run"; fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# Runs a test (name, command...) with its output in a log, shown when it fails; its
# exit status is left in $status. The command runs as a job of its own, so that
# set -e holds in it: never call this where a status is tested (if, ||, &&).
passed=0 failed=0
check() {
  local name=$1 start=$SECONDS
  shift
  "$@" >"$run/logs/$name.log" 2>&1 &
  status=0
  wait $! || status=$?
  finish "$name" "$status" $((SECONDS - start))
}
finish() {  # test name, exit status, seconds
  if [ "$2" -eq 0 ]; then
    passed=$((passed + 1))
    printf 'ok      %-24s %3d s\n' "$1" "$3"
  else
    failed=$((failed + 1))
    printf 'FAILED  %-24s %3d s (exit status %d); the end of its log:\n' "$1" "$3" "$2"
    tail -n 80 "$run/logs/$1.log" | sed 's/^/    /'
  fi
}

# --- what ansible-test sanity checks ------------------------------------------------

sanity=/usr/lib/python3/dist-packages/ansible_test/_util/controller/sanity

sanity_doc() {
  ANSIBLE_COLLECTIONS_PATH="$root/ansible" ansible-doc --json -t module zubra32.textfile.definition |
    /usr/bin/python3 -c 'import json, sys; doc = json.load(sys.stdin)["zubra32.textfile.definition"]
sys.exit(not (doc["doc"]["options"] and doc["examples"] and doc["return"]))'
  ANSIBLE_COLLECTIONS_PATH="$root/ansible" ansible-doc -t role zubra32.textfile.install
}

# validate-modules as ansible-test runs it: the documentation against the options the
# module declares, the return values, the examples. Kept, as ansible-test's ignore file would:
# the collection is MIT-licensed like the program, and its authors have no GitHub handle.
sanity_validate_modules() {
  (cd "$collection" && ANSIBLE_COLLECTIONS_PATH="$root/ansible" /usr/bin/python3 "$sanity/validate-modules/validate.py" \
    --format json --arg-spec --collection ansible_collections/zubra32/textfile \
    --collection-version "$(sed -n 's/^version: *//p' galaxy.yml)" plugins/modules/definition.py) >"$run/validate.json" ||
    [ $? -eq 3 ]
  /usr/bin/python3 - "$run/validate.json" <<'EOF'
import json, sys
kept = [('missing-gplv3-license', ''), ('invalid-documentation', 'DOCUMENTATION.author: Invalid author')]
errors = [(path, e) for path, found in json.load(open(sys.argv[1])).items()
          for e in found['errors'] + [dict(code='trace', msg=trace) for trace in found['traces']]
          if not any(e['code'] == code and e['msg'].startswith(msg) for code, msg in kept)]
print(*('%s: %s: %s' % (path, e['code'], e['msg']) for path, e in errors), sep='\n')
sys.exit(bool(errors))
EOF
}

# ansible-test's yamllint (its configuration; the YAML inside the module too) and its
# pep8 test (pycodestyle with its line length and ignores).
sanity_lint() {
  local messages
  messages=$(cd "$collection" && /usr/bin/python3 "$sanity/yamllint/yamllinter.py" plugins/modules/*.py galaxy.yml \
    meta/*.yml roles/*/*/*.yml "$here"/*.yml)
  /usr/bin/python3 -c 'import json, sys; m = json.load(sys.stdin)["messages"]; print(*m, sep="\n"); sys.exit(bool(m))' \
    <<<"$messages"
  pycodestyle --max-line-length 160 --ignore=E402,W503,W504,E741 "$collection"/plugins/modules/*.py "$here"/*.py \
    "$here"/*/*.py
}

build_collection() {
  bash "$root/ansible/build.sh" "$run/dist"
  ansible-galaxy collection install --offline -p "$run/collections" "$run"/dist/zubra32-textfile-*.tar.gz
  [ -f "$run/collections/ansible_collections/zubra32/textfile/LICENSE" ]
}

# --- the hosts ------------------------------------------------------------------------

# A .deb shaped as the released one (package zubra32 of the project's version,
# /usr/bin/zubra32), of the program under test.
make_deb() {
  local tree=$run/deb/tree
  install -D -m 0755 "$program" "$tree/usr/bin/zubra32"
  mkdir -p "$tree/DEBIAN"
  printf '%s\n' "Package: zubra32" "Version: $version" "Architecture: $(dpkg --print-architecture)" "Depends: libc6" \
    "Maintainer: the Zubra32 developers <zubra32@localhost>" "Description: The Textfile Manipulator (test build)" \
    >"$tree/DEBIAN/control"
  dpkg-deb --root-owner-group --build "$tree" "$deb" >/dev/null
}

# Run as PID 1 of new namespaces: notes its PID as this machine sees it, mounts its
# own /proc, names the host, gives it private copies of /usr, /var and /etc (overlays
# on a tmpfs) without apt's package lists (a .deb whose dependencies are installed
# needs none, and apt takes seconds a host to read them), shows it its own files at
# /srv, gives it a /tmp of its own in which only this run's directory is seen (with
# every host's directory hidden), then becomes the host's command.
namespace_script='
set -e
host=$1 run=$2
shift 2
read -r pid _ </proc/self/stat
mount -t proc "zubra32-$host" /proc
hostname "$host"
state=$run/hosts/$host/state
mount -t tmpfs -o mode=0700 "zubra32-$host" "$state"
for dir in /usr /var /etc; do
  mkdir -p "$state$dir/upper" "$state$dir/work"
  mount -t overlay "zubra32-$host" -o "lowerdir=$dir,upperdir=$state$dir/upper,workdir=$state$dir/work" "$dir"
done
mount -t tmpfs "zubra32-$host" /var/lib/apt/lists && mkdir /var/lib/apt/lists/partial
mount --bind "$run/hosts/$host/srv" /srv
mkdir /var/zubra32-run && mount --bind "$run" /var/zubra32-run
mount -t tmpfs -o mode=1777 "zubra32-$host" /tmp
mkdir -p "$run" && mount --move /var/zubra32-run "$run"
mount -t tmpfs -o mode=0700 zubra32-hidden "$run/hosts"
cd /
echo "$pid" >"$run/pids/$host.new" && mv "$run/pids/$host.new" "$run/pids/$host"
exec "$@"'

start_host() {  # name, command...
  local host=$1
  shift
  mkdir -p "$run/hosts/$host/state"
  timeout --kill-after=5 900 unshare --mount --uts --pid --fork --kill-child --propagation private -- \
    bash -c "$namespace_script" bash "$host" "$run" "$@" \
    >>"$run/logs/host-$host.log" 2>&1 &
  echo $! >>"$run/host.pids"
}

ssh_options() {  # host
  echo "-F /dev/null -o UserKnownHostsFile=$run/keys/known_hosts -o StrictHostKeyChecking=yes" \
    "-o IdentitiesOnly=yes -o BatchMode=yes -i $run/keys/client-$1"
}

start_ssh_host() {  # name
  local host=$1 port key=$run/keys
  port=$(/usr/bin/python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
  echo "$port" >"$run/ports/$host"
  ssh-keygen -q -t ed25519 -N '' -C "zubra32 test host $host" -f "$key/host-$host"
  ssh-keygen -q -t ed25519 -N '' -C "zubra32 test client of $host" -f "$key/client-$host"
  echo "from=\"127.0.0.1\" $(cat "$key/client-$host.pub")" >"$key/authorized_keys-$host"
  echo "[127.0.0.1]:$port $(cut -d ' ' -f 1,2 "$key/host-$host.pub")" >>"$key/known_hosts"
  printf '%s\n' "ListenAddress 127.0.0.1:$port" "HostKey $key/host-$host" "AuthorizedKeysFile $key/authorized_keys-$host" \
    "PidFile none" "AllowUsers root" "PermitRootLogin prohibit-password" "PasswordAuthentication no" \
    "KbdInteractiveAuthentication no" "UsePAM no" "StrictModes no" "AllowTcpForwarding no" "X11Forwarding no" \
    "Subsystem sftp internal-sftp" "LogLevel ERROR" >"$run/sshd-$host.conf"
  /usr/sbin/sshd -t -f "$run/sshd-$host.conf"
  start_host "$host" /usr/sbin/sshd -D -e -f "$run/sshd-$host.conf"
}

# Each host's files, a folder of /srv for each playbook.
lay_out_files() {  # host
  local srv=$run/hosts/$1/srv
  mkdir -p "$srv"/{converge,backups,failures,install}
  echo "$1" >"$srv/host.txt"
  printf '@echo off\nPATH=C:\\DOS\nprompt $p$g  \n' >"$srv/converge/autoexec.bat"
  printf 'DEVICE=C:\\DOS\\HIMEM.SYS\r\nFILES=20\r\nBUFFERS=30\r\n' >"$srv/converge/config.sys"
  printf 'keep me\n' >"$srv/converge/notes.txt"
  printf 'not named\n' >"$srv/converge/other.txt"
  printf 'probe\r\n' >"$srv/install/caf"$'\351'.txt
  printf '[/srv/install/caf\351.txt]\r\nprobe=!probe run\r\n[/srv/install/absent.txt]\r\n' >"$srv/install/probe.def"
  printf 'name=app\n' >"$srv/backups/app.cfg"
  printf 'kept by hand\n' >"$srv/backups/app.cfg.orig"
  printf '[app.cfg]\r\nEND=rem run\r\n' >"$srv/backups/grow.def"
  printf '[app.cfg]\r\nname=@name=app\r\n' >"$srv/backups/steady.def"
  printf 'marker\r\n' >"$srv/failures/good.txt"
  printf 'read only\r\n' >"$srv/failures/readonly.txt"
  printf 'locked\r\n' >"$srv/failures/locked.txt"
  printf '[/srv/failures/good.txt]\r\nmarker=!marker sealed\r\n' >"$srv/failures/sealed.def"
  chmod 0444 "$srv/failures/readonly.txt"
  chown 65534:65534 "$srv/failures/sealed.def" && chmod 0600 "$srv/failures/sealed.def"
}

write_inventory() {
  local host users=(alice bob carol zoë) i=0
  {
    printf '%s\n' "all:" "  vars:" "    ansible_python_interpreter: '{{ fleet_python }}'" "    fleet_python: /usr/bin/python3" \
      "    ansible_async_dir: $run/async" "    fleet_deb: $deb" "    fleet_program: $run/bin/zubra32" "    fleet_run: $run" \
      "  children:" "    fleet:" "      hosts:"
    for host in "${hosts_local[@]}"; do
      echo "        $host: {ansible_connection: local, fleet_python: $run/bin/python-$host, site_user: ${users[i++]}}"
    done
    for host in "${hosts_ssh[@]}"; do
      echo "        $host: {ansible_host: 127.0.0.1, ansible_port: $(cat "$run/ports/$host"), ansible_user: root,"
      echo "          ansible_ssh_common_args: '$(ssh_options "$host")', site_user: ${users[i++]}}"
    done
  } >"$run/inventory.yml"
  printf '%s\n' "[defaults]" "inventory = $run/inventory.yml" "forks = 8" "remote_tmp = $run/remote-tmp" \
    "local_tmp = $run/local-tmp" "library = $here/library" "callback_plugins = $here/callback_plugins" \
    "callbacks_enabled = zubra32_reports" "retry_files_enabled = False" "interpreter_python = /usr/bin/python3" \
    "[ssh_connection]" "pipelining = True" "control_path_dir = $run/cp" \
    "ssh_args = -o ControlMaster=auto -o ControlPersist=60s" >"$run/ansible.cfg"
}

# Starts the hosts, then waits until the local ones are in their namespaces and the
# SSH ones answer a login.
start_fleet() {
  local host deadline=$((SECONDS + 20))
  [ -d /srv ] || mkdir /srv
  cp "$program" "$run/bin/zubra32"
  [ -f "$deb" ] || make_deb
  for host in "${hosts_local[@]}" "${hosts_ssh[@]}"; do lay_out_files "$host"; done
  for host in "${hosts_local[@]}"; do
    start_host "$host" sleep 900
    # Python in the host's namespaces; inside already (async jobs start their module there), as it is.
    printf '%s\n' '#!/bin/sh' '[ -z "$ZUBRA32_TEST_HOST" ] || exec /usr/bin/python3 "$@"' \
      "ZUBRA32_TEST_HOST=$host exec nsenter --target \"\$(cat $run/pids/$host)\" --mount --uts --pid --wd -- /usr/bin/python3 \"\$@\"" \
      >"$run/bin/python-$host"
    chmod 755 "$run/bin/python-$host"
  done
  for host in "${hosts_ssh[@]}"; do start_ssh_host "$host"; done
  for host in "${hosts_local[@]}"; do
    until [ -s "$run/pids/$host" ]; do
      [ $SECONDS -lt $deadline ] || { cat "$run/logs/host-$host.log"; return 1; }
      sleep 0.1
    done
  done
  for host in "${hosts_ssh[@]}"; do
    # shellcheck disable=SC2046
    until ssh $(ssh_options "$host") -p "$(cat "$run/ports/$host")" root@127.0.0.1 true 2>>"$run/logs/host-$host.log"; do
      [ $SECONDS -lt $deadline ] || { cat "$run/logs/host-$host.log"; return 1; }
      sleep 0.2
    done
  done
  write_inventory
}

playbook() {  # name
  local pid
  ZUBRA32_REPORTS="$run/reports/$1.jsonl" timeout --kill-after=5 240 ansible-playbook "$here/$1.yml" &
  pid=$!
  echo "$pid" >>"$run/playbook.pids"
  wait "$pid"
}

# The failures, and the warning about the missing Workfile that every host must have shown.
failures() {
  local warnings
  playbook failures
  warnings=$(grep -c '^\[WARNING\]: Error in ' "$run/logs/fleet.failures.log")
  [ "$warnings" -eq 4 ] || { echo "run.sh: $warnings warnings about the missing Workfile, not 4"; return 1; }
}

export ANSIBLE_CONFIG=$run/ansible.cfg ANSIBLE_HOME=$run/home ANSIBLE_COLLECTIONS_PATH=$run/collections
export ANSIBLE_NOCOLOR=1 ANSIBLE_DEPRECATION_WARNINGS=0

# sshd needs its privilege separation directory.
[ -d /run/sshd ] || { mkdir -m 0755 /run/sshd && made_sshd_dir=1; }
version=$(sed -n 's/^project(zubra32 VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
[ -n "$deb" ] || deb=$run/deb/zubra32_${version}_$(dpkg --print-architecture).deb

started=$SECONDS
check sanity.ansible-doc sanity_doc
check sanity.validate-modules sanity_validate_modules
check sanity.lint sanity_lint
check collection.build build_collection
check fleet.start start_fleet
if [ "$status" -eq 0 ]; then
  # The failures wait 30 s for a locked Workfile: they run beside the other plays, on
  # their own files, with the program named by its path while it is being installed.
  failures_start=$SECONDS
  failures >"$run/logs/fleet.failures.log" 2>&1 &
  failures_pid=$!
  check fleet.install playbook install
  check fleet.converge playbook converge
  check fleet.backups playbook backups
  status=0
  wait "$failures_pid" || status=$?
  finish fleet.failures "$status" $((SECONDS - failures_start))
  check reports.schema /usr/bin/python3 "$here/check_reports.py" "$root/doc/report.schema.json" "$run"/reports/*.jsonl
fi

# The figures: task runs on hosts, from the plays' recaps.
tasks=$(cat "$run"/logs/fleet.*.log | awk '/^PLAY RECAP/ { recap = 1; next } recap && / : ok=/ {
  for (i = 1; i <= NF; i++) if ($i ~ /^(ok|failed|skipped|ignored)=/) { split($i, kv, "="); n += kv[2] } next }
  { recap = 0 } END { print n + 0 }')
echo "== $((${#hosts_local[@]} + ${#hosts_ssh[@]})) hosts, $tasks task runs on them," \
  "$(cat "$run"/reports/*.jsonl 2>/dev/null | wc -l) reports of the module, $((SECONDS - started)) s"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
