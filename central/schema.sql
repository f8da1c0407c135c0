-- The central database of the weighing stations, version 2 (PostgreSQL 15 or newer). The
-- administrator runs this and central/roles.sql (scripts/central-db does, as doc/central-server.md
-- tells); a station only checks the version and never creates or changes the schema. Every
-- statement may run again without harm. A database of version 1 moves to 2 with
-- central/migrate-2.sql.
--
-- Everything here belongs to waga_owner, a role that cannot log in and that no station is:
-- whoever owns the table may turn its row-level security off.
DO $owner$
BEGIN
  IF NOT EXISTS (SELECT FROM pg_roles WHERE rolname = 'waga_owner') THEN
    CREATE ROLE waga_owner NOLOGIN;
  END IF;
END
$owner$;
-- The monthly partitions are made by waga_owner (waga_make_partition runs with its rights).
GRANT CREATE ON SCHEMA public TO waga_owner;

CREATE TABLE IF NOT EXISTS schema_version (version integer NOT NULL);
ALTER TABLE schema_version OWNER TO waga_owner;

-- Partitioned by the month (UTC) of first_at, so that old months can be detached and archived.
-- A unique index of a partitioned table must hold the partition key, so the key is
-- (station, seq, first_at); that a seq is one line of its station is kept by the upload, which
-- stores no row whose seq the station holds centrally with another first_at.
CREATE TABLE IF NOT EXISTS weighing_lines (
  station  text        NOT NULL,  -- the station's name (Stacja in dodatki.ini)
  seq      bigint      NOT NULL,  -- the station journal's sequence number
  kind     text        NOT NULL CHECK (kind IN ('reading', 'report', 'gap')),
  first_at timestamptz NOT NULL,  -- the first line of the row
  last_at  timestamptz NOT NULL,  -- the last line of a run of identical readings
  count    bigint      NOT NULL,  -- lines in the row (for 'gap': lines the station skipped)
  text     text        NOT NULL,  -- the shown text (for 'gap': why lines were skipped)
  raw      bytea       NOT NULL,  -- the received bytes exactly
  value    numeric,               -- a reading's number with the decimals it was shown with
  unit     text        NOT NULL,
  port     text        NOT NULL,
  PRIMARY KEY (station, seq, first_at)
) PARTITION BY RANGE (first_at);
ALTER TABLE weighing_lines OWNER TO waga_owner;

-- Rows of a month that has no partition (a clock far off, a refill of old rows) land here;
-- waga_make_partition moves them into their month's partition when it is made.
CREATE TABLE IF NOT EXISTS weighing_lines_default PARTITION OF weighing_lines DEFAULT;
ALTER TABLE weighing_lines_default OWNER TO waga_owner;

-- A row's count and last_at only grow: a station may raise them (the run of identical readings
-- went on), never lower them, whoever it is.
CREATE OR REPLACE FUNCTION weighing_lines_only_grow() RETURNS trigger
  LANGUAGE plpgsql AS $grow$
BEGIN
  IF NEW.count < OLD.count OR NEW.last_at < OLD.last_at THEN
    RAISE EXCEPTION 'count and last_at of a row only grow (station %, seq %)', OLD.station, OLD.seq
      USING ERRCODE = 'check_violation';
  END IF;
  RETURN NEW;
END
$grow$;
ALTER FUNCTION weighing_lines_only_grow() OWNER TO waga_owner;
CREATE OR REPLACE TRIGGER only_grow BEFORE UPDATE ON weighing_lines
  FOR EACH ROW EXECUTE FUNCTION weighing_lines_only_grow();

-- Makes the partition of the month (UTC) that holds `day`, unless there is one, moving into it
-- the rows the default partition holds for that month. Returns its name, or null when it was
-- there already (attached, or detached and kept).
CREATE OR REPLACE FUNCTION waga_make_partition(day timestamptz) RETURNS text
  LANGUAGE plpgsql SECURITY DEFINER SET search_path = public, pg_temp AS $partition$
DECLARE
  month timestamp := date_trunc('month', day AT TIME ZONE 'UTC');
  name text := 'weighing_lines_' || to_char(month, 'YYYY_MM');
  low timestamptz := month AT TIME ZONE 'UTC';
  high timestamptz := (month + interval '1 month') AT TIME ZONE 'UTC';
BEGIN
  PERFORM pg_advisory_xact_lock(7215410022);  -- one maker at a time
  IF to_regclass(name) IS NOT NULL THEN
    RETURN NULL;
  END IF;
  EXECUTE format('CREATE TABLE %I (LIKE weighing_lines INCLUDING DEFAULTS INCLUDING CONSTRAINTS)',
                 name);
  EXECUTE format('WITH moved AS (DELETE FROM weighing_lines_default WHERE first_at >= %L'
                 ' AND first_at < %L RETURNING *) INSERT INTO %I SELECT * FROM moved',
                 low, high, name);
  EXECUTE format('ALTER TABLE weighing_lines ATTACH PARTITION %I FOR VALUES FROM (%L) TO (%L)',
                 name, low, high);
  RETURN name;
END
$partition$;
ALTER FUNCTION waga_make_partition(timestamptz) OWNER TO waga_owner;

-- The maintenance the administrator schedules (daily, say): the partitions of this month and of
-- the `ahead` months after it. Returns the names of those it made.
CREATE OR REPLACE FUNCTION waga_make_partitions(ahead integer DEFAULT 3) RETURNS SETOF text
  LANGUAGE sql SECURITY DEFINER SET search_path = public, pg_temp AS $partitions$
  SELECT made FROM generate_series(0, ahead) AS m,
         waga_make_partition(now() + make_interval(months => m)) AS made
   WHERE made IS NOT NULL;
$partitions$;
ALTER FUNCTION waga_make_partitions(integer) OWNER TO waga_owner;
DO $ahead$ BEGIN PERFORM waga_make_partitions(); END $ahead$;

-- One row per station: its last reading and when it was last seen. It reads with the rights of
-- whoever queries it, so the table's row-level security holds through it too.
CREATE OR REPLACE VIEW latest_weight WITH (security_invoker = true) AS
  SELECT DISTINCT ON (station) station, value, text, unit, port, last_at
    FROM weighing_lines
   WHERE kind = 'reading'
   ORDER BY station, seq DESC;
ALTER VIEW latest_weight OWNER TO waga_owner;

INSERT INTO schema_version (version)
  SELECT 2 WHERE NOT EXISTS (SELECT 1 FROM schema_version);
