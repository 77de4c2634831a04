// The job history's file format: one entry a record of a UTF-8 CSV file, a
// header record first, every field quoted, records ending in CRLF, so the
// file opens in a spreadsheet as it is. Plain functions and a value type;
// any thread, nothing shared.
#pragma once

#include <string>
#include <vector>

// One job that left the queue, or one copy that failed. Texts are UTF-8.
struct CHistoryEntry {
    std::string time; // local time, ISO 8601 with seconds
    std::string name;
    std::string path;
    int copiesAsked = 0;
    int copiesSent = 0;
    std::string output; // as the window's caption names it
    std::string result; // "Printed", "Removed: ..." or "Failed: ..."
    std::string pages;  // the printer's own page count, empty when unknown
    // The job run's id, unique across program runs, on an entry whose page
    // count may follow as a line of its own with the same id (a page line);
    // empty otherwise, and in files written before the column existed.
    std::string run;
    // Not stored: nonzero while the printer's page count for the entry may
    // still come (the worker's page token, CJobHistory::SetPages).
    unsigned long pageToken = 0;
};

// The fields an entry shows, in file order; the file has one more, the run
// id, last, so that the first ones keep their place in older files.
constexpr int kHistoryFields = 8;
constexpr int kHistoryFileFields = kHistoryFields + 1;
extern const char* const kHistoryColumns[kHistoryFileFields];

// One record: every field quoted (a quote doubled), separated by commas,
// ended by CRLF.
std::string EncodeCsvRecord(const std::vector<std::string>& fields);

// The whole records of a text, in order. A record ends at CRLF (or LF)
// outside quotes; text after the last such end is a record cut short and
// is left out. A leading UTF-8 byte order mark is skipped.
std::vector<std::vector<std::string>> DecodeCsv(const std::string& text);

// The length of the text's whole records: what stays of it once a record
// cut short at its end is dropped.
size_t CsvWholeLength(const std::string& text);

// What to do with the end of a history file before the next record goes
// after it. tail is the file's last bytes (bFileStart: they start the
// file). Only one unfinished record of ours is cut: it starts a line, opens
// with our quoted time stamp and is at most the rest of one record, with no
// line end outside quotes. Anything else stays as it is and the next record
// starts on a new line.
struct CTailRepair {
    size_t keep;         // the bytes of tail that stay
    std::string lineEnd; // written after them: "", "\n" or "\r\n"
};
CTailRepair RepairTornTail(const std::string& tail, bool bFileStart);

// A text field as it is written: one that a spreadsheet would take as a
// formula (it starts with =, +, -, @, a tab or a CR; or with a quote) gets
// a leading quote. RestoredField takes it off again.
std::string NeutralisedField(const std::string& text);
std::string RestoredField(const std::string& field);

// The file's fields, run id last.
std::vector<std::string> EntryFields(const CHistoryEntry& entry);
// False for the header and for a record that is not an entry (a field
// missing, a count that is not a number). A record of the older form, with
// no run id, is an entry without one.
bool EntryFromFields(const std::vector<std::string>& fields, CHistoryEntry& entry);

// A job's page count written after its line: result ResultPagesCounted(),
// the count in pages, the job's run id.
bool IsPageLine(const CHistoryEntry& entry);
// Folds each page line from entries[from] on into the entry before it with
// the same run id (its pages take the count) and drops it. A page line
// whose job is not there (its line was lost or is in a file no longer
// read) stays as an entry of its own, so no line of the file is hidden.
void FoldPageLines(std::vector<CHistoryEntry>& entries, size_t from = 0);

// Every entry record of a text, page lines unfolded, oldest first.
std::vector<CHistoryEntry> DecodeHistoryLines(const std::string& text);
// The entries of a history file's text, oldest first, page lines folded.
std::vector<CHistoryEntry> DecodeHistory(const std::string& text);

// The byte order mark and the header record that start every history file.
std::string HistoryFileHeader();

// The result of a page line.
std::string ResultPagesCounted();
