#!/usr/bin/env bash
# Builds the program as an engineer with a controller maker's SDK does, and
# runs it: the SDK's own CMake toolchain file (its compilers, a sysroot, the
# find-root modes ONLY, -O2 of its own, and no emulator), and the maker's own
# libplc.so, which needs a second library of the maker (libplcbus.so beside
# it) besides the C++ runtime and POSIX threads. Checks that the build finds
# the ABI, the interpreter and the emulator from the compiler, adds no
# optimisation of its own, links without any search path going into the
# program, and that the program runs under that emulator with both of the
# maker's libraries on LD_LIBRARY_PATH.
#
#   sdk_build.sh SOURCE_DIR WORK_DIR CXX CC READELF TARGET_ROOT SYSROOT ABI INTERPRETER
# SYSROOT empty: the compiler has none (Debian's cross compilers), and one is
# made of links into TARGET_ROOT, as an SDK's would look.
set -u
source_dir=$1 work=$2 cxx=$3 cc=$4 readelf=$5 root=$6 sysroot=$7 abi=$8 interpreter=$9

fail() {
    echo "FAIL [sdk_build]: $*"
    exit 1
}

rm -rf "$work"
mkdir -p "$work/maker"
if [ -z "$sysroot" ]; then
    sysroot=$work/sysroot
    mkdir -p "$sysroot/usr"
    ln -s "$root/lib" "$sysroot/lib"
    ln -s "$root/lib" "$sysroot/usr/lib"
    ln -s "$root/include" "$sysroot/usr/include"
    ln -s "$root" "$sysroot/usr/$("$cxx" -dumpmachine)"
fi

cat >"$work/sdk.cmake" <<EOF
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(CMAKE_SYSROOT $sysroot)
set(CMAKE_C_COMPILER $cc)
set(CMAKE_CXX_COMPILER $cxx)
set(CMAKE_CXX_FLAGS_INIT "-O2 -pipe")
set(CMAKE_FIND_ROOT_PATH $sysroot)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
EOF

maker=$work/maker
"$cxx" --sysroot="$sysroot" -O2 -fPIC -shared -o "$maker/libplcbus.so" \
    "$source_dir/tests/build/maker/plcbus.cc" || fail "the maker's libplcbus.so did not build"
"$cxx" --sysroot="$sysroot" -O2 -fPIC -shared -o "$maker/libplc.so" \
    "$source_dir/tests/build/maker/plc.cc" -L"$maker" -lplcbus -pthread ||
    fail "the maker's libplc.so did not build"

build=$work/build
env -u CXXFLAGS cmake -S "$source_dir" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$work/sdk.cmake" \
    -DPLC_LIBRARY="$maker/libplc.so" -DBUILD_TESTING=OFF -DCMAKE_EXPORT_COMPILE_COMMANDS=ON \
    >"$work/configure.log" 2>&1 || { cat "$work/configure.log"; fail "configuring failed"; }
cmake --build "$build" --target plc_do_test >"$work/build.log" 2>&1 ||
    { tail -n 30 "$work/build.log"; fail "building against the maker's libplc.so failed"; }
grep -q 'instructions exist on' "$work/build.log" || fail "the instructions of the program were not checked"

program=$build/plc_do_test
grep -q '"command": .*-O2.*/run/main.cc' "$build/compile_commands.json" ||
    fail "the SDK's -O2 is not in the compile command"
grep -q '"command": .*-O3' "$build/compile_commands.json" && fail "the build added -O3 to the SDK's flags"
grep -aq "^plc_do_test [0-9.]* $abi commit " <(strings -a "$program") ||
    fail "the identity string does not name $abi: $(strings -a "$program" | grep -a '^plc_do_test ')"
cmake -DREADELF="$readelf" -DBINARY="$program" -DNEEDED=libc.so.6,libplc.so,librt.so.1 \
    -DINTERPRETER="$interpreter" -DOLD_LOADERS=ON -P "$source_dir/tests/build/check_binary.cmake" ||
    fail "the program is not fit to copy"
[ -f "$build/emulator" ] || fail "the build found no emulator: $(grep -A2 'cannot run here' "$work/configure.log")"

mapfile -t emulator <"$build/emulator"
LD_LIBRARY_PATH=$maker MAKER_LOG=$work/log "${emulator[@]}" "$program" 3 0 25 35 0 >"$work/stdout" 2>&1
status=$?
[ "$status" -eq 1 ] || { cat "$work/stdout"; fail "exit status $status, expected 1"; }
printf 'safe_value 25 1\nwrite 25 0\nwrite 26 1\nwrite 27 0\n' | cmp -s - "$work/log" ||
    { cat "$work/log"; fail "the maker's libraries did not receive the sweep's calls"; }
echo "PASS [sdk_build]: $abi, $(head -n 1 "$build/emulator") found, the maker's libplc.so and libplcbus.so used"
