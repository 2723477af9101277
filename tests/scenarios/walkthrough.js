// The whole road on demo data, with a picture of each screen (the README's "Telas"). Pictures go
// to ./screenshots: run it from docs/ to refresh docs/screenshots.
shell.open("REC00800");
var screen = shell.form("frmRecCont");
screen.control("medCdEmpresa").type("01");
var grid = screen.control("dbgPadrao");
grid.focus();
var rows = screen.dataset("cdsContRec").rows();
var marked = 0;
for (var i = 0; i < rows.length && marked < 3; ++i) {
    if (rows[i].CDTPCTRECEB === "PROM" || (i % 3 === 1 && rows[i].IDCTBLCTREC === "N")) {
        grid.setCurrentRow(i);
        grid.key("Space");
        ++marked;
    }
}
grid.setCurrentRow(0);
assert(screen.control("sbtConfirmar").enabled, "accounts marked: " + marked);
// As it opens: wide enough that the mark column shows beside the scroll bar.
var columns = grid.columns;
assert(columns[columns.length - 1].field === "IDMARCADO", "the marks are the last column");
shell.screenshot("screenshots/rec00800.png");

shell.onModal("frmFiltroRecalLancContReceber", function (filter) {
    shell.screenshot("screenshots/rec00801.png");
    filter.close();
});
screen.control("sbtFiltro").click();

screen.control("sbtConfirmar").click();
var accounting = shell.form("frmCTB10200");
assert(accounting !== null, "the recalculation found errors and opened CTB10200");
accounting.control("pgcCTB10200").setActivePage("tshErros");
shell.screenshot("screenshots/ctb10200.png");

// The preview of a sound recalculation: accounts already accounted and new ones, marked apart
// from the one with errors (coming back to REC00800 clears the marks).
function markSound() {
    var list = screen.dataset("cdsContRec").rows();
    for (var j = 0; j < list.length && j < 40; ++j) {
        if (list[j].CDTPCTRECEB === "DUP" && (list[j].CDFILIAL === "0101" || list[j].CDFILIAL === "0102")) {
            grid.setCurrentRow(j);
            grid.key("Space");
        }
    }
    grid.setCurrentRow(0);
}
accounting.close();
shell.open("REC00800");
grid.focus();
markSound();
screen.control("sbtSimular").click();
accounting = shell.form("frmCTB10200");
assert(accounting.control("pgcCTB10200").activePage === "tshDiferencas", "the preview opens on its differences");
shell.screenshot("screenshots/ctb10200_diferencas.png");

// The recalculation made, then its history.
accounting.close();
shell.open("REC00800");
grid.focus();
markSound();
shell.answer("OK");
screen.control("sbtConfirmar").click();
shell.open("CTB10300");
assert(shell.form("frmCTB10300").dataset("cdsRecalculos").recordCount > 0, "the history lists it");
shell.screenshot("screenshots/ctb10300.png");
log("telas gravadas em screenshots/");
