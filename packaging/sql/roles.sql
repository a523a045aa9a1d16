-- The roles of a shared history on a PostgreSQL server, least privilege
-- each. Run once by a superuser, connected to the history's database:
--
--   createdb rthistory
--   psql -d rthistory -f roles.sql
--
-- then give each role that logs in its password (\password in psql) and
-- put it in the password file of the machine that uses it; run again on
-- the same database, it changes nothing.
--
--   rtviewer_owner   owns the schema: creates and brings it forward with
--                    rthistory migrate --db postgresql://rtviewer_owner@HOST/rthistory
--                    and prunes (rthistory prune); nothing else changes it
--   rtviewer_writer  the recorders: reads and adds rows of the data tables,
--                    never deletes, alters or drops
--   rtviewer_reader  the viewers and rthistory's reading commands: reads

DO $$
BEGIN
    IF NOT EXISTS (SELECT FROM pg_roles WHERE rolname = 'rtviewer_owner') THEN
        CREATE ROLE rtviewer_owner LOGIN;
    END IF;
    IF NOT EXISTS (SELECT FROM pg_roles WHERE rolname = 'rtviewer_writer') THEN
        CREATE ROLE rtviewer_writer LOGIN;
    END IF;
    IF NOT EXISTS (SELECT FROM pg_roles WHERE rolname = 'rtviewer_reader') THEN
        CREATE ROLE rtviewer_reader LOGIN;
    END IF;
END
$$;

-- Nobody else makes tables here; the owner makes the history's.
REVOKE CREATE ON SCHEMA public FROM PUBLIC;
GRANT USAGE, CREATE ON SCHEMA public TO rtviewer_owner;
GRANT USAGE ON SCHEMA public TO rtviewer_writer, rtviewer_reader;

-- Every table the owner makes, now or in a later schema, is open to the
-- writer for reading and adding rows and to the reader for reading; the
-- row numbers come with the insert (identity columns).
ALTER DEFAULT PRIVILEGES FOR ROLE rtviewer_owner IN SCHEMA public
    GRANT SELECT, INSERT ON TABLES TO rtviewer_writer;
ALTER DEFAULT PRIVILEGES FOR ROLE rtviewer_owner IN SCHEMA public
    GRANT SELECT ON TABLES TO rtviewer_reader;

-- Tables the owner made before this was run (a store migrated first).
DO $$
DECLARE
    name text;
BEGIN
    FOR name IN SELECT tablename FROM pg_tables WHERE schemaname = 'public' AND tableowner = 'rtviewer_owner' LOOP
        EXECUTE format('GRANT SELECT, INSERT ON public.%I TO rtviewer_writer', name);
        EXECUTE format('GRANT SELECT ON public.%I TO rtviewer_reader', name);
    END LOOP;
END
$$;
