#include "history/HistoryCsv.h"

#include "framework/CodePage.h"
#include "settings/SpoolerSetup.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>

const char* const kHistoryColumns[kHistoryFields] = {
    "Time", "Job", "Path", "Copies asked", "Copies sent", "Output", "Result", "Pages (printer)"};

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
            e.pages};
}

bool EntryFromFields(const std::vector<std::string>& f, CHistoryEntry& e) {
    if (f.size() != kHistoryFields || f[0] == kHistoryColumns[0])
        return false;
    if (!ParseCount(f[3], e.copiesAsked) || !ParseCount(f[4], e.copiesSent))
        return false;
    e.time = f[0];
    e.name = RestoredField(f[1]);
    e.path = RestoredField(f[2]);
    e.output = RestoredField(f[5]);
    e.result = f[6];
    e.pages = f[7];
    return true;
}

std::vector<CHistoryEntry> DecodeHistory(const std::string& text) {
    std::vector<CHistoryEntry> entries;
    CHistoryEntry entry;
    WalkCsv(text, [&](std::vector<std::string>& fields, size_t) {
        if (EntryFromFields(fields, entry))
            entries.push_back(entry);
    });
    return entries;
}

std::string HistoryFileHeader() {
    return kBom + EncodeCsvRecord(
                      std::vector<std::string>(kHistoryColumns, kHistoryColumns + kHistoryFields));
}

std::string AnsiToUtf8(const CString& str) {
    std::wstring wide;
    std::string out;
    if (!NarrowToWide(str.GetString(), str.GetLength(), CP_ACP, wide) ||
        !WideToNarrow(wide.data(), static_cast<int>(wide.size()), CP_UTF8, out))
        return str.Str();
    return out;
}

CString Utf8ToAnsi(const std::string& str) {
    std::wstring wide;
    std::string out;
    if (!NarrowToWide(str.data(), static_cast<int>(str.size()), CP_UTF8, wide) ||
        !WideToNarrow(wide.data(), static_cast<int>(wide.size()), CP_ACP, out))
        return CString(str);
    return CString(out);
}

std::string LocalTimeStamp() {
    SYSTEMTIME t;
    GetLocalTime(&t);
    char buf[32];
    snprintf(buf, sizeof(buf), "%04u-%02u-%02uT%02u:%02u:%02u", t.wYear, t.wMonth, t.wDay, t.wHour,
             t.wMinute, t.wSecond);
    return buf;
}

CString OutputCaptionName(const CSpoolerSetup& setup) {
    switch (setup.m_nSpoolerType) {
    case SPOOLER_NULL:
        return "Null";
    case SPOOLER_WINDOWS:
        return setup.m_strSpoolerName;
    case SPOOLER_IP:
        return setup.GetIPAddressText();
    case SPOOLER_USB:
        return "USB";
    default:
        return CString();
    }
}

std::string ResultPrinted() {
    return "Printed";
}

std::string ResultRemoved(int nCopiesLeft) {
    return "Removed: " + std::to_string(nCopiesLeft) + (nCopiesLeft == 1 ? " copy" : " copies") +
           " left";
}

std::string ResultFailed(const char* pszReason) {
    return std::string("Failed: ") + (pszReason ? pszReason : "");
}
