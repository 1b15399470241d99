#include "gen2/TaskDocumentCodec.h"

#include <QSet>
#include <QUtf8StringView>
#include <QVarLengthArray>
#include <algorithm>
#include <array>
#include <cstring>
#include <string_view>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>
#include <vector>

namespace {

const QString kEncodingAttribute = QStringLiteral("encoding");
const QString kUtf16Base64 = QStringLiteral("utf16-base64");
constexpr int kVersion = 1;

// ---- field tables: one row per element of a record ------------------------------------

enum class Kind { Text, Flag, Number };

template <typename T>
struct Field {
    QLatin1StringView name;
    Kind kind;
    QString T::* text = nullptr;
    bool T::* flag = nullptr;
    int T::* number = nullptr;
    unsigned kinds = 0;   // triggers: bit n for type n that has the field; 0 = every type
};

template <typename T> Field<T> TextField(const char* n, QString T::* m, unsigned kinds = 0) { return {QLatin1StringView(n), Kind::Text, m, nullptr, nullptr, kinds}; }
template <typename T> Field<T> FlagField(const char* n, bool T::* m, unsigned kinds = 0) { return {QLatin1StringView(n), Kind::Flag, nullptr, m, nullptr, kinds}; }
template <typename T> Field<T> NumberField(const char* n, int T::* m, unsigned kinds = 0) { return {QLatin1StringView(n), Kind::Number, nullptr, nullptr, m, kinds}; }

constexpr unsigned Bit(int type) { return 1u << type; }
constexpr unsigned kTimeKinds = Bit(1) | Bit(2) | Bit(3) | Bit(4) | Bit(5);
constexpr unsigned kDelayKinds = Bit(0) | Bit(7) | Bit(8) | Bit(9) | Bit(11);

const std::vector<Field<RegistrationInfoData>>& RegistrationFields()
{
    using R = RegistrationInfoData;
    static const std::vector<Field<R>> f{
        TextField("Description", &R::description), TextField("Author", &R::author), TextField("Version", &R::version),
        TextField("Date", &R::date), TextField("Documentation", &R::documentation), TextField("URI", &R::uri),
        TextField("Source", &R::source)};
    return f;
}

const std::vector<Field<PrincipalData>>& PrincipalFields()
{
    using P = PrincipalData;
    static const std::vector<Field<P>> f{
        TextField("Id", &P::id), TextField("DisplayName", &P::displayName), TextField("UserId", &P::userId),
        TextField("GroupId", &P::groupId), NumberField("LogonType", &P::logonType), NumberField("RunLevel", &P::runLevel)};
    return f;
}

const std::vector<Field<TaskSettingsData>>& SettingsFields()
{
    using S = TaskSettingsData;
    static const std::vector<Field<S>> f{
        FlagField("Enabled", &S::enabled), FlagField("AllowDemandStart", &S::allowDemandStart),
        FlagField("AllowHardTerminate", &S::allowHardTerminate),
        FlagField("DisallowStartIfOnBatteries", &S::disallowStartIfOnBatteries),
        FlagField("StopIfGoingOnBatteries", &S::stopIfGoingOnBatteries),
        FlagField("StartWhenAvailable", &S::startWhenAvailable),
        FlagField("RunOnlyIfNetworkAvailable", &S::runOnlyIfNetworkAvailable), FlagField("RunOnlyIfIdle", &S::runOnlyIfIdle),
        FlagField("WakeToRun", &S::wakeToRun), FlagField("Hidden", &S::hidden),
        TextField("ExecutionTimeLimit", &S::executionTimeLimit), NumberField("RestartCount", &S::restartCount),
        TextField("RestartInterval", &S::restartInterval), TextField("DeleteExpiredTaskAfter", &S::deleteExpiredTaskAfter),
        NumberField("MultipleInstances", &S::multipleInstances), NumberField("Priority", &S::priority),
        NumberField("Compatibility", &S::compatibility)};
    return f;
}

const std::vector<Field<IdleSettingsData>>& IdleFields()
{
    using I = IdleSettingsData;
    static const std::vector<Field<I>> f{
        TextField("IdleDuration", &I::idleDuration), TextField("WaitTimeout", &I::waitTimeout),
        FlagField("StopOnIdleEnd", &I::stopOnIdleEnd), FlagField("RestartOnIdle", &I::restartOnIdle)};
    return f;
}

const std::vector<Field<NetworkSettingsData>>& NetworkFields()
{
    using N = NetworkSettingsData;
    static const std::vector<Field<N>> f{TextField("Name", &N::name), TextField("Id", &N::id)};
    return f;
}

const std::vector<Field<RepetitionData>>& RepetitionFields()
{
    using R = RepetitionData;
    static const std::vector<Field<R>> f{
        TextField("Interval", &R::interval), TextField("Duration", &R::duration),
        FlagField("StopAtDurationEnd", &R::stopAtDurationEnd)};
    return f;
}

const std::vector<Field<TriggerData>>& TriggerFields()
{
    using T = TriggerData;
    static const std::vector<Field<T>> f{
        TextField("Id", &T::id), TextField("StartBoundary", &T::startBoundary), TextField("EndBoundary", &T::endBoundary),
        TextField("ExecutionTimeLimit", &T::executionTimeLimit), FlagField("Enabled", &T::enabled),
        TextField("RandomDelay", &T::randomDelay, kTimeKinds), TextField("Delay", &T::delay, kDelayKinds),
        TextField("UserId", &T::userId, Bit(9) | Bit(11)), NumberField("DaysInterval", &T::daysInterval, Bit(2)),
        NumberField("WeeksInterval", &T::weeksInterval, Bit(3)), NumberField("DaysOfWeek", &T::daysOfWeek, Bit(3) | Bit(5)),
        NumberField("DaysOfMonth", &T::daysOfMonth, Bit(4)), NumberField("MonthsOfYear", &T::monthsOfYear, Bit(4) | Bit(5)),
        NumberField("WeeksOfMonth", &T::weeksOfMonth, Bit(5)),
        FlagField("RunOnLastDayOfMonth", &T::runOnLastDayOfMonth, Bit(4)),
        FlagField("RunOnLastWeekOfMonth", &T::runOnLastWeekOfMonth, Bit(5)),
        NumberField("StateChange", &T::stateChange, Bit(11)), TextField("Subscription", &T::subscription, Bit(0))};
    return f;
}

// Action fields by kind: exec 0, handler 5, e-mail 6, message 7.
const std::vector<Field<ActionData>>& ActionFields()
{
    using A = ActionData;
    static const std::vector<Field<A>> f{
        TextField("Id", &A::id), TextField("Path", &A::path, Bit(0)), TextField("Arguments", &A::arguments, Bit(0)),
        TextField("WorkingDirectory", &A::workingDirectory, Bit(0)), TextField("Server", &A::server, Bit(6)),
        TextField("Subject", &A::subject, Bit(6)), TextField("To", &A::to, Bit(6)), TextField("Cc", &A::cc, Bit(6)),
        TextField("Bcc", &A::bcc, Bit(6)), TextField("ReplyTo", &A::replyTo, Bit(6)), TextField("From", &A::from, Bit(6)),
        TextField("Body", &A::body, Bit(6)), TextField("Title", &A::title, Bit(7)),
        TextField("MessageBody", &A::messageBody, Bit(7)), TextField("ClassId", &A::classId, Bit(5)),
        TextField("Data", &A::data, Bit(5))};
    return f;
}

template <typename T>
void AddTextFields(const std::vector<Field<T>>& fields, QSet<QString>* names)
{
    for (const Field<T>& f : fields) {
        if (f.kind == Kind::Text) names->insert(f.name);
    }
}

// The elements that hold text, and so may carry the text-encoding attribute.
const QSet<QString>& TextElements()
{
    static const QSet<QString> names = [] {
        QSet<QString> n{QStringLiteral("Data"), QStringLiteral("Context"), QStringLiteral("Name"), QStringLiteral("Value"),
                        QStringLiteral("Attachment")};
        AddTextFields(RegistrationFields(), &n);
        AddTextFields(PrincipalFields(), &n);
        AddTextFields(SettingsFields(), &n);
        AddTextFields(IdleFields(), &n);
        AddTextFields(NetworkFields(), &n);
        AddTextFields(RepetitionFields(), &n);
        AddTextFields(TriggerFields(), &n);
        AddTextFields(ActionFields(), &n);
        return n;
    }();
    return names;
}

// The one attribute an element may carry; empty when it carries none.
QString AllowedAttribute(const QString& element)
{
    if (element == QLatin1String("Task")) return QStringLiteral("version");
    if (element == QLatin1String("Trigger") || element == QLatin1String("Action")) return QStringLiteral("type");
    if (TextElements().contains(element)) return kEncodingAttribute;
    return {};
}

template <typename T>
bool Applies(const Field<T>& f, int type) { return f.kinds == 0 || (type >= 0 && type < 32 && (f.kinds & Bit(type))); }

// ---- writing -----------------------------------------------------------------------------

// Text that XML 1.0 carries unchanged: no control characters but tab and line feed (a
// carriage return would be read back as a line feed), no unpaired surrogates, no U+FFFE/FFFF.
bool IsXmlSafe(const QString& s)
{
    for (qsizetype i = 0; i < s.size(); ++i) {
        const char16_t c = s[i].unicode();
        if (c < 0x20 && c != u'\t' && c != u'\n') return false;
        if (c == 0xFFFE || c == 0xFFFF) return false;
        if (QChar::isHighSurrogate(c)) {
            if (i + 1 >= s.size() || !QChar::isLowSurrogate(s[i + 1].unicode())) return false;
            ++i;
        } else if (QChar::isLowSurrogate(c)) {
            return false;
        }
    }
    return true;
}

class Writer {
public:
    explicit Writer(QByteArray* out) : m_w(out) {}

    void Text(const QString& name, const QString& value)
    {
        m_w.writeStartElement(name);
        if (IsXmlSafe(value)) {
            m_w.writeCharacters(value);
        } else {
            m_w.writeAttribute(kEncodingAttribute, kUtf16Base64);
            QByteArray bytes(value.size() * 2, Qt::Uninitialized);
            for (qsizetype i = 0; i < value.size(); ++i) {
                const char16_t c = value[i].unicode();
                bytes[2 * i] = char(c & 0xFF);
                bytes[2 * i + 1] = char(c >> 8);
            }
            m_w.writeCharacters(QString::fromLatin1(bytes.toBase64()));
        }
        m_w.writeEndElement();
    }

    // Writes the fields whose value differs from `defaults`; a reader starts from the
    // defaults, so the document stays small and quick to read.
    template <typename T>
    void Fields(const std::vector<Field<T>>& fields, const T& record, const T& defaults, int type = -1)
    {
        for (const Field<T>& f : fields) {
            if (type >= 0 && !Applies(f, type)) continue;
            const QString name = f.name;
            switch (f.kind) {
            case Kind::Text:
                if (record.*f.text != defaults.*f.text) Text(name, record.*f.text);
                break;
            case Kind::Flag:
                if (record.*f.flag != defaults.*f.flag)
                    m_w.writeTextElement(name, (record.*f.flag) ? QStringLiteral("true") : QStringLiteral("false"));
                break;
            case Kind::Number:
                if (record.*f.number != defaults.*f.number) m_w.writeTextElement(name, QString::number(record.*f.number));
                break;
            }
        }
    }

    void Pairs(const QString& name, const QList<NamedValue>& pairs)
    {
        if (pairs.isEmpty()) return;
        m_w.writeStartElement(name);
        for (const NamedValue& p : pairs) {
            m_w.writeStartElement(QStringLiteral("Pair"));
            Text(QStringLiteral("Name"), p.name);
            Text(QStringLiteral("Value"), p.value);
            m_w.writeEndElement();
        }
        m_w.writeEndElement();
    }

    void Document(const TaskDocument& doc)
    {
        m_w.writeStartDocument();
        m_w.writeDefaultNamespace(TaskDocumentCodec::Namespace());
        m_w.writeStartElement(QStringLiteral("Task"));
        m_w.writeAttribute(QStringLiteral("version"), QString::number(kVersion));

        m_w.writeStartElement(QStringLiteral("RegistrationInfo"));
        Fields(RegistrationFields(), doc.registrationInfo, RegistrationInfoData{});
        m_w.writeEndElement();

        m_w.writeStartElement(QStringLiteral("Principal"));
        Fields(PrincipalFields(), doc.principal, PrincipalData{});
        m_w.writeEndElement();

        m_w.writeStartElement(QStringLiteral("Settings"));
        Fields(SettingsFields(), doc.settings, TaskSettingsData{});
        m_w.writeStartElement(QStringLiteral("IdleSettings"));
        Fields(IdleFields(), doc.settings.idle, IdleSettingsData{});
        m_w.writeEndElement();
        m_w.writeStartElement(QStringLiteral("NetworkSettings"));
        Fields(NetworkFields(), doc.settings.network, NetworkSettingsData{});
        m_w.writeEndElement();
        m_w.writeEndElement();

        m_w.writeStartElement(QStringLiteral("Triggers"));
        for (const TriggerData& t : doc.triggers) {
            m_w.writeStartElement(QStringLiteral("Trigger"));
            m_w.writeAttribute(QStringLiteral("type"), QString::number(t.type));
            Fields(TriggerFields(), t, TriggerData{}, t.type);
            m_w.writeStartElement(QStringLiteral("Repetition"));
            Fields(RepetitionFields(), t.repetition, RepetitionData{});
            m_w.writeEndElement();
            if (t.type == TASK_TRIGGER_EVENT) Pairs(QStringLiteral("ValueQueries"), t.valueQueries);
            m_w.writeEndElement();
        }
        m_w.writeEndElement();

        m_w.writeStartElement(QStringLiteral("Actions"));
        if (!doc.actionsContext.isEmpty()) Text(QStringLiteral("Context"), doc.actionsContext);
        for (const ActionData& a : doc.actions) {
            m_w.writeStartElement(QStringLiteral("Action"));
            m_w.writeAttribute(QStringLiteral("type"), QString::number(a.type));
            Fields(ActionFields(), a, ActionData{}, a.type);
            if (a.type == TASK_ACTION_SEND_EMAIL) {
                Pairs(QStringLiteral("HeaderFields"), a.headerFields);
                if (!a.attachments.isEmpty()) {
                    m_w.writeStartElement(QStringLiteral("Attachments"));
                    for (const QString& file : a.attachments) Text(QStringLiteral("Attachment"), file);
                    m_w.writeEndElement();
                }
            }
            m_w.writeEndElement();
        }
        m_w.writeEndElement();

        if (!doc.data.isEmpty()) Text(QStringLiteral("Data"), doc.data);
        m_w.writeEndElement();
        m_w.writeEndDocument();
    }

private:
    QXmlStreamWriter m_w;
};

// ---- reading -----------------------------------------------------------------------------

// An optional minus and one to ten ASCII digits, perhaps followed by one line feed: what the
// pattern ^-?\d{1,10}$ accepted, whose $ also matches before a final line feed.
bool IsShortNumber(QStringView text)
{
    if (text.endsWith(u'\n')) text.chop(1);
    if (text.startsWith(u'-')) text = text.mid(1);
    if (text.isEmpty() || text.size() > 10) return false;
    return std::all_of(text.begin(), text.end(), [](QChar c) { return c >= u'0' && c <= u'9'; });
}

class Reader {
public:
    explicit Reader(const QByteArray& xml) : m_r(xml) {}

    std::optional<TaskDocument> Document()
    {
        TaskDocument doc;
        // Everything starts from the defaults of a new definition, then the document's values.
        if (!Root()) return std::nullopt;
        bool ok = Children([&](const QString& name) {
            if (name == QLatin1String("RegistrationInfo")) return Record(RegistrationFields(), &doc.registrationInfo);
            if (name == QLatin1String("Principal")) return Record(PrincipalFields(), &doc.principal);
            if (name == QLatin1String("Settings")) return Settings(&doc.settings);
            if (name == QLatin1String("Triggers")) return Triggers(&doc.triggers);
            if (name == QLatin1String("Actions")) return Actions(&doc);
            if (name == QLatin1String("Data")) return ReadText(&doc.data);
            return Unexpected(name);
        });
        if (!ok) return std::nullopt;
        while (!m_r.atEnd()) {
            m_r.readNext();
            if (m_r.hasError()) return Malformed(), std::nullopt;
            if (m_r.tokenType() == QXmlStreamReader::StartElement || m_r.tokenType() == QXmlStreamReader::DTD
                || (m_r.tokenType() == QXmlStreamReader::Characters && !m_r.isWhitespace())) {
                Fail(SCHED_E_UNEXPECTEDNODE, QStringLiteral("Content follows the end of the task."));
                return std::nullopt;
            }
        }
        return doc;
    }

    ValueProblem Problem() const { return m_problem; }

private:
    bool Fail(HRESULT code, const QString& message)
    {
        if (m_problem.IsOk())
            m_problem = ValueProblem{code, QStringLiteral("(%1,%2): %3").arg(m_r.lineNumber()).arg(m_r.columnNumber()).arg(message)};
        return false;
    }
    bool Malformed()
    {
        return Fail(SCHED_E_MALFORMEDXML, m_r.errorString().isEmpty() ? QStringLiteral("The document is not well-formed.") : m_r.errorString());
    }
    bool Unexpected(const QString& name) { return Fail(SCHED_E_UNEXPECTEDNODE, QStringLiteral("Unexpected element \"%1\".").arg(name)); }

    // A damaged attribute name must not turn into another valid document: an element carries
    // its one attribute or none, never one of another name or namespace.
    bool CheckAttributes(const QString& element)
    {
        if (m_r.attributes().isEmpty()) return true;
        const QString allowed = AllowedAttribute(element);
        for (const QXmlStreamAttribute& attribute : m_r.attributes()) {
            if (!attribute.namespaceUri().isEmpty() || allowed.isEmpty() || attribute.name() != allowed)
                return Fail(SCHED_E_UNEXPECTEDNODE, QStringLiteral("Unexpected attribute \"%1\" of \"%2\".")
                                                        .arg(attribute.qualifiedName().left(40), element));
        }
        return true;
    }

    // The document is UTF-8, whatever its declaration says (and it says nothing else).
    bool CheckDeclaration()
    {
        const QStringView encoding = m_r.documentEncoding();
        if (!encoding.isEmpty() && encoding.compare(QLatin1String("UTF-8"), Qt::CaseInsensitive) != 0)
            return Fail(SCHED_E_MALFORMEDXML, QStringLiteral("The document's encoding \"%1\" is not UTF-8.").arg(encoding.left(40)));
        if (!m_r.documentVersion().isEmpty() && m_r.documentVersion() != QLatin1String("1.0"))
            return Fail(SCHED_E_MALFORMEDXML, QStringLiteral("XML version \"%1\" is not accepted.").arg(m_r.documentVersion().left(40)));
        return true;
    }

    bool Root()
    {
        while (!m_r.atEnd()) {
            m_r.readNext();
            if (m_r.hasError()) return Malformed();
            switch (m_r.tokenType()) {
            case QXmlStreamReader::DTD:
                return Fail(SCHED_E_UNEXPECTEDNODE, QStringLiteral("Document type declarations are not accepted."));
            case QXmlStreamReader::StartDocument:
                if (!CheckDeclaration()) return false;
                break;
            case QXmlStreamReader::StartElement: {
                if (m_r.namespaceUri() != TaskDocumentCodec::Namespace())
                    return Fail(SCHED_E_NAMESPACE, QStringLiteral("The element \"%1\" is not in the task namespace.").arg(m_r.name()));
                if (m_r.name() != QLatin1String("Task")) return Unexpected(m_r.name().toString());
                if (!CheckAttributes(QStringLiteral("Task"))) return false;
                const QString version = m_r.attributes().value(QStringLiteral("version")).toString();
                if (version.isEmpty()) return Fail(SCHED_E_MISSINGNODE, QStringLiteral("The task has no version."));
                if (version != QString::number(kVersion))
                    return Fail(SCHED_E_INVALIDVALUE, QStringLiteral("Version \"%1\" of the task document is not supported.").arg(version));
                return true;
            }
            case QXmlStreamReader::Characters:
                if (!m_r.isWhitespace()) return Fail(SCHED_E_UNEXPECTEDNODE, QStringLiteral("Text outside the task."));
                break;
            default:
                break;
            }
        }
        return Fail(SCHED_E_MISSINGNODE, QStringLiteral("The document holds no task."));
    }

    // Calls `child` for each child element of the current element (each exactly once
    // unless `repeatable` names it) and stops at its end.
    template <typename F>
    bool Children(F&& child, const QString& repeatable = {})
    {
        QVarLengthArray<QString, 24> seen;
        while (!m_r.atEnd()) {
            m_r.readNext();
            if (m_r.hasError()) return Malformed();
            switch (m_r.tokenType()) {
            case QXmlStreamReader::StartElement: {
                const QString name = m_r.name().toString();
                if (m_r.namespaceUri() != TaskDocumentCodec::Namespace())
                    return Fail(SCHED_E_NAMESPACE, QStringLiteral("The element \"%1\" is not in the task namespace.").arg(name));
                if (name != repeatable) {
                    if (std::find(seen.begin(), seen.end(), name) != seen.end())
                        return Fail(SCHED_E_TOO_MANY_NODES, QStringLiteral("The element \"%1\" appears twice.").arg(name));
                    seen.append(name);
                }
                if (!CheckAttributes(name) || !child(name)) return false;
                break;
            }
            case QXmlStreamReader::EndElement:
                return true;
            case QXmlStreamReader::Characters:
                if (!m_r.isWhitespace()) return Fail(SCHED_E_UNEXPECTEDNODE, QStringLiteral("Unexpected text \"%1\".").arg(m_r.text().left(40)));
                break;
            case QXmlStreamReader::EntityReference:
            case QXmlStreamReader::DTD:
                return Fail(SCHED_E_UNEXPECTEDNODE, QStringLiteral("Entity references are not accepted."));
            default:
                break;
            }
        }
        return Malformed();
    }

    bool ReadText(QString* out)
    {
        const QString encoding = m_r.attributes().isEmpty() ? QString() : m_r.attributes().value(kEncodingAttribute).toString();
        const QString text = m_r.readElementText(QXmlStreamReader::ErrorOnUnexpectedElement);
        if (m_r.hasError()) return m_r.error() == QXmlStreamReader::UnexpectedElementError
                                       ? Fail(SCHED_E_UNEXPECTEDNODE, m_r.errorString()) : Malformed();
        if (encoding.isEmpty()) {
            *out = text;
            return true;
        }
        if (encoding != kUtf16Base64) return Fail(SCHED_E_INVALIDVALUE, QStringLiteral("Unknown text encoding \"%1\".").arg(encoding));
        const auto decoded = QByteArray::fromBase64Encoding(text.trimmed().toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
        if (!decoded || decoded.decoded.size() % 2 != 0)
            return Fail(SCHED_E_INVALIDVALUE, QStringLiteral("The encoded text is damaged."));
        const QByteArray& bytes = decoded.decoded;
        QString value(bytes.size() / 2, Qt::Uninitialized);
        for (qsizetype i = 0; i < value.size(); ++i)
            value[i] = QChar(char16_t(uchar(bytes[2 * i]) | (uchar(bytes[2 * i + 1]) << 8)));
        *out = value;
        return true;
    }

    bool ReadFlag(const QString& name, bool* out)
    {
        QString text;
        if (!ReadText(&text)) return false;
        if (text == QLatin1String("true")) *out = true;
        else if (text == QLatin1String("false")) *out = false;
        else return Fail(SCHED_E_INVALIDVALUE, QStringLiteral("%1: \"%2\" is not true or false.").arg(name, text.left(40)));
        return true;
    }

    bool ReadNumber(const QString& name, int* out)
    {
        QString text;
        if (!ReadText(&text)) return false;
        bool ok = IsShortNumber(text);
        const qint64 value = ok ? text.toLongLong(&ok) : 0;
        if (!ok || value < std::numeric_limits<int>::min() || value > std::numeric_limits<int>::max())
            return Fail(SCHED_E_INVALIDVALUE, QStringLiteral("%1: \"%2\" is not a number.").arg(name, text.left(40)));
        *out = int(value);
        return true;
    }

    template <typename T>
    bool ReadField(const std::vector<Field<T>>& fields, const QString& name, T* record, int type = -1)
    {
        for (const Field<T>& f : fields) {
            if (name != f.name) continue;
            if (type >= 0 && !Applies(f, type))
                return Fail(SCHED_E_UNEXPECTEDNODE, QStringLiteral("A trigger or action of type %1 has no \"%2\".").arg(type).arg(name));
            switch (f.kind) {
            case Kind::Text: return ReadText(&(record->*f.text));
            case Kind::Flag: return ReadFlag(name, &(record->*f.flag));
            case Kind::Number: return ReadNumber(name, &(record->*f.number));
            }
        }
        return Unexpected(name);
    }

    template <typename T>
    bool Record(const std::vector<Field<T>>& fields, T* record)
    {
        return Children([&](const QString& name) { return ReadField(fields, name, record); });
    }

    bool Settings(TaskSettingsData* s)
    {
        return Children([&](const QString& name) {
            if (name == QLatin1String("IdleSettings")) return Record(IdleFields(), &s->idle);
            if (name == QLatin1String("NetworkSettings")) return Record(NetworkFields(), &s->network);
            return ReadField(SettingsFields(), name, s);
        });
    }

    bool Type(int* type)
    {
        const QString text = m_r.attributes().value(QStringLiteral("type")).toString();
        if (text.isEmpty()) return Fail(SCHED_E_MISSINGNODE, QStringLiteral("\"%1\" has no type.").arg(m_r.name()));
        bool ok = false;
        *type = text.toInt(&ok);
        if (!ok || *type < 0 || *type > 31) return Fail(SCHED_E_INVALIDVALUE, QStringLiteral("Type \"%1\" is out of range.").arg(text.left(40)));
        return true;
    }

    bool Pairs(QList<NamedValue>* pairs)
    {
        return Children([&](const QString& name) {
            if (name != QLatin1String("Pair")) return Unexpected(name);
            NamedValue pair;
            bool ok = Children([&](const QString& part) {
                if (part == QLatin1String("Name")) return ReadText(&pair.name);
                if (part == QLatin1String("Value")) return ReadText(&pair.value);
                return Unexpected(part);
            });
            pairs->append(pair);
            return ok;
        }, QStringLiteral("Pair"));
    }

    bool Triggers(QList<TriggerData>* triggers)
    {
        return Children([&](const QString& name) {
            if (name != QLatin1String("Trigger")) return Unexpected(name);
            if (triggers->size() >= TaskValueRules::MaxTriggers)
                return Fail(SCHED_E_TOO_MANY_NODES, QStringLiteral("A task holds at most %1 triggers.").arg(TaskValueRules::MaxTriggers));
            TriggerData t;
            if (!Type(&t.type)) return false;
            const bool ok = Children([&](const QString& field) {
                if (field == QLatin1String("Repetition")) return Record(RepetitionFields(), &t.repetition);
                if (field == QLatin1String("ValueQueries") && t.type == TASK_TRIGGER_EVENT) return Pairs(&t.valueQueries);
                return ReadField(TriggerFields(), field, &t, t.type);
            });
            triggers->append(t);
            return ok;
        }, QStringLiteral("Trigger"));
    }

    bool Actions(TaskDocument* doc)
    {
        return Children([&](const QString& name) {
            if (name == QLatin1String("Context")) return ReadText(&doc->actionsContext);
            if (name != QLatin1String("Action")) return Unexpected(name);
            if (doc->actions.size() >= TaskValueRules::MaxActions)
                return Fail(SCHED_E_TOO_MANY_NODES, QStringLiteral("A task holds at most %1 actions.").arg(TaskValueRules::MaxActions));
            ActionData a;
            if (!Type(&a.type)) return false;
            const bool ok = Children([&](const QString& field) {
                if (a.type == TASK_ACTION_SEND_EMAIL && field == QLatin1String("HeaderFields")) return Pairs(&a.headerFields);
                if (a.type == TASK_ACTION_SEND_EMAIL && field == QLatin1String("Attachments")) {
                    return Children([&](const QString& item) {
                        if (item != QLatin1String("Attachment")) return Unexpected(item);
                        QString file;
                        if (!ReadText(&file)) return false;
                        a.attachments.append(file);
                        return true;
                    }, QStringLiteral("Attachment"));
                }
                return ReadField(ActionFields(), field, &a, a.type);
            });
            doc->actions.append(a);
            return ok;
        }, QStringLiteral("Action"));
    }

    QXmlStreamReader m_r;
    ValueProblem m_problem;
};

// ---- reading the form Encode writes -------------------------------------------------------

// Reads what Encode writes and nothing else: its declaration, no whitespace, comments or
// processing instructions between elements, no attribute but the type of a trigger or an
// action, no entity reference but the five predefined ones, element names of letters only.
// Anything else, well-formed or not, makes it give up, and the general reader decides, so a
// document it accepts is one the general reader accepts with the same values. Stored and
// listed documents are all of this form, and this reads them several times faster.
class CanonicalReader {
public:
    /// A reader that makes the parts in `parts` (TaskDocumentCodec::Part) and only checks the others.
    CanonicalReader(const QByteArray& xml, unsigned parts = TaskDocumentCodec::AllParts)
        : m_p(xml.constData()), m_end(xml.constData() + xml.size()), m_parts(parts)
    {
    }

    std::optional<TaskDocument> Document()
    {
        TaskDocument doc;
        // A part that is not asked for is read into this one, with its texts checked but not
        // made, so that the document is accepted and refused as a whole decode does.
        TaskDocument skipped;
        const auto into = [&](unsigned part) -> TaskDocument& {
            m_keep = (m_parts & part) != 0;
            return m_keep ? doc : skipped;
        };
        Literal("<?xml version=\"1.0\" encoding=\"UTF-8\"?>");
        if (!Literal("<Task xmlns=\"urn:taskscheduler:task\" version=\"1\">")) return std::nullopt;
        const bool ok = Children("Task", [&](const Tag& tag) {
            using C = TaskDocumentCodec;
            if (tag.name == "RegistrationInfo") return Record(tag, RegistrationFields(), &into(C::RegistrationPart).registrationInfo);
            if (tag.name == "Principal") return Record(tag, PrincipalFields(), &into(C::PrincipalPart).principal);
            if (tag.name == "Settings") return Settings(tag, &into(C::SettingsPart).settings);
            if (tag.name == "Triggers") return Triggers(tag, &into(C::TriggersPart).triggers);
            if (tag.name == "Actions") return Actions(tag, &into(C::ActionsPart));
            if (tag.name == "Data") return TextElement(tag, &into(C::DataPart).data);
            return false;
        });
        if (!ok) return std::nullopt;
        for (; m_p < m_end; ++m_p) {
            if (*m_p != ' ' && *m_p != '\t' && *m_p != '\n') return std::nullopt;
        }
        return doc;
    }

private:
    struct Tag {
        std::string_view name;
        int type = -1;   // the type attribute; -1 for none
        bool empty = false;
    };

    bool Literal(std::string_view text)
    {
        if (size_t(m_end - m_p) < text.size() || std::memcmp(m_p, text.data(), text.size()) != 0) return false;
        m_p += text.size();
        return true;
    }

    static bool IsLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

    std::string_view Name()
    {
        static constexpr auto letters = [] {
            std::array<bool, 256> table{};
            for (int c = 'A'; c <= 'Z'; ++c) table[size_t(c)] = table[size_t(c - 'A' + 'a')] = true;
            return table;
        }();
        const char* begin = m_p;
        while (m_p < m_end && letters[uchar(*m_p)]) ++m_p;
        return std::string_view(begin, size_t(m_p - begin));
    }

    bool StartTag(Tag* tag)
    {
        if (m_p >= m_end || *m_p != '<') return false;
        ++m_p;
        tag->name = Name();
        if (tag->name.empty() || m_p >= m_end) return false;
        // Most tags end right after their name.
        if (*m_p == '>') {
            ++m_p;
            return true;
        }
        if (*m_p == ' ' && Literal(" type=\"")) {
            int type = 0;
            int digits = 0;
            for (; m_p < m_end && *m_p >= '0' && *m_p <= '9' && digits < 2; ++m_p, ++digits) type = type * 10 + (*m_p - '0');
            if (digits == 0 || type > 31 || !Literal("\"")) return false;
            tag->type = type;
        }
        if (Literal(">")) return true;
        tag->empty = Literal("/>");
        return tag->empty;
    }

    bool EndTag(std::string_view name)
    {
        // The name is known: compared whole, it needs no scan for where it ends, and a longer
        // name fails at the ">".
        const size_t size = name.size();
        if (size_t(m_end - m_p) < size + 3 || m_p[0] != '<' || m_p[1] != '/' || m_p[size + 2] != '>'
            || std::memcmp(m_p + 2, name.data(), size) != 0)
            return false;
        m_p += size + 3;
        return true;
    }

    // The characters up to the next tag as they stand, for a flag or a number: these are
    // plain ASCII in the stored form, so an entity, a control character or any other byte
    // that is not a digit, a sign, a letter or a line feed leaves the document to the general
    // reader (which refuses most of them anyway).
    bool Plain(const Tag& tag, std::string_view* out)
    {
        const char* begin = m_p;
        if (!tag.empty) {
            while (m_p < m_end && ((*m_p >= '0' && *m_p <= '9') || IsLetter(*m_p) || *m_p == '-' || *m_p == '\n')) ++m_p;
            if (!EndTag(tag.name)) return false;
        }
        *out = std::string_view(begin, tag.empty ? 0 : size_t(m_p - begin) - tag.name.size() - 3);
        return true;
    }

    // What IsShortNumber and toLongLong accept, read from the bytes.
    static std::optional<int> Number(std::string_view text)
    {
        if (text.ends_with('\n')) text.remove_suffix(1);
        const bool negative = text.starts_with('-');
        if (negative) text.remove_prefix(1);
        if (text.empty() || text.size() > 10) return std::nullopt;
        qint64 value = 0;
        for (const char c : text) {
            if (c < '0' || c > '9') return std::nullopt;
            value = value * 10 + (c - '0');
        }
        if (negative) value = -value;
        if (value < std::numeric_limits<int>::min() || value > std::numeric_limits<int>::max()) return std::nullopt;
        return int(value);
    }

    // Calls `child` for each child element (each exactly once unless `repeatable` names it)
    // up to the end of `parent`.
    template <typename F>
    bool Children(std::string_view parent, F&& child, std::string_view repeatable = {})
    {
        QVarLengthArray<std::string_view, 24> seen;
        for (;;) {
            if (m_end - m_p >= 2 && m_p[0] == '<' && m_p[1] == '/') return EndTag(parent);
            Tag tag;
            if (!StartTag(&tag)) return false;
            if (tag.name != repeatable) {
                if (std::find(seen.begin(), seen.end(), tag.name) != seen.end()) return false;
                seen.append(tag.name);
            }
            // Only triggers and actions carry a type, and they always do.
            const bool typed = tag.name == "Trigger" || tag.name == "Action";
            if (typed != (tag.type >= 0)) return false;
            if (!child(tag)) return false;
        }
    }

    // The characters up to the next tag, with the five predefined entities.
    bool Text(QString* out)
    {
        const char* begin = m_p;
        QByteArray unescaped;
        bool escaped = false;
        // The bytes that need a look of their own; a text is mostly none of them.
        static constexpr auto special = [] {
            std::array<bool, 256> table{};
            for (int c = 0; c < 0x20; ++c) table[size_t(c)] = c != '\t' && c != '\n';
            for (const char c : {'<', '>', '&', '\xEF'}) table[uchar(c)] = true;
            return table;
        }();
        for (; m_p < m_end; ++m_p) {
            if (!escaped || !m_keep) {
                while (m_p < m_end && !special[uchar(*m_p)]) ++m_p;
                if (m_p >= m_end) break;
            }
            if (*m_p == '<') break;
            const uchar c = uchar(*m_p);
            // Line ends are normalized and other control characters refused by XML; the
            // general reader handles them.
            if (c < 0x20 && c != '\t' && c != '\n') return false;
            // U+FFFE and U+FFFF are not characters of XML.
            if (c == 0xEF && m_end - m_p >= 3 && uchar(m_p[1]) == 0xBF && (uchar(m_p[2]) == 0xBE || uchar(m_p[2]) == 0xBF)) return false;
            if (c == '>' && m_p - begin >= 2 && m_p[-1] == ']' && m_p[-2] == ']') return false;
            if (c == '&') {
                if (!escaped && m_keep) unescaped = QByteArray(begin, m_p - begin);
                escaped = true;
                static constexpr std::pair<std::string_view, char> entities[] = {
                    {"&lt;", '<'}, {"&gt;", '>'}, {"&amp;", '&'}, {"&quot;", '"'}, {"&apos;", '\''}};
                bool known = false;
                for (const auto& [entity, character] : entities) {
                    if (size_t(m_end - m_p) >= entity.size() && std::memcmp(m_p, entity.data(), entity.size()) == 0) {
                        if (m_keep) unescaped += character;
                        m_p += entity.size() - 1;
                        known = true;
                        break;
                    }
                }
                if (!known) return false;
                continue;
            }
            if (escaped && m_keep) unescaped += char(c);
        }
        if (m_keep) *out = escaped ? QString::fromUtf8(unescaped) : QString::fromUtf8(begin, m_p - begin);
        return true;
    }

    bool TextElement(const Tag& tag, QString* out)
    {
        if (tag.empty) {
            *out = QString();
            return true;
        }
        return Text(out) && EndTag(tag.name);
    }

    template <typename T>
    bool Value(const std::vector<Field<T>>& fields, const Tag& tag, T* record, int type = -1)
    {
        for (const Field<T>& f : fields) {
            if (tag.name != std::string_view(f.name.data(), size_t(f.name.size()))) continue;
            if (type >= 0 && !Applies(f, type)) return false;
            if (f.kind == Kind::Text) return TextElement(tag, &(record->*f.text));
            std::string_view text;
            if (!Plain(tag, &text)) return false;
            if (f.kind == Kind::Flag) {
                if (text == "true") record->*f.flag = true;
                else if (text == "false") record->*f.flag = false;
                else return false;
                return true;
            }
            const std::optional<int> number = Number(text);
            if (!number) return false;
            record->*f.number = *number;
            return true;
        }
        return false;
    }

    template <typename T>
    bool Record(const Tag& tag, const std::vector<Field<T>>& fields, T* record)
    {
        if (tag.empty) return true;
        return Children(tag.name, [&](const Tag& child) { return Value(fields, child, record); });
    }

    bool Settings(const Tag& tag, TaskSettingsData* s)
    {
        if (tag.empty) return true;
        return Children(tag.name, [&](const Tag& child) {
            if (child.name == "IdleSettings") return Record(child, IdleFields(), &s->idle);
            if (child.name == "NetworkSettings") return Record(child, NetworkFields(), &s->network);
            return Value(SettingsFields(), child, s);
        });
    }

    bool Triggers(const Tag& tag, QList<TriggerData>* triggers)
    {
        if (tag.empty) return true;
        return Children(tag.name, [&](const Tag& item) {
            if (item.name != "Trigger" || triggers->size() >= TaskValueRules::MaxTriggers) return false;
            TriggerData t;
            t.type = item.type;
            const bool ok = item.empty || Children(item.name, [&](const Tag& field) {
                if (field.name == "Repetition") return Record(field, RepetitionFields(), &t.repetition);
                return Value(TriggerFields(), field, &t, t.type);
            });
            triggers->append(t);
            return ok;
        }, "Trigger");
    }

    bool Actions(const Tag& tag, TaskDocument* doc)
    {
        if (tag.empty) return true;
        return Children(tag.name, [&](const Tag& item) {
            if (item.name == "Context") return TextElement(item, &doc->actionsContext);
            if (item.name != "Action" || doc->actions.size() >= TaskValueRules::MaxActions) return false;
            ActionData a;
            a.type = item.type;
            const bool ok = item.empty || Children(item.name, [&](const Tag& field) { return Value(ActionFields(), field, &a, a.type); });
            doc->actions.append(a);
            return ok;
        }, "Action");
    }

    const char* m_p;
    const char* m_end;
    unsigned m_parts;
    bool m_keep = true;   // whether the texts being read are made
};

} // namespace

QString TaskDocumentCodec::Namespace()
{
    static const QString uri = QStringLiteral("urn:taskscheduler:task");
    return uri;
}

QByteArray TaskDocumentCodec::Encode(const TaskDocument& doc)
{
    QByteArray out;
    Writer(&out).Document(doc);
    return out;
}

namespace {

// What every reading refuses before looking at the XML; empty when the bytes may be read.
ValueProblem RefusedUnread(const QByteArray& xml)
{
    if (xml.size() > TaskDocumentCodec::MaxDocumentBytes)
        return ValueProblem{SCHED_E_MALFORMEDXML,
                            QStringLiteral("The task document is larger than %1 bytes.").arg(TaskDocumentCodec::MaxDocumentBytes)};
    // The XML reader would carry on past bytes that are not UTF-8 (a cut-off character at the
    // end, say) with replacement characters: a damaged document read as another valid one.
    if (!QUtf8StringView(xml).isValidUtf8())
        return ValueProblem{SCHED_E_MALFORMEDXML, QStringLiteral("The task document is not valid UTF-8 text.")};
    return ValueProblem{};
}

} // namespace

std::optional<TaskDocument> TaskDocumentCodec::Decode(const QByteArray& xml, ValueProblem* problem)
{
    return DecodeParts(xml, AllParts, problem);
}

std::optional<TaskDocument> TaskDocumentCodec::DecodeParts(const QByteArray& xml, unsigned parts, ValueProblem* problem)
{
    if (RefusedUnread(xml).IsOk()) {
        if (auto doc = CanonicalReader(xml, parts).Document()) {
            if (problem) *problem = ValueProblem{};
            return doc;
        }
    }
    // Not in the stored form: rare enough to be read whole.
    auto doc = DecodeGeneral(xml, problem);
    if (doc) KeepParts(&*doc, parts);
    return doc;
}

void TaskDocumentCodec::KeepParts(TaskDocument* doc, unsigned parts)
{
    if (!(parts & RegistrationPart)) doc->registrationInfo = {};
    if (!(parts & PrincipalPart)) doc->principal = {};
    if (!(parts & SettingsPart)) doc->settings = {};
    if (!(parts & TriggersPart)) doc->triggers = {};
    if (!(parts & ActionsPart)) {
        doc->actions = {};
        doc->actionsContext = {};
    }
    if (!(parts & DataPart)) doc->data = {};
}

std::optional<TaskDocument> TaskDocumentCodec::DecodeGeneral(const QByteArray& xml, ValueProblem* problem)
{
    ValueProblem local;
    ValueProblem& p = problem ? *problem : local;
    p = RefusedUnread(xml);
    if (!p.IsOk()) return std::nullopt;
    Reader reader(xml);
    auto doc = reader.Document();
    p = doc ? ValueProblem{} : reader.Problem();
    if (!doc && p.IsOk()) p = ValueProblem{SCHED_E_MALFORMEDXML, QStringLiteral("The task document is malformed.")};
    return doc;
}

bool TaskDocumentCodec::IsCanonical(const QByteArray& xml)
{
    return RefusedUnread(xml).IsOk() && CanonicalReader(xml, 0).Document().has_value();
}

std::optional<TaskDocument> TaskDocumentCodec::Load(const QByteArray& xml, ValueProblem* problem)
{
    auto doc = Decode(xml, problem);
    if (!doc) return doc;
    const ValueProblem check = TaskValueRules::CheckDocument(*doc);
    if (!check.IsOk()) {
        if (problem) *problem = check;
        return std::nullopt;
    }
    return doc;
}

namespace {

template <typename T>
void AddNames(const std::vector<Field<T>>& fields, QList<QByteArray>* names)
{
    for (const Field<T>& f : fields) names->append(QByteArray(f.name.data(), f.name.size()));
}

} // namespace

const QList<QByteArray>& TaskDocumentCodec::Markup()
{
    static const QList<QByteArray> markup = [] {
        QList<QByteArray> names{"RegistrationInfo", "Principal", "Settings", "IdleSettings", "NetworkSettings", "Triggers",
                                "Trigger", "Repetition", "ValueQueries", "Pair", "Name", "Value", "Actions", "Action",
                                "Context", "HeaderFields", "Attachments", "Attachment", "Data"};
        AddNames(RegistrationFields(), &names);
        AddNames(PrincipalFields(), &names);
        AddNames(SettingsFields(), &names);
        AddNames(IdleFields(), &names);
        AddNames(NetworkFields(), &names);
        AddNames(RepetitionFields(), &names);
        AddNames(TriggerFields(), &names);
        AddNames(ActionFields(), &names);
        // The declaration and the root as Document writes them (and the quick reader expects).
        QList<QByteArray> out{"<?xml version=\"1.0\" encoding=\"UTF-8\"?>",
                              "<Task xmlns=\"" + Namespace().toUtf8() + "\" version=\"" + QByteArray::number(kVersion) + "\">",
                              "</Task>"};
        QSet<QByteArray> seen;
        for (const QByteArray& name : std::as_const(names)) {
            if (seen.contains(name)) continue;
            seen.insert(name);
            out << "<" + name + ">" << "</" + name + ">" << "<" + name + "/>";
        }
        for (int type = 0; type < 12; ++type) out << "<Trigger type=\"" + QByteArray::number(type) + "\">";
        for (int type : {0, 5, 6, 7}) out << "<Action type=\"" + QByteArray::number(type) + "\">";
        return out;
    }();
    return markup;
}
