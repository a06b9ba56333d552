#!/bin/bash
# Interrupts pelloran-mask at random moments, over and over, on a machine kept busy by other
# work, and counts the runs that ended within a second of the signal. Each run picks its
# signal (SIGINT, SIGTERM, SIGHUP), its -j (1 to 8) and its moment at random; the paths:
#   batch  a folder of sheets masked with --overwrite
#   stdin  a sheet through a pipe into "-", fed at a random pace, its mask to a reader
#   watch  -r --watch on a folder while sprites are saved into it
# After each run the private temporary folder must hold nothing: a scratch file left there
# is counted. Runs that ended before their signal are not counted as interrupted.
#
# usage: tools/interrupt-storm.sh [RUNS] [PATHS]
#   RUNS   runs in all (default 200)
#   PATHS  which paths, comma-separated (default batch,stdin,watch)
# Environment:
#   PELLORAN_BIN  where pelloran-mask was built (default build/release/bin)
#   BUSY          busy processes kept running beside the runs (default: one per core)
#   SEED          the random generator's seed (default: the time)
set -Eeuo pipefail
trap 'echo "$0: command failed at line $LINENO" >&2' ERR

runs=${1:-200}
paths=${2:-batch,stdin,watch}
here=$(cd "$(dirname "$0")" && pwd)
bin=${PELLORAN_BIN:-$here/../build/release/bin}
work=$(mktemp -d)
busy=()
cleanup() {
    for p in "${busy[@]}"; do kill "$p" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT
for ((i = 0; i < ${BUSY:-$(nproc)}; i++)); do
    sha256sum /dev/zero >/dev/null &
    busy+=($!)
done

python3 - "$bin/pelloran-mask" "$work" "$runs" "$paths" "${SEED:-}" <<'EOF'
import os, random, signal, struct, subprocess, sys, threading, time

program, work, runs, paths, seed = sys.argv[1], sys.argv[2], int(sys.argv[3]), sys.argv[4].split(','), sys.argv[5]
random.seed(int(seed) if seed else time.time_ns())
scratch = os.path.join(work, 'tmp')
os.makedirs(scratch)
env = dict(os.environ, TMPDIR=scratch)

def bmp(side, colour):
    # Stripes of `colour` on black, in rows broken by black ones.
    row = bytes(colour % 256 if (x // 48) % 3 else 0 for x in range(side * 3))
    rows = b''.join(row if y % 7 else bytes(side * 3) for y in range(side))
    return b'BM' + struct.pack('<IHHIIiiHHIIiiII', 54 + len(rows), 0, 0, 54, 40, side, side, 1, 24, 0,
                               len(rows), 2835, 2835, 0, 0) + rows

sheet = bmp(2048, 180)
folder = os.path.join(work, 'sheets')
os.makedirs(folder)
for i in range(24):
    with open(os.path.join(folder, 's%02d.bmp' % i), 'wb') as f:
        f.write(bmp(1024, 40 + i))

def feed(pipe, pace):
    try:
        for at in range(0, len(sheet), 1 << 16):
            pipe.write(sheet[at:at + (1 << 16)])
            time.sleep(pace)
        pipe.close()
    except (BrokenPipeError, ValueError, OSError):
        pass

def saver(stop):
    k = 0
    while not stop.is_set():
        k += 1
        target = os.path.join(folder, 's%02d.bmp' % (k % 24))
        with open(target + '.tmp~', 'wb') as f:
            f.write(bmp(1024, k))
        os.rename(target + '.tmp~', target)
        time.sleep(random.uniform(0, 0.3))

names = {signal.SIGINT: 'INT', signal.SIGTERM: 'TERM', signal.SIGHUP: 'HUP'}
tally = {p: dict(runs=0, signalled=0, within=0, slowest=0.0, left=0, before=0) for p in paths}
for n in range(runs):
    path = paths[n % len(paths)]
    sig = random.choice(list(names))
    jobs = random.randint(1, 8)
    stop = threading.Event()
    helper = None
    if path == 'batch':
        run = subprocess.Popen([program, '-j', str(jobs), '--overwrite', folder], env=env,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    elif path == 'stdin':
        run = subprocess.Popen([program, '-j', str(jobs), '-'], env=env, stdin=subprocess.PIPE,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        helper = threading.Thread(target=feed, args=(run.stdin, random.choice([0, 0.001, 0.01])))
    else:
        run = subprocess.Popen([program, '-j', str(jobs), '-r', '--watch', '--overwrite', folder],
                               env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        helper = threading.Thread(target=saver, args=(stop,))
    if helper:
        helper.start()
    time.sleep(random.uniform(0, 2.5))
    t = tally[path]
    t['runs'] += 1
    if run.poll() is not None:
        t['before'] += 1
    else:
        run.send_signal(sig)
        start = time.monotonic()
        try:
            run.wait(timeout=30)
        except subprocess.TimeoutExpired:
            run.kill()
            run.wait()
        took = time.monotonic() - start
        t['signalled'] += 1
        t['within'] += took <= 1.0
        t['slowest'] = max(t['slowest'], took)
        if took > 1.0:
            print('%s run %d (SIG%s, -j %d) took %.2f s after the signal' % (path, n, names[sig], jobs, took))
    stop.set()
    if helper:
        helper.join()
    left = os.listdir(scratch)
    if left:
        t['left'] += 1
        print('%s run %d left %s' % (path, n, left))
        for name in left:
            subprocess.run(['rm', '-rf', os.path.join(scratch, name)])
for p, t in tally.items():
    print('%-5s %d runs: %d signalled, %d ended within 1 s (slowest %.2f s), %d ended before '
          'the signal, %d left scratch files' % (p, t['runs'], t['signalled'], t['within'],
                                                 t['slowest'], t['before'], t['left']))
EOF
