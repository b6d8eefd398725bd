#include "RecordJson.h"

#include <cmath>

namespace fennix::records {

namespace {

using Json = nlohmann::ordered_json;

Json TextOrNull(const std::string& text) { return text.empty() ? Json() : Json(text); }

Json NumberOrNull(std::optional<double> value) {
    if (!value) return Json();
    return Json(std::round(*value * 1000) / 1000);  // the stamps' millisecond; no binary tails in the output
}

Json SummaryRowJson(const char* keyName, const SummaryRow& row) {
    Json j;
    if (keyName) j[keyName] = TextOrNull(row.key);
    j.update(Json{{"runs", row.runs},
                  {"passed", row.passed},
                  {"failed", row.failed},
                  {"interrupted", row.interrupted},
                  {"aborted", row.aborted},
                  {"yield_percent", NumberOrNull(row.yieldPercent)},
                  {"median_seconds", NumberOrNull(row.medianSeconds)}});
    return j;
}

}  // namespace

Json RunJson(const RunRecord& r) {
    Json files = Json::array(), lines = Json::array();
    for (const auto& f : r.files) files.push_back({{"name", f.name}, {"size", f.size}, {"sha256", f.sha256}});
    for (const auto& l : r.lines) lines.push_back({{"time", l.time}, {"text", l.text}, {"status", l.status}});
    return Json{{"id", r.id},
                {"station", TextOrNull(r.station)},
                {"socket", TextOrNull(r.socket)},
                {"port", TextOrNull(r.port)},
                {"operator", TextOrNull(r.operatorName)},
                {"recipe", TextOrNull(r.recipe)},
                {"started_at", TextOrNull(r.startedAt)},
                {"ended_at", TextOrNull(r.endedAt)},
                {"result", RunResultName(r.result)},
                {"cause", TextOrNull(r.cause)},
                {"stage", TextOrNull(r.stage)},
                {"esn", TextOrNull(r.esn)},
                {"imei", TextOrNull(r.imei)},
                {"meid", TextOrNull(r.meid)},
                {"version_before", TextOrNull(r.versionBefore)},
                {"version_after", TextOrNull(r.versionAfter)},
                {"build_id_before", TextOrNull(r.buildIdBefore)},
                {"build_id_after", TextOrNull(r.buildIdAfter)},
                {"bytes", r.bytes},
                {"files", files},
                {"backup_path", TextOrNull(r.backupPath)},
                {"backup_sha256", TextOrNull(r.backupSha256)},
                {"nv_verified", r.nvVerified ? Json(*r.nvVerified) : Json()},
                {"missing_items", r.missingItems ? Json(*r.missingItems) : Json()},
                {"lines", lines},
                {"tool_version", TextOrNull(r.toolVersion)},
                {"library_version", TextOrNull(r.libraryVersion)}};
}

Json SummaryJson(const Summary& s) {
    Json sockets = Json::array(), causes = Json::array();
    for (const auto& r : s.sockets) sockets.push_back(SummaryRowJson("socket", r));
    for (const auto& r : s.causes) causes.push_back(SummaryRowJson("cause", r));
    return Json{{"sockets", sockets}, {"causes", causes}, {"total", SummaryRowJson(nullptr, s.total)}};
}

std::string DumpJson(const Json& j) { return j.dump(-1, ' ', false, Json::error_handler_t::replace); }

}  // namespace fennix::records
