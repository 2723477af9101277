// REC00800 as the user drives it, on the offscreen platform, against rec-appserver in its own
// process (so that this process's memory is the client's alone):
//  - filter confirm to the first rows painted, against a plain scan of the company's accounts with the C API;
//  - painting the visible rows with the whole list loaded against 100 rows loaded;
//  - resident memory added by the loaded list against the size of its JSON packet;
//  - marking all accounts (question answered Yes) against a loop that writes the same marks and
//    inserts the same keys into a hash set; with one GetAjusCont call;
//  - 1,000 moves of the current row with the keyboard against 1,000 keep-alive /health calls;
//  - the list and 1,000 small calls by the shell's client against a plain client;
//  - Confirmar of a handful of accounts with the list loaded, to the list reloaded, against
//    the same request's bytes posted to a sink and the list received by a plain client.
// client_bench --data DIR --server-bin PATH --lists 10000,100000 --marks 100000 --confirm 100000 --reps 5
//   [--pg ADMIN_URL [--pg-lists 10000,100000]]: the list lines on PostgreSQL too
// client_bench --only transport --lists 100000: the shell's client against a plain one alone;
// client_bench --only moves --marks 10000 --reps 1: the moves alone; under callgrind with
// --instr-atstart=no only the moves' loop is counted; --only confirm: the Confirmar line alone;
// --only lists: the list lines alone
#include "common.h"

#include "Cli_rec00800.h"
#include "Cli_rec00801.h"
#include "PKG_REC00800.h"

#include <erpfwui/forms/form.h>
#include <erpfwui/shell/moduleloader.h>
#include <erpfwui/shell/shellwindow.h>
#include <erpfwui/widgets/controls.h>
#include <erpfwui/widgets/dbgrid.h>
#include <erpfwui/widgets/edits.h>
#include <erpfwui/widgets/events.h>
#include <erpfwui/widgets/focus.h>

#include <erpfw/core/messageservice.h>
#include <erpfw/core/shellcontext.h>
#include <erpfw/data/clientdataset.h>
#include <erpfw/data/field.h>
#include <erpfw/data/keylist.h>
#include <erpfw/db/database.h>
#include <erpfw/net/httpclient.h>
#include <erpfw/net/netconnection.h>
#include <erpwire/json.h>

#include <httplib.h>

#include <QAbstractButton>
#include <QAbstractTableModel>
#include <QApplication>
#include <QHeaderView>
#include <QJsonArray>
#include <QJsonDocument>
#include <QMainWindow>
#include <QMdiArea>
#include <QProcess>
#include <QSet>
#include <QTcpServer>
#include <QTableView>
#include <QTest>
#include <QThread>

#include <valgrind/callgrind.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <malloc.h>

using namespace bench;
using namespace erp;
namespace db = erp::server::db;

namespace {

struct Presenter final : MessagePresenter
{
    Button present(DialogType type, const QString &text, Buttons buttons) override
    {
        if (type == DialogType::Confirmation)
            return Button::Yes;
        if (confirming && type == DialogType::Information && text.contains(QLatin1String("realizado com sucesso"))) {
            ++confirmed;
            return Button::OK;
        }
        std::cerr << "client_bench: mensagem: " << text.toStdString() << "\n";
        ++shown;
        return buttons.testFlag(Button::OK) ? Button::OK : Button::Yes;
    }
    int shown = 0;
    bool confirming = false; // the recalculation's success message is expected
    int confirmed = 0;
};
Presenter *g_presenter = nullptr;

QString g_serverLog = QProcess::nullDevice();

int freePort()
{
    QTcpServer s;
    s.listen(QHostAddress::LocalHost, 0);
    return s.serverPort();
}

// rec-appserver serving the database until destroyed.
class ServerProcess
{
public:
    ServerProcess(const QString &bin, const std::string &url) : m_port(freePort())
    {
        // one line per call: kept apart, read when a run goes wrong
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        m_process.setStandardOutputFile(g_serverLog);
        m_process.start(bin, {"serve", "--db", QString::fromStdString(url), "--listen",
                              QStringLiteral("127.0.0.1:%1").arg(m_port), "--workers", "2", "--today", "2025-06-15"});
        if (!m_process.waitForStarted())
            throw std::runtime_error("rec-appserver não iniciou: " + bin.toStdString());
        httplib::Client http("127.0.0.1", m_port);
        for (int i = 0; i < 200; ++i) {
            if (auto r = http.Get("/health"); r && r->status == 200)
                return;
            QThread::msleep(50);
        }
        throw std::runtime_error("rec-appserver não respondeu em /health");
    }
    ~ServerProcess()
    {
        m_process.terminate();
        if (!m_process.waitForFinished(10000))
            m_process.kill();
    }
    int port() const { return m_port; }

private:
    QProcess m_process;
    int m_port;
};

long rssKb()
{
    malloc_trim(0); // what the heap holds, not what it has not yet handed back
    return statusKb("VmRSS");
}

// A model of as many rows and columns as the grid's, with one short text in every cell.
class PlainModel : public QAbstractTableModel
{
public:
    PlainModel(int rows, int columns) : m_rows(rows), m_columns(columns) {}
    int rowCount(const QModelIndex &) const override { return m_rows; }
    int columnCount(const QModelIndex &) const override { return m_columns; }
    QVariant data(const QModelIndex &, int role) const override
    {
        return role == Qt::DisplayRole ? QVariant(QStringLiteral("texto")) : QVariant();
    }

private:
    int m_rows, m_columns;
};

// The toolkit's own part of a move: the same 1,000 keys on a plain QTableView of the grid's
// size, font, row height and selection, with no dataset behind it and no server call.
double plainGridMoves(const TDBGrid &grid, int reps)
{
    PlainModel model(grid.model()->rowCount(), grid.model()->columnCount());
    QTableView view;
    view.setModel(&model);
    view.setFont(grid.font());
    view.setSelectionBehavior(grid.selectionBehavior());
    view.setSelectionMode(grid.selectionMode());
    view.verticalHeader()->setVisible(grid.verticalHeader()->isVisible());
    view.verticalHeader()->setDefaultSectionSize(grid.verticalHeader()->defaultSectionSize());
    for (int c = 0; c < model.columnCount({}); ++c)
        view.setColumnWidth(c, grid.columnWidth(c));
    view.resize(grid.size());
    view.show();
    view.setFocus();
    std::vector<double> times;
    for (int i = 0; i < reps; ++i) {
        view.setCurrentIndex(model.index(0, 0));
        QCoreApplication::processEvents();
        const auto t = Clock::now();
        for (int k = 0; k < 1000; ++k)
            QTest::keyClick(&view, Qt::Key_Down);
        times.push_back(since(t));
        if (view.currentIndex().row() != 1000)
            throw std::runtime_error("a grade simples parou na linha " + std::to_string(view.currentIndex().row()));
    }
    return median(times);
}

// One screen on one database.
class Session
{
public:
    Session(const QString &serverBin, const std::string &url)
        : m_url(url), m_server(serverBin, url), m_database(QString::fromStdString(url))
    {
        Database::setDefaultDatabase(&m_database);
        ShellContext &c = ShellContext::instance();
        c.setWebUrl(QStringLiteral("127.0.0.1"));
        c.setWebPort(m_server.port());
        c.setOperador(QStringLiteral("bench"));
        c.setPassword(QStringLiteral("bench"));
        c.setFiliProc(QStringLiteral("0101"));
        c.setTodayOverride(QDate(2025, 6, 15));
        ModuleLoader::instance().clearOpenedScreens();
        CriaRecCont();
        QCoreApplication::processEvents();
        frm = Cli_rec00800::frmRecCont;
        if (!frm)
            throw std::runtime_error("REC00800 não abriu");
        dispatch([&] { focusControl(frm->medCdEmpresa); });
        frm->medCdEmpresa->setText(QStringLiteral("01"));
        dispatch([&] { focusControl(frm->dbgPadrao); });
        QCoreApplication::processEvents();
    }
    ~Session()
    {
        QPointer<TfrmRecCont> closing(frm);
        closing->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCoreApplication::processEvents();
        Database::setDefaultDatabase(nullptr);
    }

    // The user opens the filter, widens the due dates, status and accounting to everything and
    // confirms; the time runs from the confirm to the grid's first paint of the new rows: the
    // window's own paint on the way back from the dialog when there is one, else one made here.
    double filterToFirstPaint()
    {
        Clock::time_point start;
        bool ran = false;
        struct PaintSeen final : QObject
        {
            bool armed = false, painted = false;
            bool eventFilter(QObject *, QEvent *e) override
            {
                painted = painted || (armed && e->type() == QEvent::Paint);
                return false;
            }
        } seen;
        frm->dbgPadrao->viewport()->installEventFilter(&seen);
        // the first row's adjustments are asked for once the new rows are in the grid
        setServerCallObserver([&](const QString &method, const QByteArray &) {
            seen.armed = seen.armed || method == QLatin1String("GetAjusCont");
        });
        Form::setModalHook([&](Form *form) {
            auto *dlg = qobject_cast<TfrmFiltroRecalLancContReceber *>(form);
            if (!dlg)
                return;
            ran = true;
            dlg->depVencIni->setDate(QDate::fromString(QString::fromLatin1(kDueFrom), Qt::ISODate));
            dlg->depVencFin->setDate(QDate::fromString(QString::fromLatin1(kDueTo), Qt::ISODate));
            dlg->cbbStatus->setItemIndex(5);
            dlg->rdgCtbl->setItemIndex(2);
            start = Clock::now();
            dlg->findChild<QAbstractButton *>(QStringLiteral("sbtConfirma"))->click();
            if (form->isInModalLoop())
                throw std::runtime_error("o filtro não fechou ao confirmar");
        });
        dispatch([&] { frm->sbtFiltroClick(frm->sbtFiltro); });
        Form::setModalHook(nullptr);
        setServerCallObserver(nullptr);
        frm->dbgPadrao->viewport()->removeEventFilter(&seen);
        if (!ran)
            throw std::runtime_error("o filtro não foi mostrado");
        if (!seen.painted)
            frm->dbgPadrao->viewport()->repaint();
        return since(start);
    }

    double paint()
    {
        const auto t = Clock::now();
        frm->dbgPadrao->viewport()->repaint();
        return since(t);
    }

    TfrmRecCont *frm = nullptr;
    std::string m_url;
    ServerProcess m_server;
    Database m_database;
};

std::string rpcBody(const std::string &params, const std::string &method = "GetContRec")
{
    return "{\"jsonrpc\":\"2.0\",\"id\":1,\"method\":\"" + method + "\",\"params\":" + params + "}";
}

// The screen's widest list of company 01.
std::string listParams()
{
    return std::string("[\"01\",\"\",\"\",null,null,null,null,\"\",\"\",0,0,\"\",\"") + kDueFrom + "\",\"" + kDueTo
           + "\",\"\",0,0,0,0,false,false,\"\",\"T\",\"5\"]";
}

// The size of the list's JSON packet, as the server sends it.
long packetBytes(int port)
{
    const std::string params = listParams();
    httplib::Client http("127.0.0.1", port);
    http.set_tcp_nodelay(true);
    http.set_read_timeout(600);
    long bytes = 0;
    httplib::Request req;
    req.method = "POST";
    req.path = "/rpc/REC00800.rdmRecCont";
    req.body = rpcBody(params);
    req.set_header("Content-Type", "application/json");
    req.set_header("Authorization", "Basic " + QByteArray("bench:bench").toBase64().toStdString());
    req.content_receiver = [&](const char *, size_t n, uint64_t, uint64_t) {
        bytes += long(n);
        return true;
    };
    httplib::Response res;
    httplib::Error err;
    http.send(req, res, err);
    return bytes;
}

void listMetrics(const QString &serverBin, const std::string &url, const std::string &backend, long size, int reps,
                 bool paintToo)
{
    Session s(serverBin, url);
    ClientDataSet *ds = s.frm->cdsContRec;
    ds->close();
    const long before = rssKb();
    resetPeak();
    const double first = s.filterToFirstPaint();
    const long after = rssKb();
    const long rows = ds->recordCount();
    const db::DbUrl dbUrl = db::DbUrl::parse(url);
    scanAccountsWithCApi(dbUrl); // connects, outside the time
    // each filter next to its floor: the machine's slower and faster spells touch both alike;
    // a short list is run more often, its few milliseconds are as noisy as they are cheap
    const int runs = first < 0.1 ? std::max(reps, 15) : reps;
    std::vector<double> times{first}, floors;
    for (int i = 0; i < runs; ++i) {
        const auto t = Clock::now();
        scanAccountsWithCApi(dbUrl);
        floors.push_back(since(t));
        if (i > 0)
            times.push_back(s.filterToFirstPaint());
    }
    const std::string extra = "\"seeded\": " + std::to_string(size) + ", \"backend\": \"" + backend + "\"";
    const double m = median(times), f = median(floors);
    print({"filter_to_first_paint", rows, m, f, m / f, 3, peakRssMb(), extra});

    // the packet is the same whatever the database: its memory is measured once, on SQLite,
    // before another run's freed heap can hold it
    if (backend != "sqlite")
        return;
    const double addedMb = (after - before) / 1024.0;
    const double jsonMb = packetBytes(s.m_server.port()) / 1048576.0;
    print({"list_resident_memory", rows, addedMb, jsonMb, addedMb / jsonMb, 1, peakRssMb(),
           extra + ", \"unit\": \"MB\", \"packet_mb\": " + std::to_string(ds->packet().byteSize() / 1048576.0)});

    if (paintToo) {
        std::vector<double> big, small;
        s.paint();
        for (int i = 0; i < 30; ++i)
            big.push_back(s.paint());
        const wire::Packet all = ds->packet();
        wire::Packet hundred(all.fields());
        for (int r = 0; r < 100 && r < all.rowCount(); ++r) {
            QVariantList values;
            for (int c = 0; c < all.fieldCount(); ++c)
                values.append(all.value(r, c));
            hundred.appendRow(values);
        }
        ds->setPacket(hundred);
        s.paint();
        for (int i = 0; i < 30; ++i)
            small.push_back(s.paint());
        const double mb = median(big), ms = median(small);
        print({"grid_paint_rows_loaded", rows, mb, ms, mb / ms, 1.5, peakRssMb(), extra + ", \"floor_rows\": 100"});
    }
}

// The shell's client against a plain HTTP client that only receives the bytes, on the same
// server: the list (the time after its last byte is what the first does beyond the second), and
// 1,000 small calls.
void transportMetrics(const QString &serverBin, const std::string &url, long size, int reps)
{
    ServerProcess server(serverBin, url);
    ShellContext &c = ShellContext::instance();
    c.setOperador(QStringLiteral("bench"));
    c.setPassword(QStringLiteral("bench"));
    NetConnection net;
    net.setServerName(QStringLiteral("REC00800.rdmRecCont"));
    net.setHost(QStringLiteral("127.0.0.1"));
    net.setPort(server.port());
    net.setTimeoutMs(600000);
    const QVariantList params = QJsonDocument::fromJson(QByteArray::fromStdString(listParams())).array().toVariantList();
    const std::string extra = "\"seeded\": " + std::to_string(size);
    // the session's first call pays for the operator's password check, once: out of the lines
    checkResultServ(net.call(QStringLiteral("GetGeralRec")), false);

    std::vector<double> calls, raws;
    long rows = 0;
    for (int i = 0; i < reps; ++i) {
        auto t = Clock::now();
        rows = checkResultServ(net.call(QStringLiteral("GetContRec"), params), false).value<wire::Packet>().rowCount();
        calls.push_back(since(t));
        t = Clock::now();
        packetBytes(server.port());
        raws.push_back(since(t));
    }
    double m = median(calls), f = median(raws);
    print({"net_list_call", rows, m, f, m / f, 1.5, peakRssMb(), extra + ", \"floor\": \"the same answer's bytes received by a plain client\""});

    // From the answer's last byte to its packet: read while it streams in, against read once
    // it is all there.
    struct Timed final : wire::ByteStream
    {
        HttpBodyStream *in;
        Clock::time_point *end;
        const char *data() const override { return in->body().data(); }
        qsizetype size() const override { return qsizetype(in->body().size()); }
        bool more() override
        {
            const bool got = in->more();
            if (!got)
                *end = Clock::now();
            return got;
        }
    };
    HttpClient client("127.0.0.1", server.port());
    client.setTimeoutMs(600000);
    const std::string headers = "Authorization: Basic " + QByteArray("bench:bench").toBase64().toStdString()
                                + "\r\nContent-Type: application/json\r\n";
    const std::string request = rpcBody(listParams());
    calls.clear();
    raws.clear();
    for (int i = 0; i < reps; ++i) {
        HttpAnswer answer;
        Clock::time_point end;
        double tail = -1;
        client.exchange("POST", "/rpc/REC00800.rdmRecCont", headers, request, answer, {}, [&](int, HttpBodyStream &in) {
            Timed timed;
            timed.in = &in;
            timed.end = &end;
            if (wire::readRpcResult(timed, 1))
                tail = since(end);
        });
        if (tail < 0)
            throw std::runtime_error("a lista não foi lida enquanto chegava");
        calls.push_back(tail);
        HttpAnswer whole;
        client.exchange("POST", "/rpc/REC00800.rdmRecCont", headers, request, whole);
        const auto t = Clock::now();
        if (!wire::readRpcResult(whole.body.data(), qsizetype(whole.body.size()), 1))
            throw std::runtime_error("a lista não foi lida");
        raws.push_back(since(t));
    }
    m = median(calls);
    f = median(raws);
    print({"list_last_byte_to_packet", rows, m, f, m / f, 0.5, peakRssMb(), extra + ", \"floor\": \"the packet read once the answer is all there\""});

    const std::string body = R"({"jsonrpc":"2.0","id":1,"method":"GetGeralRec","params":[]})";
    httplib::Client http("127.0.0.1", server.port());
    http.set_tcp_nodelay(true);
    http.set_keep_alive(true);
    const httplib::Headers auth{{"Authorization", "Basic " + QByteArray("bench:bench").toBase64().toStdString()}};
    calls.clear();
    raws.clear();
    for (int i = 0; i < reps; ++i) {
        auto t = Clock::now();
        for (int k = 0; k < 1000; ++k)
            checkResultServ(net.call(QStringLiteral("GetGeralRec")), false);
        calls.push_back(since(t));
        t = Clock::now();
        for (int k = 0; k < 1000; ++k)
            if (auto r = http.Post("/rpc/REC00800.rdmRecCont", auth, body, "application/json"); !r || r->status != 200)
                throw std::runtime_error("GetGeralRec falhou");
        raws.push_back(since(t));
    }
    m = median(calls);
    f = median(raws);
    print({"net_1000_small_calls", 1000, m, f, m / f, 1.5, peakRssMb(), extra + ", \"floor\": \"the same calls by a plain client\""});
}

void markAndMoveMetrics(const QString &serverBin, const std::string &url, long size, int reps, bool movesOnly)
{
    Session s(serverBin, url);
    s.filterToFirstPaint();
    ClientDataSet *ds = s.frm->cdsContRec;
    const long rows = ds->recordCount();
    const std::string extra = "\"seeded\": " + std::to_string(size);

    // Marking every account with the title of the mark column, the question answered Yes.
    int adjustmentCalls = 0;
    setServerCallObserver([&](const QString &method, const QByteArray &) { adjustmentCalls += method == QLatin1String("GetAjusCont"); });
    std::vector<double> marks;
    int callsPerMark = 0;
    for (int i = 0; i < (movesOnly ? 0 : reps); ++i) {
        adjustmentCalls = 0;
        const auto t = Clock::now();
        dispatch([&] { s.frm->dbgPadrao->titleClick(QStringLiteral("IDMARCADO")); });
        marks.push_back(since(t));
        callsPerMark = std::max(callsPerMark, adjustmentCalls);
        if (s.frm->klContMarcadas->count() != rows)
            throw std::runtime_error("marcar todas deixou " + std::to_string(s.frm->klContMarcadas->count()) + " de "
                                     + std::to_string(rows) + " contas marcadas");
        dispatch([&] { s.frm->dbgPadrao->titleClick(QStringLiteral("IDMARCADO")); }); // unmarks them again
    }
    setServerCallObserver(nullptr);
    // The floor: the same marks written and the same keys inserted into a hash set.
    const wire::Packet p = ds->packet();
    const int cMark = p.indexOf(u"IDMARCADO"), cBranch = p.indexOf(u"CDFILIAL"), cInst = p.indexOf(u"NRPARCELAREC"),
              cEntry = p.indexOf(u"NRLANCTONF"), cSeq = p.indexOf(u"NRSEQVENREC");
    std::vector<double> floors;
    for (int i = 0; i < (movesOnly ? 0 : reps); ++i) {
        wire::Packet copy = p;
        const auto t = Clock::now();
        QSet<QString> keys;
        for (int r = 0; r < copy.rowCount(); ++r) {
            copy.setString(r, cMark, u"S");
            keys.insert(copy.string(r, cBranch) + copy.string(r, cInst) + copy.string(r, cEntry) + copy.string(r, cSeq));
        }
        floors.push_back(since(t));
    }
    double m = movesOnly ? 0 : median(marks), f = movesOnly ? 0 : median(floors);
    if (!movesOnly)
        print({"mark_all", rows, m, f, m / f, 10, peakRssMb(),
               extra + ", \"adjustment_calls\": " + std::to_string(callsPerMark) + ", \"adjustment_calls_target\": 1"});

    // 1,000 moves down with the keyboard, one GetAjusCont each, each run next to its floor's.
    httplib::Client http("127.0.0.1", s.m_server.port());
    http.set_keep_alive(true);
    http.set_tcp_nodelay(true);
    std::vector<double> moves, trips;
    for (int i = 0; i < std::max(9, reps); ++i) {
        const auto started = Clock::now();
        for (int k = 0; k < 1000; ++k)
            if (auto r = http.Get("/health"); !r || r->status != 200)
                throw std::runtime_error("/health falhou");
        trips.push_back(since(started));
        dispatch([&] { ds->first(); });
        s.frm->dbgPadrao->setFocus();
        QCoreApplication::processEvents();
        adjustmentCalls = 0;
        const auto t = Clock::now();
        CALLGRIND_START_INSTRUMENTATION;
        for (int k = 0; k < 1000; ++k)
            QTest::keyClick(s.frm->dbgPadrao, Qt::Key_Down);
        CALLGRIND_STOP_INSTRUMENTATION;
        moves.push_back(since(t));
        if (ds->recNo() != 1001)
            throw std::runtime_error("as setas pararam na linha " + std::to_string(ds->recNo()));
    }
    const double plain = plainGridMoves(*s.frm->dbgPadrao, std::max(3, reps / 2));
    m = median(moves);
    f = median(trips);
    char plainText[96];
    std::snprintf(plainText, sizeof plainText, ", \"plain_grid_s\": %.6f, \"plain_grid_ratio\": %.3f", plain, plain / f);
    print({"keyboard_1000_moves", rows, m, f, m / f, 2, peakRssMb(), extra + plainText});
}

// Confirmar with the widest list loaded and a handful of sound accounts marked, from the click
// to the reloaded list painted, against the transfers it cannot avoid: the same request's bytes
// posted to a sink that reads and drops them, and the reloaded list received by a plain client.
void confirmFromScreenMetric(const QString &serverBin, const std::string &data, long size, int reps)
{
    // the recalculation writes: a copy of its own
    const std::string path = data + "/confirm_screen.sqlite";
    std::filesystem::remove(path);
    std::filesystem::copy_file(db::DbUrl::parse(sqliteDemo(data, size)).path, path);
    const std::string url = "sqlite:" + path;
    struct Removed
    {
        std::string path;
        ~Removed() { std::filesystem::remove(path); }
    } removed{path};

    Session s(serverBin, url);
    s.filterToFirstPaint();
    ClientDataSet *ds = s.frm->cdsContRec;
    const long rows = ds->recordCount();

    RequestSink sink;

    Clock::time_point encoded, reloading;
    std::string request;
    setServerCallObserver([&](const QString &method, const QByteArray &params) {
        if (method == QLatin1String("SetConfirmar")) {
            encoded = Clock::now();
            request = rpcBody(params.toStdString(), "SetConfirmar");
        } else if (method == QLatin1String("GetContRec") && encoded != Clock::time_point{}) {
            reloading = Clock::now();
        }
    });
    std::vector<double> times, floors, encodes, sends, servers, reloads;
    for (int i = 0; i < reps; ++i) {
        // the same sound accounts each time, their postings rewritten under a new history text
        db::connect(db::DbUrl::parse(url))
            ->execScript("UPDATE HISTPADRAO SET DSHISTPADR = DSHISTPADR || '.' WHERE CDHISTPADR IN ('H001', 'H004')");
        const wire::Packet p = ds->packet();
        const int cBranch = p.indexOf(u"CDFILIAL"), cType = p.indexOf(u"CDTPCTRECEB");
        int marked = 0;
        for (int r = 0; r < p.rowCount() && marked < 5; ++r) {
            const QString type = p.string(r, cType);
            if (p.string(r, cBranch) != QLatin1String("0101") || (type != QLatin1String("DUP") && type != QLatin1String("BOL")))
                continue;
            dispatch([&] { ds->moveTo(r + 1); });
            QTest::keyClick(s.frm->dbgPadrao, Qt::Key_Space);
            ++marked;
        }
        if (s.frm->klContMarcadas->count() != 5 || !s.frm->sbtConfirmar->isEnabled())
            throw std::runtime_error("não foi possível marcar 5 contas para confirmar");
        QCoreApplication::processEvents();

        encoded = reloading = {};
        g_presenter->confirming = true;
        g_presenter->confirmed = 0;
        const auto t = Clock::now();
        dispatch([&] { s.frm->sbtConfirmarClick(s.frm->sbtConfirmar); });
        s.frm->dbgPadrao->viewport()->repaint();
        const auto end = Clock::now();
        g_presenter->confirming = false;
        if (g_presenter->confirmed != 1 || reloading == Clock::time_point{} || ds->recordCount() != rows)
            throw std::runtime_error("Confirmar não recalculou e recarregou a lista");
        const double call = std::chrono::duration<double>(reloading - encoded).count();

        auto f = Clock::now();
        sink.post(request, {{"Authorization", "Basic " + QByteArray("bench:bench").toBase64().toStdString()}});
        const double sent = since(f);
        f = Clock::now();
        packetBytes(s.m_server.port());
        floors.push_back(sent + since(f));

        times.push_back(std::chrono::duration<double>(end - t).count());
        encodes.push_back(std::chrono::duration<double>(encoded - t).count());
        sends.push_back(sent);
        servers.push_back(call - sent);
        reloads.push_back(std::chrono::duration<double>(end - reloading).count());
    }
    setServerCallObserver(nullptr);
    char split[200];
    std::snprintf(split, sizeof split, ", \"encode_s\": %.6f, \"send_s\": %.6f, \"server_s\": %.6f, \"reload_s\": %.6f, \"request_mb\": %.1f",
                  median(encodes), median(sends), median(servers), median(reloads), request.size() / 1048576.0);
    const double m = median(times), f = median(floors);
    print({"setconfirmar_from_screen", rows, m, f, m / f, 3, peakRssMb(), "\"seeded\": " + std::to_string(size) + split});
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    const Args a = parseArgs(argc, argv);
    QApplication app(argc, argv);
    QMainWindow mainWindow;
    auto *area = new QMdiArea(&mainWindow);
    mainWindow.setCentralWidget(area);
    mainWindow.resize(1024, 700);
    setShellWindow(&mainWindow, area);
    mainWindow.show();
    mainWindow.activateWindow();
    Presenter presenter;
    g_presenter = &presenter;
    MessageService::setPresenter(&presenter);
    Initialize();

    const std::string data = a.get("data", "build/bench-data");
    const QString serverBin = QString::fromStdString(a.get("server-bin", "build/release/bin/rec-appserver"));
    const int reps = std::stoi(a.get("reps", "5"));
    g_serverLog = QString::fromStdString(data + "/rec-appserver.log");
    const std::string only = a.get("only");
    if (!only.empty() && only != "moves" && only != "transport" && only != "confirm" && only != "lists") {
        std::cerr << "client_bench: --only moves, --only transport, --only confirm, --only lists, ou nada\n";
        return 2;
    }
    int status = 0;
    try {
        const bool listsToo = only.empty() || only == "lists";
        const auto lists = listsToo || only == "transport" ? a.sizes("lists", "10000") : std::vector<long>{};
        // the screen on PostgreSQL: its own sizes, seeding it is slow
        const std::string pg = a.get("pg");
        std::vector<long> pgLists = !pg.empty() && listsToo ? a.sizes("pg-lists", a.get("lists", "10000")) : std::vector<long>{};
        const auto onPostgres = [&](long n) { listMetrics(serverBin, postgresDemo(pg, n), "postgresql", n, reps, false); };
        for (size_t i = 0; i < lists.size(); ++i) {
            if (listsToo)
                listMetrics(serverBin, sqliteDemo(data, lists[i]), "sqlite", lists[i], reps, i + 1 == lists.size());
            if (only != "lists")
                transportMetrics(serverBin, sqliteDemo(data, lists[i]), lists[i], reps);
            // each size on both databases before the next: a small list timed right after a
            // gigabyte was freed times the system taking it back
            if (const auto at = std::find(pgLists.begin(), pgLists.end(), lists[i]); at != pgLists.end()) {
                pgLists.erase(at);
                onPostgres(lists[i]);
            }
        }
        for (long n : pgLists)
            onPostgres(n);
        for (long n : only.empty() || only == "moves" ? a.sizes("marks", "10000") : std::vector<long>{})
            markAndMoveMetrics(serverBin, sqliteDemo(data, n), n, reps, !only.empty());
        for (long n : only.empty() || only == "confirm" ? a.sizes("confirm", "10000") : std::vector<long>{})
            confirmFromScreenMetric(serverBin, data, n, reps);
    } catch (const std::exception &e) {
        std::cerr << "client_bench: " << e.what() << "\n";
        status = 2;
    }
    if (presenter.shown)
        status = 2;
    Finalize();
    MessageService::setPresenter(nullptr);
    return status;
}
