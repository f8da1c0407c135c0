-- Moves a central database of version 1 to version 2, keeping every row, in one transaction;
-- run by the administrator with psql from this folder's copy (it includes schema.sql and
-- roles.sql beside it):
--   psql -d waga -1 -v ON_ERROR_STOP=1 -f /usr/share/waga/central/migrate-2.sql
-- - weighing_lines becomes partitioned by month: its rows go into the new table, with a
--   partition for each month of the last five years (and the next) that holds rows; older or
--   later rows go to the default partition;
-- - the tables, the view and the functions belong to waga_owner, which no station is;
-- - a reading's value gets back the decimals it was shown with (17.70, not 17.7): the number of
--   its text, spaces removed and a comma read as the point, as the upload now sends it;
-- - count and last_at only grow (schema.sql's trigger).
-- The stations stop sending while it runs (the table is locked) and go on afterwards. On a
-- database of version 2 it changes nothing.
\set ON_ERROR_STOP on
SET client_min_messages = warning;
SELECT coalesce(max(version), 0) = 1 AS from_version_1 FROM schema_version \gset
\if :from_version_1
LOCK TABLE weighing_lines IN ACCESS EXCLUSIVE MODE;
DROP VIEW IF EXISTS latest_weight;
ALTER TABLE weighing_lines RENAME TO weighing_lines_v1;
ALTER INDEX weighing_lines_pkey RENAME TO weighing_lines_v1_pkey;
\ir schema.sql
SELECT count(waga_make_partition(month)) AS partitions_made
  FROM (SELECT DISTINCT date_trunc('month', first_at AT TIME ZONE 'UTC') AT TIME ZONE 'UTC'
          FROM weighing_lines_v1) AS months (month)
 WHERE month >= now() - interval '5 years' AND month < now() + interval '1 year' \gset
INSERT INTO weighing_lines (station, seq, kind, first_at, last_at, count, text, raw, value, unit,
                            port)
  SELECT station, seq, kind, first_at, last_at, count, text, raw,
         CASE WHEN kind = 'reading' AND value IS NOT NULL
                   AND length(text) <= 1000
                   AND replace(translate(text, ',', '.'), ' ', '')
                       ~ '^[+-]?([0-9]+[.]?[0-9]*|[.][0-9]+)$'
              THEN replace(translate(text, ',', '.'), ' ', '')::numeric
              ELSE value END,
         unit, port
    FROM weighing_lines_v1;
DO $kept$
DECLARE
  before bigint;
  after bigint;
BEGIN
  SELECT count(*) INTO before FROM weighing_lines_v1;
  SELECT count(*) INTO after FROM weighing_lines;
  IF before <> after THEN
    RAISE EXCEPTION 'version 2 holds % rows, version 1 held %: nothing changed', after, before;
  END IF;
END
$kept$;
DROP TABLE weighing_lines_v1;
UPDATE schema_version SET version = 2;
\ir roles.sql
\endif
