#include "support.h"

#include <erpfw/core/error.h>
#include <erpfw/core/shellcontext.h>
#include <erpfwui/forms/form.h>
#include <erpfwui/screens/dialogs.h>
#include <erpfwui/shell/shellwindow.h>
#include <erpfwui/widgets/dbgrid.h>
#include <erpwire/json.h>
#include <server/rpc/layouts.h>

#include <QApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMainWindow>
#include <QMdiArea>
#include <QSqlError>
#include <QSqlQuery>

#include <httplib.h>

namespace rec00801test {

using namespace erp;

ScriptedServer::ScriptedServer()
{
    start();
}

void ScriptedServer::start()
{
    m_down = false;
    m_server = std::make_unique<httplib::Server>();
    m_server->Get("/health", [](const httplib::Request &, httplib::Response &res) {
        res.set_content(R"({"server":"REC00800.rdmRecCont"})", "application/json");
    });
    m_server->Post("/rpc/REC00800.rdmRecCont", [this](const httplib::Request &req, httplib::Response &res) {
        const QJsonObject request = QJsonDocument::fromJson(QByteArray::fromStdString(req.body)).object();
        QPair<Fault, int> fault{Fault::None, 0};
        {
            QMutexLocker lock(&m_mutex);
            fault = m_faults.value(request.value(QLatin1String("method")).toString(), fault);
        }
        const std::string body = QJsonDocument(answer(request)).toJson(QJsonDocument::Compact).toStdString();
        if (fault.first == Fault::Slow) {
            std::unique_lock lock(m_wakeMutex);
            m_wake.wait_for(lock, std::chrono::milliseconds(fault.second), [this] { return m_stopping; });
        }
        if (fault.first == Fault::Drop || fault.first == Fault::Dies) {
            if (fault.first == Fault::Dies) {
                m_down = true;
                m_server->stop();
            }
            // Headers go out, then the connection closes without the body.
            res.set_content_provider(body.size(), "application/json",
                                     [](size_t, size_t, httplib::DataSink &) { return false; });
            return;
        }
        res.set_content(body, "application/json");
    });
    if (m_port == 0) {
        m_port = m_server->bind_to_any_port("127.0.0.1");
    } else {
        for (int attempt = 0; attempt < 50 && !m_server->bind_to_port("127.0.0.1", m_port); ++attempt)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    m_thread = std::thread([this] { m_server->listen_after_bind(); });
    for (int waited = 0; waited < 2000 && !m_server->is_running(); ++waited)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

ScriptedServer::~ScriptedServer()
{
    shutDown();
}

void ScriptedServer::shutDown()
{
    m_down = true;
    {
        std::lock_guard lock(m_wakeMutex);
        m_stopping = true;
    }
    m_wake.notify_all();
    m_server->stop();
    if (m_thread.joinable())
        m_thread.join();
    std::lock_guard lock(m_wakeMutex);
    m_stopping = false;
}

void ScriptedServer::restart()
{
    shutDown();
    start();
}

bool ScriptedServer::running() const
{
    return !m_down && m_server->is_running();
}

void ScriptedServer::fault(const QString &method, Fault kind, int faultMs)
{
    QMutexLocker lock(&m_mutex);
    m_faults.insert(method, {kind, faultMs});
}

void ScriptedServer::clearFaults()
{
    QMutexLocker lock(&m_mutex);
    m_faults.clear();
}

QJsonObject ScriptedServer::answer(const QJsonObject &request)
{
    const QString method = request.value(QLatin1String("method")).toString();
    QJsonObject reply{{"jsonrpc", "2.0"}, {"id", request.value(QLatin1String("id"))}};
    QMutexLocker lock(&m_mutex);
    m_calls.append({method, request.value(QLatin1String("params")).toArray()});
    const QJsonObject set = m_replies.value(method, QJsonObject{
        {"error", QJsonObject{{"code", -32601}, {"message", QStringLiteral("Método %1 sem resposta no teste.").arg(method)}}}});
    for (auto it = set.begin(); it != set.end(); ++it)
        reply.insert(it.key(), it.value());
    return reply;
}

void ScriptedServer::reply(const QString &method, const QJsonValue &result)
{
    QMutexLocker lock(&m_mutex);
    m_replies.insert(method, QJsonObject{{"result", result}});
}

void ScriptedServer::fail(const QString &method, const QString &message)
{
    QMutexLocker lock(&m_mutex);
    m_replies.insert(method, QJsonObject{{"error", QJsonObject{{"code", -32000}, {"message", message}}}});
}

QList<ScriptedServer::Call> ScriptedServer::calls() const
{
    QMutexLocker lock(&m_mutex);
    return m_calls;
}

QList<ScriptedServer::Call> ScriptedServer::callsOf(const QString &method) const
{
    QList<Call> found;
    for (const Call &call : calls())
        if (call.method == method)
            found.append(call);
    return found;
}

void ScriptedServer::clearCalls()
{
    QMutexLocker lock(&m_mutex);
    m_calls.clear();
}

QJsonValue packet(const QList<std::tuple<QString, QString, int>> &fields, const Rows &rows)
{
    QJsonArray defs;
    for (const auto &[name, type, size] : fields) {
        QJsonObject def{{"name", name}, {"type", type}};
        if (size > 0)
            def.insert(QStringLiteral("size"), size);
        defs.append(def);
    }
    QJsonArray values;
    for (const QJsonArray &row : rows)
        values.append(row);
    return QJsonObject{{"fields", defs}, {"rows", values}};
}

QJsonValue geralRec(const QJsonValue &daysBefore, const QJsonValue &daysAfter)
{
    return packet({{"CDGERALREC", "string", 1}, {"QTDIAANTLANR", "float", 0}, {"QTDIAAPOLANR", "float", 0}},
                  {QJsonArray{"1", daysBefore, daysAfter}});
}

QJsonValue paramFilial(const Rows &rows)
{
    return packet({{"NRTAMNUMNFUT", "float", 0}}, rows);
}

QJsonValue parExp(const Rows &rows)
{
    return packet({{"IDCTRLVENEXP", "string", 1}}, rows);
}

QJsonValue tipoCtReceber(const Rows &rows)
{
    return packet({{"IDMARCADO", "fixedstring", 1}, {"CDTPCTRECEB", "string", 6}, {"DSTPCTRECEB", "string", 40}}, rows);
}

QJsonValue oneAccount()
{
    wire::Packet accounts(server::layouts::contRec());
    const int row = accounts.appendRow();
    const auto set = [&](const char *field, const QVariant &value) {
        accounts.setValue(row, accounts.indexOf(QString::fromLatin1(field)), value);
    };
    set("IDMARCADO", QStringLiteral("N"));
    set("CDFILIAL", QStringLiteral("0001"));
    set("NRPARCELAREC", QStringLiteral("01"));
    set("NRLANCTONF", QStringLiteral("100"));
    set("NRSEQVENREC", QStringLiteral("01"));
    set("NMRAZSOCCLIE", QStringLiteral("Padaria Aurora Ltda"));
    set("VRATUAREC", 150.0);
    set("CDEMPRESA", QStringLiteral("01"));
    return wire::encodePacket(accounts);
}

void FilterTest::SetUpTestSuite()
{
    s_window = new QMainWindow;
    s_area = new QMdiArea(s_window);
    s_window->setCentralWidget(s_area);
    s_window->resize(1000, 700);
    setShellWindow(s_window, s_area);
    s_window->show();
}

void FilterTest::TearDownTestSuite()
{
    setShellWindow(nullptr, nullptr);
    delete s_window;
    s_window = nullptr;
}

void FilterTest::SetUp()
{
    ASSERT_TRUE(m_dir.isValid());
    ShellContext &session = ShellContext::instance();
    session.setWebUrl(QStringLiteral("127.0.0.1"));
    session.setWebPort(m_server.port());
    session.setFiliProc(QStringLiteral("0001"));
    session.setOperador(QStringLiteral("teste"));
    session.setPassword(QStringLiteral("senha"));
    session.setDataDir(m_dir.path());
    session.setTodayOverride(today());

    m_db = std::make_unique<Database>(QStringLiteral("sqlite:") + m_dir.filePath(QStringLiteral("erp.db")));
    Database::setDefaultDatabase(m_db.get());
    execSql(QStringLiteral("CREATE TABLE EMPRESA (CDEMPRESA VARCHAR(2) PRIMARY KEY, NMEMPRESA VARCHAR(40), CDCENTCUST VARCHAR(4))"));
    execSql(QStringLiteral("INSERT INTO EMPRESA VALUES ('01', 'Comercial Exemplo S.A.', '0001')"));
    execSql(QStringLiteral("CREATE TABLE CLIENTE (CDCLIENTE VARCHAR(21) PRIMARY KEY, NMRAZSOCCLIE VARCHAR(50), "
                           "NMFANTCLIE VARCHAR(50), IDTPIJURCLIE VARCHAR(1), NRINSJURCLIE VARCHAR(20))"));
    execSql(QStringLiteral("CREATE TABLE FILIAL (CDFILIAL VARCHAR(4) PRIMARY KEY, NMFILIAL VARCHAR(30))"));
    execSql(QStringLiteral("CREATE TABLE VENDEDOR (CDVENDEDOR VARCHAR(4) PRIMARY KEY, NMFANVEN VARCHAR(50))"));

    m_server.reply(QStringLiteral("GetGeralRec"), geralRec(30, 0));
    m_server.reply(QStringLiteral("GetParamFilial"), paramFilial({QJsonArray{7}}));
    m_server.reply(QStringLiteral("GetParExp"), parExp({QJsonArray{"S"}}));
    m_server.reply(QStringLiteral("GetTipoCtReceber"),
                   tipoCtReceber({QJsonArray{"N", "DUP", "Duplicata"}, QJsonArray{"N", "CHQ", "Cheque"}}));
    m_server.reply(QStringLiteral("GetContRec"), oneAccount());
    m_server.reply(QStringLiteral("GetAjusCont"), wire::encodePacket(wire::Packet(server::layouts::ajusCont())));

    Initialize();
    CriaRecCont();
    ASSERT_TRUE(Cli_rec00800::frmRecCont);
    recCont()->medCdEmpresa->setText(QStringLiteral("01"));
    m_messages.clear();
}

void FilterTest::TearDown()
{
    Form::setModalHook(nullptr);
    delete Cli_rec00801::frmFiltroRecalLancContReceber.data();
    Cli_rec00801::initialization();
    closeRecCont();
    Database::setDefaultDatabase(nullptr);
    m_db.reset();
}

TfrmFiltroRecalLancContReceber *FilterTest::dialog()
{
    if (!Cli_rec00801::frmFiltroRecalLancContReceber)
        CriaFiltroRecalLancContReceber(QStringLiteral("CRIAR"));
    return Cli_rec00801::frmFiltroRecalLancContReceber;
}

void FilterTest::closeRecCont()
{
    s_area->closeAllSubWindows();
    QApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QApplication::processEvents();
}

TfrmRecCont *FilterTest::recCont()
{
    return Cli_rec00800::frmRecCont;
}

bool FilterTest::runHidden()
{
    try {
        CriaFiltroRecalLancContReceber(QStringLiteral("ESCONDE_FILTRO"));
        return true;
    } catch (...) {
        handleException(std::current_exception()); // as the shell would show it
        return false;
    }
}

void FilterTest::runModal(const std::function<void(TfrmFiltroRecalLancContReceber &)> &inside)
{
    bool ran = false;
    Form::setModalHook([&](Form *form) {
        if (auto *dlg = qobject_cast<TfrmFiltroRecalLancContReceber *>(form)) {
            ran = true;
            inside(*dlg);
        } else if (form->objectName() == QLatin1String("frmPesquisaLista") && m_picker) {
            m_picker(*form);
        }
        if (form->isInModalLoop())
            form->close();
    });
    CriaFiltroRecalLancContReceber(QStringLiteral("BOTAO_FILTRO"));
    Form::setModalHook(nullptr);
    EXPECT_TRUE(ran) << "the dialog was not shown modally";
}

void FilterTest::choose(Form &picker, const QString &keyField, const QStringList &keys)
{
    auto *list = qobject_cast<PesquisaListaForm *>(&picker);
    ASSERT_NE(list, nullptr);
    ClientDataSet *rows = list->grid()->dataSource()->dataSet();
    for (int recNo = 1; recNo <= rows->recordCount(); ++recNo) {
        rows->moveTo(recNo);
        if (keys.contains(rows->fieldByName(keyField)->asString()))
            list->toggleCurrent();
    }
    picker.findChild<TButton *>(QStringLiteral("btnOk"))->click();
}

void FilterTest::confirm(TfrmFiltroRecalLancContReceber &dlg)
{
    dlg.sbtConfirma->click();
}

void FilterTest::execSql(const QString &sql)
{
    QSqlQuery query(m_db->connection());
    ASSERT_TRUE(query.exec(sql)) << query.lastError().text().toStdString();
}

QJsonArray FilterTest::lastContRecParams() const
{
    const QList<ScriptedServer::Call> calls = m_server.callsOf(QStringLiteral("GetContRec"));
    return calls.isEmpty() ? QJsonArray() : calls.last().params;
}

} // namespace rec00801test
