#!/bin/sh
# A two-node Slurm test cluster on this one machine, for the farm tests and
# for trying `orvo farm` by hand.
#
#   scripts/farm-cluster.sh start DIR   install the packages if missing, write a
#                                       configuration into DIR, start munged,
#                                       slurmctld and two slurmd (nodes n1, n2),
#                                       wait until both nodes are idle
#   scripts/farm-cluster.sh stop DIR    stop exactly the daemons that start began
#                                       (by the process ids it kept in DIR/pids)
#   scripts/farm-cluster.sh env DIR     print the SLURM_CONF line for a shell
#
# Everything lives in DIR: its own munge key and socket, state, spool, logs.
# Nothing outside DIR is configured, and no other daemon is touched. Ports:
# ORVO_FARM_PORT (default 16817) for the controller, the next two for n1, n2.
# Needs root (slurmd runs jobs as their owner).
set -eu

usage() {
    echo "usage: $0 start|stop|env DIR" >&2
    exit 2
}
[ $# -eq 2 ] || usage
cmd=$1
dir=$2
here=$(cd "$(dirname "$0")" && pwd)

pid_alive() {
    [ -n "$1" ] && kill -0 "$1" 2>/dev/null
}

stop_cluster() {
    [ -f "$dir/pids" ] || return 0
    # Reverse start order: nodes, controller, then munged.
    for pid in $(tac "$dir/pids"); do
        pid_alive "$pid" && kill -TERM "$pid" 2>/dev/null || true
    done
    i=0
    while [ $i -lt 100 ]; do
        alive=""
        for pid in $(cat "$dir/pids"); do
            pid_alive "$pid" && alive="$alive $pid"
        done
        [ -z "$alive" ] && break
        sleep 0.1
        i=$((i + 1))
    done
    for pid in $alive; do
        echo "farm-cluster: process $pid did not stop on TERM; killing it" >&2
        kill -KILL "$pid" 2>/dev/null || true
    done
    rm -f "$dir/pids"
}

case "$cmd" in
stop)
    stop_cluster
    exit 0
    ;;
env)
    echo "export SLURM_CONF=$(cd "$dir" && pwd)/slurm.conf"
    exit 0
    ;;
start) ;;
*) usage ;;
esac

if [ "$(id -u)" -ne 0 ]; then
    echo "farm-cluster: needs root (slurmd runs each job as its owner)" >&2
    exit 1
fi
"$here/install-deps.sh" munge slurmctld slurmd slurm-client

if [ -f "$dir/pids" ]; then
    for pid in $(cat "$dir/pids"); do
        if pid_alive "$pid"; then
            echo "farm-cluster: a cluster from $dir is still running (pid $pid); stop it first" >&2
            exit 1
        fi
    done
fi
mkdir -p "$dir"
dir=$(cd "$dir" && pwd)
port=${ORVO_FARM_PORT:-16817}
for p in $port $((port + 4)) $((port + 5)); do
    if ss -Hltn "sport = :$p" 2>/dev/null | grep -q .; then
        echo "farm-cluster: port $p is in use; set ORVO_FARM_PORT to a free range" >&2
        exit 1
    fi
done

rm -rf "$dir/munge" "$dir/state" "$dir/spool" "$dir/log" "$dir/run"
mkdir -p "$dir/munge" "$dir/state" "$dir/spool" "$dir/log" "$dir/run"
: >"$dir/pids"
trap 'stop_cluster' INT TERM
trap 'if [ -n "${failed:-}" ]; then stop_cluster; fi' EXIT
failed=1

# munge: a fresh key for this cluster only, its own socket, run as the munge user.
dd if=/dev/urandom of="$dir/munge/munge.key" bs=1024 count=1 2>/dev/null
chown -R munge:munge "$dir/munge"
chmod 0755 "$dir/munge"
chmod 0400 "$dir/munge/munge.key"
socket="$dir/munge/munge.socket"
# munged wants every folder above its socket searchable by all.
p=$dir
while [ "$p" != "/" ]; do
    case "$(stat -c %A "$p" | cut -c4,7,10)" in
    [xst][xst][xst]) ;;
    *)
        echo "farm-cluster: munged needs \"$p\" searchable by all (chmod a+x), or another DIR" >&2
        exit 1
        ;;
    esac
    p=$(dirname "$p")
done
setpriv --reuid=munge --regid=munge --init-groups \
    /usr/sbin/munged -F --key-file="$dir/munge/munge.key" --socket="$socket" \
    --pid-file="$dir/munge/munged.pid" --log-file="$dir/munge/munged.log" \
    --seed-file="$dir/munge/munged.seed" --num-threads=2 </dev/null >/dev/null 2>&1 &
echo $! >>"$dir/pids"
i=0
until [ -S "$socket" ]; do
    i=$((i + 1))
    if [ $i -gt 100 ] || ! pid_alive "$(tail -n1 "$dir/pids")"; then
        echo "farm-cluster: munged did not start (see $dir/munge/munged.log)" >&2
        exit 1
    fi
    sleep 0.1
done

host=$(hostname -s)
cat >"$dir/slurm.conf" <<EOF
# Two nodes on one machine, written by scripts/farm-cluster.sh.
ClusterName=orvofarm
SlurmctldHost=$host(127.0.0.1)
SlurmctldPort=$port
SlurmUser=root
SlurmdUser=root
AuthType=auth/munge
CredType=cred/munge
AuthInfo=socket=$socket
StateSaveLocation=$dir/state
SlurmdSpoolDir=$dir/spool/%n
SlurmctldPidFile=$dir/run/slurmctld.pid
SlurmdPidFile=$dir/run/slurmd-%n.pid
SlurmctldLogFile=$dir/log/slurmctld.log
SlurmdLogFile=$dir/log/slurmd-%n.log
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
SelectType=select/cons_tres
SelectTypeParameters=CR_CPU
SchedulerType=sched/backfill
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
MpiDefault=none
ReturnToService=2
SlurmdTimeout=20
MinJobAge=600
SchedulerParameters=batch_sched_delay=0
MaxArraySize=100001
NodeName=n1 NodeHostname=localhost NodeAddr=127.0.0.1 Port=$((port + 4)) CPUs=1 State=UNKNOWN
NodeName=n2 NodeHostname=localhost NodeAddr=127.0.0.1 Port=$((port + 5)) CPUs=1 State=UNKNOWN
PartitionName=farm Nodes=n1,n2 Default=YES MaxTime=INFINITE State=UP
EOF
export SLURM_CONF="$dir/slurm.conf"

setsid /usr/sbin/slurmctld -D -i -f "$SLURM_CONF" </dev/null >"$dir/log/slurmctld.out" 2>&1 &
echo $! >>"$dir/pids"
for n in n1 n2; do
    setsid /usr/sbin/slurmd -D -f "$SLURM_CONF" -N $n </dev/null >"$dir/log/slurmd-$n.out" 2>&1 &
    echo $! >>"$dir/pids"
done

# Both nodes idle (and every daemon still alive) within 30 seconds.
i=0
while :; do
    for pid in $(cat "$dir/pids"); do
        if ! pid_alive "$pid"; then
            echo "farm-cluster: a daemon (pid $pid) stopped during start; logs in $dir/log" >&2
            exit 1
        fi
    done
    idle=$(sinfo -h -N -o '%N %t' 2>/dev/null | grep -c ' idle$' || true)
    [ "$idle" -ge 2 ] && break
    i=$((i + 1))
    if [ $i -gt 300 ]; then
        echo "farm-cluster: the nodes did not become idle in 30 s; logs in $dir/log" >&2
        sinfo -N >&2 || true
        exit 1
    fi
    sleep 0.1
done
failed=
echo "farm-cluster: two nodes idle; export SLURM_CONF=$SLURM_CONF"
