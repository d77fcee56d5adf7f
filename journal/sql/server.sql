-- The service journal on a workshop's PostgreSQL server (12 or later).
--
-- The programs create the tables themselves on a database that has none when
-- their role may create tables; an administrator who keeps that right to
-- himself runs this file once instead:
--
--   psql -d z58 -v ON_ERROR_STOP=1 -f server.sql
--
-- Everything up to the line "-- Rights" is what the programs run; the part
-- after it needs a role that may create roles.

CREATE TABLE IF NOT EXISTS z58_schema (
    version integer NOT NULL
);

-- One row per service job, keyed by the id the PC gave it: a record sent
-- twice is stored once, and a later revision of it replaces an earlier one,
-- never the other way round.
CREATE TABLE IF NOT EXISTS z58_record (
    id              uuid    PRIMARY KEY,
    revision        integer NOT NULL CHECK (revision > 0),
    started         text    NOT NULL,
    started_ms      bigint  NOT NULL,
    ended           text,
    pc              text    NOT NULL,
    os_user         text    NOT NULL,
    program         text    NOT NULL,
    version         text    NOT NULL,
    port            text    NOT NULL,
    serial          bigint  CHECK (serial BETWEEN 0 AND 4294967295),
    device_type     text    NOT NULL,
    firmware_before text    NOT NULL,
    firmware_after  text    NOT NULL,
    kind            text    NOT NULL CHECK (kind IN ('settings-read', 'settings-write', 'restore', 'backup',
                                                     'firmware', 'sound', 'report')),
    outcome         text    NOT NULL CHECK (outcome IN ('done', 'failed', 'declined', 'interrupted')),
    code            integer NOT NULL,
    reason          text    NOT NULL,
    -- The change list as KEY:from>to items joined by "|" (the CSV's form).
    changes         text    NOT NULL,
    -- The backup's settings text, its Windows-1251 bytes as saved.
    backup_text     bytea,
    backup_file     text    NOT NULL,
    series_id       text,
    unit_number     integer,
    received        timestamptz NOT NULL DEFAULT now()
);
CREATE INDEX IF NOT EXISTS z58_record_by_time ON z58_record (started_ms);
CREATE INDEX IF NOT EXISTS z58_record_by_serial ON z58_record (serial, started_ms);

INSERT INTO z58_schema (version) SELECT 1 WHERE NOT EXISTS (SELECT 1 FROM z58_schema);

-- Rights
-- The programs read records, add them and update them; nothing more. An update
-- may not touch a record's id, PC or start. Give each PC's login role this one:
--   CREATE ROLE workshop_pc1 LOGIN PASSWORD '...' IN ROLE z58_journal;
DO $$
BEGIN
    IF NOT EXISTS (SELECT 1 FROM pg_roles WHERE rolname = 'z58_journal') THEN
        CREATE ROLE z58_journal NOLOGIN;
    END IF;
END
$$;
REVOKE ALL ON z58_record, z58_schema FROM z58_journal;
GRANT SELECT ON z58_schema TO z58_journal;
GRANT SELECT, INSERT ON z58_record TO z58_journal;
GRANT UPDATE (revision, ended, os_user, program, version, port, serial, device_type, firmware_before,
              firmware_after, kind, outcome, code, reason, changes, backup_text, backup_file, series_id,
              unit_number, received)
    ON z58_record TO z58_journal;
