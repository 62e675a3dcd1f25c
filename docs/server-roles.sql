-- Roles for a veks12 journal shared on a PostgreSQL server.
--
-- Run it once per database that holds a journal, as the server's superuser
-- (postgres), connected to that database:
--
--   createdb veks12
--   psql -d veks12 -v ON_ERROR_STOP=1 -f docs/server-roles.sql
--
-- It makes three group roles, which cannot log in themselves:
--   veks12_owner   owns the schema veks12: creates the journal's tables on
--                  the first import and brings them to a newer version when a
--                  newer program first writes;
--   veks12_writer  imports archive copies, renames devices, merges journals,
--                  writes notes: reads and writes rows, changes no table;
--   veks12_reader  reads only: devices, report, export, stats, due, notes,
--                  check, backup. An import through it fails and changes
--                  nothing.
-- and one example user for each, which logs in and belongs to its group.
-- Give each person a user of their own (CREATE ROLE name LOGIN IN ROLE ...;
-- an owner's user also ALTER ROLE name SET role = 'veks12_owner', as below)
-- and set its password with psql's \password, never in a file like this.
--
-- A journal in another schema (the location's options=-csearch_path%3Dteam1)
-- needs the same grants on that schema: run the script again with the
-- schema's name replaced, the roles' names kept; the roles are made once.
--
--   sed 's/\<veks12\>/team1/g' docs/server-roles.sql | psql -d veks12 -v ON_ERROR_STOP=1
--
-- The whole script is one transaction: it runs whole or not at all.

BEGIN;

-- The group roles, made when missing, so that the script can run again for
-- another database of the same cluster.
DO $$
BEGIN
  IF NOT EXISTS (SELECT FROM pg_roles WHERE rolname = 'veks12_owner') THEN
    CREATE ROLE veks12_owner NOLOGIN;
  END IF;
  IF NOT EXISTS (SELECT FROM pg_roles WHERE rolname = 'veks12_writer') THEN
    CREATE ROLE veks12_writer NOLOGIN;
  END IF;
  IF NOT EXISTS (SELECT FROM pg_roles WHERE rolname = 'veks12_reader') THEN
    CREATE ROLE veks12_reader NOLOGIN;
  END IF;
END
$$;

-- Each of them may connect to this database. Where CONNECT was revoked from
-- PUBLIC (as it should be on a shared server), only these roles get in.
DO $$
BEGIN
  EXECUTE format('GRANT CONNECT ON DATABASE %I TO veks12_owner, veks12_writer, veks12_reader',
                 current_database());
END
$$;

-- The schema stands empty, made for its owner: the owner's first import
-- makes the journal in it, and needs no right to create schemas in the
-- database. Until then the others find no journal ("Журнал не найден").
CREATE SCHEMA IF NOT EXISTS veks12 AUTHORIZATION veks12_owner;
GRANT USAGE ON SCHEMA veks12 TO veks12_writer, veks12_reader;

-- The rights on what the schema holds, now and later. The tables do not
-- exist yet when this runs first (the owner makes them), and a newer
-- program may add tables when it migrates the journal: the default
-- privileges give those the same grants as they are made. They apply to
-- what veks12_owner itself creates, hence the owner's users act as
-- veks12_owner (below). The writer's UPDATE on the marker table
-- journal_info is needed too: every write counts itself there, so that
-- readers learn that the journal changed.
GRANT SELECT, INSERT, UPDATE, DELETE ON ALL TABLES IN SCHEMA veks12 TO veks12_writer;
GRANT SELECT ON ALL TABLES IN SCHEMA veks12 TO veks12_reader;
ALTER DEFAULT PRIVILEGES FOR ROLE veks12_owner IN SCHEMA veks12
  GRANT SELECT, INSERT, UPDATE, DELETE ON TABLES TO veks12_writer;
ALTER DEFAULT PRIVILEGES FOR ROLE veks12_owner IN SCHEMA veks12
  GRANT SELECT ON TABLES TO veks12_reader;

-- The ids of devices, segments, imports and notes are identity columns: an
-- insert draws from their sequences without any grant on them. USAGE lets
-- a writer draw from them by name as well, should a later version do so.
GRANT USAGE ON ALL SEQUENCES IN SCHEMA veks12 TO veks12_writer;
ALTER DEFAULT PRIVILEGES FOR ROLE veks12_owner IN SCHEMA veks12
  GRANT USAGE ON SEQUENCES TO veks12_writer;

-- The triggers that keep every version of a note call one function of the
-- schema. A trigger runs its function whatever the rights of the one who
-- writes, so no EXECUTE is granted: nobody needs to call it directly.

-- The rest needs nothing: the locks that keep imports of one device in
-- order are advisory locks, which every role may take, and readers read in
-- read-only transactions.

-- Example users, one per group; rename or copy them for real people.
DO $$
BEGIN
  IF NOT EXISTS (SELECT FROM pg_roles WHERE rolname = 'veks12_admin') THEN
    CREATE ROLE veks12_admin LOGIN IN ROLE veks12_owner;
  END IF;
  IF NOT EXISTS (SELECT FROM pg_roles WHERE rolname = 'veks12_engineer') THEN
    CREATE ROLE veks12_engineer LOGIN IN ROLE veks12_writer;
  END IF;
  IF NOT EXISTS (SELECT FROM pg_roles WHERE rolname = 'veks12_viewer') THEN
    CREATE ROLE veks12_viewer LOGIN IN ROLE veks12_reader;
  END IF;
END
$$;

-- The owner's user acts as veks12_owner from the moment it logs in, so that
-- every table it creates belongs to veks12_owner (and takes the default
-- privileges above), whichever person of the group made or migrated it.
ALTER ROLE veks12_admin SET role = 'veks12_owner';

COMMIT;
