#pragma once
// The supervisor's reading of the files the daemon shares with it (see InstanceDescription.h
// for the daemon's side): the same JSON, decoded and encoded on the standard library alone.

#include <cstdint>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

/// One program of an instance.
struct RecordStep {
    std::string program;
    std::vector<std::string> arguments;
    std::string workingDirectory;
};

/// An instance description as the supervisor needs it.
struct InstanceRecord {
    std::string id;
    std::string task;
    std::string cause;
    std::vector<RecordStep> steps;
    std::string user;
    uid_t uid = 0;
    gid_t gid = 0;
    /// The groups of the account, when the daemon read them (it does for another account).
    std::optional<std::vector<gid_t>> groups;
    std::vector<std::string> environment;
    std::string logFile;
    /// Milliseconds since 1970-01-01T00:00Z before which the first program must not start;
    /// -1 when the file names no such time (at once).
    int64_t notBeforeMs = -1;

    /// The description in `bytes`, or nothing with `error` filled for a damaged or foreign file.
    static std::optional<InstanceRecord> Decode(const std::string& bytes, std::string* error);
};

/// How an instance ended; the fields of InstanceOutcome.
struct OutcomeRecord {
    int64_t endMs = 0;   ///< milliseconds since 1970-01-01T00:00Z
    int32_t exitCode = 0;
    int32_t signal = 0;
    int32_t startErrno = 0;
    int32_t startStage = 0;
    int32_t failedStep = -1;
    int32_t stepsRun = 0;
    bool stopRequested = false;

    /// The outcome file's contents.
    std::string Encode() const;
};
