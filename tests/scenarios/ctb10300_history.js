// The history: a recalculation made in REC00800 is the first one CTB10300 lists, with its
// accounts' postings before and after.
shell.open("REC00800");
var screen = shell.form("frmRecCont");
screen.control("medCdEmpresa").type("01");
var grid = screen.control("dbgPadrao");
grid.focus();
var accounts = screen.dataset("cdsContRec");
var rows = accounts.rows();
var keys = [];
for (var i = 0; i < rows.length && keys.length < 2; ++i) {
    if (rows[i].CDTPCTRECEB === "DUP" && rows[i].CDFILIAL === "0101" && rows[i].IDCTBLCTREC === "N") {
        grid.setCurrentRow(i);
        grid.key("Space");
        keys.push(rows[i].CDFILIAL + rows[i].NRLANCTONF + rows[i].NRSEQVENREC + rows[i].NRPARCELAREC);
    }
}
shell.answer("OK");
screen.control("sbtConfirmar").click();
var posted = {};
accounts.rows().forEach(function (r) {
    posted[r.CDFILIAL + r.NRLANCTONF + r.NRSEQVENREC + r.NRPARCELAREC] = r.NRLANCTBDOC;
});

shell.open("CTB10300");
var history = shell.form("frmCTB10300");
assert(history !== null && history.visible, "CTB10300 is shown");
var recalcs = history.dataset("cdsRecalculos");
assert(recalcs.recordCount >= 1 && recalcs.recNo === 1, "recalculations listed: " + recalcs.recordCount);
assert(recalcs.text("CDEMPRESA") === "01" && recalcs.text("QTCONTAS") === "2" && recalcs.text("NMOPERADOR") !== "",
       "the one just made comes first: " + JSON.stringify(recalcs.rows()[0]));
var all = history.dataset("cdsContas").rows();
assert(String(all.length) === recalcs.text("QTLANCALTER"), "every posting written is new: " + JSON.stringify(all));
var lines = all.filter(function (l) { return l.NRSEQAJUREC === ""; });
assert(lines.length === 2, "the accounts' postings: " + JSON.stringify(all));
lines.forEach(function (l) {
    var key = l.CDFILIAL + l.NRLANCTONF + l.NRSEQVENREC + l.NRPARCELAREC;
    assert(keys.indexOf(key) >= 0 && l.IDSITUACAO === "novo" && l.NRLANCANT === "" && l.NRLANCNOVO === posted[key],
           "the account's new posting: " + JSON.stringify(l));
});

// Printed and exported as the grid shows it.
var report = history.component("rptCTB10300");
assert(report.savePdf("ctb10300.pdf") && report.saveCsv("ctb10300.csv"), "PDF and CSV written");
log("PDF|ctb10300.pdf|Histórico de Recálculos da Contabilização (CTB10300)");
log("PDF|ctb10300.pdf|" + lines[0].NMRAZSOCCLIE);
log("PDF|ctb10300.pdf|" + lines[0].NRLANCNOVO);

// Another company's filter finds nothing of it.
history.control("medCdEmpresa").setText("02");
history.control("btnPesquisar").click();
assert(recalcs.recordCount === 0 && history.control("lblResumo").text === "Nenhum recálculo com estes filtros.",
       history.control("lblResumo").text);
assert(history.dataset("cdsContas").recordCount === 0, "no postings without a recalculation");
