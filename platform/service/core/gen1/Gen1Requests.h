#pragma once
// The requests of the service's generation 1.0 interfaces ("v1." operations).

class RequestRouter;
class ServiceRoot;

/// Registers the "v1." operations over the ".job" store of `root`:
/// - "v1.info": the computer's name ("computer") and the store's directory ("jobsDir");
/// - "v1.list": the work-item names ("names");
/// - "v1.exists" {name}: whether the name is taken ("exists") and the name as stored ("name");
/// - "v1.load" {name}: the definition ("job") and the name as stored ("name");
/// - "v1.save" {name, job, create}: writes the definition, answering the name as stored;
///   with "create" the name must be free;
/// - "v1.delete" {name};
/// - "v1.state" {name, job}: "status", "hasRun", "lastRun" and "exitCode" of the stored runs
///   judged against the definition the client holds;
/// - "v1.runtimes" {job, count, begin (default: now), end (optional)}: "times";
/// - "v1.run", "v1.terminate" {name}: starting and stopping belong to the daemon, which
///   replaces these two; without it they answer that the service is not running.
/// Names get ".job" appended when they lack it. Every reply carries "hr", failures "error".
void RegisterGen1Requests(RequestRouter& router, const ServiceRoot& root);
