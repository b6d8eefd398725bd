// fennix records: the runs a station recorded, listed or summed up, read
// from its database without changing it.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <nlohmann/json.hpp>

#include "Commands.h"
#include "RecordDb.h"
#include "RecordJson.h"
#include "StationCommands.h"

namespace fennix::station {

namespace {

using cli::kExitFailed;
using cli::kExitOk;
using cli::UsageError;
using records::RunJson;
using records::RunRecord;
using Json = nlohmann::ordered_json;

struct RecordsOptions {
    std::string db;
    records::RunFilter filter;
    std::string result;
    bool json = false, csv = false, summary = false;
};

std::string Dump(const Json& j) { return records::DumpJson(j); }

// RFC 4180: a field with a comma, a quote or a line break is quoted, its quotes doubled.
std::string CsvField(const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
    std::string quoted = "\"";
    for (char c : text) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    return quoted + "\"";
}

void PrintCsv(const std::vector<RunRecord>& runs) {
    bool header = true;
    for (const auto& run : runs) {
        const Json j = RunJson(run);
        if (header) {
            std::string line;
            for (const auto& [key, value] : j.items()) line += (line.empty() ? "" : ",") + key;
            std::printf("%s\r\n", line.c_str());
            header = false;
        }
        std::string line;
        bool first = true;
        for (const auto& [key, value] : j.items()) {
            const std::string field = value.is_null()      ? ""
                                      : value.is_string()  ? value.get<std::string>()
                                      : value.is_boolean() ? (value.get<bool>() ? "1" : "0")
                                                           : Dump(value);
            line += (first ? "" : ",") + CsvField(field);
            first = false;
        }
        std::printf("%s\r\n", line.c_str());
    }
    if (header)
        std::printf("%s\r\n",
                    "id,station,socket,port,operator,recipe,started_at,ended_at,result,cause,stage,"
                    "esn,imei,meid,version_before,version_after,build_id_before,build_id_after,"
                    "bytes,files,backup_path,backup_sha256,nv_verified,missing_items,lines,"
                    "tool_version,library_version");
}

std::string Seconds(std::optional<double> seconds) {
    if (!seconds) return "-";
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", *seconds);
    return text;
}

// Columns as wide as their widest cell, the last one left ragged.
void PrintTable(const std::vector<std::vector<std::string>>& rows) {
    std::vector<size_t> widths;
    for (const auto& row : rows)
        for (size_t i = 0; i < row.size(); ++i) {
            if (widths.size() <= i) widths.push_back(0);
            widths[i] = std::max(widths[i], row[i].size());
        }
    for (const auto& row : rows) {
        std::string line;
        for (size_t i = 0; i < row.size(); ++i) {
            line += row[i];
            if (i + 1 < row.size()) line += std::string(widths[i] - row[i].size() + 2, ' ');
        }
        std::printf("%s\n", line.c_str());
    }
}

void PrintRuns(const std::vector<RunRecord>& runs) {
    if (runs.empty()) {
        std::printf("No runs.\n");
        return;
    }
    auto cell = [](const std::string& text) { return text.empty() ? std::string("-") : text; };
    std::vector<std::vector<std::string>> rows{
        {"id", "started (UTC)", "socket", "imei", "recipe", "result", "cause", "seconds"}};
    for (const auto& r : runs)
        rows.push_back({std::to_string(r.id), cell(r.startedAt.substr(0, 19)), cell(r.socket), cell(r.imei),
                        cell(r.recipe), records::RunResultName(r.result), cell(r.cause),
                        Seconds(records::DurationSeconds(r))});
    PrintTable(rows);
}

void PrintSummary(const records::Summary& s) {
    auto rows = [](const char* title, const std::vector<records::SummaryRow>& list, const records::SummaryRow* total) {
        std::vector<std::vector<std::string>> table{
            {title, "runs", "passed", "failed", "interrupted", "aborted", "yield", "median s"}};
        auto add = [&table](const std::string& key, const records::SummaryRow& r) {
            char yield[32] = "-";
            if (r.yieldPercent) std::snprintf(yield, sizeof yield, "%.1f%%", *r.yieldPercent);
            table.push_back({key, std::to_string(r.runs), std::to_string(r.passed), std::to_string(r.failed),
                             std::to_string(r.interrupted), std::to_string(r.aborted), yield,
                             Seconds(r.medianSeconds)});
        };
        for (const auto& r : list) add(r.key.empty() ? "(none)" : r.key, r);
        if (total) add("total", *total);
        PrintTable(table);
    };
    rows("socket", s.sockets, &s.total);
    std::printf("\n");
    rows("cause", s.causes, nullptr);
}

int Run(RecordsOptions& o) {
    const bool json = o.json;
    if (o.summary && o.csv) return UsageError(json, "fennix records: --summary takes --json, not --csv");
    for (auto [bound, until] : {std::pair{&o.filter.since, false}, std::pair{&o.filter.until, true}})
        if (!bound->empty() && !records::StoredTime(*bound, until))
            return UsageError(json, "fennix records: " + std::string(until ? "--until" : "--since") + " " + *bound +
                                        " is neither a day (2026-12-10) nor an ISO 8601 time "
                                        "(2026-12-10T08:30:00Z)");
    if (!o.result.empty()) o.filter.result = records::ParseRunResult(o.result);
    std::error_code ec;
    if (!std::filesystem::is_regular_file(o.db, ec))
        return UsageError(json, "fennix records: no record database at " + o.db);
    std::string error;
    const std::unique_ptr<records::RecordDb> db = records::RecordDb::Open(o.db, true, &error);
    if (!db) {
        UsageError(json, "fennix records: " + error);  // its text and JSON event; the status says it is no usage error
        return kExitFailed;
    }

    if (o.summary) {
        const records::Summary s = db->Summarize(o.filter);
        if (json) {
            std::printf("%s\n", Dump(records::SummaryJson(s)).c_str());
        } else {
            PrintSummary(s);
        }
        return kExitOk;
    }

    // With a limit, the latest runs, still listed oldest first.
    o.filter.newestFirst = o.filter.limit > 0;
    std::vector<RunRecord> runs = db->Runs(o.filter);
    if (o.filter.newestFirst) std::reverse(runs.begin(), runs.end());
    if (json)
        for (const auto& r : runs) std::printf("%s\n", Dump(RunJson(r)).c_str());
    else if (o.csv)
        PrintCsv(runs);
    else
        PrintRuns(runs);
    return kExitOk;
}

}  // namespace

void AddRecordsCommand(CLI::App& app, int& exitCode) {
    auto o = std::make_shared<RecordsOptions>();
    CLI::App* command = app.add_subcommand("records",
                                           "The runs a station recorded: listed, or summed up per socket "
                                           "and per cause");
    command->add_option("--db", o->db, "The station's record database")->required()->type_name("FILE");
    command
        ->add_option("--since", o->filter.since,
                     "Runs started from DATE on: a day (2026-12-10, from its start, UTC) or an ISO 8601 time")
        ->type_name("DATE");
    command
        ->add_option("--until", o->filter.until,
                     "Runs started up to DATE: a day (2026-12-10, through its end, UTC) or an ISO 8601 time")
        ->type_name("DATE");
    command->add_option("--imei", o->filter.imei, "One device's runs (its history)")->type_name("IMEI");
    command->add_option("--socket", o->filter.socket, "One socket's runs, the socket as the station named it")
        ->type_name("PATH");
    command->add_option("--result", o->result, "Runs that ended so")
        ->check(CLI::IsMember({"running", "success", "failed", "interrupted", "aborted"}))
        ->type_name("RESULT");
    command->add_option("--limit", o->filter.limit, "The latest N runs only")
        ->check(CLI::PositiveNumber)
        ->type_name("N");
    command->add_flag("--summary", o->summary,
                      "Per socket and per cause: runs, passed, failed, interrupted, aborted, yield (passed of passed "
                      "and failed), median seconds");
    auto* json = command->add_flag("--json", o->json,
                                   "One JSON object per run and line, the columns as keys; with --summary one "
                                   "object: sockets, causes, total");
    auto* csv = command->add_flag("--csv", o->csv, "CSV (RFC 4180) with a header line, one run per line");
    json->excludes(csv);
    command->footer(
        "Reads the database without changing it. Exit status 0 listed, 1 the database cannot be read, 2 a usage "
        "error or no database at FILE.");
    command->callback([o, &exitCode] { exitCode = Run(*o); });
}

}  // namespace fennix::station
