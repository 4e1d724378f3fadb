-- The team library's schema on PostgreSQL, version 1. The program creates it on first use when
-- its role may; an administrator who prefers to creates it with this file instead:
--     psql "service=kv9000" -f library.sql
-- and grants the roles what they may do, e.g. for the office, which may only read:
--     GRANT SELECT ON kv_meta, kv_downloads TO office;
-- and for the service engineers:
--     GRANT SELECT, INSERT ON kv_meta, kv_downloads TO engineers;
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
COMMIT;
