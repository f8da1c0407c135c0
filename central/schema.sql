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
