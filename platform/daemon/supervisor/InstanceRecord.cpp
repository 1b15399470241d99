#include "supervisor/InstanceRecord.h"

#include "supervisor/JsonValue.h"

namespace {
constexpr int FormatVersion = 1;
}

std::optional<InstanceRecord> InstanceRecord::Decode(const std::string& bytes, std::string* error)
{
    std::string parseError;
    const std::optional<JsonValue> doc = JsonValue::Parse(bytes, &parseError);
    if (!doc || !doc->IsObject()) {
        if (error) *error = "not a JSON object (" + (doc ? std::string("another value") : parseError) + ")";
        return std::nullopt;
    }
    const JsonValue& o = *doc;
    if (o["kind"].ToString() != "taskschedd-instance" || o["version"].ToNumber() != FormatVersion) {
        if (error) *error = "not a version 1 taskschedd-instance file";
        return std::nullopt;
    }
    InstanceRecord r;
    r.id = o["id"].ToString();
    r.task = o["task"].ToString();
    r.cause = o["cause"].ToString();
    for (const JsonValue& s : o["steps"].Elements())
        r.steps.push_back(RecordStep{s["program"].ToString(), s["arguments"].ToStrings(), s["workingDirectory"].ToString()});
    r.user = o["user"].ToString();
    r.environment = o["environment"].ToStrings();
    r.logFile = o["logFile"].ToString();
    // Anything but a time in range is no time: the program starts at once, as it always did.
    if (const double notBefore = o["notBefore"].ToNumber(-1); notBefore >= 0 && notBefore < 9.0e15) r.notBeforeMs = int64_t(notBefore);
    bool groupsValid = true;
    if (const JsonValue& groups = o["groups"]; groups.kind() == JsonValue::Kind::Array) {
        r.groups.emplace();
        for (const JsonValue& g : groups.Elements()) {
            const double id = g.ToNumber(-1);
            groupsValid = groupsValid && id >= 0 && id <= 4294967295.0 && id == double(int64_t(id));
            r.groups->push_back(gid_t(int64_t(id)));
        }
    } else if (groups.kind() != JsonValue::Kind::Null) {
        groupsValid = false;
    }
    const double start = o["start"].ToNumber(-1), uid = o["uid"].ToNumber(-1), gid = o["gid"].ToNumber(-1);
    if (r.id.empty() || r.task.empty() || start < 0 || uid < 0 || gid < 0 || uid > 4294967295.0 || gid > 4294967295.0 ||
        r.logFile.empty() || !groupsValid) {
        if (error) *error = "the instance record is incomplete";
        return std::nullopt;
    }
    r.uid = uid_t(uid);
    r.gid = gid_t(gid);
    return r;
}

std::string OutcomeRecord::Encode() const
{
    return "{\"end\":" + std::to_string(endMs) + ",\"exitCode\":" + std::to_string(exitCode) +
           ",\"failedStep\":" + std::to_string(failedStep) + ",\"kind\":\"taskschedd-outcome\",\"signal\":" +
           std::to_string(signal) + ",\"startErrno\":" + std::to_string(startErrno) +
           ",\"startStage\":" + std::to_string(startStage) + ",\"stepsRun\":" + std::to_string(stepsRun) +
           ",\"stopRequested\":" + (stopRequested ? "true" : "false") + ",\"version\":" + std::to_string(FormatVersion) + "}";
}
