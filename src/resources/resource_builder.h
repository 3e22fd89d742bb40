#pragma once
// Resource binary builder: packs a folder tree of resource files into one flat file, a
// directory of 128-byte records followed by the files' data in 1024-byte-aligned blocks.
//
// Layout (N entries, multi-byte fields little-endian):
//   0                   128 x N directory records: name with '/' separators zero-filled to
//                       112 bytes, size u32, twelve bytes 0xFF
//   128 x N             128 x (8 - N mod 8) filler records of 0xFF (one to eight)
//   1024 x (N / 8 + 1)  each entry's data in table order, padded with 0xFF to a multiple of 1024
//
// The window and the command line both build through RESOURCE_BuildBinary. The entry table
// and its companions are plain process-wide state used by one build at a time on the
// building thread; RESOURCE_BuildBinary serialises whole builds.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

inline constexpr int kResourceMaxEntries = 1499;       // capacity of g_ResourceEntries
inline constexpr int kResourceMaxFolderNames = 700;    // names in one folder listing, "." and ".."
                                                       // included
inline constexpr std::size_t kResourceNameSize = 112;  // szName / szPath: 111 characters + NUL
inline constexpr std::size_t kResourceRecordSize = 128;
inline constexpr std::size_t kResourceBlockSize = 1024;

// The output file written into the chosen folder.
inline constexpr const char* kResourceBinaryName = "VORODOV_rsc.bin";
// Operator texts of the window's "Create Resource Binary" handler.
inline constexpr const char* kResourceStartPrompt =
    "Creating Resource binary. Click and Please Wait?";
inline constexpr const char* kResourceDoneText = "Resource Binary(VORODOV_rsc.bin) created!!  ";
// Channel 0 bar text while the data is written: percentage, files written, files in all.
inline constexpr const char* kResourceProgressFormat = "resource : %d%% [%d/%d]";

// One collected file.
struct RESOURCE_ENTRY {
    char szPath[kResourceNameSize];  // relative path with the platform separator; opens the file
    char szName[kResourceNameSize];  // relative path with '/'; zero after the terminator
    std::uint32_t dwSize;            // length measured during the scan
};

extern RESOURCE_ENTRY g_ResourceEntries[kResourceMaxEntries];
extern int g_nResourceCount;
extern char g_szResourceNamePrefix[260];    // '/' prefix of the folder being scanned
extern std::uint8_t g_bResourceScanNested;  // 0 before a build; 1 once the root call has begun
extern char g_szResourceOutPath[1024];      // root with trailing separator, then the output path

// Called after each entry's data block is written: k = 0 .. n-1 (k + 1 files written of n).
// The window shows RESOURCE_ProgressText(k, n) on channel 0's bar, range 0..n, position k.
using ResourceProgressFn = std::function<void(int k, int n)>;

// "resource : P% [k+1/n]" with P = floor(100 k / n), never more than 100.
std::string RESOURCE_ProgressText(int k, int n);

// True when a listed name is packed or entered: it holds none of ".bin", "cvs", "CVS"
// (case-sensitive substrings). Applies to files and folders alike.
bool RESOURCE_IsNameKept(std::string_view name);

// True for a hidden folder, which the scan skips with everything in it: a folder (path, links
// followed) whose name begins with a dot, as .git or .svn. Hidden files are packed.
bool RESOURCE_IsHiddenFolder(std::string_view name, const std::string& path);

// Lists root + relativeFolder (relativeFolder empty for the root itself; root ends with the
// platform separator) and appends every entry to the table in ascending byte order of the
// names within each folder, recursing into subfolders. A name holding a dot is a file (a
// folder so named is recorded with size 0 and not entered); a name without one is a folder
// (an extension-less file lists as nothing). Hidden folders are skipped (RESOURCE_IsHiddenFolder).
// Symbolic links back to a folder being scanned are not entered again.
// 1 on success; 0 when the tree exceeds the table's capacities, the root cannot be listed, a
// folder or file cannot be examined, or an entry taken as a file is not a regular readable file
// (a FIFO, a device, a link that leads to nothing; also a link taken as a folder that leads to
// nothing). The table then holds a partial scan (empty it with
// RESOURCE_ClearEntries) and *error says why.
int ScanResourceFolder(const std::string& relativeFolder, const std::string& root,
                       std::string* error = nullptr);

// Writes the table to outputPath (root + kResourceBinaryName when empty) through a temporary
// file renamed into place when complete. Each file's data is streamed and exactly dwSize
// bytes are taken from it. 1 on success; 0 when the output cannot be written or an input file
// can no longer be read or has shrunk since the scan: no output file is left then (an old one
// stays as it was) and *error says why. g_szResourceOutPath receives the output path.
int WriteResourceBinary(const std::string& root, const std::string& outputPath,
                        const ResourceProgressFn& progress, std::string* error = nullptr);

// The file a build writes: outputPath, or folder + separator + kResourceBinaryName when empty
// (no separator doubled).
std::string RESOURCE_OutputPath(const std::string& folder, const std::string& outputPath);

// Empties the table: every szName zeroed, count 0, name prefix empty, nesting flag 0.
void RESOURCE_ClearEntries();

// One whole build: root = folder with a trailing separator (stored in g_szResourceOutPath),
// scan, write to outputPath (folder/VORODOV_rsc.bin when empty), empty the table. A tree the
// scan refuses is refused before anything is written (*refused then true: the input is at
// fault, not the writing). 1 on success; 0 with *error on failure.
int RESOURCE_BuildBinary(const std::string& folder, const std::string& outputPath,
                         const ResourceProgressFn& progress, std::string* error = nullptr,
                         bool* refused = nullptr);
