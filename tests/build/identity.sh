#!/usr/bin/env bash
# A build names its commit, in a new repository of SOURCE_DIR's files: after a
# new commit the new one, compiling only what carries it; after an annotated
# tag still the commit; "+modified" for a changed file; nothing for no change.
#   identity.sh SOURCE_DIR WORK_DIR
set -u
source_dir=$1 work=$2
fail() { echo "FAIL [identity]: $*"; exit 1; }

rm -rf "$work"
mkdir -p "$work/src"
git -C "$source_dir" ls-files -z --cached --others --exclude-standard |
    (cd "$source_dir" && xargs -0 cp --parents -t "$work/src") || fail "could not copy $source_dir"
cd "$work/src"
commit() { git -c user.name=identity -c user.email=identity@localhost commit --quiet "$@"; }
git init --quiet && git add -A && commit -m "the tree under test" || fail "could not make a repository"
build() {
    cmake --build "$work/build" --target plc_do_test plc_do_profile >"$work/build.log" 2>&1 ||
        { tail -n 20 "$work/build.log"; fail "the build failed"; }
}
identity() { grep -a '^plc_do_test ' "$work/build/plc_do_test"; }
expect() {
    local wanted="commit $(git rev-parse --short=12 HEAD)$1"
    [[ "$(identity)" == *" $wanted" ]] || fail "$2: the program says [$(identity)], expected [... $wanted]"
}
changed_since() { [ "$1" -nt "$work/stamp" ]; }

cmake -S . -B "$work/build" -DBUILD_TESTING=OFF >"$work/configure.log" 2>&1 ||
    { cat "$work/configure.log"; fail "configuring failed"; }
build
expect "" "first build"

sleep 1
touch "$work/stamp"
build
changed_since "$work/build/plc_do_test" && fail "a rebuild with nothing changed linked the program again"

commit --allow-empty -m "another commit"
build
expect "" "rebuilt after a commit"
changed_since "$work/build/libplc_do_test_core.a" && fail "a new commit compiled the program's library again"

git -c user.name=identity -c user.email=identity@localhost tag -a v9.9.9 -m "a release" ||
    fail "could not tag"
build
expect "" "rebuilt after an annotated tag"

echo "# changed" >>README.md
build
expect "+modified" "rebuilt with a changed tracked file"
# plc_do_profile carries the same identity under its own name.
profile_identity=$(grep -a '^plc_do_profile ' "$work/build/plc_do_profile")
[ "$profile_identity" = "plc_do_profile $(identity | cut -d' ' -f2-)" ] ||
    fail "plc_do_profile says [$profile_identity], plc_do_test [$(identity)]"
echo "PASS [identity]: $(identity)"
