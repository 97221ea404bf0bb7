#!/usr/bin/env bash
# Runs scripts/cluster/ on a one-node Slurm cluster of this machine, made in
# a temporary folder (its own slurm.conf, state and spool folders, munge key
# and munged socket) and taken down at the end whatever happens:
#   - a lossless film (ffv1; constant and variable frame rate) with audio,
#     subtitles and chapters in 3 pieces on 3 tasks: video packets and
#     timestamps as a single run's, audio and subtitle packets as the
#     source's, chapters and title kept;
#   - the same with H.264 without MB-tree: video packets as a single run's
#     (libx264's MB-tree makes its output depend on the heap's contents);
#   - pictures in 2 tasks, one of them with a file that is not a picture;
#   - a task cancelled mid-way: no join, no OUT, a message naming the task;
#     the same command again makes the missing piece only and joins.
# Slurm and munge come from Debian (slurm-wlm, munge) when missing. Where they
# cannot be installed or started: "SKIPPED: <reason>" and exit 0, except with
# CI=true, where that is a failure.
set -uo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=lib/frame-comparison.sh
. "$ROOT/scripts/lib/frame-comparison.sh"
cd "$ROOT" || exit 1

WORK=$(mktemp -d "${TMPDIR:-/tmp}/crestdoubler-cluster.XXXXXX")
trap 'rm -rf "$WORK"' EXIT

[ "$(id -u)" -eq 0 ] || skip_or_fail "the test cluster runs its daemons as root"
for tool in ffmpeg ffprobe cmake; do
  command -v "$tool" >/dev/null || skip_or_fail "$tool is not installed"
done
have_slurm() { command -v slurmctld >/dev/null && command -v slurmd >/dev/null && command -v munged >/dev/null; }
if ! have_slurm; then
  echo "== installing slurm-wlm and munge"
  command -v apt-get >/dev/null || skip_or_fail "Slurm is not installed and there is no apt-get"
  install() { DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 install -y slurm-wlm munge; }
  logged "$WORK/apt.log" install ||
    { apt-get -o DPkg::Lock::Timeout=600 update >/dev/null 2>&1 && logged "$WORK/apt.log" install; } ||
    skip_or_fail "slurm-wlm and munge cannot be installed"
  have_slurm || skip_or_fail "slurmctld, slurmd or munged is not on PATH ($PATH)"
fi

echo "== build the command"
logged "$WORK/build.log" bash -c 'cmake --preset default && cmake --build --preset default -j2 --target crestdoubler' ||
  fail "building the command"
export CRESTDOUBLER="$ROOT/build/crestdoubler"

# munged wants its socket's folders open to all, and its key private.
chmod 755 "$WORK"
mkdir -p "$WORK/munge" "$WORK/state" "$WORK/spool" "$WORK/log" "$WORK/files"
mkdir -m 700 "$WORK/munge-key"
pids=()
stop_cluster() {
  if [ -f "$WORK/slurm.conf" ] && [ -n "$(squeue -h -o %i 2>/dev/null)" ]; then
    scancel --full --user=root 2>/dev/null
    for _ in $(seq 30); do [ -z "$(squeue -h -o %i 2>/dev/null)" ] && break; sleep 1; done
  fi
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
  for pid in "${pids[@]}"; do
    for _ in $(seq 20); do kill -0 "$pid" 2>/dev/null || break; sleep 0.5; done
    kill -KILL "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
  done
  [ -f "$WORK/munge/munged.pid" ] && kill "$(cat "$WORK/munge/munged.pid")" 2>/dev/null
  rm -rf "$WORK"
}
trap stop_cluster EXIT
# A failing check leaves the daemons' logs on screen before they go.
cluster_fail() {
  tail -n 20 "$WORK"/log/*.log 2>/dev/null
  fail "$1"
}

echo "== start a one-node cluster in $WORK"
dd if=/dev/urandom of="$WORK/munge-key/munge.key" bs=1024 count=1 status=none && chmod 400 "$WORK/munge-key/munge.key"
munged --key-file="$WORK/munge-key/munge.key" --socket="$WORK/munge/socket" --pid-file="$WORK/munge/munged.pid" \
  --seed-file="$WORK/munge-key/seed" --log-file="$WORK/log/munged.log" || skip_or_fail "munged does not start here"

# Two free ports, for slurmctld and slurmd.
ports=()
for port in $(seq 16817 16999); do
  (echo >"/dev/tcp/127.0.0.1/$port") 2>/dev/null && continue
  ports+=("$port")
  [ "${#ports[@]}" -eq 2 ] && break
done
cat >"$WORK/slurm.conf" <<CONF
ClusterName=crestdoubler-test
SlurmctldHost=localhost(127.0.0.1)
SlurmctldPort=${ports[0]}
SlurmdPort=${ports[1]}
SlurmUser=root
SlurmdUser=root
AuthType=auth/munge
CredType=cred/munge
AuthInfo=socket=$WORK/munge/socket
StateSaveLocation=$WORK/state
SlurmdSpoolDir=$WORK/spool
SlurmctldPidFile=$WORK/slurmctld.pid
SlurmdPidFile=$WORK/slurmd.pid
SlurmctldLogFile=$WORK/log/slurmctld.log
SlurmdLogFile=$WORK/log/slurmd.log
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
SelectType=select/cons_tres
SelectTypeParameters=CR_CPU
MpiDefault=none
SwitchType=switch/none
ReturnToService=2
NodeName=crestnode NodeHostname=$(hostname) NodeAddr=127.0.0.1 CPUs=$(nproc) State=UNKNOWN
PartitionName=test Nodes=crestnode Default=YES MaxTime=INFINITE State=UP
CONF
export SLURM_CONF="$WORK/slurm.conf"
unset SBATCH_PARTITION SBATCH_ACCOUNT SBATCH_TIMELIMIT
slurmctld -D -f "$SLURM_CONF" >"$WORK/log/slurmctld.out" 2>&1 &
pids+=($!)
slurmd -D -N crestnode -f "$SLURM_CONF" >"$WORK/log/slurmd.out" 2>&1 &
pids+=($!)
for _ in $(seq 60); do
  [ "$(sinfo -h -n crestnode -o %t 2>/dev/null)" = idle ] && break
  sleep 0.5
done
[ "$(sinfo -h -n crestnode -o %t 2>/dev/null)" = idle ] || {
  tail -n 20 "$WORK"/log/*.out
  skip_or_fail "the Slurm daemons do not start here"
}
scontrol ping | grep -q UP || skip_or_fail "slurmctld does not answer"
echo "node crestnode idle, slurmctld on port ${ports[0]}, slurmd on ${ports[1]}"

FILES="$WORK/files"
FILM="$ROOT/scripts/cluster/slurm-film.sh"
PICTURES="$ROOT/scripts/cluster/slurm-pictures.sh"
ffmpeg_quiet() { ffmpeg -nostdin -v error -y "$@"; }
video_frames() { ffmpeg_quiet -i "$1" -map 0:v -fps_mode passthrough -f framemd5 - | grep -v '^#'; }
frame_times() { ffprobe -v error -select_streams v -show_entries frame=pts_time -of default=nw=1 "$1"; }
# Packets of one kind as they are stored: timestamps, sizes and contents.
packets() { ffmpeg_quiet -copyts -i "$1" -map "0:$2" -c copy -f framemd5 - | grep -v '^#'; }
chapters_and_title() {
  ffprobe -v error -show_entries chapter=start_time,end_time:chapter_tags=title:format_tags=title -of default=nw=1 "$1"
}
same() {
  cmp -s <(eval "$2") <(eval "$3") || cluster_fail "$1"
}

# A clip with a tone, subtitles and two chapters; "vfr" slows it after frame 10.
make_clip() {
  local file=$1 timing=$2 size=${3:-160x120} seconds=${4:-2}
  printf '1\n00:00:00,200 --> 00:00:01,000\nOne\n\n2\n00:00:01,200 --> 00:00:01,800\nTwo\n' >"$FILES/subtitles.srt"
  printf ';FFMETADATA1\ntitle=Clip\n[CHAPTER]\nTIMEBASE=1/1000\nSTART=0\nEND=900\ntitle=One\n[CHAPTER]\nTIMEBASE=1/1000\nSTART=900\nEND=2000\ntitle=Two\n' \
    >"$FILES/chapters.txt"
  local filter=null
  [ "$timing" = vfr ] && filter="setpts='if(lt(N,10),N,N*1.5-5)/25/TB'"
  ffmpeg_quiet -f lavfi -i "testsrc2=size=$size:rate=25:duration=$seconds" -f lavfi -i "sine=duration=$seconds" \
    -i "$FILES/subtitles.srt" -i "$FILES/chapters.txt" -map 0 -map 1 -map 2 -map_metadata 3 -map_chapters 3 \
    -vf "$filter" -fps_mode vfr -c:v libx264 -g 12 -bf 3 -pix_fmt yuv420p -c:a flac -c:s srt "$file" ||
    fail "making $file"
}

for timing in cfr vfr; do
  echo "== lossless film, $timing, 3 pieces on 3 tasks"
  clip="$FILES/$timing.mkv"
  make_clip "$clip" "$timing"
  "$CRESTDOUBLER" --piece-frames 20 --codec ffv1 "$clip" "$FILES/$timing-single.mkv" || fail "the single run of $clip"
  "$FILM" --segments 3 --wait --piece-frames 20 --codec ffv1 "$clip" "$FILES/$timing-cluster.mkv" ||
    cluster_fail "slurm-film.sh on $clip"
  [ ! -e "$FILES/.$timing-cluster.mkv.parts" ] || cluster_fail "the work folder is left after a join"
  same "$timing: the frames differ from a single run's" "video_frames $FILES/$timing-single.mkv" "video_frames $FILES/$timing-cluster.mkv"
  same "$timing: the video packets differ from a single run's" "packets $FILES/$timing-single.mkv v" "packets $FILES/$timing-cluster.mkv v"
  same "$timing: the frame times differ from a single run's" "frame_times $FILES/$timing-single.mkv" "frame_times $FILES/$timing-cluster.mkv"
  same "$timing: the audio packets differ from the source's" "packets $clip a" "packets $FILES/$timing-cluster.mkv a"
  same "$timing: the subtitles differ from the source's" "packets $clip s" "packets $FILES/$timing-cluster.mkv s"
  same "$timing: chapters or title lost" "chapters_and_title $clip" "chapters_and_title $FILES/$timing-cluster.mkv"
  [ "$(frame_times "$clip" | wc -l)" -eq 50 ] || fail "the $timing clip does not have 50 frames"
done

echo "== H.264 film, 3 pieces on 3 tasks"
x264=(--piece-frames 20 --encoder-option mbtree=0)
"$CRESTDOUBLER" "${x264[@]}" "$FILES/vfr.mkv" "$FILES/h264-single.mkv" || fail "the single H.264 run"
"$FILM" --segments 3 --wait "${x264[@]}" "$FILES/vfr.mkv" "$FILES/h264-cluster.mkv" || cluster_fail "slurm-film.sh with H.264"
same "H.264: the video packets differ from a single run's" "packets $FILES/h264-single.mkv v" "packets $FILES/h264-cluster.mkv v"
ffprobe -v error -select_streams v -show_entries stream=codec_name -of csv=p=0 "$FILES/h264-cluster.mkv" | grep -qx h264 ||
  fail "H.264: the joined video is not H.264"

echo "== pictures, 2 tasks, one bad file"
mkdir -p "$FILES/pictures" "$FILES/single"
for i in 1 2 3 4 5; do
  ffmpeg_quiet -f lavfi -i "testsrc2=size=80x60" -vf "hue=h=$((i * 60))" -frames:v 1 "$FILES/pictures/p$i.png" ||
    fail "making p$i.png"
done
echo "not a picture" >"$FILES/pictures/bad.png"  # first in order: task 0 has it
"$CRESTDOUBLER" -o "$FILES/single" "$FILES/pictures" 2>/dev/null
"$PICTURES" --tasks 2 --wait "$FILES/enlarged" "$FILES/pictures" 2>"$FILES/pictures.err"
status=$?
[ "$status" -eq 1 ] || cluster_fail "slurm-pictures.sh exited $status with a bad picture, not 1"
grep -q "task 0 ended FAILED" "$FILES/pictures.err" || fail "no message about task 0: $(cat "$FILES/pictures.err")"
grep -q "task 1 ended" "$FILES/pictures.err" && fail "task 1 is said to have failed: $(cat "$FILES/pictures.err")"
[ "$(cd "$FILES/enlarged" && ls -A | tr '\n' ' ')" = ".crestdoubler-task-0000.log p1.png p2.png p3.png p4.png p5.png " ] ||
  fail "the output folder holds $(ls -A "$FILES/enlarged")"
for i in 1 2 3 4 5; do
  cmp -s "$FILES/single/p$i.png" "$FILES/enlarged/p$i.png" || fail "p$i.png differs from a single run's"
done

echo "== a task cancelled mid-way, then the same command again"
make_clip "$FILES/long.mkv" cfr 320x240 12
"$CRESTDOUBLER" --piece-frames 100 "$FILES/long.mkv" "$FILES/long-single.mkv" || fail "the single run of long.mkv"
work="$FILES/.long-2x.mkv.parts"
"$FILM" --segments 3 --cpus-per-task 1 --wait --piece-frames 100 "$FILES/long.mkv" "$FILES/long-2x.mkv" >"$FILES/cancel.out" 2>&1 &
film=$!
for _ in $(seq 600); do
  compgen -G "$work/.piece-000001.part-*" >/dev/null && break
  sleep 0.1
done
job=$(sed -n 's/^segments: job \([0-9]*\).*/\1/p' "$FILES/cancel.out")
[ -n "$job" ] || { kill "$film"; cluster_fail "no task job: $(cat "$FILES/cancel.out")"; }
scancel "${job}_1"
wait "$film"
status=$?
[ "$status" -eq 1 ] || cluster_fail "slurm-film.sh exited $status after a cancelled task, not 1"
[ ! -e "$FILES/long-2x.mkv" ] || fail "OUT was written although a task was cancelled"
grep -q "task 1 of 3 (pieces 1 to 1) ended CANCELLED" "$FILES/cancel.out" ||
  fail "no message naming task 1: $(cat "$FILES/cancel.out")"
grep -q "the finished pieces are kept in $work: the same command resumes" "$FILES/cancel.out" ||
  fail "no message about the pieces kept: $(cat "$FILES/cancel.out")"
[ -e "$work/piece-000000.entry" ] || fail "piece 0 was not kept"
"$FILM" --segments 3 --cpus-per-task 1 --wait --piece-frames 100 "$FILES/long.mkv" "$FILES/long-2x.mkv" >"$FILES/resume.out" 2>&1 ||
  cluster_fail "slurm-film.sh run again: $(cat "$FILES/resume.out")"
grep -q "resuming long-2x.mkv: 2 of 3 pieces done" "$FILES/resume.out" ||
  fail "the second run did not resume: $(cat "$FILES/resume.out")"
[ ! -e "$work" ] || fail "the work folder is left after the join"
same "resumed: the frame times differ from a single run's" "frame_times $FILES/long-single.mkv" "frame_times $FILES/long-2x.mkv"
same "resumed: the audio packets differ from a single run's" "packets $FILES/long-single.mkv a" "packets $FILES/long-2x.mkv a"

echo "PASS: films and pictures on the one-node cluster are what single runs write"
