#!/usr/bin/env bash
# README's commands, each as README writes it, in a fresh Debian root with a
# clean clone, as a new user would (docs/building.md).
#   tests/setup/fresh_root.sh        (as root; needs the Debian archive)
set -euo pipefail
cd "$(dirname "$0")/../.."
top=$PWD

run_command='tools/setup run && cmake -S . -B build && cmake --build build && LD_LIBRARY_PATH=build build/plc_do_test 1000 20000 25 35 0'
test_command='tools/run-tests'
standin_example='PLCSIM_OUTPUTS=25-30 PLCSIM_TRACE=trace.txt LD_LIBRARY_PATH=build build/plc_do_test 30 1000 25 35 0'
release_command='tools/release --check'
checksum_command='sha256sum -c SHA256SUMS'
install_command='cmake --install build-armhf --prefix DIR'
identity_command="grep -a '^plc_do_' plc_do_test plc_do_profile"
bench_command='bench/run'

fail() { echo "FAIL [fresh root]: $*" >&2; exit 1; }

for command in "$run_command" "$test_command" "$standin_example" "$release_command" \
               "$checksum_command" "$install_command" "$identity_command" "$bench_command"; do
    grep -qF -- "$command" README.md docs/*.md || fail "README and docs/ no longer show: $command"
done
[ "$(id -u)" -eq 0 ] || fail "needs root (debootstrap, chroot)"

release=$(. /etc/os-release && echo "$VERSION_CODENAME")
archive=$(tools/debian-archive) || fail "this machine's apt sources name no Debian archive"
if ! command -v debootstrap >/dev/null; then
    echo "=== setting up: apt-get install -y debootstrap ==="
    apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq debootstrap >/dev/null
fi

base=$(mktemp -d /var/tmp/fresh-root.XXXXXX)
root=$base/root
mounted=()
# --one-file-system: nothing still mounted in the root is removed with it.
clean_up() {
    local point
    for point in "${mounted[@]}"; do umount -l "$point" || true; done
    rm -rf --one-file-system "$base"
}
trap clean_up EXIT

echo "=== fresh root: debootstrap --variant=minbase $release ==="
started=$SECONDS
debootstrap --variant=minbase "$release" "$root" "$archive" >"$base/debootstrap.log" 2>&1 ||
    { tail -n 20 "$base/debootstrap.log"; fail "debootstrap failed"; }
echo "made in $((SECONDS - started)) s"
mount -t proc proc "$root/proc" && mounted+=("$root/proc")
mount --bind /dev "$root/dev" && mounted+=("$root/dev")

chroot "$root" useradd --create-home newcomer
project=/home/newcomer/plc_do_test
git clone --quiet --no-local "$top" "$root$project"
chroot "$root" chown -R newcomer: "$project"

# in_root USER [NAME=VALUE...] -- COMMAND: in the project, a clean environment,
# output also to $base/out; sets `status`.
in_root() {
    local user=$1 vars=() home=/root
    shift
    while [ "$1" != "--" ]; do vars+=("$1"); shift; done
    shift
    [ "$user" = root ] || home=/home/$user
    echo "=== fresh root, as $user${vars[*]:+ with ${vars[*]}}: $1 ==="
    local began=$SECONDS
    set +e
    chroot --userspec="$user:$user" "$root" /usr/bin/env -i \
        PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin HOME="$home" LANG=C.UTF-8 \
        "${vars[@]}" bash -c "cd $project && $1" 2>&1 | tee "$base/out"
    status=${PIPESTATUS[0]}
    set -e
    echo "=== status $status in $((SECONDS - began)) s ==="
}

in_root newcomer -- "$run_command"
[ "$status" -eq 1 ] || fail "as an ordinary user the run command ended with $status, expected 1"
grep -qF 'apt-get update && apt-get install -y --no-remove --no-install-recommends cmake make g++' "$base/out" ||
    fail "as an ordinary user the run command did not print the command to run as root"
grep -q 'Nothing can be built until then' "$base/out" || fail "no clear word that nothing can be built"
grep -q 'command not found' "$base/out" && fail "a command was missing instead of a clear stop"
[ -e "$root$project/build" ] && fail "as an ordinary user something was built"
chroot "$root" chown -R root: "$project"

in_root root -- "$run_command"
[ "$status" -eq 1 ] || fail "the run command ended with $status, expected 1 (a completed run)"
grep -q 'unit tests not built: GoogleTest is not installed' "$base/out" ||
    fail "the build without GoogleTest did not say that the unit tests were not built"
grep -q '^20\.\.30ms: ' "$base/out" || fail "the run command printed no report"

in_root root -- "apt-get install -y -q --no-install-recommends gcc-multilib >/dev/null && tools/setup test"
[ "$status" -eq 0 ] || fail "tools/setup test beside gcc-multilib ended with $status, expected 0 (suites skipped)"
chroot "$root" dpkg-query -W -f='${db:Status-Status}' gcc-multilib | grep -qx installed ||
    fail "tools/setup test removed gcc-multilib"
grep -q 'g++-[a-z0-9-]* is not installed: apt would remove .*gcc-multilib' "$base/out" ||
    fail "tools/setup test did not say that gcc-multilib kept the cross compilers out"
chroot "$root" apt-get remove -y -q gcc-multilib >/dev/null

in_root root CI=true -- "$test_command"
[ "$status" -eq 0 ] || fail "the test command ended with $status"

in_root root -- "$standin_example"
[ "$status" -eq 2 ] || fail "the stand-in example ended with $status, expected 2 (output 31 refused)"
grep -q '^write 31 0 -1$' "$root$project/trace.txt" || fail "the stand-in example wrote no trace"

in_root root -- "$release_command && cd dist && $checksum_command"
[ "$status" -eq 0 ] || fail "the release ended with $status"

scratch=/tmp/installed
in_root root -- "${install_command/DIR/$scratch} >/dev/null && cd $scratch/bin && $identity_command"
[ "$status" -eq 0 ] || fail "cmake --install or the identity command ended with $status"
commit=$(git -C "$root$project" rev-parse --short=12 HEAD)
for program in plc_do_test plc_do_profile; do
    grep -qx "$program:$program [0-9.]* armhf commit $commit" "$base/out" ||
        fail "the installed $program does not name commit $commit: $(tail -n 2 "$base/out")"
done

in_root root -- "$bench_command"
[ "$status" -eq 0 ] || fail "the benchmark ended with $status"

echo "fresh root: every README command passed in $((SECONDS - started)) s"
