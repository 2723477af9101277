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
log("telas gravadas em screenshots/");
