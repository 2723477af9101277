// REC00800: the account's one-line description under the grid, the "Ajustes" page with the
// current account's adjustments, marking every account at once with a single adjustment query,
// the search dialog, and the accounting button on an adjustment's posting.
shell.open("REC00800");
var screen = shell.form("frmRecCont");
screen.control("medCdEmpresa").type("01");
var grid = screen.control("dbgPadrao");
grid.focus();
var accounts = screen.dataset("cdsContRec");
var adjustments = screen.dataset("cdsAjusCont");
var pages = screen.control("pgcPadrao");

// The navigator shows the current account.
var nav = screen.control("dbtNome").text;
assert(nav.indexOf("Filial" + accounts.text("CDFILIAL") + " - Conta" + accounts.text("NRSEQVENREC") + "." + accounts.text("NRPARCELAREC")) === 0,
       "navigator: " + nav);
assert(nav.indexOf(accounts.text("DTATUAVENREC")) > 0, "with the due date: " + nav);

// Find an account with an accounted adjustment, walking the list as the user would.
var found = -1;
for (var i = 0; i < accounts.recordCount && found < 0; ++i) {
    grid.setCurrentRow(i);
    var rows = adjustments.rows();
    for (var j = 0; j < rows.length; ++j)
        if (rows[j].NRLCTBAJREC !== "")
            found = i;
}
assert(found >= 0, "the demo data has an accounted adjustment in company 01");
pages.setActivePage("tshFormulario");
var adjGrid = screen.control("dbgAjusRec");
assert(adjGrid.visible && adjGrid.rowCount === adjustments.recordCount, "the adjustments grid: " + adjGrid.rowCount);
var direction = adjGrid.cellText(0, "IDAJUCTREC");
assert(direction === "Desconto" || direction === "Acréscimo", "direction shown in words: " + direction);
assert(adjGrid.cellText(0, "CDAJUCTREC") === adjustments.rows()[0].DSAJUCTREC, "the type's description in place of its code");
var row = 0;
while (adjustments.rows()[row].NRLCTBAJREC === "")
    ++row;
adjGrid.setCurrentRow(row);
var posting = adjustments.text("NRLCTBAJREC");
shell.clearOpenedScreens();
screen.control("sbtContab").click();
var handed = shell.openedScreens;
assert(handed.length === 1 && handed[0].code === "CTB10200" && handed[0].params[1] === posting,
       "the adjustment's posting goes to CTB10200: " + JSON.stringify(handed.length ? handed[0].params.slice(0, 2) : []));
shell.open("REC00800");
grid.focus();

// Mark every account: one question, one adjustment query (for the first row).
shell.clearServerCalls();
shell.answer("Yes");
grid.titleClick("IDMARCADO");
var queries = shell.serverCalls.filter(function (c) { return c.method === "GetAjusCont"; }).length;
assert(queries === 1, "marking all asks for adjustments once: " + queries);
assert(screen.component("klContMarcadas").count === accounts.recordCount && accounts.recNo === 1, "all marked, first row");
assert(grid.cellPicture(0, "IDMARCADO") === "imgCheck", "the check is drawn");
assert(screen.control("sbtConfirmar").enabled, "confirm available");

// Search the accounts by customer name from the search dialog.
var target = accounts.rows()[accounts.recordCount - 1].NMRAZSOCCLIE;
shell.onModal("frmProcura", function (search) {
    var field = search.control("cbbCampo");
    field.select(2);
    assert(field.text === "Cliente", "the third searchable field: " + field.text);
    search.control("edtValor").type(target.substring(0, 6).toLowerCase());
    search.control("btnOk").click();
});
screen.control("sbtProcurar").click();
assert(accounts.text("NMRAZSOCCLIE").substring(0, 6) === target.substring(0, 6), "the search found: " + accounts.text("NMRAZSOCCLIE"));
assert(shell.messages.length === 1, "only the mark-all question: " + JSON.stringify(shell.messages));
