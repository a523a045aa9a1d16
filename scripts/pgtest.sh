# Sourced by test.sh: a throwaway PostgreSQL server for the shared store's
# tests. pg_test_start initialises a cluster in a temporary folder, owned by
# an unprivileged user (the package's "postgres" when run as root), listening
# on a free port of 127.0.0.1 and on a socket in that folder, trusting only
# those two (nothing else can reach it), and exports its address as
# RTVIEWER_TEST_PGURI; pg_test_stop stops it and removes the folder. The
# caller traps EXIT so that a failing or interrupted run stops it too.
#
# Where no server can be started the tests that need one skip, each saying
# why; the reason is printed here once as well.

pg_test_dir=
pg_test_bin=
pg_test_run=()

pg_test_start() {
    pg_test_bin=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -1)
    if [ -z "$pg_test_bin" ] || [ ! -x "$pg_test_bin/initdb" ]; then
        echo "==> no PostgreSQL server installed (package postgresql): the shared store's tests skip"
        return 0
    fi
    pg_test_run=()
    if [ "$(id -u)" -eq 0 ]; then
        if ! id postgres >/dev/null 2>&1; then
            echo "==> running as root without the postgres user: the shared store's tests skip"
            return 0
        fi
        pg_test_run=(runuser -u postgres --)
    fi
    pg_test_dir=$(mktemp -d "${TMPDIR:-/tmp}/rtviewer-pg.XXXXXX")
    chmod 700 "$pg_test_dir"
    [ "$(id -u)" -eq 0 ] && chown postgres: "$pg_test_dir"
    # No fsync: the cluster lives for one run, and the suite waits less.
    if ! "${pg_test_run[@]}" "$pg_test_bin/initdb" -D "$pg_test_dir/data" -U rtviewer -A trust -E UTF8 \
        --locale=C --no-sync >"$pg_test_dir/initdb.log" 2>&1; then
        cat "$pg_test_dir/initdb.log"
        echo "==> initdb failed: the shared store's tests skip"
        pg_test_stop
        return 0
    fi
    # A free port: another program may take a port between a look and the
    # start, so a start that fails is tried on another one.
    local attempt port
    for attempt in 1 2 3 4 5; do
        port=$((20000 + RANDOM % 40000))
        if "${pg_test_run[@]}" "$pg_test_bin/pg_ctl" -D "$pg_test_dir/data" -l "$pg_test_dir/server.log" -w -t 30 \
            -o "-c listen_addresses=127.0.0.1 -c port=$port -c unix_socket_directories=$pg_test_dir \
                -c fsync=off -c synchronous_commit=off -c full_page_writes=off -c max_connections=300 \
                -c shared_buffers=32MB" start >/dev/null 2>&1; then
            export RTVIEWER_TEST_PGURI="postgresql://rtviewer@127.0.0.1:$port/postgres"
            echo "==> PostgreSQL for the tests at $RTVIEWER_TEST_PGURI"
            return 0
        fi
    done
    tail -20 "$pg_test_dir/server.log" 2>/dev/null || true
    echo "==> the PostgreSQL server did not start: the shared store's tests skip"
    pg_test_stop
    return 0
}

pg_test_stop() {
    [ -n "$pg_test_dir" ] || return 0
    if [ -f "$pg_test_dir/data/postmaster.pid" ]; then
        "${pg_test_run[@]}" "$pg_test_bin/pg_ctl" -D "$pg_test_dir/data" -m immediate -w stop >/dev/null 2>&1 || true
    fi
    rm -rf "$pg_test_dir"
    pg_test_dir=
    unset RTVIEWER_TEST_PGURI
}
