#include "support.h"

#include "PKG_REC00800.h"

#include <erpfwui/shell/moduleloader.h>
#include <erpfwui/shell/shellwindow.h>
#include <erpfwui/widgets/dbgrid.h>
#include <erpfwui/widgets/edits.h>
#include <erpfwui/widgets/focus.h>

#include <erpfw/core/shellcontext.h>
#include <erpfw/data/clientdataset.h>
#include <erpfw/data/field.h>
#include <erpfw/net/netconnection.h>
#include <erpwire/json.h>

#include <httplib.h>

#include <QApplication>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSqlQuery>

namespace rec {

using namespace erp;

erp::Button Presenter::present(DialogType type, const QString &text, Buttons buttons)
{
    shown.append({type, text});
    if (type == DialogType::Confirmation) {
        if (answers.isEmpty()) {
            ADD_FAILURE() << "Pergunta sem resposta: " << text.toStdString();
            return Button::No;
        }
        return answers.takeFirst();
    }
    return buttons.testFlag(Button::OK) ? Button::OK : Button::Yes;
}

QStringList Presenter::texts() const
{
    QStringList list;
    for (const ShownMessage &m : shown)
        list.append(m.text);
    return list;
}

FaultProxy::FaultProxy(const std::string &host, int upstreamPort)
    : m_server(std::make_unique<httplib::Server>())
{
    m_server->Get("/health", [host, upstreamPort](const httplib::Request &, httplib::Response &res) {
        httplib::Client upstream(host, upstreamPort);
        const auto answer = upstream.Get("/health");
        res.status = answer ? answer->status : 502;
        res.set_content(answer ? answer->body : std::string(), "application/json");
    });
    m_server->Post(R"(/rpc/(.+))", [this, host, upstreamPort](const httplib::Request &req, httplib::Response &res) {
        const QJsonObject request = QJsonDocument::fromJson(QByteArray::fromStdString(req.body)).object();
        QByteArray member;
        {
            std::lock_guard lock(m_mutex);
            member = m_answers.value(request.value(QStringLiteral("method")).toString());
        }
        if (!member.isEmpty()) {
            const QByteArray id = QByteArray::number(request.value(QStringLiteral("id")).toInteger());
            res.set_content(("{\"jsonrpc\":\"2.0\",\"id\":" + id + "," + member + "}").toStdString(), "application/json");
            return;
        }
        httplib::Client upstream(host, upstreamPort);
        httplib::Headers headers;
        if (req.has_header("Authorization"))
            headers.emplace("Authorization", req.get_header_value("Authorization"));
        const auto answer = upstream.Post(req.path, headers, req.body, "application/json");
        res.status = answer ? answer->status : 502;
        res.set_content(answer ? answer->body : std::string(), "application/json");
    });
    m_port = m_server->bind_to_any_port("127.0.0.1");
    m_thread = std::thread([this] { m_server->listen_after_bind(); });
}

FaultProxy::~FaultProxy()
{
    m_server->stop();
    m_thread.join();
}

void FaultProxy::answer(const QString &method, const QByteArray &member)
{
    std::lock_guard lock(m_mutex);
    m_answers.insert(method, member);
}

void FaultProxy::clear()
{
    std::lock_guard lock(m_mutex);
    m_answers.clear();
}

QString ScreenTest::seededDatabase()
{
    static QTemporaryDir dir;
    static const QString path = [] {
        const QString file = dir.filePath(QStringLiteral("demo.db"));
        server::EmbeddedOptions options;
        options.databasePath = file.toStdString();
        options.today = kToday;
        options.demoAccounts = 1500;
        options.log = [](const std::string &) {};
        server::EmbeddedServer seeding(options);
        return file;
    }();
    return path;
}

void ScreenTest::SetUp()
{
    MessageService::setPresenter(&presenter);
    setServerCallObserver([this](const QString &method, const QByteArray &params) { m_calls.append({method, params}); });
    ModuleLoader::instance().clearOpenedScreens();
}

void ScreenTest::TearDown()
{
    if (frm) {
        QPointer<TfrmRecCont> closing(frm);
        presenter.answers.clear();
        closing->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCoreApplication::processEvents();
        EXPECT_TRUE(closing.isNull()) << "a tela fechada continua viva";
    }
    setServerCallObserver(nullptr);
    MessageService::setPresenter(nullptr);
    Database::setDefaultDatabase(nullptr);
    proxy.reset();
    server.reset();
    database.reset();
}

void ScreenTest::startServer(bool ownDatabase)
{
    QString file = seededDatabase();
    if (ownDatabase) {
        const QString copy = m_dir.filePath(QStringLiteral("own.db"));
        ASSERT_TRUE(QFile::copy(file, copy));
        file = copy;
    }
    server::EmbeddedOptions options;
    options.databasePath = file.toStdString();
    options.today = kToday;
    options.operatorName = "operador";
    options.workers = 2;
    options.log = [](const std::string &) {};
    server = std::make_unique<server::EmbeddedServer>(options);
    database = std::make_unique<Database>(QString::fromStdString(server->databaseUrl()));
    Database::setDefaultDatabase(database.get());

    ShellContext &context = ShellContext::instance();
    context.setWebUrl(QString::fromStdString(server->host()));
    context.setWebPort(server->port());
    context.setOperador(QString::fromStdString(server->operatorName()));
    context.setPassword(QString::fromStdString(server->password()));
    context.setFiliProc(QStringLiteral("0101"));
    context.setTodayOverride(QDate::fromString(QString::fromLatin1(kToday), Qt::ISODate));
}

void ScreenTest::useProxy()
{
    proxy = std::make_unique<FaultProxy>(server->host(), server->port());
    ShellContext::instance().setWebPort(proxy->port());
}

TfrmRecCont *ScreenTest::openScreen()
{
    CriaRecCont();
    QCoreApplication::processEvents();
    frm = Cli_rec00800::frmRecCont;
    return frm;
}

void ScreenTest::enterPanel()
{
    dispatch([&] { focusControl(frm->medCdEmpresa); });
}

void ScreenTest::leavePanel()
{
    dispatch([&] { focusControl(frm->dbgPadrao); });
}

void ScreenTest::chooseCompany(const QString &code)
{
    enterPanel();
    frm->medCdEmpresa->setText(code);
    leavePanel();
}

int ScreenTest::calls(const QString &method) const
{
    int count = 0;
    for (const ServerCall &call : m_calls)
        count += call.method == method;
    return count;
}

int ScreenTest::findRow(const QString &field, const QString &value) const
{
    ClientDataSet *ds = frm->cdsContRec;
    for (int row = 0; row < ds->recordCount(); ++row) {
        ClientDataSet::RowScope scope(*ds, row);
        if (ds->fieldByName(field)->asString() == value)
            return row;
    }
    return -1;
}

QString ScreenTest::rowValue(int row, const QString &field) const
{
    ClientDataSet::RowScope scope(*frm->cdsContRec, row);
    return frm->cdsContRec->fieldByName(field)->asString();
}

QString ScreenTest::dbValue(const QString &column, int row) const
{
    QSqlQuery query(database->connection());
    query.prepare(QStringLiteral("SELECT %1 FROM CONTRECEBER WHERE CDFILIAL = ? AND NRLANCTONF = ? AND NRSEQVENREC = ? "
                                 "AND NRPARCELAREC = ?")
                      .arg(column));
    for (const char *key : {"CDFILIAL", "NRLANCTONF", "NRSEQVENREC", "NRPARCELAREC"})
        query.addBindValue(rowValue(row, QString::fromLatin1(key)));
    if (!query.exec() || !query.next())
        return QStringLiteral("<sem linha>");
    return query.value(0).toString();
}

wire::Packet ScreenTest::packetOf(const QList<wire::FieldDef> &fields, const QList<QHash<QString, QVariant>> &rows)
{
    wire::Packet packet(fields);
    for (const auto &values : rows) {
        const int row = packet.appendRow();
        for (int col = 0; col < fields.size(); ++col)
            if (values.contains(fields[col].name))
                packet.setValue(row, col, values.value(fields[col].name));
    }
    return packet;
}

void ScreenTest::loadAccounts(const QList<QHash<QString, QVariant>> &rows)
{
    QList<wire::FieldDef> fields;
    for (Field *f : frm->cdsContRec->fields())
        if (!f->calculated())
            fields.append({f->fieldName(), f->dataType(), f->size()});
    frm->cdsContRec->setPacket(packetOf(fields, rows));
}

} // namespace rec
