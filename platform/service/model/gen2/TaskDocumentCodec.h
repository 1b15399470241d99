#pragma once
// The task document: a definition as XML in a schema of our own. Encoding is canonical;
// decoding is strict (unknown, repeated or misplaced elements, bad numbers and Booleans,
// DTDs and oversized input are refused with the position and a clear description) and
// never crashes or hangs on hostile input.

#include "gen2/TaskDocument.h"
#include "gen2/TaskValueRules.h"

#include <QByteArray>
#include <optional>

class TaskDocumentCodec {
public:
    /// The namespace of every element of the document.
    static QString Namespace();
    /// Documents larger than this are refused unread.
    static constexpr qsizetype MaxDocumentBytes = 4 * 1024 * 1024;

    /// The document of `doc`, UTF-8. Every string round-trips exactly, including control
    /// characters and unpaired UTF-16 units.
    static QByteArray Encode(const TaskDocument& doc);
    /// Reads a document; on failure gives nothing and fills `problem`.
    static std::optional<TaskDocument> Decode(const QByteArray& xml, ValueProblem* problem);

    /// The parts of a document, for reading some of them alone.
    enum Part : unsigned {
        RegistrationPart = 1u << 0,
        PrincipalPart = 1u << 1,
        SettingsPart = 1u << 2,   // with the idle and network settings
        TriggersPart = 1u << 3,
        ActionsPart = 1u << 4,    // with the actions' context
        DataPart = 1u << 5,
        AllParts = (1u << 6) - 1,
    };
    /// Reads `xml` as Decode does, accepting and refusing exactly what Decode accepts and
    /// refuses, and gives the parts named in `parts` as Decode gives them; every other part
    /// keeps the defaults of a new definition. A document in the form Encode writes is still
    /// checked whole, but only the named parts' texts are made: the triggers alone of a list
    /// of stored tasks cost a fraction of their whole decode in time and memory.
    static std::optional<TaskDocument> DecodeParts(const QByteArray& xml, unsigned parts, ValueProblem* problem);
    /// Sets the parts of `doc` outside `parts` back to the defaults of a new definition.
    static void KeepParts(TaskDocument* doc, unsigned parts);
    /// Decode by the general XML reader alone. Decode reads documents in the form Encode
    /// writes a quicker way of its own, and gives the same as this for every document.
    static std::optional<TaskDocument> DecodeGeneral(const QByteArray& xml, ValueProblem* problem);
    /// Whether `xml` is in the form Encode writes, and so read the quick way.
    static bool IsCanonical(const QByteArray& xml);
    /// Decode, then the service's value checks (TaskValueRules::CheckDocument).
    static std::optional<TaskDocument> Load(const QByteArray& xml, ValueProblem* problem);
    /// The pieces of markup Encode writes (the declaration with the root's start tag, and
    /// each element's start, end and empty tag), each once.
    static const QList<QByteArray>& Markup();
};
