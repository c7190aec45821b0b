#!/usr/bin/env bash
# Runs the job arrays of 'zonetool slurm' on a throw-away one-node Slurm cluster: Debian's
# slurmctld, slurmd and munged, started by hand with every file under one temporary directory,
# and stopped by their process ids when the test ends, however it ends.
#
#   tests/slurm/run.sh [--part PART]... [--zonetool PATH] [--keep]
#
# Parts (default: all of them, in this order):
#   cluster   the cluster comes up, runs a job, and runs a job after a failed array (afterany)
#   stub      a generated script with a stand-in for zonetool: table, directory, collecting job,
#             and Slurm's early signal requeueing a task that then finishes
#   profile   a profile array with a stand-in for the sides; the real program assembles them
#   basic     two short seeded fits (model 1) submitted with --submit and --data of the example
#             transect give the result files of the same fits run directly without it;
#             compare.tsv and compare.json are written, ranking both
#   explore   a small search (model 1, 4 starts in 2 blocks, the best optimum fitted with one
#             seed) submitted with --submit gives the record, figure and fit of a direct run
#   requeue   a long fit with a two-minute limit is requeued and resumes from its checkpoint;
#             its trace so far equals the first lines of an uninterrupted fit's
#   analyse   'zonetool analyse 1,2 --effort quick --slurm' of a 24-site transect: the six jobs
#             of its script (every profile side a task) give the estimates and analysis.json
#             numbers of a local run
# Prints "skipped: REASON" and exits 0 only when the cluster cannot run here (no packages, not
# root, daemons that do not start); any failure exits 1.
set -u

here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/../.." && pwd)
zonetool=$repo/build/zonetool
parts=()
keep=0
while [ $# -gt 0 ]; do
    case $1 in
    --part) parts+=("$2"); shift 2 ;;
    --zonetool) zonetool=$(cd "$(dirname "$2")" && pwd)/$(basename "$2"); shift 2 ;;
    --keep) keep=1; shift ;;
    *) echo "usage: $0 [--part cluster|stub|profile|basic|explore|requeue|analyse]... [--zonetool PATH] [--keep]" >&2; exit 2 ;;
    esac
done
[ ${#parts[@]} -gt 0 ] || parts=(cluster stub profile basic explore requeue analyse)

skip() { echo "skipped: $*"; exit 0; }
fail() { echo "FAILED: $*" >&2; exit 1; }
note() { echo "== $*"; }

for program in slurmctld slurmd sinfo sbatch squeue scontrol scancel munged mungekey; do
    command -v "$program" >/dev/null ||
        skip "$program not found (apt-get install --no-install-recommends slurmctld slurmd slurm-client munge)"
done
[ "$(id -u)" = 0 ] || skip "slurmd must run as root"
[ -x "$zonetool" ] || fail "no zonetool at $zonetool (build it first, or give --zonetool)"

ROOT=$(mktemp -d /tmp/zonefit-slurm-XXXXXX)
export SLURM_CONF=$ROOT/etc/slurm.conf
mkdir -p "$ROOT"/{munge,etc,state,spool,run,log,bin}
# munged refuses a socket in a directory others cannot enter.
chmod 711 "$ROOT" "$ROOT/munge"

# Stops every job, then every daemon this script started, by the pids they wrote.
stop_cluster() {
    [ -n "$reference" ] && kill "$reference" 2>/dev/null
    if [ -f "$ROOT/run/slurmctld.pid" ]; then
        scancel --user=root 2>/dev/null
        for _ in $(seq 20); do
            [ -z "$(squeue -h 2>/dev/null)" ] && break
            sleep 0.5
        done
    fi
    # A job step left behind carries our configuration in its environment.
    for environment in /proc/[0-9]*/environ; do
        if { tr '\0' '\n' <"$environment"; } 2>/dev/null | grep -qxF "SLURM_CONF=$SLURM_CONF"; then
            pid=${environment#/proc/}
            pid=${pid%/environ}
            [ "$pid" != $$ ] && [ "$pid" != "$BASHPID" ] && kill -KILL "$pid" 2>/dev/null
        fi
    done
    for pidfile in run/slurmd.pid run/slurmctld.pid munge/munged.pid; do
        [ -f "$ROOT/$pidfile" ] || continue
        pid=$(cat "$ROOT/$pidfile")
        kill "$pid" 2>/dev/null
        for _ in $(seq 40); do
            kill -0 "$pid" 2>/dev/null || break
            sleep 0.25
        done
        kill -KILL "$pid" 2>/dev/null
    done
    if [ "$keep" = 1 ]; then
        echo "kept $ROOT"
    else
        rm -rf "$ROOT"
    fi
}
reference=""  # the pid of a fit run beside the cluster, if any
trap stop_cluster EXIT
trap 'exit 1' INT TERM HUP

# A free-looking pair of ports, so that a cluster of someone else's does not answer.
port=$((20000 + ($$ % 2000) * 2))
host=$(hostname -s)
mungekey --create --keyfile="$ROOT/munge/munge.key" >/dev/null 2>&1 || skip "mungekey failed"
node=$(slurmd -C 2>/dev/null | head -1)
[ -n "$node" ] || skip "slurmd -C describes no node"
cat >"$SLURM_CONF" <<EOF
ClusterName=zonefittest
SlurmctldHost=$host(127.0.0.1)
SlurmUser=root
SlurmctldPort=$port
SlurmdPort=$((port + 1))
AuthType=auth/munge
AuthInfo=socket=$ROOT/munge/munge.socket.2
StateSaveLocation=$ROOT/state
SlurmdSpoolDir=$ROOT/spool
SlurmctldPidFile=$ROOT/run/slurmctld.pid
SlurmdPidFile=$ROOT/run/slurmd.pid
SlurmctldLogFile=$ROOT/log/slurmctld.log
SlurmdLogFile=$ROOT/log/slurmd.log
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
SelectType=select/cons_tres
SelectTypeParameters=CR_Core
MpiDefault=none
AccountingStorageType=accounting_storage/none
JobAcctGatherType=jobacct_gather/none
JobCompType=jobcomp/filetxt
JobCompLoc=$ROOT/log/jobcomp.txt
ReturnToService=2
KillWait=30
MinJobAge=600
$node NodeAddr=127.0.0.1 State=UNKNOWN
PartitionName=test Nodes=$host Default=YES MaxTime=INFINITE State=UP
EOF

started=$(date +%s)
munged -S "$ROOT/munge/munge.socket.2" --key-file="$ROOT/munge/munge.key" \
    --log-file="$ROOT/munge/munged.log" --pid-file="$ROOT/munge/munged.pid" \
    --seed-file="$ROOT/munge/munged.seed" || skip "munged does not start"
slurmctld || skip "slurmctld does not start"
slurmd || skip "slurmd does not start"
# The daemons' exit codes say little; a node that is idle says they work.
for _ in $(seq 60); do
    sinfo -h -o %t 2>/dev/null | grep -qx idle && break
    sleep 0.5
done
sinfo -h -o %t 2>/dev/null | grep -qx idle ||
    skip "the node does not become idle (see $ROOT/log; run with --keep to keep it)"
note "cluster up in $(($(date +%s) - started)) s"

# Waits until none of the jobs given is known to squeue any more, at most $1 seconds.
wait_jobs() {
    local limit=$1
    shift
    local end=$(($(date +%s) + limit)) quiet=0
    while [ "$(date +%s)" -lt "$end" ]; do
        local left=0
        # All jobs by their array's id (a plain job's own id), not 'squeue -j': that fails, and
        # prints nothing, while the controller is busy or while a task is being requeued. A
        # listing that fails tells nothing, so it counts as the jobs still being there.
        local listed
        if listed=$(squeue -h -r -o %F 2>/dev/null); then
            for job in "$@"; do
                grep -qx -- "$job" <<<"$listed" && left=1
            done
        else
            left=1
        fi
        # A task being requeued is briefly in no queue at all: gone twice in a row is gone.
        if [ "$left" = 0 ]; then
            quiet=$((quiet + 1))
            [ "$quiet" -ge 2 ] && return 0
        else
            quiet=0
        fi
        sleep 2
    done
    squeue >&2
    return 1
}

# A field of a job (or array task) from scontrol, as JobState or Restarts.
job_field() {
    scontrol -o show job "$1" 2>/dev/null | tr ' ' '\n' | sed -n "s/^$2=//p" | head -1
}

# Waits (at most $2 seconds) until job $1 has been requeued, then lets it start at once:
# Slurm holds a requeued job back for about two minutes, too long for a test.
release_requeued() {
    local end=$(($(date +%s) + $2))
    while [ "$(date +%s)" -lt "$end" ]; do
        # A requeued job passes through other states before it waits as PENDING; only then can
        # its start be brought forward, so wait for that (or for it to run or end by itself).
        if [ "$(job_field "$1" Restarts)" -ge 1 ] 2>/dev/null; then
            case "$(job_field "$1" JobState)" in
            PENDING)
                case "$(job_field "$1" Reason)" in
                *[Hh]eld*) scontrol release "$1" ;;
                esac
                scontrol update JobId="$1" StartTime=now && return 0
                ;;
            RUNNING | COMPLETED) return 0 ;;
            esac
        fi
        sleep 1
    done
    return 1
}

# The job id in what --submit or 'bash SCRIPT submit' printed.
job_id() { sed -n "s/^$1 job \([0-9]*\)$/\1/p"; }

# The work directory of the jobs has a blank and a quote in its name, as users' do.
new_workdir() {
    local dir="$ROOT/fits $1 'x'"
    mkdir -p "$dir"
    echo "$dir"
}

part_cluster() {
    local dir
    dir=$(new_workdir cluster)
    cd "$dir" || fail "cd"
    local job
    job=$(sbatch --parsable --output=hello.out --wrap 'echo hello from $SLURM_JOB_ID') ||
        fail "sbatch of a trivial job"
    wait_jobs 60 "$job" || fail "the trivial job did not end"
    grep -qx "hello from $job" hello.out || fail "the trivial job wrote $(cat hello.out)"
    # An array with one failing task, and a job after all of it.
    printf '#!/bin/bash\n#SBATCH --array=0-1\n#SBATCH --output=a-%%a.out\n[ "$SLURM_ARRAY_TASK_ID" = 0 ]\n' >array.sh
    local array after
    array=$(sbatch --parsable array.sh) || fail "sbatch of an array"
    after=$(sbatch --parsable --dependency=afterany:"$array" --output=after.out --wrap 'echo after') ||
        fail "sbatch of the dependent job"
    wait_jobs 90 "$array" "$after" || fail "the array and its dependent job did not end"
    grep -qx after after.out || fail "the job after the array did not run"
    note "cluster: a job, an array with a failed task, and a job after it: ok"
}

# A stand-in for zonetool: 'fit' of seed 3 sleeps until Slurm's signal on its first run,
# requeues itself like the real program and exits 75; every fit otherwise writes a made-up
# result at once. Everything else goes to the real program.
write_stub() {
    cat >"$ROOT/bin/zonetool" <<EOF
#!/bin/bash
real='$zonetool'
EOF
    cat >>"$ROOT/bin/zonetool" <<'EOF'
echo "stub: $*" >>stub-calls.txt
if [ "$1" = profile ] && [ "$7" = --side ]; then
    # profile 1 --result R --parameters P --side S --part FILE --quiet: a made-up side.
    case $8 in lower) limit=0.9 ;; *) limit=1.1 ;; esac
    printf 'format\tzonefit-profile-side\nversion\t1\nmodel\t1\nresult\t%s\nparameter\t%s\nside\t%s\nunits\t2\nstep\t0.050000000000000003\nestimate\t1\nminimum\t1000\nlowest\t1000\nlowest_point\t1\t1\t0.5\t10\nevaluations\t5\nlimit\t%s\nfound\t1\nat_box\t0\npoints\t4\nobjective\tsettled\n' \
        "$4" "$6" "$8" "$limit" >"${10}"
    exit 0
fi
[ "$1" = fit ] || exec "$real" "$@"
model=$2 seed=$4 name=$6
if [ "$model" = 1 ] && [ "$seed" = 3 ] && [ "${SLURM_RESTART_COUNT:-0}" = 0 ]; then
    trap 'echo "stub: signal"; scontrol requeue "$SLURM_JOB_ID"; exit 75' USR1
    while :; do sleep 1; done
fi
echo "1.17 0.8 0.86 0.49 $((10000 + seed))" >"$name"
EOF
    chmod 755 "$ROOT/bin/zonetool"
}

part_stub() {
    local dir
    dir=$(new_workdir stub)
    cd "$dir" || fail "cd"
    printf '1.2 0.8 0.3 15\n0 0 0.05 2\n' >startvec1.txt
    write_stub
    "$zonetool" slurm 1 --seeds 1-3 --time 1 --signal-lead 30 -o fits.sh || fail "zonetool slurm"
    # The script runs the program that wrote it; here it runs the stand-in.
    sed -i "s|^zonetool=.*|zonetool='$ROOT/bin/zonetool'|" fits.sh
    local printed array collect
    printed=$(bash fits.sh submit) || fail "bash fits.sh submit: $printed"
    array=$(echo "$printed" | job_id array)
    collect=$(echo "$printed" | job_id collecting)
    [ -n "$array" ] && [ -n "$collect" ] || fail "submit printed '$printed'"
    release_requeued "${array}_2" 120 || fail "task 2 was not requeued: $(cat SS1_ML_seed3.err)"
    # Its second run has to start before the array can be said to have ended.
    # A one-node test cluster can hold the requeued task or drain its node while the first run
    # ends; neither is the program's doing, so the test releases the one and resumes the other,
    # and says what it saw if the task still does not run.
    local end=$(($(date +%s) + 240))
    until grep -q "restarts 1" SS1_ML_seed3.err 2>/dev/null; do
        [ "$(date +%s)" -lt "$end" ] ||
            fail "task 2 did not run again: $(cat SS1_ML_seed3.err); $(scontrol show job "${array}_2" 2>&1 | grep -E 'JobState|Reason|StartTime|Restarts' | tr -s ' \n' ' '); node: $(sinfo -h -N -o '%T %E' 2>&1)"
        if [ "$(job_field "${array}_2" JobState)" = PENDING ]; then
            case "$(job_field "${array}_2" Reason)" in
            *[Hh]eld*) scontrol release "${array}_2" ;;
            esac
            scontrol update JobId="${array}_2" StartTime=now
        fi
        case "$(sinfo -h -N -o %T 2>/dev/null)" in
        *drain* | *down*) scontrol update NodeName="$(sinfo -h -N -o %N | head -1)" State=RESUME ;;
        esac
        sleep 1
    done
    wait_jobs 120 "$array" "$collect" || fail "the stub array did not end"
    for seed in 1 2 3; do
        [ -f "SS1_ML_seed$seed" ] || fail "no SS1_ML_seed$seed; $(cat SS1_ML_seed$seed.err 2>/dev/null)"
    done
    grep -q "restarts 1" SS1_ML_seed3.err || fail "task 2 was not requeued: $(cat SS1_ML_seed3.err)"
    grep -qx "stub: signal" SS1_ML_seed3.out || fail "task 2 did not get the early signal"
    [ -s compare.tsv ] && [ -s compare.json ] || fail "compare.tsv or compare.json missing"
    [ "$(grep -c SS_1 compare.tsv)" = 3 ] || fail "compare.tsv: $(cat compare.tsv)"
    grep -q "stub: fit 1 --seed 2 --result SS1_ML_seed2 --checkpoint SS1_ML_seed2.ckpt --trace SS1_ML_seed2.trace.tsv --quiet --requeue" stub-calls.txt ||
        fail "the fit was called as: $(cat stub-calls.txt)"
    note "stub: table, directory, signal, requeue and collecting job: ok"
}

part_profile() {
    local dir
    dir=$(new_workdir profile)
    cd "$dir" || fail "cd"
    echo "1 1 0.5 10 1000" >SS1_ML_
    write_stub
    "$zonetool" slurm --profile 1 --parameters wSS,F --time 5 -o profile.sh || fail "zonetool slurm --profile"
    sed -i "s|^zonetool=.*|zonetool='$ROOT/bin/zonetool'|" profile.sh
    local printed array collect
    printed=$(bash profile.sh submit) || fail "bash profile.sh submit: $printed"
    array=$(echo "$printed" | job_id array)
    collect=$(echo "$printed" | job_id collecting)
    [ -n "$array" ] && [ -n "$collect" ] || fail "submit printed '$printed'"
    wait_jobs 120 "$array" "$collect" || fail "the profile array did not end"
    [ "$(cat profile-SS1_ML_.tsv)" = "$(printf '# objective: settled\nparameter\testimate\tlower\tupper\tbox\nwSS\t1\t0.9\t1.1\t-\nF\t1\t0.9\t1.1\t-')" ] ||
        fail "profile-SS1_ML_.tsv: $(cat profile-SS1_ML_.tsv profile-SS1_ML_.txt zonefit-profile-*.slurm)"
    grep -q "^Model 1 (SS_1), SS1_ML_: -lnL 1000 at the estimate" profile-SS1_ML_.txt ||
        fail "profile-SS1_ML_.txt: $(cat profile-SS1_ML_.txt)"
    note "profile: four sides as array tasks, assembled by the collecting job: ok"
}

part_basic() {
    local dir direct
    dir=$(new_workdir basic)
    direct=$ROOT/direct
    mkdir -p "$direct"
    printf '1.2 0.8 0.3 15\n0 0 0.05 2\n' >"$direct/startvec1.txt"
    cp "$direct/startvec1.txt" "$dir/"
    (cd "$direct" && "$zonetool" fit 1 --seeds 1-2 --quiet >/dev/null) || fail "the direct fits"
    cd "$dir" || fail "cd"
    local printed array collect
    # The example transect file is the built-in transect: the same results, by way of --data.
    printed=$("$zonetool" slurm 1 --seeds 1-2 --time 5 --data "$repo/examples/transect.tsv" \
        -o fits.sh --submit) || fail "zonetool slurm --submit: $printed"
    array=$(echo "$printed" | job_id array)
    collect=$(echo "$printed" | job_id collecting)
    [ -n "$array" ] && [ -n "$collect" ] || fail "--submit printed '$printed'"
    wait_jobs 180 "$array" "$collect" || fail "the fits did not end"
    for name in SS1_ML_seed1 SS1_ML_seed2; do
        cmp -s "$name" "$direct/$name" ||
            fail "$name differs from the direct fit's: $(cat "$name" "$name.err" 2>&1)"
    done
    [ -s compare.tsv ] && [ -s compare.json ] || fail "compare.tsv or compare.json missing"
    # compare ranks only fits of the transect it is given: both, so it was given the file.
    [ "$(grep -c SS_1 compare.tsv)" = 2 ] || fail "compare.tsv: $(cat compare.tsv)"
    grep -q '"data": ".*/examples/transect.tsv"' SS1_ML_seed1.json ||
        fail "SS1_ML_seed1.json names no data file"
    note "basic: two fits under Slurm with --data equal the direct ones; comparison written: ok"
}

part_explore() {
    local dir direct
    dir=$(new_workdir explore)
    direct=$ROOT/direct-explore
    mkdir -p "$direct"
    printf '1.2 0.8 0.3 15\n0 0 0.05 2\n' >"$direct/startvec1.txt"
    cp "$direct/startvec1.txt" "$dir/"
    # Both fitnesses held: the searches take a fraction of a second, the fit a few seconds.
    # zonefit's values: under this directional selection the settled row loses an allele,
    # which is a penalty, and a fit of penalties alone is refused.
    local search=(--starts 4 --seed 1 --budget 60 --region wSS=1.2:1.2 --region wII=0.8:0.8
        --objective zonefit)
    (cd "$direct" && "$zonetool" explore 1 "${search[@]}" >/dev/null &&
        "$zonetool" fit 1 --from SS1_ML_.explore.json --best 1 --seed 1 --quiet >/dev/null) ||
        fail "the direct search and fit"
    cd "$dir" || fail "cd"
    local printed jobs=() what id
    printed=$("$zonetool" slurm --explore 1 "${search[@]}" --blocks 2 --best 1 --time 5 \
        -o search.sh --submit) || fail "zonetool slurm --explore --submit: $printed"
    for what in "explore array" merging "fit array" collecting; do
        id=$(echo "$printed" | job_id "$what")
        [ -n "$id" ] || fail "--submit printed '$printed'"
        jobs+=("$id")
    done
    wait_jobs 180 "${jobs[@]}" || fail "the search did not end"
    [ -f SS1_ML_.explore.json ] || fail "no merged record: $(cat SS1_ML_.explore.err 2>&1)"
    cmp -s <(grep -v '_seconds"' SS1_ML_.explore.json) <(grep -v '_seconds"' "$direct/SS1_ML_.explore.json") ||
        fail "the merged record differs from the direct one's"
    cmp -s SS1_ML_.explore.svg "$direct/SS1_ML_.explore.svg" || fail "the figures differ"
    cmp -s SS1_ML_opt1 "$direct/SS1_ML_opt1" ||
        fail "SS1_ML_opt1 differs from the direct fit's: $(cat SS1_ML_opt1 SS1_ML_opt1.err 2>&1)"
    grep -q "SS1_ML_opt1\$" compare.tsv || fail "compare.tsv: $(cat compare.tsv 2>&1)"
    note "explore: 2 blocks merged into the direct run's record; its best optimum fitted: ok"
}

part_requeue() {
    local dir direct
    dir=$(new_workdir requeue)
    direct=$ROOT/direct-long
    mkdir -p "$direct"
    cp "$repo/examples/startvec1.txt" "$dir/"
    cp "$repo/examples/startvec1.txt" "$direct/"
    cd "$dir" || fail "cd"
    local printed array
    # Four minutes, signalled 60 s before the end. Slurm may send the signal up to a minute
    # earlier than asked, so the first allocation lasts 2 to 3 minutes; the first anneal call
    # of this fit takes 20 to 100 s on a 2-core machine (AVX-512 or AVX2, idle or busy), so it
    # checkpoints at least once before it is requeued.
    printed=$("$zonetool" slurm 1 --time 4 --signal-lead 60 -o fits.sh --submit) ||
        fail "zonetool slurm --submit: $printed"
    array=$(echo "$printed" | job_id array)
    [ -n "$array" ] || fail "--submit printed '$printed'"
    # The uninterrupted fit, meanwhile, for the trace to compare with.
    (cd "$direct" && exec "$zonetool" fit 1 --seed 1 --trace SS1_ML_.trace.tsv --quiet \
        >/dev/null 2>&1) &
    reference=$!
    local end=$(($(date +%s) + 420)) restarts=0
    release_requeued "$array" 330
    while [ "$(date +%s)" -lt "$end" ]; do
        restarts=$(job_field "$array" Restarts)
        [ "${restarts:-0}" -ge 1 ] && [ "$(job_field "$array" JobState)" = RUNNING ] && break
        sleep 2
    done
    [ "${restarts:-0}" -ge 1 ] || fail "the fit was not requeued: $(cat SS1_ML_.err 2>/dev/null)"
    # Let the resumed fit add to its trace, then stop everything. On a busy machine the first
    # allocation may end before its first anneal call does; then wait for a later one (and
    # bring its start forward should it be requeued again).
    sleep 20
    end=$(($(date +%s) + 300))
    while [ "$(wc -l <SS1_ML_.trace.tsv 2>/dev/null || echo 0)" -lt 1 ]; do
        [ "$(date +%s)" -lt "$end" ] || fail "no trace lines: $(cat SS1_ML_.err 2>/dev/null)"
        [ "$(job_field "$array" JobState)" = PENDING ] && scontrol update JobId="$array" StartTime=now
        sleep 2
    done
    restarts=$(job_field "$array" Restarts)
    scancel "$array"
    wait_jobs 60 "$array"
    local lines
    lines=$(wc -l <SS1_ML_.trace.tsv)
    [ "$lines" -ge 1 ] || fail "no trace lines"
    end=$(($(date +%s) + 300))
    while [ "$(wc -l <"$direct/SS1_ML_.trace.tsv" 2>/dev/null || echo 0)" -lt "$lines" ]; do
        [ "$(date +%s)" -lt "$end" ] || fail "the uninterrupted fit was too slow"
        sleep 2
    done
    kill "$reference" 2>/dev/null
    wait "$reference" 2>/dev/null
    # Whole lines only: the fit was stopped at some moment.
    cmp -s <(head -n "$lines" "$direct/SS1_ML_.trace.tsv") <(head -n "$lines" SS1_ML_.trace.tsv) ||
        fail "the requeued fit's trace differs from the uninterrupted one's"
    note "requeue: requeued $restarts time(s); $lines trace lines equal the uninterrupted fit's: ok"
}

part_analyse() {
    local dir direct began
    dir=$(new_workdir analyse)
    direct=$ROOT/direct-analyse
    mkdir -p "$direct"
    local analysis=(1,2 --data "$repo/examples/own_transect.tsv" --effort quick --seed 3)
    began=$(date +%s)
    # The local run beside the cluster's jobs.
    (cd "$direct" && exec "$zonetool" analyse "${analysis[@]}" -o out --quiet >/dev/null 2>&1) &
    reference=$!
    cd "$dir" || fail "cd"
    "$zonetool" analyse "${analysis[@]}" -o "out 'a'" --slurm --blocks 3 --time 30 >/dev/null ||
        fail "zonetool analyse --slurm"
    local printed jobs=() what id
    printed=$(bash "out 'a'/analyse-slurm.sh" submit) || fail "submit: $printed"
    for what in "search array" "merging array" "fit array" "profile side array" "profile array" report; do
        id=$(echo "$printed" | job_id "$what")
        [ -n "$id" ] || fail "submit printed '$printed'"
        jobs+=("$id")
    done
    wait_jobs 1800 "${jobs[@]}" || fail "the analysis jobs did not end"
    [ -f "out 'a'/report.html" ] ||
        fail "no report: $(cat "out 'a'"/.analyse/*.err 2>&1 | tail -20)"
    # Every side of both profiles ran as a task of its own (SS_1: 4 parameters, SS_2: 7), and
    # the profiles took their journals in.
    local sides
    sides=$(ls "out 'a'"/.analyse/profile-[12]-*.err 2>/dev/null | wc -l)
    [ "$sides" = 22 ] || fail "$sides profile side tasks ran, not 22"
    ! ls "out 'a'"/SS_*/*.journal.tsv >/dev/null 2>&1 || fail "journals left: $(ls "out 'a'"/SS_*/*.journal.tsv)"
    wait "$reference" || fail "the local analysis failed"
    reference=""
    cmp -s "out 'a'/estimates.tsv" "$direct/out/estimates.tsv" ||
        fail "estimates.tsv differs from the local run's: $(diff "out 'a'/estimates.tsv" "$direct/out/estimates.tsv")"
    # The models' numbers; the run's facts (command, times) differ.
    cmp -s <(sed -n '/"models"/,$p' "out 'a'/analysis.json") <(sed -n '/"models"/,$p' "$direct/out/analysis.json") ||
        fail "analysis.json's models differ from the local run's"
    note "analyse: 2 models in 6 dependent jobs (3 search blocks, 8 and 14 profile sides) give the local run's numbers, in $(($(date +%s) - began)) s: ok"
}

for part in "${parts[@]}"; do
    case $part in
    cluster | stub | profile | basic | explore | requeue | analyse) "part_$part" ;;
    *) fail "unknown part '$part'" ;;
    esac
done
note "all parts passed in $(($(date +%s) - started)) s"
