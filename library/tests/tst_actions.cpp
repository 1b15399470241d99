// The 2.0 actions of a task item against a private service: the cursor, adding and removing
// actions, the e-mail and message properties of the action under the cursor, the listing of
// the registered task's actions, and the answers of the 1.0 generation.

#include "LibraryTestSupport.h"
#include "kvTask.h"

#include "ObjectRuntime.h"
#include "OsVersion.h"
#include "TaskService2.h"

#include <QtTest>
#include <functional>
#include <memory>
#include <optional>

namespace {

using ReadText = QString (TTaskItem::*)() const;
using WriteText = void (TTaskItem::*)(const QString&);

// The service's own reading of a text of action `index`, to tell which property a write reached.
using ServiceText = std::function<QString(IAction*)>;

template <typename I>
ServiceText Reader(HRESULT (I::*get)(QString*))
{
    return [get](IAction* action) {
        ComPtr<I> typed;
        OleCheck(ComPtr<IAction>(action).As(typed));
        QString value;
        OleCheck((typed.Get()->*get)(&value));
        return value;
    };
}

ComPtr<IActionCollection> ActionsOf(ITaskDefinition* definition)
{
    ComPtr<IActionCollection> actions;
    OleCheck(definition->get_Actions(actions.Put()));
    return actions;
}

ComPtr<IAction> ActionOf(TTaskItem* item, LONG index)
{
    ComPtr<IAction> action;
    OleCheck(ActionsOf(item->GetTaskDefinition().Get())->get_Item(index, action.Put()));
    return action;
}

TIntegerArray TypesOf(TTaskItem* item)
{
    TIntegerArray types;
    const ComPtr<IActionCollection> actions = ActionsOf(item->GetTaskDefinition().Get());
    LONG count = 0;
    OleCheck(actions->get_Count(&count));
    for (LONG i = 1; i <= count; ++i) {
        ComPtr<IAction> action;
        OleCheck(actions->get_Item(i, action.Put()));
        TASK_ACTION_TYPE type = TASK_ACTION_EXEC;
        OleCheck(action->get_Type(&type));
        types.append(type);
    }
    return types;
}

template <typename I>
ComPtr<I> As(const ComPtr<IAction>& action)
{
    ComPtr<I> typed;
    OleCheck(action.As(typed));
    return typed;
}

struct TextProperty {
    const char* name;
    ReadText read;
    WriteText write;
    TASK_ACTION_TYPE kind;
    ServiceText service;
};

const QList<TextProperty>& TextProperties()
{
    static const QList<TextProperty> properties{
        {"MailSendTo", &TTaskItem::GetMailSendTo, &TTaskItem::SetMailSendTo, TASK_ACTION_SEND_EMAIL,
         Reader(&IEmailAction::get_To)},
        {"MailSendFrom", &TTaskItem::GetMailSendFrom, &TTaskItem::SetMailSendFrom, TASK_ACTION_SEND_EMAIL,
         Reader(&IEmailAction::get_From)},
        {"MailSubject", &TTaskItem::GetMailSubject, &TTaskItem::SetMailSubject, TASK_ACTION_SEND_EMAIL,
         Reader(&IEmailAction::get_Subject)},
        {"MailContent", &TTaskItem::GetMailContent, &TTaskItem::SetMailContent, TASK_ACTION_SEND_EMAIL,
         Reader(&IEmailAction::get_Body)},
        {"MailServer", &TTaskItem::GetMailServer, &TTaskItem::SetMailServer, TASK_ACTION_SEND_EMAIL,
         Reader(&IEmailAction::get_Server)},
        {"MessTitle", &TTaskItem::GetMessTitle, &TTaskItem::SetMessTitle, TASK_ACTION_SHOW_MESSAGE,
         Reader(&IShowMessageAction::get_Title)},
        {"MessText", &TTaskItem::GetMessText, &TTaskItem::SetMessText, TASK_ACTION_SHOW_MESSAGE,
         Reader(&IShowMessageAction::get_MessageBody)},
    };
    return properties;
}

void AddPropertyRows()
{
    QTest::addColumn<int>("property");
    for (int n = 0; n < TextProperties().size(); ++n) QTest::newRow(TextProperties().at(n).name) << n;
}

} // namespace

class tst_actions : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void insertAppendsWithoutMovingTheCursor();
    void insertOfAKindTheServiceRejects();
    void removeOutOfRangeDoesNothing_data();
    void removeOutOfRangeDoesNothing();
    void removeTakesTheIndexedAction();

    void textPropertiesReachTheirOwnField_data();
    void textPropertiesReachTheirOwnField();
    void cursorZeroReadsEmptyAndWritesNothing_data();
    void cursorZeroReadsEmptyAndWritesNothing();
    void actionOfAnotherKindIsACastError_data();
    void actionOfAnotherKindIsACastError();
    void cursorBeyondTheActionsIsAServiceError();

    void listsOfTheRegisteredTask();
    void listsIgnoreUnsavedEdits();
    void listsNeedARegisteredTask();
    void listsOfAnOldTaskAreACastError();

    void oldGenerationAnswers_data();
    void oldGenerationAnswers();
    void missingDefinitionIsNotActivated();

private:
    TTaskItem* NewItem(const QList<TASK_ACTION_TYPE>& kinds);

    std::unique_ptr<LibraryTests::Fixture> m_f;
};

void tst_actions::init()
{
    m_f = std::make_unique<LibraryTests::Fixture>(true);
    QVERIFY(m_f->root.IsValid());
    m_f->SelectRootFolder();
}

void tst_actions::cleanup() { m_f.reset(); }

// A new task whose actions are of the kinds given, in order, each with the texts the
// service needs to register it.
TTaskItem* tst_actions::NewItem(const QList<TASK_ACTION_TYPE>& kinds)
{
    TTaskItem* item = m_f->scheduler->CreateNewItem(QStringLiteral("Actions probe"));
    for (TASK_ACTION_TYPE kind : kinds) {
        const ComPtr<IAction> action = item->InsertAction(kind);
        switch (kind) {
        case TASK_ACTION_EXEC:
            OleCheck(As<IExecAction>(action)->put_Path(QStringLiteral("/bin/true")));
            break;
        case TASK_ACTION_COM_HANDLER:
            OleCheck(As<IComHandlerAction>(action)->put_ClassId(QStringLiteral("{6D2FD252-75C5-4F66-90BA-2A7D8CC3039F}")));
            break;
        case TASK_ACTION_SEND_EMAIL: {
            const ComPtr<IEmailAction> mail = As<IEmailAction>(action);
            OleCheck(mail->put_To(QStringLiteral("a")));
            OleCheck(mail->put_Subject(QStringLiteral("b")));
            OleCheck(mail->put_From(QStringLiteral("sender@example.org")));
            OleCheck(mail->put_Server(QStringLiteral("localhost")));
            break;
        }
        case TASK_ACTION_SHOW_MESSAGE: {
            const ComPtr<IShowMessageAction> message = As<IShowMessageAction>(action);
            OleCheck(message->put_Title(QStringLiteral("Reminder")));
            OleCheck(message->put_MessageBody(QStringLiteral("Time to go")));
            break;
        }
        }
    }
    return item;
}

void tst_actions::insertAppendsWithoutMovingTheCursor()
{
    TTaskItem* item = NewItem({TASK_ACTION_EXEC, TASK_ACTION_SHOW_MESSAGE});
    item->SetCurrentAction(2);
    const ComPtr<IAction> inserted = item->InsertAction(TASK_ACTION_SEND_EMAIL);
    QVERIFY(inserted);
    QCOMPARE(item->GetActionsCount(), 3);
    QCOMPARE(item->GetCurrentAction(), 2);
    QCOMPARE(TypesOf(item), (TIntegerArray{TASK_ACTION_EXEC, TASK_ACTION_SHOW_MESSAGE, TASK_ACTION_SEND_EMAIL}));

    item->SetCurrentAction(3);
    item->SetMailServer(QStringLiteral("smtp.example.org"));
    QCOMPARE(Reader(&IEmailAction::get_Server)(inserted.Get()), QStringLiteral("smtp.example.org"));
    QCOMPARE(item->GetMailServer(), QStringLiteral("smtp.example.org"));
    item->SetCurrentAction(2);
    QCOMPARE(item->GetMessTitle(), QStringLiteral("Reminder"));
}

void tst_actions::insertOfAKindTheServiceRejects()
{
    TTaskItem* item = NewItem({TASK_ACTION_EXEC});
    QVERIFY_THROWS_EXCEPTION(EPlatformError, item->InsertAction(1));
    QVERIFY_THROWS_EXCEPTION(EPlatformError, item->InsertAction(-1));
    QCOMPARE(item->GetActionsCount(), 1);
}

void tst_actions::removeOutOfRangeDoesNothing_data()
{
    QTest::addColumn<int>("index");
    QTest::newRow("zero") << 0;
    QTest::newRow("negative") << -1;
    QTest::newRow("one above the count") << 3;
    QTest::newRow("far above") << 1000;
}

void tst_actions::removeOutOfRangeDoesNothing()
{
    QFETCH(int, index);
    TTaskItem* item = NewItem({TASK_ACTION_EXEC, TASK_ACTION_SEND_EMAIL});
    item->RemoveAction(index);
    QCOMPARE(TypesOf(item), (TIntegerArray{TASK_ACTION_EXEC, TASK_ACTION_SEND_EMAIL}));
}

void tst_actions::removeTakesTheIndexedAction()
{
    TTaskItem* item = NewItem({TASK_ACTION_EXEC, TASK_ACTION_SEND_EMAIL, TASK_ACTION_SHOW_MESSAGE});
    item->SetCurrentAction(3);
    item->RemoveAction(2);
    QCOMPARE(TypesOf(item), (TIntegerArray{TASK_ACTION_EXEC, TASK_ACTION_SHOW_MESSAGE}));
    QCOMPARE(item->GetCurrentAction(), 3);
    item->RemoveAction(2);
    item->RemoveAction(1);
    QCOMPARE(item->GetActionsCount(), 0);
}

void tst_actions::textPropertiesReachTheirOwnField_data()
{
    AddPropertyRows();
}

void tst_actions::textPropertiesReachTheirOwnField()
{
    QFETCH(int, property);
    const TextProperty& p = TextProperties().at(property);

    TTaskItem* item = NewItem({TASK_ACTION_EXEC, TASK_ACTION_SEND_EMAIL, TASK_ACTION_SHOW_MESSAGE});
    item->SetCurrentAction(p.kind == TASK_ACTION_SEND_EMAIL ? 2 : 3);
    const ComPtr<IAction> action = ActionOf(item, item->GetCurrentAction());

    // Every other text of the same action keeps its value.
    QMap<int, QString> others;
    for (int n = 0; n < TextProperties().size(); ++n) {
        if (n != property && TextProperties().at(n).kind == p.kind) others[n] = TextProperties().at(n).service(action.Get());
    }
    const QString value = QStringLiteral("value of %1 \u00e9").arg(QLatin1String(p.name));
    (item->*p.write)(value);
    QCOMPARE(p.service(action.Get()), value);
    QCOMPARE((item->*p.read)(), value);
    for (auto it = others.cbegin(); it != others.cend(); ++it) {
        QCOMPARE(TextProperties().at(it.key()).service(action.Get()), it.value());
    }
}

void tst_actions::cursorZeroReadsEmptyAndWritesNothing_data()
{
    AddPropertyRows();
}

void tst_actions::cursorZeroReadsEmptyAndWritesNothing()
{
    QFETCH(int, property);
    const TextProperty& p = TextProperties().at(property);

    TTaskItem* item = NewItem({p.kind});
    const ComPtr<IAction> action = ActionOf(item, 1);
    const QString before = p.service(action.Get());
    for (qint32 cursor : {0, -1}) {
        item->SetCurrentAction(cursor);
        QCOMPARE((item->*p.read)(), QString());
        (item->*p.write)(QStringLiteral("changed"));
        QCOMPARE(p.service(action.Get()), before);
    }
}

void tst_actions::actionOfAnotherKindIsACastError_data()
{
    AddPropertyRows();
}

void tst_actions::actionOfAnotherKindIsACastError()
{
    QFETCH(int, property);
    const TextProperty& p = TextProperties().at(property);

    const TASK_ACTION_TYPE other = p.kind == TASK_ACTION_SEND_EMAIL ? TASK_ACTION_SHOW_MESSAGE : TASK_ACTION_SEND_EMAIL;
    TTaskItem* item = NewItem({TASK_ACTION_EXEC, other});
    QString xml;
    OleCheck(item->GetTaskDefinition()->get_XmlText(&xml));
    for (qint32 cursor : {1, 2}) {
        item->SetCurrentAction(cursor);
        try {
            (item->*p.read)();
            QFAIL("reading another kind of action raised nothing");
        } catch (const EIntfCastError& e) {
            QCOMPARE(e.Message(), QStringLiteral("Interface not supported"));
        }
        QVERIFY_THROWS_EXCEPTION(EIntfCastError, (item->*p.write)(QStringLiteral("changed")));
    }
    QString after;
    OleCheck(item->GetTaskDefinition()->get_XmlText(&after));
    QCOMPARE(after, xml);
}

void tst_actions::cursorBeyondTheActionsIsAServiceError()
{
    TTaskItem* item = NewItem({TASK_ACTION_SEND_EMAIL});
    item->SetCurrentAction(2);
    QVERIFY_THROWS_EXCEPTION(EPlatformError, item->GetMailServer());
    QVERIFY_THROWS_EXCEPTION(EPlatformError, item->SetMailServer(QStringLiteral("x")));
}

void tst_actions::listsOfTheRegisteredTask()
{
    TTaskItem* item = NewItem({TASK_ACTION_EXEC, TASK_ACTION_COM_HANDLER, TASK_ACTION_SEND_EMAIL, TASK_ACTION_SHOW_MESSAGE});
    item->Save();

    QStringList details{QStringLiteral("earlier detail")};
    QStringList captions{QStringLiteral("earlier caption")};
    TIntegerArray types{99, 98};
    item->GetTasksLists(details, captions, types);
    QCOMPARE(details, (QStringList{QStringLiteral("earlier detail"), QStringLiteral("/bin/true"),
                                   QStringLiteral("{6D2FD252-75C5-4F66-90BA-2A7D8CC3039F}"), QStringLiteral("a b"),
                                   QStringLiteral("Reminder")}));
    QCOMPARE(captions, (QStringList{QStringLiteral("earlier caption"), QStringLiteral("Start a programm"),
                                    QStringLiteral("COM Object"), QStringLiteral("Send an e-mail"),
                                    QStringLiteral("Display a message")}));
    QCOMPARE(types, (TIntegerArray{0, 5, 6, 7}));

    QStringList twoDetails;
    QStringList twoCaptions;
    item->GetTasksLists(twoDetails, twoCaptions);
    QCOMPARE(twoDetails, details.mid(1));
    QCOMPARE(twoCaptions, captions.mid(1));
}

void tst_actions::listsIgnoreUnsavedEdits()
{
    TTaskItem* item = NewItem({TASK_ACTION_EXEC});
    item->Save();
    item->InsertAction(TASK_ACTION_SEND_EMAIL);
    item->SetCurrentAction(2);
    item->SetMailSendTo(QStringLiteral("ops@example.org"));
    item->SetMailSubject(QStringLiteral("Report"));
    item->SetMailSendFrom(QStringLiteral("task@example.org"));
    item->SetMailServer(QStringLiteral("localhost"));
    item->SetCurrentAction(1);
    item->SetApplicationName(QStringLiteral("/bin/false"));

    QStringList details;
    QStringList captions;
    TIntegerArray types;
    item->GetTasksLists(details, captions, types);
    QCOMPARE(details, QStringList{QStringLiteral("/bin/true")});
    QCOMPARE(types, TIntegerArray{0});

    item->Save();
    details.clear();
    captions.clear();
    item->GetTasksLists(details, captions, types);
    QCOMPARE(details, (QStringList{QStringLiteral("/bin/false"), QStringLiteral("ops@example.org Report")}));
    QCOMPARE(captions, (QStringList{QStringLiteral("Start a programm"), QStringLiteral("Send an e-mail")}));
    QCOMPARE(types, (TIntegerArray{0, 6}));
}

void tst_actions::listsNeedARegisteredTask()
{
    TTaskItem* item = NewItem({TASK_ACTION_EXEC});
    QStringList details;
    QStringList captions;
    TIntegerArray types{6, 7};
    try {
        item->GetTasksLists(details, captions, types);
        QFAIL("a task never registered was listed");
    } catch (const ETaskError& e) {
        QCOMPARE(e.Message(), QStringLiteral("Task \"Actions probe\" is not activated."));
    }
    QVERIFY(details.isEmpty());
    QVERIFY(captions.isEmpty());
    QCOMPARE(types, (TIntegerArray{6, 7}));
}

void tst_actions::listsOfAnOldTaskAreACastError()
{
    TTaskScheduler scheduler;
    scheduler.SetUseTaskScheduler1Only(true);
    scheduler.Open();
    TTaskItem* item = scheduler.CreateNewItem(QStringLiteral("Old task"));
    item->SetApplicationName(QStringLiteral("/bin/true"));
    item->Save();
    QVERIFY(item->GetTaskInterface());

    QStringList details{QStringLiteral("d")};
    QStringList captions{QStringLiteral("c")};
    TIntegerArray types{0};
    try {
        item->GetTasksLists(details, captions, types);
        QFAIL("a 1.0 task object was listed as a registered task");
    } catch (const EIntfCastError& e) {
        QCOMPARE(e.Message(), QStringLiteral("Interface not supported"));
    }
    QVERIFY_THROWS_EXCEPTION(EIntfCastError, item->GetTasksLists(details, captions));
    QCOMPARE(details, QStringList{QStringLiteral("d")});
    QCOMPARE(captions, QStringList{QStringLiteral("c")});
    QCOMPARE(types, TIntegerArray{0});
}

void tst_actions::oldGenerationAnswers_data()
{
    QTest::addColumn<bool>("forced");
    QTest::newRow("1.0 forced") << true;
    QTest::newRow("platform offers 1.0 only") << false;
}

void tst_actions::oldGenerationAnswers()
{
    QFETCH(bool, forced);

    std::optional<OsVersion::ScopedOverride> oldPlatform;
    if (!forced) oldPlatform.emplace(OsVersion(5, 1));
    TTaskScheduler scheduler;
    scheduler.SetUseTaskScheduler1Only(forced);
    QVERIFY(!scheduler.RunningVistaOrLater());
    TTaskItem item(&scheduler);
    item.SetCurrentAction(1);

    QCOMPARE(item.GetActionsCount(), 0);
    QVERIFY(!item.InsertAction(TASK_ACTION_EXEC));
    item.RemoveAction(1);
    QCOMPARE(item.GetCurrentAction(), 1);
    for (const TextProperty& p : TextProperties()) {
        QCOMPARE((item.*p.read)(), QString());
        try {
            (item.*p.write)(QStringLiteral("x"));
            QFAIL(qPrintable(QStringLiteral("writing %1 raised nothing").arg(QLatin1String(p.name))));
        } catch (const ETaskError& e) {
            QCOMPARE(e.Message(), QStringLiteral("Task \"\" is not activated."));
        }
    }
    QStringList details;
    QStringList captions;
    QVERIFY_THROWS_EXCEPTION(ETaskError, item.GetTasksLists(details, captions));
}

void tst_actions::missingDefinitionIsNotActivated()
{
    TTaskItem item(m_f->scheduler.get());
    item.SetCurrentAction(1);
    const std::function<void()> members[] = {
        [&] { item.GetActionsCount(); },
        [&] { item.InsertAction(TASK_ACTION_EXEC); },
        [&] { item.RemoveAction(1); },
        [&] { item.GetMailSendTo(); },
        [&] { item.SetMessText(QStringLiteral("x")); },
    };
    for (const auto& member : members) QVERIFY_THROWS_EXCEPTION(ETaskError, member());
}

QTEST_GUILESS_MAIN(tst_actions)
#include "tst_actions.moc"
