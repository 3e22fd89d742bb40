# Test cases of the shared test programs that are left out of the Windows build, by program, as
# --gtest_filter patterns. Each asserts what POSIX does; the Windows behaviour they stand for is
# covered in tests/win where it matters.

# The port table maps numbers to device paths only on POSIX; on Windows port n is always
# \\.\COMn (tests/win/port_table_win_test.cpp). The scan reads /dev/serial/by-path symlinks.
set(posix_only_cases_transport
    PortTableTest.NewDeviceGetsTheLowestFreeNumberAndKeepsIt
    PortTableTest.ADeviceHasOneNumber
    PortTableTest.SaveAndLoadSectionPortsKeepingTheRestOfTheFile
    PortTableTest.LoadKeepsTheFirstNumberOfADeviceListedTwice
    PortScan.*)

# Image paths are built with '/' on POSIX and '\' on Windows (tests/win/paths_win_test.cpp).
set(posix_only_cases_jobs
    DownloadPlan.PathsComeFromTheFolderAndItsNameAndAddressesFromTheirTexts
    DownloadPlan.FolderEndingInASeparatorGivesDoubledSeparators)

set(posix_only_cases_config
    # '/' paths and LF in new files; on Windows '\' and CRLF (tests/win/settings_win_test.cpp).
    SettingsTest.FirstStartInAnEmptyFolderGivesTheDefaults
    SettingsTest.SavedSettingsAndJobReadBackTheSame
    SettingsTest.AHandEditedFileKeepsEverythingButTheWrittenValues
    SettingsTest.AnEmptyJobFileKeyFallsBackToTheDefaultJob
    SettingsTest.AGivenJobFileIsLoadedAndRememberedAtTheNextSave
    SettingsTest.AnEmptyJobPathSkipsTheJobFile
    SettingsTest.LongTextsAreCutToTheirCapacitiesButPathsAreNever
    SettingsTest.AJobPathTooLongForItsSettingLoadsNoJobAndIsNotRewrittenCut
    SettingsTest.InitDirectoryTakesTheCurrentFolder
    SettingsSplitCodePath.BaseNameIsTheSeparatorAndTheLastComponent
    IniWrite.CreatesFileSectionAndKey
    IniWrite.NewSectionGoesAtTheEndAndAnUnterminatedLastLineIsEnded
    # UTF-8 as the narrow text and LF in a new section; on Windows the code page and CRLF
    # (tests/win/ini_oracle_test.cpp reads UTF-16 files with the Windows functions).
    IniUnicode.TextOutsideAsciiGoesThroughTheNarrowEncoding
    IniUnicode.AnEmptyUtf16FileGetsItsSectionInUtf16
    # A full disk made with RLIMIT_FSIZE, read-only folders and file modes, symbolic links.
    SettingsTest.AFailedSaveReturnsZeroAndKeepsTheOldFiles
    SettingsTest.AFolderWithoutWriteAccessFailsTheSave
    AtomicWrite.ReplacesTheFileAndLeavesNoTemporary
    AtomicWrite.FailureLeavesTheOldFileWholeAndSaysWhy
    AtomicWrite.ASymbolicLinkIsWrittenThroughToItsTarget
    AtomicFileWriterTest.AFailedWriteOrRenameRemovesTheTemporary
    # A 250-character name in the temporary folder is past MAX_PATH on Windows.
    AtomicFileWriterTest.AVeryLongNameStillGetsATemporary)

set(posix_only_cases_resources
    # Windows file systems ignore case: "B.txt" and "b.txt", "x.bin" and "X.BIN" are one file.
    ResourceScan.NameFilterIsCaseSensitiveAndAppliesToFolders
    ResourceScan.NamesAreTakenInByteOrderWhateverTheCreationOrder
    # '\' between folders on Windows (tests/win/paths_win_test.cpp).
    ResourceScan.PathsUsePlatformSeparatorAndNamesSlash
    # FIFOs, symbolic links and file modes.
    ResourceScan.SpecialFileWithADotIsRecordedEmptyAndNeverOpened
    ResourceScan.LinksBackUpTheTreeAreNotFollowed
    ResourceRefusal.UnreadableFileOrFolderIsAnErrorNotAnOmission)

# The output path is printed with '\' before the file name on Windows.
set(posix_only_cases_cli
    BuildRscCommand.WritesIntoTheFolderAndNamesTheOutput)

# SQLite's POSIX file layer without shared memory stands in for a folder that cannot hold a
# write-ahead log; Windows has no such layer to choose.
set(posix_only_cases_results
    ResultsSqlite.WhereNoWriteAheadLogCanBeKeptTheRollbackJournalKeepsTheRowsAndSaysSo)
