-- The team library's schema on PostgreSQL, version 1 (and the fleet's tables, version 1). The program creates it on first use when
-- its role may; an administrator who prefers to creates it with this file instead:
--     psql "service=kv9000" -f library.sql
-- and grants the roles what they may do, e.g. for the office, which may only read:
--     GRANT SELECT ON kv_meta, kv_downloads TO office;
-- and for the service engineers:
--     GRANT SELECT, INSERT ON kv_meta, kv_downloads TO engineers;
-- and for the collectors of the fleet, and the office that edits its list:
--     GRANT SELECT, INSERT ON kv_meta, kv_downloads TO collectors;
--     GRANT SELECT, INSERT, UPDATE ON kv_fleet_runs, kv_fleet_claims TO collectors;
--     GRANT USAGE ON SEQUENCE kv_fleet_runs_run_id_seq TO collectors;
--     GRANT SELECT ON kv_fleet TO collectors;
--     GRANT SELECT, INSERT, UPDATE, DELETE ON kv_fleet TO office;
BEGIN;
SELECT pg_advisory_xact_lock(9000);
CREATE TABLE IF NOT EXISTS kv_meta(
    key TEXT PRIMARY KEY,
    value TEXT NOT NULL);
INSERT INTO kv_meta(key, value) VALUES('schema_version', '1') ON CONFLICT (key) DO NOTHING;
CREATE TABLE IF NOT EXISTS kv_downloads(
    sha256 BYTEA PRIMARY KEY,                      -- SHA-256 of the archive image (32 bytes)
    serial INTEGER NOT NULL,                       -- the controller's serial number
    downloaded_at TIMESTAMPTZ,                     -- when it was downloaded; NULL: not known
    file_name TEXT NOT NULL,                       -- the name it was kept under
    contents BYTEA NOT NULL,                       -- the whole archive file (.kvarc), as kept
    sent_by TEXT NOT NULL DEFAULT current_user,    -- the role that sent it first
    sent_at TIMESTAMPTZ NOT NULL DEFAULT now());
-- A library created while the time was required accepts downloads of unknown time after:
ALTER TABLE kv_downloads ALTER COLUMN downloaded_at DROP NOT NULL;
-- The fleet list and the collections' shared runs, beside the downloads (the schema's version
-- stays 1, so that programs that know no fleet still sync; the fleet's own is fleet_schema).
CREATE TABLE IF NOT EXISTS kv_fleet(
    position INTEGER PRIMARY KEY,                  -- the controller's place in the list, from 1
    port TEXT NOT NULL,                            -- COM<n>, tcp://HOST:PORT, rfc2217://HOST:PORT
    address INTEGER NOT NULL,                      -- the controller's network address, 1 to 127
    name TEXT NOT NULL);                           -- free text
CREATE TABLE IF NOT EXISTS kv_fleet_runs(
    run_id BIGSERIAL PRIMARY KEY,
    started TIMESTAMPTZ NOT NULL DEFAULT now(),
    finished TIMESTAMPTZ);                         -- when nothing was left to read; NULL: open
CREATE TABLE IF NOT EXISTS kv_fleet_claims(
    run_id BIGINT NOT NULL REFERENCES kv_fleet_runs ON DELETE CASCADE,
    line INTEGER NOT NULL,                         -- the controller's line in the list as read
    port TEXT NOT NULL,                            -- the list's entry when the run was opened
    address INTEGER NOT NULL,
    name TEXT NOT NULL,
    collector TEXT,                                -- "HOST PID" of the collector that took it
    leased_until TIMESTAMPTZ,                      -- after this, another collector may take it
    done_at TIMESTAMPTZ,                           -- read (or failed after its tries); NULL: not
    outcome TEXT,                                  -- new, whole or failed: <cause>
    PRIMARY KEY(run_id, line));
INSERT INTO kv_meta(key, value) VALUES('fleet_schema', '1') ON CONFLICT (key) DO NOTHING;
COMMIT;
