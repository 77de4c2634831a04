#include "history/HistoryCsv.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <unordered_map>

const char* const kHistoryColumns[kHistoryFileFields] = {
    "Time", "Job", "Path", "Copies asked", "Copies sent", "Output", "Result", "Pages (printer)",
    "Run"};

namespace {

// A first character a spreadsheet takes as the start of a formula; a
// quote is one too, so that a text that starts with one reads back as it was.
bool IsFormulaLead(char c) {
    return c == '=' || c == '+' || c == '-' || c == '@' || c == '\t' || c == '\r' || c == '\'';
}
const char kBom[] = "\xEF\xBB\xBF";

bool ParseCount(const std::string& text, int& n) {
    if (text.empty() || text.size() > 9)
        return false;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
    }
    n = atoi(text.c_str());
    return true;
}

// Walks the text record by record; onRecord gets each whole record and the
// offset just past its end.
template <typename F> void WalkCsv(const std::string& text, F onRecord) {
    size_t i = text.compare(0, 3, kBom) == 0 ? 3 : 0;
    std::vector<std::string> fields;
    std::string field;
    bool quoted = false;
    while (i < text.size()) {
        const char c = text[i++];
        if (quoted) {
            if (c != '"')
                field += c;
            else if (i < text.size() && text[i] == '"')
                field += text[i++];
            else
                quoted = false;
        } else if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            fields.push_back(std::move(field));
            field.clear();
        } else if (c == '\n' || (c == '\r' && i < text.size() && text[i] == '\n')) {
            if (c == '\r')
                ++i;
            fields.push_back(std::move(field));
            field.clear();
            onRecord(fields, i);
            fields.clear();
        } else {
            field += c;
        }
    }
}
} // namespace

std::string EncodeCsvRecord(const std::vector<std::string>& fields) {
    std::string out;
    for (size_t i = 0; i < fields.size(); ++i) {
        if (i)
            out += ',';
        out += '"';
        for (char c : fields[i]) {
            if (c == '"')
                out += '"';
            out += c;
        }
        out += '"';
    }
    out += "\r\n";
    return out;
}

std::vector<std::vector<std::string>> DecodeCsv(const std::string& text) {
    std::vector<std::vector<std::string>> records;
    WalkCsv(text, [&](std::vector<std::string>& fields, size_t) {
        records.push_back(std::move(fields));
    });
    return records;
}

size_t CsvWholeLength(const std::string& text) {
    size_t end = text.compare(0, 3, kBom) == 0 ? 3 : 0;
    WalkCsv(text, [&](std::vector<std::string>&, size_t next) { end = next; });
    return end;
}

namespace {
enum class RecordStart { NotOurs, Torn, Whole };

// What the text from i to its end is: one record of ours cut short, one
// whole record without its line end, or something else.
RecordStart ClassifyRecordStart(const std::string& text, size_t i) {
    // Our first field: a quoted local time stamp ('0' stands for a digit).
    static const char kForm[] = "\"0000-00-00T00:00:00\",";
    const size_t n = text.size();
    for (const char* f = kForm; *f; ++f, ++i) {
        if (i == n)
            return RecordStart::Torn;
        const char c = text[i];
        if (*f == '0' ? c < '0' || c > '9' : c != *f)
            return RecordStart::NotOurs;
    }
    for (int nFields = 1;;) {
        if (i == n)
            return RecordStart::Torn;
        if (text[i++] != '"')
            return RecordStart::NotOurs;
        for (;; ++i) {
            if (i == n)
                return RecordStart::Torn;
            if (text[i] == '"') {
                if (i + 1 < n && text[i + 1] == '"')
                    ++i;
                else
                    break;
            }
        }
        ++i;
        if (++nFields > kHistoryFileFields)
            return RecordStart::NotOurs;
        const bool bComplete = nFields >= kHistoryFields;
        if (i == n)
            return bComplete ? RecordStart::Whole : RecordStart::Torn;
        if (text[i] == ',') {
            ++i;
            continue;
        }
        // A CR at the very end: a whole record missing only its LF.
        return text[i] == '\r' && i + 1 == n && bComplete ? RecordStart::Whole
                                                          : RecordStart::NotOurs;
    }
}
} // namespace

CTailRepair RepairTornTail(const std::string& tail, bool bFileStart) {
    CTailRepair repair{tail.size(), ""};
    if (tail.empty() || tail.back() == '\n')
        return repair;
    repair.lineEnd = tail.back() == '\r' ? "\n" : "\r\n";
    // Each line start is tried, the earliest first: a line start inside one
    // of our quoted fields never looks like our time stamp (a quote in a
    // field is doubled), so the first that fits starts the last record.
    std::vector<size_t> starts;
    if (bFileStart)
        starts.push_back(tail.compare(0, 3, kBom) == 0 ? 3 : 0);
    for (size_t i = 0; i < tail.size(); ++i) {
        if (tail[i] == '\n')
            starts.push_back(i + 1);
    }
    for (size_t start : starts) {
        switch (ClassifyRecordStart(tail, start)) {
        case RecordStart::Torn:
            repair.keep = start;
            repair.lineEnd.clear();
            return repair;
        case RecordStart::Whole:
            return repair;
        case RecordStart::NotOurs:
            break;
        }
    }
    return repair;
}

std::string NeutralisedField(const std::string& text) {
    return !text.empty() && IsFormulaLead(text[0]) ? "'" + text : text;
}

std::string RestoredField(const std::string& field) {
    return field.size() > 1 && field[0] == '\'' && IsFormulaLead(field[1]) ? field.substr(1)
                                                                           : field;
}

std::vector<std::string> EntryFields(const CHistoryEntry& e) {
    // The texts others choose (a file's name and path, a printer's name)
    // never reach a spreadsheet as a formula.
    return {e.time,
            NeutralisedField(e.name),
            NeutralisedField(e.path),
            std::to_string(e.copiesAsked),
            std::to_string(e.copiesSent),
            NeutralisedField(e.output),
            e.result,
            e.pages,
            e.run};
}

bool EntryFromFields(const std::vector<std::string>& f, CHistoryEntry& e) {
    if ((f.size() != kHistoryFields && f.size() != kHistoryFileFields) ||
        f[0] == kHistoryColumns[0])
        return false;
    if (!ParseCount(f[3], e.copiesAsked) || !ParseCount(f[4], e.copiesSent))
        return false;
    e.time = f[0];
    e.name = RestoredField(f[1]);
    e.path = RestoredField(f[2]);
    e.output = RestoredField(f[5]);
    e.result = f[6];
    e.pages = f[7];
    e.run = f.size() > kHistoryFields ? f[kHistoryFields] : std::string();
    return true;
}

bool IsPageLine(const CHistoryEntry& e) {
    return !e.run.empty() && e.result == ResultPagesCounted();
}

void FoldPageLines(std::vector<CHistoryEntry>& entries, size_t from) {
    std::unordered_map<std::string, size_t> jobs;
    const auto note = [&](size_t i) {
        if (!entries[i].run.empty() && !IsPageLine(entries[i]))
            jobs[entries[i].run] = i;
    };
    for (size_t i = 0; i < from && i < entries.size(); ++i)
        note(i);
    size_t kept = from;
    for (size_t i = from; i < entries.size(); ++i) {
        if (IsPageLine(entries[i])) {
            const auto job = jobs.find(entries[i].run);
            if (job != jobs.end()) {
                entries[job->second].pages = entries[i].pages;
                continue;
            }
        }
        if (kept != i)
            entries[kept] = std::move(entries[i]);
        note(kept++);
    }
    if (kept < entries.size())
        entries.resize(kept);
}

std::vector<CHistoryEntry> DecodeHistoryLines(const std::string& text) {
    std::vector<CHistoryEntry> entries;
    CHistoryEntry entry;
    WalkCsv(text, [&](std::vector<std::string>& fields, size_t) {
        if (EntryFromFields(fields, entry))
            entries.push_back(entry);
    });
    return entries;
}

std::vector<CHistoryEntry> DecodeHistory(const std::string& text) {
    std::vector<CHistoryEntry> entries = DecodeHistoryLines(text);
    FoldPageLines(entries);
    return entries;
}

std::string HistoryFileHeader() {
    return kBom + EncodeCsvRecord(std::vector<std::string>(kHistoryColumns,
                                                           kHistoryColumns + kHistoryFileFields));
}

std::string ResultPagesCounted() {
    return "Pages counted";
}
