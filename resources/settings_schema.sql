-- The prepared, empty settings database "Setlog.dll" that ships beside the
-- executables. The program never creates it: veltora-make-settings-db builds it
-- from this file at build time, and the installer copies it into place.
--
-- Conventions the program relies on:
--   * yes/no columns hold INTEGER 0 or 1 (baklog.baksuccess may be NULL);
--   * date-times are local time as text 'YYYY-MM-DD HH:MM:SS';
--   * readers treat a NULL text as '', a NULL number as 0 and a NULL yes/no as
--     false, so no column here is NOT NULL beyond the keys.

-- The settings, in exactly one row; every update is written without a WHERE.
CREATE TABLE bakset (
  softvernum INTEGER,   -- Kingdee edition index 0..3
  accountDir TEXT,      -- folder of the .AIS files (file editions)
  sqluser    TEXT,
  sqlpwd     TEXT,
  localuser  TEXT,
  localpwd   TEXT,
  remoteuser TEXT,
  remotepwd  TEXT,
  localbak   INTEGER,   -- yes/no
  remotebak  INTEGER,   -- yes/no
  localDir   TEXT,
  remoteDir  TEXT,      -- \\server\share\folder
  bakfilenum INTEGER,   -- backups to keep, 0 = no limit
  rarlevel   TEXT,      -- name of the compression level
  baktime    TEXT,      -- time of day 'HH:MM:SS'
  conout     INTEGER,   -- connection time-out, seconds
  sqlout     INTEGER,   -- command time-out, seconds
  btwdays    INTEGER,   -- days between backups
  safecheck  INTEGER,   -- yes/no: guard the SQL Server service
  rarpwd     TEXT,      -- archive password, '' = none
  lastbakday TEXT       -- last scheduled start, NULL until the first one
);

-- The account sets chosen at the last save. Lookups by name or number compare
-- ASCII letters without regard to case, as the Windows file names they hold do.
CREATE TABLE accountlist (
  accountid   TEXT COLLATE NOCASE DEFAULT '',  -- empty for the file editions
  accountname TEXT COLLATE NOCASE,
  dbname      TEXT
);

-- The backup table, newest row has the highest id. AUTOINCREMENT keeps ids
-- from being reused after the table has been trimmed.
CREATE TABLE baklog (
  id           INTEGER PRIMARY KEY AUTOINCREMENT,
  accountname  TEXT,
  localbakfile TEXT,
  rarpwd       TEXT,
  baksuccess   INTEGER,  -- 1 success, 0 failure, NULL for remote-copy rows
  bz           TEXT,
  baktime      TEXT DEFAULT (datetime('now', 'localtime'))
);

INSERT INTO bakset (softvernum, accountDir, sqluser, sqlpwd, localuser, localpwd,
                    remoteuser, remotepwd, localbak, remotebak, localDir, remoteDir,
                    bakfilenum, rarlevel, baktime, conout, sqlout, btwdays, safecheck,
                    rarpwd, lastbakday)
VALUES (0, '', '', '', '', '', '', '', 1, 0, '', '',
        7, '标准', '23:00:00', 27, 1800, 1, 0,
        '', NULL);
