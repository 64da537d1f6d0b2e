# Sourced: what this host can execute, decided by trying, since neither the
# kernel's configuration nor the installed packages tell (a hypervisor may
# refuse 32-bit code that the kernel was built to run).
#   VORLANE_HOST_32BIT=0|1  overrides the check (1 only where it is true)
#   VORLANE_BUILD           the folder of the build trees (default build/)

# The source tree, found from this file, whoever sources it.
VORLANE_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

# True when this host executes 32-bit x86 code: a 32-bit ELF program of 84
# bytes, written here, that only exits with code 42 through the 32-bit system
# call gate. An "Exec format error", a fault or any other code means no.
vorlane_host_runs_32bit() {
    case "${VORLANE_HOST_32BIT:-}" in
        0) return 1 ;;
        1) return 0 ;;
    esac
    if [ -z "${VORLANE_HOST_32BIT_CHECKED:-}" ]; then
        local probe rc=1
        probe="$(mktemp "${TMPDIR:-/tmp}/vorlane-i386.XXXXXX")"
        # ELF header, one loadable segment, then: mov eax,1; mov ebx,42; int 0x80
        printf '\177ELF\001\001\001\000\000\000\000\000\000\000\000\000' >"$probe"
        printf '\002\000\003\000\001\000\000\000\124\200\004\010\064\000\000\000' >>"$probe"
        printf '\000\000\000\000\000\000\000\000\064\000\040\000\001\000\000\000' >>"$probe"
        printf '\000\000\000\000\001\000\000\000\000\000\000\000\000\200\004\010' >>"$probe"
        printf '\000\200\004\010\140\000\000\000\140\000\000\000\005\000\000\000' >>"$probe"
        printf '\000\020\000\000\270\001\000\000\000\273\052\000\000\000\315\200' >>"$probe"
        chmod +x "$probe"
        ("$probe") >/dev/null 2>&1 && rc=0 || rc=$?
        rm -f "$probe"
        if [ "$rc" -eq 42 ]; then VORLANE_HOST_32BIT_CHECKED=yes; else VORLANE_HOST_32BIT_CHECKED=no; fi
        export VORLANE_HOST_32BIT_CHECKED
    fi
    [ "$VORLANE_HOST_32BIT_CHECKED" = yes ]
}

# The architecture a user's run takes: the 32-bit product where it runs,
# otherwise the 64-bit program.
vorlane_default_arch() {
    if vorlane_host_runs_32bit; then echo win32; else echo win64; fi
}

# The folder of the build trees, and the tree of one architecture in it.
vorlane_build_dir() {
    echo "${VORLANE_BUILD:-$VORLANE_ROOT/build}"
}
vorlane_tree() {
    echo "$(vorlane_build_dir)/$1"
}
