-- Who may do what in the central database, run after central/schema.sql by the administrator
-- (scripts/central-db does). Every statement may run again without harm.
--
-- waga_stations: the group of the stations' login roles (one per station, named as the
-- station's Stacja). A station may make temporary tables (its batches go through one), inserts
-- its rows, reads only its own, and raises only count and last_at of its own rows (never lowers
-- them: schema.sql's trigger); it never deletes, never changes a row's content, never sees
-- another station's rows (not through latest_weight either: the view runs with the reader's
-- rights), and owns nothing.
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

-- Row-level security binds the table's owner (waga_owner) too.
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

-- A station creates no table of the database (it did when it made the schema itself, up to
-- version 1), and needs no temporary one: each batch is one statement with its rows as
-- parameters.
REVOKE CREATE ON SCHEMA public FROM waga_stations, waga_erp;

REVOKE ALL ON weighing_lines, schema_version, latest_weight FROM PUBLIC, waga_stations, waga_erp;
-- The partitions are the administrator's (scheduled, as waga_owner through the functions).
REVOKE ALL ON FUNCTION waga_make_partition(timestamptz), waga_make_partitions(integer)
  FROM PUBLIC;
GRANT SELECT, INSERT ON weighing_lines TO waga_stations;
GRANT UPDATE (count, last_at) ON weighing_lines TO waga_stations;
GRANT SELECT ON schema_version TO waga_stations;
GRANT SELECT ON weighing_lines, schema_version, latest_weight TO waga_erp;
