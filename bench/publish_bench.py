#!/usr/bin/env python3
"""The shared catalogue on a PostgreSQL server: publish, incremental publish, find.

  publish_bench.py TAMBER WORKDIR [--quick] [--tree DIR] [--lib LIB.cds]

A throwaway cluster (initdb, pg_ctl; the server's settings as installed,
fsync on) runs in WORKDIR/pg. The library is the realistic tree of
../shared/datasets/gen_tree.py catalogued five times (1,100,000 entries;
--lib takes one already made, --quick a small tree).

Measured, in one run:
- publish of the whole library into an empty server (rows per second),
  against psql's \\copy of the same rows (export-csv's) into a table with
  the same columns and the same trigram index: what a user would do by hand;
- a publish after one small folder item changed, and one with nothing changed;
- find --server of a rare name once the server holds about 10,000,000 files
  (the library published ten times under ten ids), against the same search
  with tamber find --in over the ten library files.
"""
import os
import shutil
import statistics
import subprocess
import sys
import time

tamber, work = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
quick = "--quick" in sys.argv
given_tree = sys.argv[sys.argv.index("--tree") + 1] if "--tree" in sys.argv else None
given_lib = sys.argv[sys.argv.index("--lib") + 1] if "--lib" in sys.argv else None
os.makedirs(work, exist_ok=True)
env = dict(os.environ, XDG_CONFIG_HOME=os.path.join(work, "config"), XDG_DATA_HOME=os.path.join(work, "data"))
here = os.path.dirname(os.path.abspath(__file__))
copies = 2 if quick else 10
rare = "123457"


def programs():
    versions = sorted(os.listdir("/usr/lib/postgresql"), key=lambda v: int(v) if v.isdigit() else 0)
    return os.path.join("/usr/lib/postgresql", versions[-1], "bin")


def as_server(cmd):
    # The server does not run as root: there it runs as the packages' account.
    return (["runuser", "-u", "postgres", "--"] + cmd) if os.geteuid() == 0 else cmd


def tree():
    if given_tree:
        return given_tree
    root = os.path.join(work, "tree")
    if not os.path.exists(os.path.join(root, ".complete")):
        shutil.rmtree(root, ignore_errors=True)
        gen = os.path.join(here, "..", "..", "shared", "datasets", "gen_tree.py")
        subprocess.run([sys.executable, gen, root] + (["20000", "2000"] if quick else []), check=True,
                       stdout=subprocess.DEVNULL)
        open(os.path.join(root, ".complete"), "w").close()
    return root


def timed(cmd, **kw):
    started = time.monotonic()
    r = subprocess.run(cmd, env=env, check=True, **kw)
    return time.monotonic() - started, r


# The library, and its copies (each gets an id of its own when first published).
lib = os.path.join(work, "lib.cds")
if given_lib:
    shutil.copyfile(given_lib, lib)
elif not os.path.exists(lib + ".complete"):
    if os.path.exists(lib):
        os.remove(lib)
    subprocess.run([tamber, "new", lib], check=True, env=env, stdout=subprocess.DEVNULL)
    for i in range(5):
        subprocess.run([tamber, "-L", lib, "-q", "add-folder", tree(), "--label", "Drive %d" % (i + 1),
                        "--category", "Drives", "--no-thumbnails"], check=True, env=env, stdout=subprocess.DEVNULL)
    open(lib + ".complete", "w").close()
small = os.path.join(work, "small")
shutil.rmtree(small, ignore_errors=True)
os.makedirs(small)
for i in range(20):
    open(os.path.join(small, "note %d.txt" % i), "w").write("x" * i)
subprocess.run([tamber, "-L", lib, "-q", "add-folder", small, "--label", "Small", "--category", "Drives"],
               check=True, env=env, stdout=subprocess.DEVNULL)
libs = []
for i in range(copies):
    p = os.path.join(work, "copy%d.cds" % i)
    shutil.copyfile(lib, p)
    libs.append(p)

# The cluster.
pg = os.path.join(work, "pg")
if os.path.exists(pg):
    subprocess.run(as_server([os.path.join(programs(), "pg_ctl"), "-D", os.path.join(pg, "data"), "-m", "immediate",
                              "stop"]), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    shutil.rmtree(pg)
os.makedirs(pg)
if os.geteuid() == 0:
    os.chmod(work, 0o755)
    shutil.chown(pg, "postgres")
subprocess.run(as_server([os.path.join(programs(), "initdb"), "-D", os.path.join(pg, "data"), "-U", "tamber",
                          "--auth=trust", "--encoding=UTF8", "--locale=C.UTF-8"]), check=True,
               stdout=subprocess.DEVNULL)
subprocess.run(as_server([os.path.join(programs(), "pg_ctl"), "-D", os.path.join(pg, "data"), "-l",
                          os.path.join(pg, "log"), "-w", "-o", "-k %s -p 5440 -c listen_addresses=''" % pg,
                          "start"]), check=True, stdout=subprocess.DEVNULL)
url = "host=%s port=5440 user=tamber dbname=postgres" % pg
try:
    def psql(sql, **kw):
        return subprocess.run(["psql", "-X", "-q", "-tA", url, "-c", sql], check=True, capture_output=True,
                              text=True, env=env, **kw).stdout.strip()

    # The same rows by hand: export-csv, then \copy into a table like ours.
    csv = os.path.join(work, "rows.csv")
    subprocess.run([tamber, "-L", lib, "-q", "export-csv", "-o", csv], check=True, env=env,
                   stdout=subprocess.DEVNULL)
    columns = open(csv, encoding="utf-8").readline().strip().split(",")
    psql("CREATE EXTENSION IF NOT EXISTS pg_trgm; CREATE TABLE byhand (%s); "
         "CREATE INDEX byhand_path ON byhand USING gin (path gin_trgm_ops)"
         % ", ".join('"%s" text' % c for c in columns))
    hand, _ = timed(["psql", "-X", "-q", url, "-c", "\\copy byhand FROM '%s' WITH (FORMAT csv, HEADER)" % csv],
                    stdout=subprocess.DEVNULL)
    rows = int(psql("SELECT count(*) FROM byhand"))
    psql("DROP TABLE byhand")

    first, _ = timed([tamber, "-L", libs[0], "-q", "publish", "--to", url])
    files = int(psql("SELECT count(*) FROM tamber.files"))
    unchanged = min(timed([tamber, "-L", libs[0], "-q", "publish", "--to", url])[0] for _ in range(3))
    with open(os.path.join(small, "note 3.txt"), "a") as f:
        f.write("changed")
    subprocess.run([tamber, "-L", libs[0], "-q", "update", "Drives/Small"], check=True, env=env,
                   stdout=subprocess.DEVNULL)
    changed, _ = timed([tamber, "-L", libs[0], "-q", "publish", "--to", url])

    print("== publish (%d files; server as installed, fsync on)" % files)
    print("  tamber publish, empty server     %7.1f s  %9.0f rows/s" % (first, files / first))
    print("  psql \\copy of export-csv's rows  %7.1f s  %9.0f rows/s  (%d rows; ratio %.2f)"
          % (hand, rows / hand, rows, (files / first) / (rows / hand)))
    print("  publish, nothing changed         %7.2f s" % unchanged)
    print("  publish, one small item changed  %7.2f s" % changed)

    for p in libs[1:]:
        subprocess.run([tamber, "-L", p, "-q", "publish", "--to", url], check=True, env=env)
    psql("VACUUM ANALYZE tamber.files")
    total = int(psql("SELECT count(*) FROM tamber.files"))

    def best(cmd, n=7):
        times = []
        out = ""
        for _ in range(n):
            t, r = timed(cmd, capture_output=True, text=True)
            times.append(t)
            out = r.stdout.strip()
        return statistics.median(times) * 1000, out

    server_ms, hits = best([tamber, "find", rare, "--server", url, "-c"])
    local_args = [tamber, "find", rare, "-c"]
    for p in libs:
        local_args += ["--in", p]
    local_ms, local_hits = best(local_args, 3)
    print("== find of a rare name (\"%s\") over %d files in %d libraries" % (rare, total, copies))
    print("  tamber find --server       %7.1f ms  %s hits" % (server_ms, hits))
    print("  tamber find --in x%d       %7.1f ms  %s hits  (ratio %.2f)"
          % (copies, local_ms, local_hits, server_ms / local_ms))
    print("  server size: %s" % psql("SELECT pg_size_pretty(pg_database_size('postgres'))"))
finally:
    subprocess.run(as_server([os.path.join(programs(), "pg_ctl"), "-D", os.path.join(pg, "data"), "-m", "fast",
                              "stop"]), stdout=subprocess.DEVNULL)
