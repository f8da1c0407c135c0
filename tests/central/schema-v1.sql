-- The central schema of version 1 (central/schema.sql and central/roles.sql as they were), for
-- the test of central/migrate-2.sql.
-- The central database of the weighing stations, version 1 (PostgreSQL 15 or newer). The program
-- runs this and central/roles.sql on its first connection when schema_version is missing and its
-- role may create tables; scripts/central-db runs the same files as the administrator. Every
-- statement may run again without harm.
CREATE TABLE IF NOT EXISTS schema_version (version integer NOT NULL);

CREATE TABLE IF NOT EXISTS weighing_lines (
  station  text        NOT NULL,  -- the station's name (Stacja in dodatki.ini)
  seq      bigint      NOT NULL,  -- the station journal's sequence number
  kind     text        NOT NULL CHECK (kind IN ('reading', 'report', 'gap')),
  first_at timestamptz NOT NULL,  -- the first line of the row
  last_at  timestamptz NOT NULL,  -- the last line of a run of identical readings
  count    bigint      NOT NULL,  -- lines in the row (for 'gap': lines the station skipped)
  text     text        NOT NULL,  -- the shown text (for 'gap': why lines were skipped)
  raw      bytea       NOT NULL,  -- the received bytes exactly
  value    numeric,               -- null unless a reading whose text is a number
  unit     text        NOT NULL,
  port     text        NOT NULL,
  PRIMARY KEY (station, seq)
);

-- One row per station: its last reading and when it was last seen. It reads with the rights of
-- whoever queries it, so the table's row-level security holds through it too.
CREATE OR REPLACE VIEW latest_weight WITH (security_invoker = true) AS
  SELECT DISTINCT ON (station) station, value, text, unit, port, last_at
    FROM weighing_lines
   WHERE kind = 'reading'
   ORDER BY station, seq DESC;

INSERT INTO schema_version (version)
  SELECT 1 WHERE NOT EXISTS (SELECT 1 FROM schema_version);
-- Who may do what in the central database, run after central/schema.sql by the administrator
-- (scripts/central-db does), or by the program in the same transaction when its role creates
-- the schema. Every statement may run again without harm.
--
-- waga_stations: the group of the stations' login roles (one per station, named as the
-- station's Stacja). A station may make temporary tables (its batches go through one), inserts its rows, reads only its own, and raises only count and
-- last_at of its own rows; it never deletes, never changes a row's content, never sees another
-- station's rows (not through latest_weight either: the view runs with the reader's rights).
-- waga_erp: reads every row, writes nothing. Logins and passwords are the administrator's:
--   CREATE ROLE brama LOGIN PASSWORD '...' IN ROLE waga_stations;
--   ALTER ROLE waga_erp LOGIN PASSWORD '...';
DO $roles$
BEGIN
  IF NOT EXISTS (SELECT FROM pg_roles WHERE rolname = 'waga_stations') THEN
    CREATE ROLE waga_stations NOLOGIN;
  END IF;
  IF NOT EXISTS (SELECT FROM pg_roles WHERE rolname = 'waga_erp') THEN
    CREATE ROLE waga_erp NOLOGIN;
    ALTER ROLE waga_erp SET default_transaction_read_only = on;
  END IF;
END
$roles$;

-- Row-level security binds the table's owner too, so a station that created the schema itself
-- is held to its own rows like the others.
ALTER TABLE weighing_lines ENABLE ROW LEVEL SECURITY;
ALTER TABLE weighing_lines FORCE ROW LEVEL SECURITY;

DROP POLICY IF EXISTS station_own_rows ON weighing_lines;
DROP POLICY IF EXISTS station_reads_own ON weighing_lines;
CREATE POLICY station_reads_own ON weighing_lines FOR SELECT TO waga_stations
  USING (station = current_user);
DROP POLICY IF EXISTS station_inserts_own ON weighing_lines;
CREATE POLICY station_inserts_own ON weighing_lines FOR INSERT TO waga_stations
  WITH CHECK (station = current_user);
DROP POLICY IF EXISTS station_updates_own ON weighing_lines;
CREATE POLICY station_updates_own ON weighing_lines FOR UPDATE TO waga_stations
  USING (station = current_user) WITH CHECK (station = current_user);
DROP POLICY IF EXISTS erp_reads_all ON weighing_lines;
CREATE POLICY erp_reads_all ON weighing_lines FOR SELECT TO waga_erp USING (true);

-- A station copies each batch into a temporary table of its session first.
DO $temporary$
BEGIN
  EXECUTE format('GRANT TEMPORARY ON DATABASE %I TO waga_stations', current_database());
END
$temporary$;

REVOKE ALL ON weighing_lines, schema_version, latest_weight FROM PUBLIC, waga_stations, waga_erp;
GRANT SELECT, INSERT ON weighing_lines TO waga_stations;
GRANT UPDATE (count, last_at) ON weighing_lines TO waga_stations;
GRANT SELECT ON schema_version TO waga_stations;
GRANT SELECT ON weighing_lines, schema_version, latest_weight TO waga_erp;
